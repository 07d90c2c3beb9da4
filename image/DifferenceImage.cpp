#include "image/DifferenceImage.h"
