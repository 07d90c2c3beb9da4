#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
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
// grey[, alpha]; 1-bit rows white-is-zero). The encoder may change the
// buffer it is given (the predictor works in place), so even rows that
// need no change are copied.
template <class T>
void PackSamples(const BYTE* src, BYTE* dst, LONG width, const PixelKindInfo& info) {
    const int n = info.channels;
    for (LONG x = 0; x < width; ++x) {
        for (int c = 0; c < n; ++c) {
            // Blue and red change places; grey and alpha stay.
            const int from = info.colour && c < 3 ? 2 - c : c;
            std::memcpy(dst + sizeof(T) * (n * x + c), src + sizeof(T) * (n * x + from), sizeof(T));
        }
    }
}

void PackRow(const BYTE* src, BYTE* dst, LONG width, PixelKind kind) {
    const PixelKindInfo& info = InfoOf(kind);
    switch (info.sampleBits) {
        case 1: {
            const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8;
            for (std::size_t i = 0; i < bytes; ++i) {
                dst[i] = static_cast<BYTE>(~src[i]);
            }
            if (width % 8 != 0) {
                dst[bytes - 1] &= static_cast<BYTE>(0xFF00u >> (width % 8));
            }
            break;
        }
        case 8:
            if (!info.colour) {
                std::memcpy(dst, src, std::size_t{static_cast<std::size_t>(info.channels)} * width);
            } else {
                PackSamples<std::uint8_t>(src, dst, width, info);
            }
            break;
        default:
            PackSamples<std::uint16_t>(src, dst, width, info);
            break;
    }
}

}  // namespace

bool WriteTiff(std::FILE* file, const CDib& image, const WriteSettings& settings) {
    KindRows rows(image, settings.kind);
    if (!rows.Ok()) {
        return false;
    }
    const PixelKindInfo& info = InfoOf(settings.kind);
    const bool bitonal = settings.kind == PixelKind::Bitonal;
    EnsureImageIoSetUp();
    const LONG width = image.Width();
    const LONG height = image.Height();
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * info.bitCount + 7) / 8;
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
    const std::uint16_t photometric = bitonal       ? PHOTOMETRIC_MINISWHITE
                                      : info.colour ? PHOTOMETRIC_RGB
                                                    : PHOTOMETRIC_MINISBLACK;
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, info.sampleBits) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, info.channels) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) &&
              TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(t, TIFFTAG_XRESOLUTION, settings.dpiX) &&
              TIFFSetField(t, TIFFTAG_YRESOLUTION, settings.dpiY);
    if (ok && bitonal) {
        ok = TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    } else if (ok) {
        const std::uint16_t compression =
            settings.compression == COMPRESSION_LZW ? COMPRESSION_LZW : COMPRESSION_ADOBE_DEFLATE;
        ok = TIFFSetField(t, TIFFTAG_COMPRESSION, compression) &&
             (compression != COMPRESSION_ADOBE_DEFLATE || TIFFSetField(t, TIFFTAG_ZIPQUALITY, 1)) &&
             TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    if (ok && info.alpha) {
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const std::span<const BYTE> profile = ProfileToWrite(image, settings.kind);
    if (ok && !profile.empty()) {
        ok = TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(profile.size()),
                          profile.data());
    }
    for (LONG y = 0; ok && y < height; ++y) {
        PackRow(rows.Row(y), row.data(), width, settings.kind);
        ok = TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
    }
    return ok && TIFFFlush(t) == 1;
}
