#include "image/MedianFilter.h"
