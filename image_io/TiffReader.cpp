#include "image_io/TiffReader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>

#include "image/PixelMemory.h"
#include "image_io/TiffStructure.h"

namespace {

// How the file's samples become the kind's.
struct Layout {
    PixelKind kind;
    int samples;      // samples a pixel in the file
    bool invert;      // white is zero (grey only)
    bool alpha;       // the first extra sample is alpha
    bool associated;  // that alpha is premultiplied
};

// The layout of the current directory, or nothing for files left to Qt.
std::optional<Layout> LayoutOf(TIFF* tiff) {
    std::uint16_t bits = 1, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG,
                  format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        planar != PLANARCONFIG_CONTIG || format != SAMPLEFORMAT_UINT ||
        compression == COMPRESSION_OJPEG || TIFFIsCODECConfigured(compression) == 0) {
        return std::nullopt;
    }
    const bool grey =
        photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const int colours = grey ? 1 : 3;
    if ((!grey && photometric != PHOTOMETRIC_RGB) || samples < colours) {
        return std::nullopt;
    }
    const bool alpha = samples > colours && extraCount > 0 && extra != nullptr &&
                       (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA);
    Layout layout{PixelKind::Bgra32, samples, photometric == PHOTOMETRIC_MINISWHITE, alpha,
                  alpha && extra[0] == EXTRASAMPLE_ASSOCALPHA};
    if (bits == 1) {
        if (!grey || samples != 1) {
            return std::nullopt;
        }
        layout.kind = PixelKind::Bitonal;
    } else if (bits == 8) {
        layout.kind = grey ? (alpha ? PixelKind::GreyAlpha8 : PixelKind::Grey8) : PixelKind::Bgra32;
    } else if (bits == 16) {
        layout.kind = grey ? (alpha ? PixelKind::GreyAlpha16 : PixelKind::Grey16)
                           : (alpha ? PixelKind::Bgra64 : PixelKind::Bgr48);
    } else {
        return std::nullopt;
    }
    return layout;
}

template <class T>
T LoadSample(const BYTE* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void StoreSample(BYTE* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// `count` pixels of the file's samples (T each) into the kind's layout.
template <class T>
void ConvertPixels(const Layout& layout, const BYTE* in, BYTE* out, LONG count) {
    constexpr unsigned kMax = std::numeric_limits<T>::max();
    const PixelKindInfo& info = InfoOf(layout.kind);
    const int colours = info.colour ? 3 : 1;
    for (LONG x = 0; x < count; ++x) {
        const BYTE* p = in + sizeof(T) * layout.samples * x;
        const unsigned a = layout.alpha ? LoadSample<T>(p + sizeof(T) * colours) : kMax;
        unsigned c[3];
        for (int k = 0; k < colours; ++k) {
            c[k] = LoadSample<T>(p + sizeof(T) * k);
            if (layout.associated) {
                c[k] = a == 0 ? 0 : std::min(kMax, (c[k] * kMax + a / 2) / a);
            }
            if (layout.invert) {
                c[k] = kMax - c[k];
            }
        }
        BYTE* q = out + sizeof(T) * info.channels * x;
        if (info.colour) {
            StoreSample<T>(q, static_cast<T>(c[2]));
            StoreSample<T>(q + sizeof(T), static_cast<T>(c[1]));
            StoreSample<T>(q + 2 * sizeof(T), static_cast<T>(c[0]));
        } else {
            StoreSample<T>(q, static_cast<T>(c[0]));
        }
        if (info.alpha) {
            StoreSample<T>(q + sizeof(T) * (info.channels - 1), static_cast<T>(a));
        }
    }
}

// Pixels [x, x + count) of one image row from the file's row bytes.
void ConvertFileRow(const Layout& layout, const BYTE* in, CDib& dib, LONG y, LONG x, LONG count) {
    BYTE* row = dib.Row(y);
    switch (InfoOf(layout.kind).sampleBits) {
        case 1: {
            // Whole bytes: the caller's x is a multiple of 8.
            const std::size_t bytes = (static_cast<std::size_t>(count) + 7) / 8;
            BYTE* out = row + x / 8;
            for (std::size_t i = 0; i < bytes; ++i) {
                out[i] = layout.invert ? static_cast<BYTE>(~in[i]) : in[i];
            }
            break;
        }
        case 8:
            ConvertPixels<std::uint8_t>(
                layout, in, row + std::size_t{InfoOf(layout.kind).bitCount} / 8 * x, count);
            break;
        default:
            ConvertPixels<std::uint16_t>(
                layout, in, row + std::size_t{InfoOf(layout.kind).bitCount} / 8 * x, count);
            break;
    }
}

// Decodes strip or tile `index` (`bytes` decoded bytes) into `buffer`.
HRESULT ReadBlock(TIFF* tiff, std::uint32_t index, std::size_t fileSize, BYTE* buffer,
                  tmsize_t bytes) {
    const std::uint64_t offset = TIFFGetStrileOffset(tiff, index);
    const std::uint64_t stored = TIFFGetStrileByteCount(tiff, index);
    if (offset > fileSize || stored > fileSize - offset) {
        return kDecodeTruncated;
    }
    const tmsize_t read = TIFFIsTiled(tiff) ? TIFFReadEncodedTile(tiff, index, buffer, bytes)
                                            : TIFFReadEncodedStrip(tiff, index, buffer, bytes);
    return read == bytes ? S_OK : E_NOT_IMAGE_FILE;
}

HRESULT ReadStrips(TIFF* tiff, const Layout& layout, CDib& dib, std::size_t fileSize,
                   std::uint64_t maxBytes) {
    const LONG height = dib.Height();
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, static_cast<std::uint32_t>(height));
    const std::uint64_t rowBytes = TIFFScanlineSize64(tiff);
    const std::uint64_t stripBytes = rowBytes * rowsPerStrip;
    if (rowBytes == 0 || stripBytes > maxBytes) {
        return rowBytes == 0 ? E_NOT_IMAGE_FILE : kDecodeNoMemory;
    }
    const WorkBlock buffer = MakeWorkBlock(stripBytes);
    if (!buffer) {
        return kDecodeNoMemory;
    }
    for (LONG top = 0; top < height; top += static_cast<LONG>(rowsPerStrip)) {
        const LONG rows = std::min<LONG>(static_cast<LONG>(rowsPerStrip), height - top);
        const HRESULT hr =
            ReadBlock(tiff, TIFFComputeStrip(tiff, static_cast<std::uint32_t>(top), 0), fileSize,
                      buffer.get(), static_cast<tmsize_t>(rowBytes * rows));
        if (FAILED(hr)) {
            return hr;
        }
        for (LONG r = 0; r < rows; ++r) {
            ConvertFileRow(layout, buffer.get() + rowBytes * r, dib, top + r, 0, dib.Width());
        }
    }
    return S_OK;
}

HRESULT ReadTiles(TIFF* tiff, const Layout& layout, CDib& dib, std::size_t fileSize,
                  std::uint64_t maxBytes) {
    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const std::uint64_t rowBytes = TIFFTileRowSize64(tiff);
    const std::uint64_t tileBytes = TIFFTileSize64(tiff);
    if (tileWidth == 0 || tileHeight == 0 || rowBytes == 0 ||
        (layout.kind == PixelKind::Bitonal && tileWidth % 8 != 0)) {
        return E_NOT_IMAGE_FILE;
    }
    if (tileBytes > maxBytes) {
        return kDecodeNoMemory;
    }
    const WorkBlock buffer = MakeWorkBlock(tileBytes);
    if (!buffer) {
        return kDecodeNoMemory;
    }
    for (std::uint64_t top = 0; top < static_cast<std::uint64_t>(dib.Height()); top += tileHeight) {
        for (std::uint64_t left = 0; left < static_cast<std::uint64_t>(dib.Width());
             left += tileWidth) {
            const HRESULT hr = ReadBlock(tiff,
                                         TIFFComputeTile(tiff, static_cast<std::uint32_t>(left),
                                                         static_cast<std::uint32_t>(top), 0, 0),
                                         fileSize, buffer.get(), static_cast<tmsize_t>(tileBytes));
            if (FAILED(hr)) {
                return hr;
            }
            const auto rows = std::min<std::uint64_t>(tileHeight, dib.Height() - top);
            const auto count = std::min<std::uint64_t>(tileWidth, dib.Width() - left);
            for (std::uint64_t r = 0; r < rows; ++r) {
                ConvertFileRow(layout, buffer.get() + rowBytes * r, dib, static_cast<LONG>(top + r),
                               static_cast<LONG>(left), static_cast<LONG>(count));
            }
        }
    }
    return S_OK;
}

}  // namespace

bool IsTiffData(const std::uint8_t* data, std::size_t size) {
    return data != nullptr && TiffStructureOf(ByteView(data, size)).has_value();
}

HRESULT ReadTiff(DibPtr& dib, bool& hasAlpha, const std::uint8_t* data, std::size_t size,
                 const DecodeLimits& limits) {
    if (!IsTiffData(data, size)) {
        return E_NOT_IMAGE_FILE;
    }
    try {
        const CTiffInMemory file(data, size, limits.maxBytes);
        TIFF* tiff = file.Get();
        const std::optional<Layout> layout = tiff ? LayoutOf(tiff) : std::nullopt;
        if (!layout) {
            return kDecodeElsewhere;
        }
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        if (width == 0 || height == 0) {
            return E_NOT_IMAGE_FILE;
        }
        if (!WithinDecodeLimits(width, height, layout->kind, limits)) {
            return kDecodeNoMemory;
        }
        std::uint32_t profileSize = 0;
        void* profileData = nullptr;
        std::span<const BYTE> profile;
        if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileSize, &profileData) == 1 &&
            profileData != nullptr) {
            profile = std::span<const BYTE>(static_cast<const BYTE*>(profileData), profileSize);
        }
        const DibPtr out =
            NewDib(static_cast<LONG>(width), static_cast<LONG>(height), layout->kind,
                   ProfileFitsKind(profile, layout->kind) ? profile : std::span<const BYTE>());
        if (!out) {
            return kDecodeNoMemory;
        }
        const HRESULT hr = TIFFIsTiled(tiff)
                               ? ReadTiles(tiff, *layout, *out, size, limits.maxBytes)
                               : ReadStrips(tiff, *layout, *out, size, limits.maxBytes);
        if (FAILED(hr)) {
            return hr;
        }
        ClearRowPadding(*out);
        dib = out;
        hasAlpha = layout->alpha;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return kDecodeNoMemory;
    }
}
