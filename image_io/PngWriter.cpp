#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

#include "image/PixelMemory.h"
#include "image_io/Encoders.h"

namespace {

// The PNG colour type, bit depth and bytes a pixel (for the filters, at
// least 1) of each kind, and how a row of it is put into the file's order.
struct PngLayout {
    int colourType;
    int bitDepth;
    int bytes;
    void (*toFileOrder)(const BYTE* in, std::uint8_t* out, std::size_t width);
};

// Samples in the file's order: red, green, blue, alpha; 16-bit ones
// big-endian.
template <int C, int Bytes>
void ToFileOrder(const BYTE* in, std::uint8_t* out, std::size_t width) {
    constexpr int kSample = Bytes / C;
    if constexpr (C <= 2 && kSample == 1) {
        std::memcpy(out, in, width * C);
    } else {
        for (std::size_t x = 0; x < width; ++x, in += Bytes, out += Bytes) {
            for (int c = 0; c < C; ++c) {
                // Blue and red change places; alpha and grey stay.
                const int from = C >= 3 && c < 3 ? 2 - c : c;
                if constexpr (kSample == 1) {
                    out[c] = in[from];
                } else {
                    out[2 * c] = in[2 * from + 1];
                    out[2 * c + 1] = in[2 * from];
                }
            }
        }
    }
}

void BitsToFileOrder(const BYTE* in, std::uint8_t* out, std::size_t width) {
    const std::size_t bytes = (width + 7) / 8;
    std::memcpy(out, in, bytes);
    if (width % 8 != 0) {
        out[bytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
}

PngLayout LayoutOf(PixelKind kind) {
    switch (kind) {
        case PixelKind::Bitonal:
            return {PNG_COLOR_TYPE_GRAY, 1, 1, BitsToFileOrder};
        case PixelKind::Grey8:
            return {PNG_COLOR_TYPE_GRAY, 8, 1, ToFileOrder<1, 1>};
        case PixelKind::GreyAlpha8:
            return {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, ToFileOrder<2, 2>};
        case PixelKind::Grey16:
            return {PNG_COLOR_TYPE_GRAY, 16, 2, ToFileOrder<1, 2>};
        case PixelKind::GreyAlpha16:
            return {PNG_COLOR_TYPE_GRAY_ALPHA, 16, 4, ToFileOrder<2, 4>};
        case PixelKind::Bgr24:
            return {PNG_COLOR_TYPE_RGB, 8, 3, ToFileOrder<3, 3>};
        case PixelKind::Bgra32:
            return {PNG_COLOR_TYPE_RGB_ALPHA, 8, 4, ToFileOrder<4, 4>};
        case PixelKind::Bgr48:
            return {PNG_COLOR_TYPE_RGB, 16, 6, ToFileOrder<3, 6>};
        case PixelKind::Bgra64:
            return {PNG_COLOR_TYPE_RGB_ALPHA, 16, 8, ToFileOrder<4, 8>};
    }
    return {};
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

// Filters one row of `n` bytes with the Average filter, `Bpp` bytes a
// pixel: `out` receives the filter type and the filtered bytes.
template <int Bpp>
void FilterRow(const std::uint8_t* cur, const std::uint8_t* prev, std::uint8_t* out,
               std::size_t n) {
    out[0] = kFilterAverage;
    std::uint8_t* filtered = out + 1;
    for (std::size_t i = 0; i < Bpp && i < n; ++i) {
        filtered[i] = static_cast<std::uint8_t>(cur[i] - (prev[i] >> 1));
    }
    for (std::size_t i = Bpp; i < n; ++i) {
        filtered[i] = static_cast<std::uint8_t>(cur[i] - ((cur[i - Bpp] + prev[i]) >> 1));
    }
}

// The image's rows top-down in the file's order, each filtered: `out`
// holds height × (row bytes + 1) bytes.
template <int Bpp>
void FilterRows(KindRows& rows, const PngLayout& layout, LONG height, std::size_t width,
                std::size_t rowBytes, std::uint8_t* out) {
    std::vector<std::uint8_t> prev(rowBytes, 0), cur(rowBytes);
    for (LONG y = 0; y < height; ++y, out += rowBytes + 1) {
        layout.toFileOrder(rows.Row(y), cur.data(), width);
        FilterRow<Bpp>(cur.data(), prev.data(), out, rowBytes);
        prev.swap(cur);
    }
}

struct Compressor {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kDeflateLevel);
    ~Compressor() { libdeflate_free_compressor(c); }
};

// The iCCP chunk: a profile name, its end, compression method 0 and the
// zlib-compressed profile. Nothing for an empty profile.
bool WriteProfileChunk(std::FILE* file, const Compressor& compressor,
                       std::span<const BYTE> profile) {
    if (profile.empty()) {
        return true;
    }
    static constexpr char kName[] = "ICC profile";
    std::vector<std::uint8_t> chunk(sizeof kName + 1);
    std::memcpy(chunk.data(), kName, sizeof kName);  // with its end
    const std::size_t start = chunk.size();
    chunk.resize(start + libdeflate_zlib_compress_bound(compressor.c, profile.size()));
    const std::size_t bytes = libdeflate_zlib_compress(compressor.c, profile.data(), profile.size(),
                                                       chunk.data() + start, chunk.size() - start);
    return bytes != 0 && WriteChunk(file, "iCCP", chunk.data(), start + bytes);
}

// --- WritePngReference: libpng --------------------------------------------

// libpng reports errors by longjmp: WritePngReference makes no object with
// a destructor between setjmp and the end of the write, and changes none of
// the locals made before (the row source only fills its buffer).

void PngError(png_structp png, png_const_charp /*message*/) {
    png_longjmp(png, 1);
}

void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

}  // namespace

bool WritePng(std::FILE* file, const CDib& image, const WriteSettings& settings) {
    const PngLayout layout = LayoutOf(settings.kind);
    KindRows rows(image, settings.kind);
    if (!rows.Ok()) {
        return false;
    }
    try {
        const auto width = static_cast<std::uint32_t>(image.Width());
        const auto height = static_cast<std::uint32_t>(image.Height());
        const std::size_t rowBytes = (std::size_t{width} * InfoOf(settings.kind).bitCount + 7) / 8;
        const std::size_t rawBytes = (rowBytes + 1) * height;
        WorkBlock compressed;
        std::size_t compressedBytes = 0;
        Compressor compressor;
        if (compressor.c == nullptr) {
            return false;
        }
        {
            WorkBlock filtered = MakeWorkBlock(rawBytes);
            if (!filtered) {
                return false;
            }
            const auto filter = [&](auto bpp) {
                FilterRows<decltype(bpp)::value>(rows, layout, static_cast<LONG>(height), width,
                                                 rowBytes, filtered.get());
            };
            switch (layout.bytes) {
                case 1:
                    filter(std::integral_constant<int, 1>());
                    break;
                case 2:
                    filter(std::integral_constant<int, 2>());
                    break;
                case 3:
                    filter(std::integral_constant<int, 3>());
                    break;
                case 4:
                    filter(std::integral_constant<int, 4>());
                    break;
                case 6:
                    filter(std::integral_constant<int, 6>());
                    break;
                default:
                    filter(std::integral_constant<int, 8>());
                    break;
            }
            const std::size_t bound = libdeflate_zlib_compress_bound(compressor.c, rawBytes);
            compressed = MakeWorkBlock(bound);
            if (!compressed) {
                return false;
            }
            compressedBytes = libdeflate_zlib_compress(compressor.c, filtered.get(), rawBytes,
                                                       compressed.get(), bound);
            if (compressedBytes == 0) {
                return false;
            }
        }
        static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        std::uint8_t header[13] = {};
        PutBe32(header, width);
        PutBe32(header + 4, height);
        header[8] = static_cast<std::uint8_t>(layout.bitDepth);
        header[9] = static_cast<std::uint8_t>(layout.colourType);
        std::uint8_t phys[9] = {};
        PutBe32(phys, static_cast<std::uint32_t>(DpiToPelsPerMeter(settings.dpiX)));
        PutBe32(phys + 4, static_cast<std::uint32_t>(DpiToPelsPerMeter(settings.dpiY)));
        phys[8] = 1;  // per metre
        bool ok = std::fwrite(kSignature, 1, 8, file) == 8 &&
                  WriteChunk(file, "IHDR", header, sizeof header) &&
                  WriteProfileChunk(file, compressor, ProfileToWrite(image, settings.kind)) &&
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

bool WritePngReference(std::FILE* file, const CDib& image, const WriteSettings& settings) {
    if (settings.kind != PixelKind::Grey8 && settings.kind != PixelKind::Bgr24 &&
        settings.kind != PixelKind::Bgra32) {
        return false;
    }
    const PngLayout layout = LayoutOf(settings.kind);
    KindRows rows(image, settings.kind);
    if (!rows.Ok()) {
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
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width()),
                 static_cast<png_uint_32>(image.Height()), 8, layout.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_set_pHYs(png, info, static_cast<png_uint_32>(DpiToPelsPerMeter(settings.dpiX)),
                 static_cast<png_uint_32>(DpiToPelsPerMeter(settings.dpiY)), PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (layout.bytes != 1) {
        png_set_bgr(png);
    }
    const LONG height = image.Height();
    for (LONG y = 0; y < height; ++y) {
        png_write_row(png, rows.Row(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}
