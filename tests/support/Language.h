// The operator's language for the length of one scope: the texts of every
// pair are picked in it, and Chinese comes back when the scope ends.
#pragma once

#include "common/Globals.h"

class ScopedLanguage {
public:
    explicit ScopedLanguage(bool english) : saved_(UseEnglish) { UseEnglish = english ? 1 : 0; }
    ~ScopedLanguage() { UseEnglish = saved_; }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    int saved_;
};
