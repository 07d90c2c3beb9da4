#include "image/Resize.h"
