#include "common/Globals.h"

int UseEnglish = 0;
std::string moduleDirectory;
SystemConfig* theSystemConfig = nullptr;
