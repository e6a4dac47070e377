// Files that must never be left half written, and files read whole without
// letting an odd file hold the program up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class FileRead {
    Read,       // the bytes are the file's whole content
    Missing,    // nothing of that name (or a folder on the way is missing)
    Unreadable, // it exists but cannot be opened or read
    NotRegular, // a FIFO, a device, a folder or a socket: never read
    TooLarge,   // more bytes than the caller allows
};

// The character that separates folders in the program's paths: '/' on
// Linux, '\\' on Windows (whose own paths, GetModuleFileNameA's among them,
// use it).
char folderSeparator();
// Every character that separates folders in a path the system gives: "/" on
// Linux; "\\/" on Windows, which takes both.
std::string_view folderSeparators();

// Reads the regular file at path whole when it holds at most maxBytes. The
// open does not block (a FIFO without a writer or a device answers at once)
// and anything but a regular file is refused before a byte is read. error is
// the error number of a failed open or read, 0 otherwise.
FileRead readRegularFile(const std::string& path, size_t maxBytes, std::string& bytes, int& error);

// New content for the file at a path, written piece by piece and put in
// place whole, atomically, by commit(). A symbolic link at the path is
// followed (also a chain of them, relative targets taken from the link's
// folder) and the file it finally names is replaced in its own folder, so the
// link stays a link. The bytes go to an unnamed file in that folder, which
// takes the old file's permission bits, owner and group where the process may
// set them, is flushed to disk, named just before it is renamed over the old
// file. Until the commit, and when the object ends without one or the commit
// fails, the file at the path stays as it was and no temporary file is left.
// A process killed between the naming and the rename leaves a temporary
// that the next replacement in that folder removes. A commit that succeeds
// returns once the bytes and the new name are on the disk.
//
// A large file (a download) goes to the disk while it is written: after each
// writeBackStretch bytes the stretch is handed to the disk and the write
// waits for the stretch before the previous one, so that the dirty pages of
// the file stay bounded and the commit's flush has little left to do. A
// small file (the configuration) is flushed whole by the commit. After a
// failed write the replacement stays failed: commit refuses with that error.
// What a replacement does with a symbolic link at the path: follow it (the
// settings file, which an installation links into /etc), or replace the link
// itself (a file written into a folder someone else may own, where a link
// planted at the name must not redirect the write).
enum class LinkAtPath { Follow, Replace };

class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // The bytes after which a stretch of the file is handed to the disk.
    static constexpr uint64_t writeBackStretch = uint64_t(8) << 20;

    // Each returns false with the error number when its step fails.
    bool open(const std::string& path, int& error, LinkAtPath links = LinkAtPath::Follow);
    bool write(const void* data, size_t size, int& error);
    bool commit(int& error);

private:
    void writeBack();

    int folder_ = -1;
    int file_ = -1;
    std::string name_;           // the replaced file's name in its folder
    std::string temporary_;      // the new file's name, once it has one
    int failure_ = 0;            // the error number of a failed write
    uint64_t written_ = 0;       // bytes written
    uint64_t handedOver_ = 0;    // end of the bytes whose write-back has started
    uint64_t previousStart_ = 0; // where the stretch handed over last begins
    uint64_t settled_ = 0;       // end of the bytes written out to the disk
    bool writeBack_ = true;      // false where the file system refuses it
};

// Replaces the file at path with the bytes through a FileReplacement.
bool replaceFile(const std::string& path, std::string_view bytes, int& error,
                 LinkAtPath links = LinkAtPath::Follow);

// The name prefix of the temporaries replaceFile makes for a file of this
// name (".Panoview.config.save-"); each one carries the saving process's id.
std::string replaceTemporaryPrefix(std::string_view fileName);

} // namespace platform
