#include "image_io/FileCompleteness.h"

#include <algorithm>
#include <cstdlib>

#include "image_io/ByteView.h"
#include "image_io/Decoding.h"

namespace {

enum BmpCompression : std::uint32_t {
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitfields = 3,
    kBiAlphaBitfields = 6,
};

// Walks run-length encoded rows from `at`; true when they end properly.
bool RleComplete(const ByteView& file, std::size_t at, std::uint64_t rows, bool fourBit) {
    std::uint64_t row = 0;
    for (;;) {
        const auto count = file.U8(at);
        const auto code = file.U8(at + 1);
        if (!count || !code) {
            return false;
        }
        at += 2;
        if (*count != 0) {
            continue;  // a run of one value
        }
        switch (*code) {
            case 0:  // end of line
                if (++row >= rows) {
                    return true;
                }
                break;
            case 1:  // end of bitmap
                return true;
            case 2: {  // move right and down
                const auto down = file.U8(at + 1);
                if (!down) {
                    return false;
                }
                row += *down;
                at += 2;
                break;
            }
            default: {  // literal pixels, padded to a 16-bit boundary
                const std::size_t bytes = fourBit ? (*code + 1u) / 2 : *code;
                at += (bytes + 1) & ~std::size_t{1};
                if (!file.Has(0, at)) {
                    return false;
                }
                break;
            }
        }
    }
}

HRESULT CheckBmp(const ByteView& file) {
    const auto dataOffset = file.U32(10);
    const auto headerSize = file.U32(14);
    if (!dataOffset || !headerSize) {
        return S_OK;
    }
    std::int64_t width = 0, height = 0;
    std::uint32_t bitCount = 0, compression = kBiRgb;
    if (*headerSize == 12) {
        const auto w = file.U16(18), h = file.U16(20), bits = file.U16(24);
        if (!w || !h || !bits) {
            return S_OK;
        }
        width = *w, height = *h, bitCount = *bits;
    } else if (*headerSize >= 40) {
        const auto w = file.U32(18), h = file.U32(22), c = file.U32(30);
        const auto bits = file.U16(28);
        if (!w || !h || !bits || !c) {
            return S_OK;
        }
        width = static_cast<std::int32_t>(*w);
        height = std::abs(std::int64_t{static_cast<std::int32_t>(*h)});
        bitCount = *bits, compression = *c;
    } else {
        return S_OK;
    }
    if (width <= 0 || height <= 0 || bitCount == 0 || bitCount > 32) {
        return S_OK;
    }
    // Qt reads the pixels at the data offset, or right after the headers
    // when the offset points into them.
    const std::uint64_t start =
        std::max<std::uint64_t>(*dataOffset, 14 + std::uint64_t{*headerSize});
    switch (compression) {
        case kBiRgb:
        case kBiBitfields:
        case kBiAlphaBitfields: {
            const std::uint64_t stride =
                (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
            return start + stride * static_cast<std::uint64_t>(height) <= file.Size()
                       ? S_OK
                       : kDecodeTruncated;
        }
        case kBiRle8:
        case kBiRle4:
            if (start >= file.Size()) {
                return kDecodeTruncated;
            }
            return RleComplete(file, static_cast<std::size_t>(start),
                               static_cast<std::uint64_t>(height), compression == kBiRle4)
                       ? S_OK
                       : kDecodeTruncated;
        default:
            return S_OK;
    }
}

// Skips data sub-blocks (a length byte, that many bytes) up to and including
// the empty one; false when the file ends first.
bool SkipSubBlocks(const ByteView& file, std::size_t& at) {
    for (;;) {
        const auto length = file.U8(at);
        if (!length) {
            return false;
        }
        at += 1 + std::size_t{*length};
        if (*length == 0) {
            return true;
        }
    }
}

std::size_t ColourTableBytes(std::uint8_t packed) {
    return (packed & 0x80) != 0 ? 3u << ((packed & 0x07) + 1) : 0;
}

HRESULT CheckGif(const ByteView& file) {
    const auto screenPacked = file.U8(10);
    if (!screenPacked) {
        return kDecodeTruncated;
    }
    std::size_t at = 13 + ColourTableBytes(*screenPacked);
    for (;;) {
        const auto introducer = file.U8(at);
        if (!introducer) {
            return kDecodeTruncated;
        }
        if (*introducer == 0x21) {  // extension: label, then sub-blocks
            at += 2;
            if (!SkipSubBlocks(file, at)) {
                return kDecodeTruncated;
            }
        } else if (*introducer == 0x2C) {  // image: descriptor, colours, code size, data
            const auto packed = file.U8(at + 9);
            if (!packed) {
                return kDecodeTruncated;
            }
            at += 10 + ColourTableBytes(*packed) + 1;
            return SkipSubBlocks(file, at) ? S_OK : kDecodeTruncated;
        } else {
            return S_OK;  // the trailer or a stray byte: the decoder judges
        }
    }
}

}  // namespace

HRESULT CheckFileComplete(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) {
        return S_OK;
    }
    const ByteView file(data, size, false);
    if (file.Matches(0, "BM", 2)) {
        return CheckBmp(file);
    }
    if (file.Matches(0, "GIF87a", 6) || file.Matches(0, "GIF89a", 6)) {
        return CheckGif(file);
    }
    return S_OK;
}
