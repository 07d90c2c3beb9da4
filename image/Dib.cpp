#include "image/Dib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/PixelMemory.h"

namespace {

// Largest header block we build: a version-5 header, 256 colour-table
// entries' worth of room is far below this; the cap only guards against
// sizes that cannot be meant.
constexpr std::size_t kMaxHeaderBlock = 64u << 20;

}  // namespace

CDib::~CDib() {
    FreeHeader();
    FreeBits();
}

DWORD CDib::ColorTableEntries(WORD bitCount, DWORD colorsUsed, DWORD compression) {
    if (compression == BI_BITFIELDS) {
        return 3;
    }
    if (bitCount >= 9) {
        return 0;
    }
    if (colorsUsed != 0) {
        return colorsUsed;
    }
    return DWORD{1} << bitCount;
}

DWORD CDib::ColorTableEntries(const BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        return 0;
    }
    return ColorTableEntries(header->biBitCount, header->biClrUsed, header->biCompression);
}

std::size_t CDib::CalcStride(LONG width, WORD bitCount) {
    const std::size_t w = width < 0 ? 0 : static_cast<std::size_t>(width);
    const std::size_t bytes = (w * bitCount + 7) / 8;
    return (bytes + 3) & ~std::size_t{3};
}

std::size_t CDib::GetHeaderBlockSize(const BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        return 0;
    }
    std::size_t size = header->biSize + std::size_t{4} * ColorTableEntries(header);
    if (header->biSize >= sizeof(BITMAPV5HEADER)) {
        const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(header);
        if (v5->bV5CSType == PROFILE_EMBEDDED && v5->bV5ProfileData != 0) {
            size =
                std::max<std::size_t>(size, std::size_t{v5->bV5ProfileData} + v5->bV5ProfileSize);
        }
    }
    return size;
}

bool CDib::IsGreyPalette(const BITMAPINFOHEADER* header) {
    if (header == nullptr || header->biBitCount > 8 || header->biCompression != BI_RGB) {
        return false;
    }
    const DWORD entries = ColorTableEntries(header);
    if (entries == 0) {
        return false;
    }
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
    for (DWORD i = 0; i < entries; ++i) {
        if (table[i].rgbBlue != table[i].rgbGreen || table[i].rgbGreen != table[i].rgbRed) {
            return false;
        }
    }
    return true;
}

bool CDib::CreateHeader(DWORD headerSize, LONG width, LONG height, WORD bitCount, DWORD colorsUsed,
                        DWORD compression, DWORD profileSize) {
    FreeHeader();
    if (headerSize < sizeof(BITMAPINFOHEADER)) {
        return false;
    }
    const DWORD entries = ColorTableEntries(bitCount, colorsUsed, compression);
    const std::size_t tableBytes = std::size_t{4} * entries;
    const std::size_t blockSize = std::size_t{headerSize} + tableBytes + profileSize;
    if (blockSize > kMaxHeaderBlock) {
        return false;
    }
    auto* block = static_cast<BYTE*>(std::calloc(1, blockSize));
    if (block == nullptr) {
        return false;
    }
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(block);
    h->biSize = headerSize;
    h->biWidth = width;
    h->biHeight = height;
    h->biPlanes = 1;
    h->biBitCount = bitCount;
    h->biCompression = compression;
    h->biClrUsed = entries;
    h->biClrImportant = entries;
    if (compression == BI_BITFIELDS || compression == BI_SAMPLES16 ||
        compression == BI_GREYALPHA8) {
        const std::size_t rows = height < 0 ? -std::int64_t{height} : height;
        const std::size_t imageSize = CalcStride(width, bitCount) * rows;
        if (imageSize > std::numeric_limits<DWORD>::max()) {
            std::free(block);
            return false;
        }
        h->biSizeImage = static_cast<DWORD>(imageSize);
    }
    if (headerSize >= sizeof(BITMAPV5HEADER)) {
        auto* v5 = reinterpret_cast<BITMAPV5HEADER*>(block);
        if (profileSize > 0) {
            v5->bV5CSType = PROFILE_EMBEDDED;
            v5->bV5ProfileData = static_cast<DWORD>(sizeof(BITMAPV5HEADER) + tableBytes);
            v5->bV5ProfileSize = profileSize;
        } else {
            v5->bV5CSType = LCS_sRGB;
        }
    }
    if (bitCount == 8 && entries == 256) {
        auto* table = reinterpret_cast<RGBQUAD*>(block + headerSize);
        for (DWORD i = 0; i < entries; ++i) {
            const BYTE v = static_cast<BYTE>((i * 255) / (entries - 1));
            table[i] = RGBQUAD{v, v, v, 255};
        }
    }
    m_header = h;
    return true;
}

void CDib::FreeHeader() {
    std::free(m_header);
    m_header = nullptr;
}

bool CDib::AllocateBits() {
    FreeBits();
    if (m_header == nullptr) {
        return false;
    }
    const std::size_t size = GetImageSize();
    if (size == 0 && (Width() != 0 && Height() != 0)) {
        return false;
    }
    m_bits = static_cast<BYTE*>(AllocatePixelBlock(size));
    return m_bits != nullptr;
}

void CDib::FreeBits() {
    if (m_bits != nullptr) {
        FreePixelBlock(m_bits);
        m_bits = nullptr;
    }
}

bool CDib::Create(LONG width, LONG height, WORD bitCount, DWORD colorsUsed, DWORD compression) {
    return CreateHeader(sizeof(BITMAPINFOHEADER), width, height, bitCount, colorsUsed, compression,
                        0);
}

namespace {

DWORD EmbeddedProfileSize(const BITMAPINFOHEADER* header) {
    if (header->biSize < sizeof(BITMAPV5HEADER)) {
        return 0;
    }
    const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(header);
    return (v5->bV5CSType == PROFILE_EMBEDDED && v5->bV5ProfileData != 0) ? v5->bV5ProfileSize : 0;
}

const BYTE* EmbeddedProfile(const BITMAPINFOHEADER* header) {
    const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(header);
    return reinterpret_cast<const BYTE*>(header) + v5->bV5ProfileData;
}

}  // namespace

bool CDib::CreateLike(const BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        return false;
    }
    const DWORD profileSize = EmbeddedProfileSize(header);
    if (!CreateHeader(header->biSize, header->biWidth, header->biHeight, header->biBitCount, 0,
                      header->biCompression, profileSize)) {
        return false;
    }
    const DWORD entries = std::min(ColorTableEntries(header), ColorTableEntries(m_header));
    std::memcpy(ColorTable(), reinterpret_cast<const BYTE*>(header) + header->biSize,
                std::size_t{4} * entries);
    if (profileSize > 0) {
        auto* v5 = reinterpret_cast<BITMAPV5HEADER*>(m_header);
        std::memcpy(reinterpret_cast<BYTE*>(m_header) + v5->bV5ProfileData, EmbeddedProfile(header),
                    profileSize);
    }
    return true;
}

bool CDib::CreateRgb24Like(SIZE size, const BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        return false;
    }
    const DWORD profileSize = EmbeddedProfileSize(header);
    if (!CreateHeader(header->biSize, size.cx, size.cy, 24, 0, BI_RGB, profileSize)) {
        return false;
    }
    if (profileSize > 0) {
        auto* v5 = reinterpret_cast<BITMAPV5HEADER*>(m_header);
        std::memcpy(reinterpret_cast<BYTE*>(m_header) + v5->bV5ProfileData, EmbeddedProfile(header),
                    profileSize);
    }
    return true;
}

std::span<const BYTE> CDib::Profile() const {
    if (m_header == nullptr) {
        return {};
    }
    const DWORD size = EmbeddedProfileSize(m_header);
    return size == 0 ? std::span<const BYTE>()
                     : std::span<const BYTE>(EmbeddedProfile(m_header), size);
}

std::size_t CDib::GetImageSize() const {
    if (m_header == nullptr) {
        return 0;
    }
    if (m_header->biCompression != BI_RGB) {
        return m_header->biSizeImage;
    }
    const std::size_t stride = CalcStride(m_header->biWidth, m_header->biBitCount);
    const std::size_t rows = static_cast<std::size_t>(Height());
    if (rows != 0 && stride > std::numeric_limits<std::size_t>::max() / rows) {
        return 0;
    }
    return stride * rows;
}

void CDib::ClearBits() {
    if (m_bits != nullptr) {
        std::memset(m_bits, 0, GetImageSize());
    }
}

LONG CDib::Height() const {
    if (m_header == nullptr) {
        return 0;
    }
    const std::int64_t h = m_header->biHeight;
    return static_cast<LONG>(h < 0 ? std::min<std::int64_t>(-h, std::numeric_limits<LONG>::max())
                                   : h);
}

std::size_t CDib::RowOffset(LONG y) const {
    const std::size_t stride = Stride();
    // A negative biHeight marks a top-down image; everything the program
    // creates is bottom-up.
    const std::size_t storedRow = m_header->biHeight < 0
                                      ? static_cast<std::size_t>(y)
                                      : static_cast<std::size_t>(Height() - 1 - y);
    return storedRow * stride;
}

RGBQUAD* CDib::ColorTable() {
    return m_header
               ? reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(m_header) + m_header->biSize)
               : nullptr;
}

const RGBQUAD* CDib::ColorTable() const {
    return const_cast<CDib*>(this)->ColorTable();
}

void CDib::PremultiplyAlpha() {
    PremultiplyAlpha(RECT{0, 0, Width(), Height()});
}

void CDib::PremultiplyAlpha(const RECT& rect) {
    if (!IsValid() || BitCount() != 32 || Width() <= 0 || Height() <= 0 ||
        rect.left >= rect.right || rect.top >= rect.bottom) {
        return;
    }
    const LONG left = std::max<LONG>(rect.left, 0);
    const LONG top = std::max<LONG>(rect.top, 0);
    const LONG right = std::min(rect.right, Width());
    const LONG bottom = std::min(rect.bottom, Height());
    for (LONG y = top; y < bottom; ++y) {
        BYTE* p = Row(y) + std::size_t{4} * left;
        for (LONG x = left; x < right; ++x, p += 4) {
            const unsigned a = p[3];
            if (a != 255) {
                p[0] = static_cast<BYTE>(p[0] * a / 255);
                p[1] = static_cast<BYTE>(p[1] * a / 255);
                p[2] = static_cast<BYTE>(p[2] * a / 255);
            }
        }
    }
}

LONG DpiToPelsPerMeter(double dpi) {
    const double v = std::trunc(dpi * 10000.0 / 254.0 + 0.5);
    if (!(v >= 0.0)) {
        return 0;
    }
    return v > std::numeric_limits<LONG>::max() ? std::numeric_limits<LONG>::max()
                                                : static_cast<LONG>(v);
}

double PelsPerMeterToDpi(LONG pelsPerMeter) {
    return pelsPerMeter * 254.0 / 10000.0;
}

DibPtr NewDib(LONG width, LONG height, WORD bitCount) {
    DibPtr dib(new (std::nothrow) CDib);
    if (!dib || !dib->Create(width, height, bitCount, 0, BI_RGB) || !dib->AllocateBits()) {
        dib.reset();
    }
    return dib;
}

HRESULT RemoveAlpha(DibPtr& out, const CDib& image) {
    if (!image.IsValid() || image.BitCount() != 32) {
        return E_INVALIDARG;
    }
    out.reset(new (std::nothrow) CDib);
    if (!out || !out->CreateRgb24Like(SIZE{image.Width(), image.Height()}, image.Header()) ||
        !out->AllocateBits()) {
        out.reset();
        return E_OUTOFMEMORY;
    }
    const LONG width = image.Width();
    const LONG rows = image.Height();
    const std::size_t inStride = image.Stride();
    const std::size_t outStride = out->Stride();
    const BYTE* in = image.Bits();
    BYTE* dst = out->Bits();
    for (LONG i = 0; i < rows; ++i) {
        const BYTE* s = in + i * inStride;
        BYTE* d = dst + i * outStride;
        for (LONG x = 0; x < width; ++x) {
            d[3 * x + 0] = s[4 * x + 0];
            d[3 * x + 1] = s[4 * x + 1];
            d[3 * x + 2] = s[4 * x + 2];
        }
        std::memset(d + 3 * std::size_t(width), 0, outStride - 3 * std::size_t(width));
    }
    return S_OK;
}
