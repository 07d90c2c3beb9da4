#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <new>
#include <vector>

#include "image_io/Encoders.h"
#include "image_io/ImageIoSetup.h"

namespace {

// Target size of one compressed strip's input: large enough for deflate to
// find its matches, small enough to keep the encoder's buffers modest.
constexpr std::size_t kStripBytes = 256 * 1024;

// libtiff reaches the file through these, so that the caller keeps the
// stream and sees every failure in its own flush and close.
tmsize_t ReadProc(thandle_t handle, void* data, tmsize_t size) {
    return static_cast<tmsize_t>(
        std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(handle)));
}

tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size) {
    return static_cast<tmsize_t>(
        std::fwrite(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(handle)));
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<std::FILE*>(handle);
    if (fseeko(file, static_cast<off_t>(offset), whence) != 0) {
        return static_cast<toff_t>(-1);
    }
    return static_cast<toff_t>(ftello(file));
}

int CloseProc(thandle_t /*handle*/) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    auto* file = static_cast<std::FILE*>(handle);
    struct stat info {};
    if (std::fflush(file) != 0 || fstat(fileno(file), &info) != 0) {
        return 0;
    }
    return static_cast<toff_t>(info.st_size);
}

int MapProc(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) {
    return 0;
}

void UnmapProc(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

class TiffHandle {
  public:
    explicit TiffHandle(TIFF* tiff) : m_tiff(tiff) {}
    ~TiffHandle() {
        if (m_tiff != nullptr) {
            TIFFClose(m_tiff);
        }
    }
    TiffHandle(const TiffHandle&) = delete;
    TiffHandle& operator=(const TiffHandle&) = delete;
    TIFF* Get() const { return m_tiff; }

  private:
    TIFF* m_tiff;
};

// One output row in the file's sample order (red, green, blue[, alpha] or
// grey). The encoder may change the buffer it is given (the predictor works
// in place), so even grey rows are copied.
void PackRow(const BYTE* src, BYTE* dst, LONG width, PixelLayout layout) {
    switch (layout) {
        case PixelLayout::kBgra32:
            for (LONG x = 0; x < width; ++x) {
                dst[4 * x + 0] = src[4 * x + 2];
                dst[4 * x + 1] = src[4 * x + 1];
                dst[4 * x + 2] = src[4 * x + 0];
                dst[4 * x + 3] = src[4 * x + 3];
            }
            break;
        case PixelLayout::kBgr24:
            for (LONG x = 0; x < width; ++x) {
                dst[3 * x + 0] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x + 0];
            }
            break;
        default:
            std::copy(src, src + width, dst);
            break;
    }
}

}  // namespace

bool WriteTiff(std::FILE* file, const CDib& dib, double dpiX, double dpiY) {
    const PixelLayout layout = ClassifyPixels(dib);
    std::uint16_t samples;
    switch (layout) {
        case PixelLayout::kBgra32:
            samples = 4;
            break;
        case PixelLayout::kBgr24:
            samples = 3;
            break;
        case PixelLayout::kGrey8:
            samples = 1;
            break;
        default:
            return false;
    }
    EnsureImageIoSetUp();
    const LONG width = dib.Width();
    const LONG height = dib.Height();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * samples;
    std::vector<BYTE> row;
    try {
        row.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }

    TiffHandle tiff(TIFFClientOpen("output", "w", static_cast<thandle_t>(file), ReadProc, WriteProc,
                                   SeekProc, CloseProc, SizeProc, MapProc, UnmapProc));
    TIFF* t = tiff.Get();
    if (t == nullptr) {
        return false;
    }
    const auto rowsPerStrip =
        static_cast<std::uint32_t>(std::clamp<std::size_t>(kStripBytes / rowBytes, 1, height));
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                           samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
              TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1) &&
              TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, dpiX) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, dpiY);
    if (ok && samples == 4) {
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    for (LONG y = 0; ok && y < height; ++y) {
        PackRow(dib.Row(y), row.data(), width, layout);
        ok = TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
    }
    return ok && TIFFFlush(t) == 1;
}
