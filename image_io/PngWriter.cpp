#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/PixelMemory.h"
#include "image_io/Encoders.h"

namespace {

struct PngKind {
    int colourType;
    int channels;
};

bool KindOf(const CDib& dib, PngKind& kind) {
    switch (ClassifyPixels(dib)) {
        case PixelLayout::kBgra32:
            kind = {PNG_COLOR_TYPE_RGB_ALPHA, 4};
            return true;
        case PixelLayout::kBgr24:
            kind = {PNG_COLOR_TYPE_RGB, 3};
            return true;
        case PixelLayout::kGrey8:
            kind = {PNG_COLOR_TYPE_GRAY, 1};
            return true;
        default:
            return false;
    }
}

// --- WritePng: rows filtered here, deflated whole by libdeflate -------------

// libdeflate's fastest level. On scanned pages it deflates 2 to 3 times as
// fast as zlib's level 1 with the run-length strategy, into files a few per
// cent larger; the Average filter (against Up) wins back part of that.
constexpr int kDeflateLevel = 1;
constexpr std::uint8_t kFilterAverage = 3;
// The pixel data goes into IDAT chunks of at most this size (a page needs
// one).
constexpr std::size_t kMaxIdatBytes = std::size_t{1} << 30;

void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

bool WriteChunk(std::FILE* file, const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[8], tail[4];
    PutBe32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size != 0) {
        // A null buffer would start the sum afresh.
        crc = libdeflate_crc32(crc, data, size);
    }
    PutBe32(tail, crc);
    return std::fwrite(head, 1, 8, file) == 8 &&
           (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail, 1, 4, file) == 4;
}

// One row of the image in the file's sample order: red, green, blue, alpha.
template <int C>
void ToFileOrder(const BYTE* in, std::uint8_t* out, std::size_t width) {
    if constexpr (C == 1) {
        std::memcpy(out, in, width);
    } else {
        for (std::size_t x = 0; x < width; ++x, in += C, out += C) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if constexpr (C == 4) {
                out[3] = in[3];
            }
        }
    }
}

// The image's rows top-down, each as the Average filter type and the
// filtered samples: `out` holds height × (width × C + 1) bytes.
template <int C>
void FilterRows(const CDib& dib, std::uint8_t* out) {
    const auto width = static_cast<std::size_t>(dib.Width());
    const std::size_t n = width * C;
    std::vector<std::uint8_t> prev(n, 0), cur(n);
    for (LONG y = 0; y < dib.Height(); ++y, out += n + 1) {
        ToFileOrder<C>(dib.Row(y), cur.data(), width);
        out[0] = kFilterAverage;
        std::uint8_t* filtered = out + 1;
        for (std::size_t i = 0; i < C; ++i) {
            filtered[i] = static_cast<std::uint8_t>(cur[i] - (prev[i] >> 1));
        }
        for (std::size_t i = C; i < n; ++i) {
            filtered[i] = static_cast<std::uint8_t>(cur[i] - ((cur[i - C] + prev[i]) >> 1));
        }
        prev.swap(cur);
    }
}

struct Compressor {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kDeflateLevel);
    ~Compressor() { libdeflate_free_compressor(c); }
};

// --- WritePngReference: libpng --------------------------------------------

// libpng reports errors by longjmp: WritePngReference keeps no object with a
// destructor alive between setjmp and the end of the write.

void PngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

}  // namespace

bool WritePng(std::FILE* file, const CDib& dib, double dpiX, double dpiY) {
    PngKind kind{};
    if (!KindOf(dib, kind)) {
        return false;
    }
    try {
        const auto width = static_cast<std::uint32_t>(dib.Width());
        const auto height = static_cast<std::uint32_t>(dib.Height());
        const std::size_t rowBytes = std::size_t{width} * kind.channels + 1;
        const std::size_t rawBytes = rowBytes * height;
        WorkBlock compressed;
        std::size_t compressedBytes = 0;
        {
            WorkBlock rows = MakeWorkBlock(rawBytes);
            Compressor compressor;
            if (!rows || compressor.c == nullptr) {
                return false;
            }
            switch (kind.channels) {
                case 1:
                    FilterRows<1>(dib, rows.get());
                    break;
                case 3:
                    FilterRows<3>(dib, rows.get());
                    break;
                default:
                    FilterRows<4>(dib, rows.get());
                    break;
            }
            const std::size_t bound = libdeflate_zlib_compress_bound(compressor.c, rawBytes);
            compressed = MakeWorkBlock(bound);
            if (!compressed) {
                return false;
            }
            compressedBytes = libdeflate_zlib_compress(compressor.c, rows.get(), rawBytes,
                                                       compressed.get(), bound);
            if (compressedBytes == 0) {
                return false;
            }
        }
        static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::uint8_t header[13] = {};
        PutBe32(header, width);
        PutBe32(header + 4, height);
        header[8] = 8;
        header[9] = static_cast<std::uint8_t>(kind.colourType);
        std::uint8_t phys[9] = {};
        PutBe32(phys, static_cast<std::uint32_t>(DpiToPelsPerMeter(dpiX)));
        PutBe32(phys + 4, static_cast<std::uint32_t>(DpiToPelsPerMeter(dpiY)));
        phys[8] = 1;  // per metre
        bool ok = std::fwrite(kSignature, 1, 8, file) == 8 &&
                  WriteChunk(file, "IHDR", header, sizeof header) &&
                  WriteChunk(file, "pHYs", phys, sizeof phys);
        for (std::size_t at = 0; ok && at < compressedBytes; at += kMaxIdatBytes) {
            const std::size_t part = std::min(kMaxIdatBytes, compressedBytes - at);
            ok = WriteChunk(file, "IDAT", compressed.get() + at, part);
        }
        return ok && WriteChunk(file, "IEND", nullptr, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool WritePngReference(std::FILE* file, const CDib& dib, double dpiX, double dpiY) {
    PngKind kind{};
    if (!KindOf(dib, kind)) {
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
                 static_cast<png_uint_32>(dib.Height()), 8, kind.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_pHYs(png, info, static_cast<png_uint_32>(DpiToPelsPerMeter(dpiX)),
                 static_cast<png_uint_32>(DpiToPelsPerMeter(dpiY)), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (kind.channels != 1) {
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
