#include "tests/support/ScanFiles.h"

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"

namespace scangen {

bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha) {
    if (!dib) {
        return false;
    }
    DibPtr pixels = dib;
    if (!withAlpha && dib->BitCount() == 32 && FAILED(RemoveAlpha(pixels, *dib))) {
        return false;
    }
    SaverPtr saver;
    BitmapPtr bitmap;
    if (FAILED(SetPngSaver(saver)) || FAILED(DibToBitmap(bitmap, pixels, true))) {
        return false;
    }
    bitmap->SetResolution(dpi, dpi);
    return SUCCEEDED(Save(*saver, bitmap, path));
}

}  // namespace scangen
