#include "image_io/JpegReader.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <span>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

// libjpeg reports errors, and here every warning that means lost or corrupt
// data, by a longjmp back into the stage that called setjmp. The stages keep
// their state in the Job, never in locals, and hold no object with a
// destructor.

namespace {

constexpr std::uint64_t kMinWorkBudget = 48u << 20;
constexpr std::uint64_t kWorkBudgetPerFileByte = 64;
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    HRESULT failure;
};

struct Job {
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    bool cmyk;
    PixelKind kind;
    // The ICC profile of the APP2 markers (malloc'd by libjpeg; freed by
    // ReadJpeg), or null.
    JOCTET* profile;
    unsigned profileSize;
};

[[noreturn]] void Stop(j_common_ptr cinfo, HRESULT failure) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    errors->failure = failure;
    std::longjmp(errors->jump, 1);
}

void OnError(j_common_ptr cinfo) {
    const int code = cinfo->err->msg_code;
    Stop(cinfo, code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? kDecodeNoMemory
                                                                            : E_NOT_IMAGE_FILE);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;  // trace messages
    }
    switch (cinfo->err->msg_code) {
        case JWRN_ADOBE_XFORM:
        case JWRN_JFIF_MAJOR:
            return;  // unusual headers, whole pixels
        case JWRN_JPEG_EOF:
            Stop(cinfo, kDecodeTruncated);
        default:
            Stop(cinfo, E_NOT_IMAGE_FILE);
    }
}

void OnProgress(j_common_ptr cinfo) {
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        Stop(cinfo, E_NOT_IMAGE_FILE);
    }
}

void Silent(j_common_ptr /*cinfo*/) {}

// Up to the first scan line: header, limits, output format, decoder set up
// (a progressive file is read whole here).
HRESULT Start(Job& job, const std::uint8_t* data, std::size_t size, const DecodeLimits& limits) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    cinfo.err = jpeg_std_error(&job.errors.base);
    job.errors.base.error_exit = OnError;
    job.errors.base.emit_message = OnMessage;
    job.errors.base.output_message = Silent;
    if (setjmp(job.errors.jump)) {
        return job.errors.failure;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = static_cast<long>(
        std::min<std::uint64_t>(std::max(kMinWorkBudget, kWorkBudgetPerFileByte * size), LONG_MAX));
    job.progress.progress_monitor = OnProgress;
    cinfo.progress = &job.progress;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        return E_NOT_IMAGE_FILE;
    }
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    job.kind = grey ? PixelKind::Grey8 : PixelKind::Bgra32;
    if (!WithinDecodeLimits(cinfo.image_width, cinfo.image_height, job.kind, limits)) {
        return kDecodeNoMemory;
    }
    jpeg_read_icc_profile(&cinfo, &job.profile, &job.profileSize);
    job.cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : job.cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height ||
        cinfo.output_components != (grey ? 1 : 4)) {
        return E_NOT_IMAGE_FILE;
    }
    return S_OK;
}

// Inverted CMYK, as stored, to blue, green, red, opaque; in place.
void CmykRowToBgra(BYTE* row, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x) {
        BYTE* p = row + 4 * x;
        const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        p[0] = static_cast<BYTE>(y * k / 255);
        p[1] = static_cast<BYTE>(m * k / 255);
        p[2] = static_cast<BYTE>(c * k / 255);
        p[3] = 255;
    }
}

// Every scan line into `dib` (same size), then the end of the file.
HRESULT ReadRows(Job& job, CDib& dib) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    if (setjmp(job.errors.jump)) {
        return job.errors.failure;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = dib.Row(static_cast<LONG>(cinfo.output_scanline));
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            return kDecodeTruncated;
        }
        if (job.cmyk) {
            CmykRowToBgra(row, cinfo.output_width);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return S_OK;
}

}  // namespace

bool IsJpegData(const std::uint8_t* data, std::size_t size) {
    return data != nullptr && size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

HRESULT ReadJpeg(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                 const DecodeLimits& limits) {
    if (!IsJpegData(data, size)) {
        return E_NOT_IMAGE_FILE;
    }
    Job job{};
    HRESULT hr = S_OK;
    try {
        hr = Start(job, data, size, limits);
        if (SUCCEEDED(hr)) {
            // A CMYK file's profile describes the inks, not the colours
            // made of them: it does not fit and is left out.
            const std::span<const BYTE> profile(job.profile, job.profile ? job.profileSize : 0);
            const DibPtr out =
                NewDib(static_cast<LONG>(job.cinfo.output_width),
                       static_cast<LONG>(job.cinfo.output_height), job.kind,
                       ProfileFitsKind(profile, job.kind) ? profile : std::span<const BYTE>());
            if (!out) {
                hr = kDecodeNoMemory;
            } else if (SUCCEEDED(hr = ReadRows(job, *out))) {
                ClearRowPadding(*out);
                dib = out;
                hasAlpha = false;
            }
        }
    } catch (const std::bad_alloc&) {
        hr = kDecodeNoMemory;
    }
    jpeg_destroy_decompress(&job.cinfo);
    std::free(job.profile);
    return hr;
}
