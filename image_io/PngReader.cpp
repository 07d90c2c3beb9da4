#include "image_io/PngReader.h"

#include <png.h>

#include <array>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "image_io/PngInflate.h"

// libpng reports errors by longjmp. The functions that call setjmp hold only
// plain values and pointers, so the jump skips no destructor; the objects
// with destructors (the CDib, the row table) live in Decode, which never
// sees a jump.

namespace {

// Text and metadata chunks: what libpng would keep of a chunk, compressed or
// decompressed (a profile, EXIF), is bounded by kMaxChunkBytes, and the text
// chunks (any number of them, compressed up to 2^31 bytes each) and
// suggested palettes, which nothing here uses, are skipped without being
// decompressed: a few kilobytes of them could otherwise make libpng inflate
// gigabytes. Of what is kept only the colour profile (iCCP) is used; the
// bound is the most a JPEG's APP2 markers can carry (255 of 64 KB), so that
// large printer and device-link profiles are carried, not dropped.
constexpr png_alloc_size_t kMaxChunkBytes = 16u << 20;
constexpr png_uint_32 kMaxKeptChunks = 256;
constexpr png_byte kSkippedChunks[] = "tEXt\0zTXt\0iTXt\0sPLT";

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
    bool truncated;
    bool outOfMemory;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (count > source->size - source->at) {
        source->truncated = true;
        png_error(png, "truncated");
    }
    std::memcpy(out, source->data + source->at, count);
    source->at += count;
}

void PngError(png_structp png, png_const_charp message) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    if (source != nullptr && std::strcmp(message, "Out of memory") == 0) {
        source->outOfMemory = true;
    }
    png_longjmp(png, 1);
}

void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool hasAlpha = false;
    PixelKind kind = PixelKind::Bgra32;
    // Channels of a file whose pixel data InflatePngPixels decodes; 0 when
    // libpng decodes the rows.
    int inflateChannels = 0;
    // A grey palette read as indices: the level of each index (Grey8), or
    // whether index 0 is white (Bitonal).
    bool paletteIndices = false;
    std::array<BYTE, 256> paletteGrey{};
    // The iCCP profile, held by libpng's info; empty when absent or not of
    // the kind's colour space.
    std::span<const BYTE> profile;
};

// The kind of a palette file: Bitonal for two entries black and white,
// Grey8 for grey entries, else colour; grey ones are read as indices.
PixelKind PaletteKind(png_structp png, png_infop info, int bitDepth, bool alpha, Header& header) {
    png_colorp palette = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &palette, &count);
    bool grey = !alpha && palette != nullptr && count > 0;
    for (int i = 0; grey && i < count; ++i) {
        grey = palette[i].red == palette[i].green && palette[i].green == palette[i].blue;
    }
    if (!grey) {
        return PixelKind::Bgra32;
    }
    // Indices past the palette read as black, as libpng expands them.
    for (int i = 0; i < count; ++i) {
        header.paletteGrey[static_cast<std::size_t>(i)] = palette[i].red;
    }
    header.paletteIndices = true;
    const bool blackAndWhite =
        count == 2 && palette[0].red + palette[1].red == 255 && palette[0].red % 255 == 0;
    return bitDepth == 1 && blackAndWhite ? PixelKind::Bitonal : PixelKind::Grey8;
}

PixelKind KindOfPng(png_structp png, png_infop info, int colourType, int bitDepth,
                    bool transparencyChunk, bool alpha, Header& header) {
    const bool deep = bitDepth == 16;
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
            if (transparencyChunk) {
                return deep ? PixelKind::GreyAlpha16 : PixelKind::GreyAlpha8;
            }
            return deep ? PixelKind::Grey16 : bitDepth == 1 ? PixelKind::Bitonal : PixelKind::Grey8;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return deep ? PixelKind::GreyAlpha16 : PixelKind::GreyAlpha8;
        case PNG_COLOR_TYPE_RGB:
            return !deep ? PixelKind::Bgra32
                         : (transparencyChunk ? PixelKind::Bgra64 : PixelKind::Bgr48);
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return deep ? PixelKind::Bgra64 : PixelKind::Bgra32;
        default:
            return PaletteKind(png, info, bitDepth, alpha, header);
    }
}

// libpng's transformations from the file's samples to the kind's layout.
void SetTransforms(png_structp png, int colourType, const Header& header) {
    const PixelKindInfo& kind = InfoOf(header.kind);
    if (header.kind == PixelKind::Bitonal) {
        // 1 bit as it is (grey, or the indices of a black and white palette).
    } else if (header.paletteIndices) {
        png_set_packing(png);  // one index a byte
    } else if (kind.colour || kind.alpha) {
        png_set_expand(png);  // palette to colour, low depths to 8, tRNS to alpha
    } else {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (kind.sampleBits == 16) {
        png_set_swap(png);
    }
    if (kind.colour) {
        png_set_bgr(png);
    }
    if (header.kind == PixelKind::Bgra32 && (colourType & PNG_COLOR_MASK_ALPHA) == 0) {
        // Opaque or tRNS pixels: a filler where no alpha comes from tRNS.
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
}

// Reads the chunks up to the first IDAT. A file of the kinds
// InflatePngPixels decodes is left there; for the others the
// transformations to the kind's layout are set up. False when libpng
// refuses the data or the rows do not come out in the kind's layout.
bool ReadHeader(png_structp png, png_infop info, bool allowInflate, Header& header) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_info(png, info);
    const png_byte colourType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    const bool transparencyChunk = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0;
    if (transparencyChunk) {
        if (colourType == PNG_COLOR_TYPE_PALETTE) {
            png_bytep trans = nullptr;
            int count = 0;
            png_get_tRNS(png, info, &trans, &count, nullptr);
            for (int i = 0; i < count && trans != nullptr; ++i) {
                alpha = alpha || trans[i] != 255;
            }
        } else {
            alpha = true;
        }
    }
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    header.hasAlpha = alpha;
    header.kind = KindOfPng(png, info, colourType, bitDepth, transparencyChunk, alpha, header);
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) != 0 &&
        ProfileFitsKind(std::span<const BYTE>(profile, profileSize), header.kind)) {
        header.profile = std::span<const BYTE>(profile, profileSize);
    }
    // libpng stops right after the first IDAT chunk's type.
    const auto* source = static_cast<const Source*>(png_get_io_ptr(png));
    const int channels = InflatableChannels(colourType, bitDepth,
                                            png_get_interlace_type(png, info) != PNG_INTERLACE_NONE,
                                            transparencyChunk);
    if (allowInflate && channels != 0 && source->at >= 8 &&
        std::memcmp(source->data + source->at - 4, "IDAT", 4) == 0) {
        header.inflateChannels = channels;
        return true;
    }
    SetTransforms(png, colourType, header);
    png_read_update_info(png, info);
    const PixelKindInfo& kind = InfoOf(header.kind);
    const int bits = header.paletteIndices && header.kind == PixelKind::Grey8 ? 8 : kind.bitCount;
    return png_get_rowbytes(png, info) == (std::size_t{header.width} * bits + 7) / 8;
}

// A grey palette's indices, read into the image, to the levels (Grey8) or
// to black 0 and white 1 (Bitonal).
void ApplyGreyPalette(CDib& dib, const Header& header) {
    const auto width = static_cast<std::size_t>(dib.Width());
    for (LONG y = 0; y < dib.Height(); ++y) {
        BYTE* row = dib.Row(y);
        if (header.kind == PixelKind::Grey8) {
            for (std::size_t x = 0; x < width; ++x) {
                row[x] = header.paletteGrey[row[x]];
            }
        } else if (header.paletteGrey[0] != 0) {
            for (std::size_t x = 0; x < (width + 7) / 8; ++x) {
                row[x] = static_cast<BYTE>(~row[x]);
            }
        }
    }
}

bool ReadRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    return true;
}

HRESULT Failure(const Source& source) {
    if (source.outOfMemory) {
        return kDecodeNoMemory;
    }
    return source.truncated ? kDecodeTruncated : E_NOT_IMAGE_FILE;
}

HRESULT Decode(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
               const DecodeLimits& limits, bool allowInflate) {
    if (!IsPngData(data, size)) {
        return E_NOT_IMAGE_FILE;
    }
    // The first chunk must be IHDR; its size is judged before libpng, which
    // sizes its row buffers from it, reads any of it.
    if (size >= 24 && png_get_uint_32(data + 8) == 13 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        const png_uint_32 width = png_get_uint_32(data + 16);
        const png_uint_32 height = png_get_uint_32(data + 20);
        // The smallest kind: a file of any kind that breaks the limits so is
        // refused before libpng reads it.
        if (width != 0 && height != 0 &&
            !WithinDecodeLimits(width, height, PixelKind::Bitonal, limits)) {
            return kDecodeNoMemory;
        }
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png == nullptr) {
        return kDecodeNoMemory;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return kDecodeNoMemory;
    }
    png_set_user_limits(png, limits.maxSide, limits.maxSide);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_set_chunk_cache_max(png, kMaxKeptChunks);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                                static_cast<int>(sizeof kSkippedChunks / 5));
    Source source{data, size, 0, false, false};
    png_set_read_fn(png, &source, ReadBytes);

    HRESULT hr = S_OK;
    Header header;
    try {
        if (!ReadHeader(png, info, allowInflate, header)) {
            hr = Failure(source);
        } else if (!WithinDecodeLimits(header.width, header.height, header.kind, limits)) {
            hr = kDecodeNoMemory;
        } else {
            const DibPtr out =
                NewDib(static_cast<LONG>(header.width), static_cast<LONG>(header.height),
                       header.kind, header.profile);
            std::vector<png_bytep> rows(header.inflateChannels != 0 ? 0 : header.height);
            if (!out) {
                hr = kDecodeNoMemory;
            } else if (header.inflateChannels != 0) {
                hr = InflatePngPixels(*out, header.inflateChannels, data, size, source.at - 8);
            } else {
                for (png_uint_32 y = 0; y < header.height; ++y) {
                    rows[y] = out->Row(static_cast<LONG>(y));
                }
                if (!ReadRows(png, rows.data())) {
                    hr = Failure(source);
                } else if (header.paletteIndices) {
                    ApplyGreyPalette(*out, header);
                }
            }
            if (hr == S_OK) {
                ClearRowPadding(*out);
                dib = out;
                hasAlpha = header.hasAlpha;
            }
        }
    } catch (const std::bad_alloc&) {
        hr = kDecodeNoMemory;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return hr;
}

}  // namespace

bool IsPngData(const std::uint8_t* data, std::size_t size) {
    return data != nullptr && size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

HRESULT ReadPng(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                const DecodeLimits& limits) {
    const HRESULT hr = Decode(dib, hasAlpha, data, size, limits, true);
    return hr == kExcessPixelData ? Decode(dib, hasAlpha, data, size, limits, false) : hr;
}

HRESULT ReadPngReference(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                         const DecodeLimits& limits) {
    return Decode(dib, hasAlpha, data, size, limits, false);
}
