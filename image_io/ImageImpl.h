// Inside image_io only: the decoded pixels behind Gdiplus::Image.
#pragma once

#include <QImage>

#include "image_io/PlatformImage.h"

struct Gdiplus::Image::Impl {
    QImage pixels;
};
