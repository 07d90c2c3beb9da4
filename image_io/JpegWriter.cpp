#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>

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

// The rows libjpeg reads: the image's own (skipping an alpha byte), or
// rows converted to the written kind.
struct JpegInput {
    J_COLOR_SPACE space;
    int components;
    KindRows* converted;  // null: the image's own rows
};

bool RunJpeg(JpegJob& job, std::FILE* file, const CDib& image, const JpegInput& input,
             std::span<const BYTE> profile, UINT16 densityX, UINT16 densityY, int quality) {
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
    cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    cinfo.input_components = input.components;
    cinfo.in_color_space = input.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;  // dots per inch
    cinfo.X_density = densityX;
    cinfo.Y_density = densityY;
    jpeg_start_compress(&cinfo, TRUE);
    if (!profile.empty()) {
        jpeg_write_icc_profile(&cinfo, profile.data(), static_cast<unsigned>(profile.size()));
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto y = static_cast<LONG>(cinfo.next_scanline);
        JSAMPROW row =
            const_cast<JSAMPROW>(input.converted ? input.converted->Row(y) : image.Row(y));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool WriteJpeg(std::FILE* file, const CDib& image, const WriteSettings& settings) {
    const std::optional<PixelKind> kind = KindOf(image);
    if (!kind || (settings.kind != PixelKind::Grey8 && settings.kind != PixelKind::Bgr24)) {
        return false;
    }
    const bool grey = settings.kind == PixelKind::Grey8;
    JpegInput input{grey ? JCS_GRAYSCALE : JCS_EXT_BGR, grey ? 1 : 3, nullptr};
    // An 8-bit colour image with alpha is read as it is, the alpha byte
    // skipped; other kinds that are not the written one are converted.
    if (*kind == PixelKind::Bgra32 && !grey) {
        input = JpegInput{JCS_EXT_BGRX, 4, nullptr};
    }
    KindRows rows(image, settings.kind);
    if (*kind != settings.kind && input.components != 4) {
        if (!rows.Ok()) {
            return false;
        }
        input.converted = &rows;
    }
    const int quality =
        settings.quality < 0 ? 0 : (settings.quality > 100 ? 100 : settings.quality);
    JpegJob job;
    return RunJpeg(job, file, image, input, ProfileToWrite(image, settings.kind),
                   Density(settings.dpiX), Density(settings.dpiY), quality);
}
