#include "UntTree.h"
