// Files that must never be left half written, and files read whole without
// letting an odd file hold the program up.
#pragma once

#include <cstddef>
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
// that the next replacement in that folder removes.
class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Each returns false with the error number when its step fails.
    bool open(const std::string& path, int& error);
    bool write(const void* data, size_t size, int& error);
    bool commit(int& error);

private:
    int folder_ = -1;
    int file_ = -1;
    std::string name_;      // the replaced file's name in its folder
    std::string temporary_; // the new file's name, once it has one
};

// Replaces the file at path with the bytes through a FileReplacement.
bool replaceFile(const std::string& path, std::string_view bytes, int& error);

// The name prefix of the temporaries replaceFile makes for a file of this
// name (".Panoview.config.save-"); each one carries the saving process's id.
std::string replaceTemporaryPrefix(std::string_view fileName);

} // namespace platform
