#include "trim/AppSettings.h"
