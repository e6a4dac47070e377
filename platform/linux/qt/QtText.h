// The one conversion between the program's UTF-8 text and Qt's strings.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 bytes as a QString, NUL bytes and all; invalid sequences become
// U+FFFD.
inline QString qtText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A QString as UTF-8 bytes.
inline std::string utf8Text(const QString& text) {
    return text.toStdString();
}

} // namespace platform
