#include <png.h>
#include <zlib.h>

#include "image_io/Encoders.h"

// libpng reports errors by longjmp: this file keeps no object with a
// destructor alive between setjmp and the end of the write.

namespace {

void PngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

}  // namespace

bool WritePng(std::FILE* file, const CDib& dib, double dpiX, double dpiY) {
    const PixelLayout layout = ClassifyPixels(dib);
    int colourType;
    switch (layout) {
        case PixelLayout::kBgra32:
            colourType = PNG_COLOR_TYPE_RGB_ALPHA;
            break;
        case PixelLayout::kBgr24:
            colourType = PNG_COLOR_TYPE_RGB;
            break;
        case PixelLayout::kGrey8:
            colourType = PNG_COLOR_TYPE_GRAY;
            break;
        default:
            return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_IHDR(png, info, static_cast<png_uint_32>(dib.Width()),
                 static_cast<png_uint_32>(dib.Height()), 8, colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_pHYs(png, info, static_cast<png_uint_32>(DpiToPelsPerMeter(dpiX)),
                 static_cast<png_uint_32>(DpiToPelsPerMeter(dpiY)), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (layout != PixelLayout::kGrey8) {
        png_set_bgr(png);
    }
    const LONG height = dib.Height();
    for (LONG y = 0; y < height; ++y) {
        png_write_row(png, dib.Row(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}
