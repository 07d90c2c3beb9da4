// Inside image_io only: the decoded pixels behind Gdiplus::Image.
#pragma once

#include <QImage>

#include "image_io/Decoding.h"
#include "image_io/MemoryStream.h"
#include "image_io/PlatformImage.h"

struct Gdiplus::Image::Impl {
    // The file's bytes, to decode again for a later ImageToDib.
    StreamPtr source;
    // Files our own decoders read (`decode` set) become a CDib at once:
    // `dib` until the first ImageToDib hands it over. Other files are
    // decoded by Qt into `pixels`, until the first ImageToDib uses them up.
    DecodeFunction decode = nullptr;
    DibPtr dib;
    QImage pixels;
};
