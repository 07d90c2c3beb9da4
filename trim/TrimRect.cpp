#include "trim/TrimRect.h"
