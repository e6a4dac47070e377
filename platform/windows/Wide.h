// Texts and paths between the program's narrow text (the ANSI code page) or
// UTF-8 and the UTF-16 of the wide (W) functions of Windows.
#pragma once

#include <climits>
#include <string>
#include <string_view>
#include <windows.h>

namespace platform::win {

// The text in UTF-16, read in the code page; an invalid sequence becomes
// U+FFFD (the conversion's default without MB_ERR_INVALID_CHARS).
inline std::wstring toUtf16(UINT codePage, std::string_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int made = MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
    wide.resize(made > 0 ? static_cast<size_t>(made) : 0);
    return wide;
}

// UTF-16 text in the code page; a character it lacks becomes its default
// character.
inline std::string fromUtf16(UINT codePage, std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX)
        return {};
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string narrow(static_cast<size_t>(needed), '\0');
    const int made = WideCharToMultiByte(codePage, 0, wide.data(), length, narrow.data(), needed,
                                         nullptr, nullptr);
    narrow.resize(made > 0 ? static_cast<size_t>(made) : 0);
    return narrow;
}

// A narrow path (ANSI code page) for the W functions.
inline std::wstring wideFromAnsi(std::string_view text) {
    return toUtf16(CP_ACP, text);
}

// The folder part of a path (before its last backslash or slash; "." when
// it has none) and the name after it.
inline std::wstring folderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    if (slash == 0 || (slash == 2 && path[1] == L':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

inline std::wstring nameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The folder and a name in it, with one backslash between.
inline std::wstring joined(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        return folder + name;
    return folder + L"\\" + name;
}

} // namespace platform::win
