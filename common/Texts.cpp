#include "common/Texts.h"

#include "common/Globals.h"

const char* pick(const TextPair& pair) {
    return UseEnglish ? pair.english : pair.chinese;
}
