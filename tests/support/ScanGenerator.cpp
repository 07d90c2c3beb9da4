#include "tests/support/ScanGenerator.h"
