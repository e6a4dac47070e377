// User-visible texts come in Chinese/English pairs; the pair's member is
// chosen by UseEnglish at the moment the text is shown.
#pragma once

struct TextPair {
    const char* chinese;
    const char* english;
};

// The variant of the pair for the language chosen at start-up.
const char* pick(const TextPair& pair);

namespace texts {
// The caption of every message box of the program.
inline constexpr TextPair kAppCaption{"Panoview", "Panoview"};
// Shown when Panoview.config holds no JSON; the same in both languages.
inline constexpr TextPair kConfigFileError{"config file error!", "config file error!"};
} // namespace texts
