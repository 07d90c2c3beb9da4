// Inside image_io only: the decoded pixels behind Gdiplus::Image.
#pragma once

#include <QImage>

#include "image_io/MemoryStream.h"
#include "image_io/PlatformImage.h"

struct Gdiplus::Image::Impl {
    QImage pixels;
    // PNG files are decoded straight into a CDib instead (pixels stays
    // null): `dib` until the first ImageToDib hands it over, `source` (the
    // file's bytes) to decode it again for any later one.
    DibPtr dib;
    StreamPtr source;
};
