#include "TemplateReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <windows.h>

namespace {

// In GBK, whatever the system's code page.
std::string gbk(const std::u16string& text) {
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size =
        WideCharToMultiByte(936, 0, wide, int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(936, 0, wide, int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Reads the little-endian words of a template, failing at its end.
class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    uint16_t word() {
        uint16_t value = 0;
        take(&value, 2);
        return value;
    }
    uint32_t dword() {
        uint32_t value = 0;
        take(&value, 4);
        return value;
    }
    uint8_t byte() {
        uint8_t value = 0;
        take(&value, 1);
        return value;
    }
    std::u16string string() {
        std::u16string text;
        for (uint16_t c = word(); ok_ && c != 0; c = word())
            text.push_back(char16_t(c));
        return text;
    }
    // A name or an ordinal: 0 for none, 0xFFFF and a number, or a string.
    std::string nameOrOrdinal(uint16_t& ordinal) {
        ordinal = 0;
        const uint16_t first = word();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            ordinal = word();
            return {};
        }
        std::u16string text(1, char16_t(first));
        text += string();
        return gbk(text);
    }
    void alignToDword() { at_ = std::min(bytes_.size(), (at_ + 3) & ~size_t(3)); }
    void skip(size_t count) {
        if (at_ + count > bytes_.size())
            ok_ = false;
        else
            at_ += count;
    }
    bool atEnd() const { return at_ >= bytes_.size(); }

private:
    void take(void* out, size_t size) {
        if (!ok_ || at_ + size > bytes_.size()) {
            ok_ = false;
            return;
        }
        std::memcpy(out, bytes_.data() + at_, size);
        at_ += size;
    }
    const std::string& bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

std::string className(uint16_t ordinal, std::string name) {
    switch (ordinal) {
    case 0x80:
        return "button";
    case 0x81:
        return "edit";
    case 0x82:
        return "static";
    case 0x83:
        return "listbox";
    case 0x84:
        return "scrollbar";
    case 0x85:
        return "combobox";
    default:
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        return name;
    }
}

bool readMenuItems(Reader& in, std::vector<TemplateMenuItem>& items) {
    while (in.ok()) {
        TemplateMenuItem item;
        const uint16_t flags = in.word();
        item.popup = (flags & MF_POPUP) != 0;
        if (!item.popup)
            item.id = in.word();
        item.text = gbk(in.string());
        if (item.popup && !readMenuItems(in, item.items))
            return false;
        items.push_back(std::move(item));
        if (flags & MF_END)
            return in.ok();
    }
    return false;
}

} // namespace

std::string resourceBytes(int id, const char* type) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return {};
    return std::string(static_cast<const char*>(data), SizeofResource(module, found));
}

std::optional<DialogTemplateEx> readDialogTemplate(const std::string& bytes) {
    Reader in(bytes);
    if (in.word() != 1 || in.word() != 0xFFFF)
        return std::nullopt;
    DialogTemplateEx dialog;
    in.dword(); // help id
    dialog.exStyle = in.dword();
    dialog.style = in.dword();
    const uint16_t count = in.word();
    dialog.x = int16_t(in.word());
    dialog.y = int16_t(in.word());
    dialog.cx = int16_t(in.word());
    dialog.cy = int16_t(in.word());
    uint16_t ordinal = 0;
    in.nameOrOrdinal(ordinal); // menu
    in.nameOrOrdinal(ordinal); // window class
    dialog.caption = gbk(in.string());
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = in.word();
        in.word(); // weight
        in.byte(); // italic
        in.byte(); // character set
        dialog.typeface = gbk(in.string());
    }
    for (uint16_t i = 0; i < count && in.ok(); ++i) {
        in.alignToDword();
        TemplateControl control;
        in.dword(); // help id
        control.exStyle = in.dword();
        control.style = in.dword();
        control.x = int16_t(in.word());
        control.y = int16_t(in.word());
        control.cx = int16_t(in.word());
        control.cy = int16_t(in.word());
        control.id = int32_t(in.dword());
        std::string name = in.nameOrOrdinal(ordinal);
        control.windowClass = className(ordinal, name);
        control.text = in.nameOrOrdinal(ordinal);
        in.skip(in.word()); // creation data
        dialog.controls.push_back(std::move(control));
    }
    if (!in.ok())
        return std::nullopt;
    return dialog;
}

std::optional<std::vector<TemplateMenuItem>> readMenuTemplate(const std::string& bytes) {
    Reader in(bytes);
    if (in.word() != 0) // version
        return std::nullopt;
    in.skip(in.word()); // header offset
    std::vector<TemplateMenuItem> items;
    if (!readMenuItems(in, items))
        return std::nullopt;
    return items;
}
