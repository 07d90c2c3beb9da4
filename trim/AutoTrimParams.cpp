#include "trim/AutoTrimParams.h"
