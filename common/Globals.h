// Process-wide values set once during start-up, before any other thread
// exists, and read-only afterwards.
#pragma once

#include <string>

struct SystemConfig;

// 1 selects the English text of every pair, 0 the Chinese one.
extern int UseEnglish;

// The executable's folder, without a trailing '/'.
extern std::string moduleDirectory;

// The one settings-and-session record; created once, never freed.
extern SystemConfig* theSystemConfig;
