#include "image/Rotate.h"
