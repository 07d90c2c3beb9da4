#include "image/EdgePoints.h"
