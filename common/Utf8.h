// UTF-8 helpers: narrow text is UTF-8 everywhere; wide text is converted at
// the edge.
#pragma once

#include <string>
#include <string_view>

namespace utf8 {

// Returns the text with every invalid UTF-8 sequence replaced by U+FFFD, as a
// desktop's UTF-8 to UTF-16 to narrow transcoding would leave it.
std::string sanitize(std::string_view bytes);

// Wide text (UTF-32 where wchar_t has 32 bits, as on Linux; UTF-16 where it
// has 16, as on Windows) to UTF-8; invalid code points and surrogates that
// are not a pair become U+FFFD.
std::string fromWide(std::wstring_view wide);

// UTF-8 to wide text; invalid sequences become U+FFFD.
std::wstring toWide(std::string_view bytes);

// The longest prefix of text that is at most maxBytes long and does not end
// inside a UTF-8 character.
std::string_view cutAtCharBoundary(std::string_view text, size_t maxBytes);

} // namespace utf8
