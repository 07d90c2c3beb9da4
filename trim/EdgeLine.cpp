#include "trim/EdgeLine.h"
