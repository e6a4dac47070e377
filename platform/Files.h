// Files that must never be left half written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Writes all bytes to the descriptor, going on after short writes and
// interruptions. False when the descriptor refuses them.
bool writeAll(int fd, const void* data, size_t size);

// Replaces the file at path with the bytes: they go to a temporary file in
// the same folder, which is flushed to disk and renamed over the old file,
// so the old file stays whole until the new one is complete. The new file
// keeps the old one's permission bits. On failure returns false with the
// error number, the old file untouched and no temporary file left.
bool replaceFile(const std::string& path, std::string_view bytes, int& error);

} // namespace platform
