#include "tests/support/ScanFiles.h"

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"

namespace scangen {
namespace {

bool WriteWith(const SaverPtr& saver, const DibPtr& dib, const std::string& path, float dpi,
               bool withAlpha) {
    if (!dib || !saver) {
        return false;
    }
    DibPtr pixels = dib;
    if (!withAlpha && dib->BitCount() == 32 && FAILED(RemoveAlpha(pixels, *dib))) {
        return false;
    }
    BitmapPtr bitmap;
    if (FAILED(DibToBitmap(bitmap, pixels, true))) {
        return false;
    }
    bitmap->SetResolution(dpi, dpi);
    return SUCCEEDED(Save(*saver, bitmap, path));
}

}  // namespace

bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha) {
    SaverPtr saver;
    return SUCCEEDED(SetFormatSaver(saver, OutputFormatByKeyword("png")->saveType, 0, 0)) &&
           WriteWith(saver, dib, path, dpi, withAlpha);
}

bool WriteJpeg(const DibPtr& dib, const std::string& path, float dpi, std::uint32_t quality) {
    SaverPtr saver;
    return SUCCEEDED(SetFormatSaver(saver, OutputFormatByKeyword("jpg")->saveType,
                                    static_cast<std::int32_t>(quality), 0)) &&
           WriteWith(saver, dib, path, dpi, false);
}

}  // namespace scangen
