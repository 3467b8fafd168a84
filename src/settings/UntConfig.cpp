#include "UntConfig.h"

TConfig* ConfigData = nullptr;
