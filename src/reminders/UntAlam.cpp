#include "UntAlam.h"

TAlam* AlamData = nullptr;
