#include "image_io/PngInflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "image/PixelMemory.h"
#include "image_io/Decoding.h"

// For colour files the image's own memory holds the inflated rows until
// they are decoded: a row of the file (a filter byte and 3 bytes a pixel)
// is never longer than a row of the image (4 bytes a pixel), so with the
// inflated rows at the end of the bits, every decoded row, written top-down
// from the start, lands below the file rows still to be read. The rows are
// turned bottom-up at the end. Grey files (a row of the file is one byte
// longer than the image's) are inflated into a block of their own.

namespace {

constexpr HRESULT kCorrupt = E_NOT_IMAGE_FILE;

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The zlib stream of the pixel data, in the file itself when one chunk holds
// it, else joined from its chunks.
struct PixelStream {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    // The file ends inside the IDAT chunks or right after them: pixel data
    // that stops short is then a file cut short.
    bool fileEnds = false;
    WorkBlock joined;
};

HRESULT CollectIdat(PixelStream& stream, const std::uint8_t* data, std::size_t size,
                    std::size_t at) {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    std::size_t total = 0;
    for (;;) {
        if (size - at < 8) {
            stream.fileEnds = true;
            break;
        }
        const std::uint32_t length = Be32(data + at);
        if (std::memcmp(data + at + 4, "IDAT", 4) != 0) {
            break;
        }
        if (length > 0x7FFFFFFFu) {
            return kCorrupt;
        }
        if (size - at - 8 < std::size_t{length} + 4) {
            return kDecodeTruncated;
        }
        if (libdeflate_crc32(0, data + at + 4, std::size_t{length} + 4) !=
            Be32(data + at + 8 + length)) {
            return kCorrupt;
        }
        parts.emplace_back(at + 8, length);
        total += length;
        at += std::size_t{length} + 12;
    }
    if (parts.size() == 1) {
        stream.bytes = data + parts[0].first;
    } else if (total > 0) {
        stream.joined = MakeWorkBlock(total);
        if (!stream.joined) {
            return kDecodeNoMemory;
        }
        std::uint8_t* out = stream.joined.get();
        for (const auto& [offset, length] : parts) {
            std::memcpy(out, data + offset, length);
            out += length;
        }
        stream.bytes = stream.joined.get();
    }
    stream.size = total;
    return S_OK;
}

int Paeth(int a, int b, int c) {
    // The predictor p = a + b - c and its distances to a, b and c.
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    // Without branches: on noisy scans the choice is unpredictable.
    const int bOrC = pb <= pc ? b : c;
    const int takeA = -static_cast<int>((pa <= pb) & (pa <= pc));
    return (a & takeA) | (bOrC & ~takeA);
}

// The filters that predict from the left: pixel by pixel, with the left and
// upper-left samples held in registers rather than read back from the row
// just written. Left of the first pixel counts as 0.
template <int C, class Predict>
void UnfilterFromLeft(const std::uint8_t* in, const std::uint8_t* prev, std::uint8_t* cur,
                      std::size_t width, Predict predict) {
    int left[C] = {};
    int upLeft[C] = {};
    for (std::size_t x = 0; x < width; ++x, in += C, prev += C, cur += C) {
        for (int k = 0; k < C; ++k) {
            const int up = prev[k];
            const int value = (in[k] + predict(left[k], up, upLeft[k])) & 0xFF;
            cur[k] = static_cast<std::uint8_t>(value);
            left[k] = value;
            upLeft[k] = up;
        }
    }
}

// Undoes one row's filter: `in` the filtered bytes, `prev` the row above
// (zeros for the first), `cur` the result; C bytes a pixel. False for an
// unknown filter type.
template <int C>
bool UnfilterRow(unsigned filter, const std::uint8_t* in, const std::uint8_t* prev,
                 std::uint8_t* cur, std::size_t width) {
    const std::size_t n = width * C;
    switch (filter) {
        case 0:
            std::memcpy(cur, in, n);
            return true;
        case 1:
            UnfilterFromLeft<C>(in, prev, cur, width, [](int a, int, int) { return a; });
            return true;
        case 2:
            for (std::size_t i = 0; i < n; ++i) {
                cur[i] = static_cast<std::uint8_t>(in[i] + prev[i]);
            }
            return true;
        case 3:
            UnfilterFromLeft<C>(in, prev, cur, width,
                                [](int a, int b, int) { return (a + b) >> 1; });
            return true;
        case 4:
            UnfilterFromLeft<C>(in, prev, cur, width, Paeth);
            return true;
        default:
            return false;
    }
}

// One row of samples in the image's layout: red, green, blue to blue,
// green, red, alpha; grey, and grey and alpha, as they are.
template <int C>
void ExpandRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    if constexpr (C == 3) {
        for (std::size_t x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 255;
        }
    } else {
        std::memcpy(out, in, width * C);
    }
}

// `inPlace`: the file rows lie in the image's own bits (see above), so the
// rows are decoded top-down from the start of the bits and turned
// bottom-up at the end.
template <int C>
bool DecodeRows(CDib& dib, const std::uint8_t* rows, bool inPlace) {
    const auto width = static_cast<std::size_t>(dib.Width());
    const auto height = static_cast<std::size_t>(dib.Height());
    const std::size_t stride = dib.Stride();
    const std::size_t n = width * C;
    std::vector<std::uint8_t> prev(n, 0), cur(n);
    BYTE* bits = dib.Bits();
    for (std::size_t y = 0; y < height; ++y, rows += n + 1) {
        if (!UnfilterRow<C>(rows[0], rows + 1, prev.data(), cur.data(), width)) {
            return false;
        }
        ExpandRow<C>(cur.data(), inPlace ? bits + y * stride : dib.Row(static_cast<LONG>(y)),
                     width);
        prev.swap(cur);
    }
    for (std::size_t y = 0; inPlace && y < height / 2; ++y) {
        std::swap_ranges(bits + y * stride, bits + (y + 1) * stride,
                         bits + (height - 1 - y) * stride);
    }
    return true;
}

struct Decompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~Decompressor() { libdeflate_free_decompressor(d); }
};

}  // namespace

int InflatableChannels(int colourType, int bitDepth, bool interlaced, bool transparencyChunk) {
    if (bitDepth != 8 || interlaced || transparencyChunk) {
        return 0;
    }
    switch (colourType) {
        case 0:
            return 1;
        case 4:
            return 2;
        case 2:
            return 3;
        default:
            return 0;
    }
}

HRESULT InflatePngPixels(CDib& dib, int channels, const std::uint8_t* data, std::size_t size,
                         std::size_t idatAt) {
    static constexpr PixelKind kKinds[] = {PixelKind::Grey8, PixelKind::GreyAlpha8,
                                           PixelKind::Bgra32};
    if (channels < 1 || channels > 3 || KindOf(dib) != kKinds[channels - 1] ||
        dib.Bits() == nullptr || dib.Width() <= 0 || dib.Height() <= 0 || idatAt > size) {
        return E_INVALIDARG;
    }
    try {
        PixelStream stream;
        HRESULT hr = CollectIdat(stream, data, size, idatAt);
        if (FAILED(hr)) {
            return hr;
        }
        const HRESULT cutShort = stream.fileEnds ? kDecodeTruncated : kCorrupt;
        const std::size_t rowBytes = static_cast<std::size_t>(dib.Width()) * channels + 1;
        const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(dib.Height());
        const bool inPlace = channels == 3;
        WorkBlock block;
        if (!inPlace && !(block = MakeWorkBlock(pixelBytes))) {
            return kDecodeNoMemory;
        }
        std::uint8_t* rows = inPlace ? dib.Bits() + dib.GetImageSize() - pixelBytes : block.get();
        Decompressor decompressor;
        if (decompressor.d == nullptr) {
            return kDecodeNoMemory;
        }
        switch (libdeflate_zlib_decompress(decompressor.d, stream.bytes, stream.size, rows,
                                           pixelBytes, nullptr)) {
            case LIBDEFLATE_SUCCESS:
                break;
            case LIBDEFLATE_INSUFFICIENT_SPACE:
                return kExcessPixelData;
            default:
                return cutShort;
        }
        stream.joined.reset();
        const bool decoded = channels == 1   ? DecodeRows<1>(dib, rows, inPlace)
                             : channels == 2 ? DecodeRows<2>(dib, rows, inPlace)
                                             : DecodeRows<3>(dib, rows, inPlace);
        return decoded ? S_OK : kCorrupt;
    } catch (const std::bad_alloc&) {
        return kDecodeNoMemory;
    }
}
