#include "image_io/PngReader.h"

#include <png.h>

#include <cstring>
#include <new>
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
// gigabytes.
constexpr png_alloc_size_t kMaxChunkBytes = 1u << 20;
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
    // Channels of a file whose pixel data InflatePngPixels decodes; 0 when
    // libpng decodes the rows.
    int inflateChannels = 0;
};

// Reads the chunks up to the first IDAT. A file of the kinds
// InflatePngPixels decodes is left there; for the others the
// transformations to 8-bit blue, green, red, alpha are set up. False when
// libpng refuses the data or the result is not 4 bytes a pixel.
bool ReadHeader(png_structp png, png_infop info, bool allowInflate, Header& header) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_info(png, info);
    const png_byte colourType = png_get_color_type(png, info);
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
    // libpng stops right after the first IDAT chunk's type.
    const auto* source = static_cast<const Source*>(png_get_io_ptr(png));
    const int channels = InflatableChannels(colourType, png_get_bit_depth(png, info),
                                            png_get_interlace_type(png, info) != PNG_INTERLACE_NONE,
                                            transparencyChunk);
    if (allowInflate && channels != 0 && source->at >= 8 &&
        std::memcmp(source->data + source->at - 4, "IDAT", 4) == 0) {
        header.inflateChannels = channels;
        return true;
    }
    png_set_expand(png);  // palette to colour, 1 to 4 bits to 8, tRNS to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if ((colourType & PNG_COLOR_MASK_ALPHA) == 0) {
        // Opaque or tRNS pixels: a filler where no alpha comes from tRNS.
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_bit_depth(png, info) == 8 && png_get_channels(png, info) == 4 &&
           png_get_rowbytes(png, info) == static_cast<png_size_t>(header.width) * 4;
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
        if (width != 0 && height != 0 && !WithinDecodeLimits(width, height, limits)) {
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
        } else if (!WithinDecodeLimits(header.width, header.height, limits)) {
            hr = kDecodeNoMemory;
        } else {
            const DibPtr out =
                NewDib(static_cast<LONG>(header.width), static_cast<LONG>(header.height), 32);
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
                }
            }
            if (hr == S_OK) {
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
