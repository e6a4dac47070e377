// Reads the dialog templates (DIALOGEX) and menus of the running program's
// resources, so that a suite can hold them against the controllers' tables.
// Texts come back in GBK (code page 936), as the program's narrow literals
// are stored on Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TemplateControl {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string windowClass; // "button", "edit", "static", "combobox" (lower case)
    std::string text;        // GBK
};

struct DialogTemplateEx {
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption; // GBK
    int pointSize = 0;
    std::string typeface; // GBK
    std::vector<TemplateControl> controls;
};

struct TemplateMenuItem {
    bool popup = false;
    int id = 0;                          // 0 for a separator and a pop-up
    std::string text;                    // UTF-8; empty for a separator
    std::vector<TemplateMenuItem> items; // a pop-up's
};

// The raw bytes of a resource of the running program; empty when missing.
std::string resourceBytes(int id, const char* type);

// Nothing when the bytes are no well-formed DIALOGEX template.
std::optional<DialogTemplateEx> readDialogTemplate(const std::string& bytes);
// Nothing when the bytes are no well-formed menu template.
std::optional<std::vector<TemplateMenuItem>> readMenuTemplate(const std::string& bytes);
