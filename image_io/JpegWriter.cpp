#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "image_io/Encoders.h"

// libjpeg reports errors through error_exit, which must not return: it
// longjmps back here. No object with a destructor is alive between setjmp
// and the end of the write.

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

void JpegSilent(j_common_ptr /*cinfo*/) {}

// JFIF density is a 16-bit whole number.
UINT16 Density(double dpi) {
    const double rounded = std::round(dpi);
    if (!(rounded >= 1.0)) {
        return 1;
    }
    return rounded > 65535.0 ? 65535 : static_cast<UINT16>(rounded);
}

// The state lives in the caller's frame, so nothing local to the function
// that calls setjmp changes between setjmp and longjmp.
struct JpegJob {
    jpeg_compress_struct cinfo;
    JpegErrorManager errors;
};

bool RunJpeg(JpegJob& job, std::FILE* file, const CDib& dib, J_COLOR_SPACE inSpace, int components,
             UINT16 densityX, UINT16 densityY, int quality) {
    jpeg_compress_struct& cinfo = job.cinfo;
    cinfo.err = jpeg_std_error(&job.errors.base);
    job.errors.base.error_exit = JpegErrorExit;
    job.errors.base.output_message = JpegSilent;
    if (setjmp(job.errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(dib.Width());
    cinfo.image_height = static_cast<JDIMENSION>(dib.Height());
    cinfo.input_components = components;
    cinfo.in_color_space = inSpace;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = densityX;
    cinfo.Y_density = densityY;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(dib.Row(static_cast<LONG>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool WriteJpeg(std::FILE* file, const CDib& dib, double dpiX, double dpiY, int quality) {
    J_COLOR_SPACE inSpace;
    int components;
    switch (ClassifyPixels(dib)) {
        case PixelLayout::kBgra32:
            inSpace = JCS_EXT_BGRX;  // the alpha byte is skipped
            components = 4;
            break;
        case PixelLayout::kBgr24:
            inSpace = JCS_EXT_BGR;
            components = 3;
            break;
        case PixelLayout::kGrey8:
            inSpace = JCS_GRAYSCALE;
            components = 1;
            break;
        default:
            return false;
    }
    JpegJob job;
    return RunJpeg(job, file, dib, inSpace, components, Density(dpiX), Density(dpiY),
                   quality < 0 ? 0 : (quality > 100 ? 100 : quality));
}
