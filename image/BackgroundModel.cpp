#include "image/BackgroundModel.h"
