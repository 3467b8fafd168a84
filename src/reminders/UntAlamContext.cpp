#include "UntAlamContext.h"

TAlamContext* AlamContextData = nullptr;
