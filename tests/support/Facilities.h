// What a suite needs of the machine beyond the program's own services, where
// the platforms differ: each platform's support (posix/, windows/) provides
// it, or says that it has none, and a case leaves out what is missing. The
// cases themselves stay the same sources on both platforms.
#pragma once

#include <memory>
#include <string>

namespace facilities {

// A FIFO at path; false where the platform has none.
bool makeFifo(const std::string& path);

// A symbolic link at `link` to `target`; false where none can be made.
bool makeSymlink(const std::string& target, const std::string& link);

// A device that is no regular file and reads without end where it reads at
// all (/dev/zero; NUL on Windows).
std::string deviceFile();

// While it lives, no save can replace the file at path: the old file must
// stay as it is. Linux: a file size limit (RLIMIT_FSIZE) of a few bytes, so
// that the new content cannot be written; Windows: the file held open by
// another handle without delete sharing, as another program would hold it.
class SaveBlocker {
public:
    explicit SaveBlocker(const std::string& path);
    ~SaveBlocker();
    SaveBlocker(const SaveBlocker&) = delete;
    SaveBlocker& operator=(const SaveBlocker&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Ends the test program with a message when it lives longer than the given
// seconds: a guard against a call that hangs, never a timing expectation.
class HangGuard {
public:
    explicit HangGuard(unsigned seconds);
    ~HangGuard();
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace facilities
