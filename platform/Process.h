// Starting and ending the page browsers: program search, start without a
// shell, reaping, and ending every process of an executable's file name.
#pragma once

#include "common/Geometry.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// The error number of a program that is nowhere to be found.
inline constexpr int kProgramNotFound = 2; // ENOENT

// The full path of the program `name`: first in `firstDirectory` (skipped when
// empty), then in the folders of PATH. Empty when no executable file of that
// name is found.
std::string findProgram(const std::string& name, const std::string& firstDirectory);

// Starts the program `name`, found as findProgram finds it, with argv
// `name` followed by `args` (no shell: each argument arrives as it is). The
// child gets no descriptor above standard error, default signal dispositions
// and its own session, so that it outlives Panoview the way a desktop process
// does. Every started child is reaped when it ends. Returns 0 and sets `pid`,
// or returns the error number (kProgramNotFound when there is no such program).
// `ended`, when given, is called with the process id on the reaping thread
// once the child has ended.
//
// With `reports`, the child also gets the write end of a new pipe as its
// descriptor 3, named in its environment as `reports->variable`=3, and the
// caller gets the pipe's read end in `reports->readEnd` (non-blocking,
// close-on-exec; the caller closes it). It reads end of file once the child
// and whatever it handed the descriptor on to have ended.
//
// With `window`, the child's first window is asked to lie over that
// rectangle where the desktop passes a placement with the start (Windows:
// the STARTUPINFOA position and size); on X11 nothing is passed, and the page
// browser places itself from its arguments.
//
// On Windows: `name` without an extension gets ".exe"; the command line is
// the program's file name and the arguments, each separated by one blank and
// quoted only where it holds a blank, a tab or a quotation mark (so that it
// still arrives whole); the process handle is waited on by a thread of its
// own for `ended`; with `reports` the child inherits the write end of a new
// pipe and no other handle (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), named in its
// environment as `reports->variable`=<the handle's number>, and readEnd is
// the read end's handle value (handles fit in 32 bits); error numbers are the system's error codes
// (kProgramNotFound is ERROR_FILE_NOT_FOUND there too).
struct ChildPipe {
    std::string variable;
    int readEnd = -1;
};
int spawnProcess(const std::string& name, const std::vector<std::string>& args,
                 const std::string& firstDirectory, pid_t& pid,
                 std::function<void(pid_t)> ended = {}, ChildPipe* reports = nullptr,
                 const Rect* window = nullptr);

// Sends SIGKILL to every process of this user, other than this one, whose
// executable's file name is `fileName`, and returns at once without waiting
// for them to end. Returns how many processes were signalled. On Windows:
// WinExec("taskkill /F /IM <fileName>.exe", SW_HIDE), not waited for, and
// the count is of the processes of that image name other than this one seen
// just before.
int killProcessesByFileName(const std::string& fileName);

// The executable's file name of process `pid` (the last component of
// /proc/<pid>/exe, or its command name when the link cannot be read); empty
// when the process is gone. On Windows the image name without its ".exe".
std::string processFileName(pid_t pid);

} // namespace platform
