#include "image/PixelKind.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "msg/MessageIds.h"

namespace {

constexpr RGBQUAD kBlack{0, 0, 0, 255};
constexpr RGBQUAD kWhite{255, 255, 255, 255};

bool IsGrey(const RGBQUAD& entry, BYTE level) {
    return entry.rgbBlue == level && entry.rgbGreen == level && entry.rgbRed == level;
}

// Pixels are converted through this: blue, green, red, alpha as 16-bit
// samples (grey in all three), a chunk at a time.
constexpr LONG kChunk = 256;
using Wide = std::uint16_t[4];

inline std::uint16_t Load16(const BYTE* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Store16(BYTE* p, std::uint16_t v) {
    std::memcpy(p, &v, 2);
}

// Unpack and Pack are made for each kind, so that their loops know the
// layout.
template <PixelKind Kind>
void UnpackKind(const BYTE* in, LONG first, LONG count, Wide* px) {
    constexpr PixelKindInfo info = InfoOf(Kind);
    constexpr int n = info.channels;
    for (LONG i = 0; i < count; ++i) {
        const LONG x = first + i;
        std::uint16_t* p = px[i];
        if constexpr (Kind == PixelKind::Bitonal) {
            const bool white = (in[x >> 3] >> (7 - (x & 7))) & 1;
            p[0] = p[1] = p[2] = white ? 65535 : 0;
            p[3] = 65535;
        } else {
            std::uint16_t s[4] = {0, 0, 0, 65535};
            for (int c = 0; c < n; ++c) {
                s[c] = info.sampleBits == 16 ? Load16(in + 2 * (std::size_t{n} * x + c))
                                             : static_cast<std::uint16_t>(in[n * x + c] * 257);
            }
            p[0] = s[0];
            p[1] = info.colour ? s[1] : s[0];
            p[2] = info.colour ? s[2] : s[0];
            p[3] = !info.alpha ? 65535 : s[info.colour ? 3 : 1];
        }
    }
}

template <PixelKind Kind>
void PackKind(const Wide* px, LONG first, LONG count, BYTE* out) {
    constexpr PixelKindInfo info = InfoOf(Kind);
    constexpr int n = info.channels;
    for (LONG i = 0; i < count; ++i) {
        const std::uint16_t* p = px[i];
        // Grey takes green: the three are equal, grey having come from grey.
        const std::uint16_t s[4] = {info.colour ? p[0] : p[1], info.colour ? p[1] : p[3], p[2],
                                    p[3]};
        const std::size_t at = std::size_t{n} * static_cast<std::size_t>(first + i);
        for (int c = 0; c < n; ++c) {
            if constexpr (info.sampleBits == 16) {
                Store16(out + 2 * (at + c), s[c]);
            } else {
                out[at + c] = Reduce16To8(s[c]);
            }
        }
    }
}

}  // namespace

std::optional<PixelKind> KindOf(const CDib& image) {
    const BITMAPINFOHEADER* h = image.Header();
    if (h == nullptr) {
        return std::nullopt;
    }
    const DWORD entries = CDib::ColorTableEntries(h);
    const RGBQUAD* table = image.ColorTable();
    if (h->biCompression == BI_RGB) {
        switch (h->biBitCount) {
            case 1:
                if (entries == 2 && IsGrey(table[0], 0) && IsGrey(table[1], 255)) {
                    return PixelKind::Bitonal;
                }
                return std::nullopt;
            case 8:
                if (entries != 256) {
                    return std::nullopt;
                }
                for (DWORD i = 0; i < 256; ++i) {
                    if (!IsGrey(table[i], static_cast<BYTE>(i))) {
                        return std::nullopt;
                    }
                }
                return PixelKind::Grey8;
            case 24:
                return PixelKind::Bgr24;
            case 32:
                return PixelKind::Bgra32;
            default:
                return std::nullopt;
        }
    }
    if (h->biCompression == BI_GREYALPHA8 && h->biBitCount == 16) {
        return PixelKind::GreyAlpha8;
    }
    if (h->biCompression == BI_SAMPLES16) {
        switch (h->biBitCount) {
            case 16:
                return PixelKind::Grey16;
            case 32:
                return PixelKind::GreyAlpha16;
            case 48:
                return PixelKind::Bgr48;
            case 64:
                return PixelKind::Bgra64;
            default:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

PixelKind WithoutAlpha(PixelKind kind) {
    switch (kind) {
        case PixelKind::GreyAlpha8:
            return PixelKind::Grey8;
        case PixelKind::GreyAlpha16:
            return PixelKind::Grey16;
        case PixelKind::Bgra32:
            return PixelKind::Bgr24;
        case PixelKind::Bgra64:
            return PixelKind::Bgr48;
        default:
            return kind;
    }
}

PixelKind EightBitKind(PixelKind kind) {
    switch (kind) {
        case PixelKind::Grey16:
            return PixelKind::Grey8;
        case PixelKind::GreyAlpha16:
            return PixelKind::GreyAlpha8;
        case PixelKind::Bgr48:
            return PixelKind::Bgr24;
        case PixelKind::Bgra64:
            return PixelKind::Bgra32;
        default:
            return kind;
    }
}

std::optional<PixelKind> KindToWrite(PixelKind kind, PixelKindSet held) {
    using K = PixelKind;
    // Each kind's chain, after the kind itself: lossless widenings, then 8
    // bits, then no alpha.
    struct Chain {
        std::size_t count;
        K kinds[7];
    };
    static constexpr std::array<Chain, 9> kChains{{
        {2, {K::Grey8, K::Bgr24}},             // Bitonal
        {1, {K::Bgr24}},                       // Grey8
        {3, {K::Bgra32, K::Grey8, K::Bgr24}},  // GreyAlpha8
        {3, {K::Bgr48, K::Grey8, K::Bgr24}},   // Grey16
        {7, {K::Bgra64, K::GreyAlpha8, K::Bgra32, K::Grey16, K::Bgr48, K::Grey8, K::Bgr24}},
        {0, {}},                               // Bgr24
        {1, {K::Bgr24}},                       // Bgra32
        {1, {K::Bgr24}},                       // Bgr48
        {3, {K::Bgra32, K::Bgr48, K::Bgr24}},  // Bgra64
    }};
    if (held.Has(kind)) {
        return kind;
    }
    const Chain& chain = kChains[static_cast<std::size_t>(kind)];
    for (std::size_t i = 0; i < chain.count; ++i) {
        if (held.Has(chain.kinds[i])) {
            return chain.kinds[i];
        }
    }
    return std::nullopt;
}

bool LosesSamples(PixelKind from, PixelKind to) {
    const PixelKindInfo& a = InfoOf(from);
    const PixelKindInfo& b = InfoOf(to);
    return (a.sampleBits == 16 && b.sampleBits < 16) || (a.alpha && !b.alpha) ||
           (a.colour && !b.colour);
}

std::uint64_t DecodedImageBytes(std::uint64_t width, std::uint64_t height, PixelKind kind) {
    const std::uint64_t rowBytes = (width * InfoOf(kind).bitCount + 7) / 8;
    return ((rowBytes + 3) & ~std::uint64_t{3}) * height;
}

DibPtr NewDib(LONG width, LONG height, PixelKind kind, std::span<const BYTE> profile) {
    const PixelKindInfo& info = InfoOf(kind);
    const DWORD headerSize = profile.empty() ? sizeof(BITMAPINFOHEADER) : sizeof(BITMAPV5HEADER);
    DibPtr dib(new (std::nothrow) CDib);
    if (!dib || profile.size() > 0xFFFFFFFFu ||
        !dib->CreateHeader(headerSize, width, height, info.bitCount,
                           kind == PixelKind::Bitonal ? 2 : 0, info.compression,
                           static_cast<DWORD>(profile.size()))) {
        return {};
    }
    if (kind == PixelKind::Bitonal) {
        dib->ColorTable()[0] = kBlack;
        dib->ColorTable()[1] = kWhite;
    }
    if (!profile.empty()) {
        const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(dib->Header());
        std::memcpy(reinterpret_cast<BYTE*>(dib->Header()) + v5->bV5ProfileData, profile.data(),
                    profile.size());
    }
    if (!dib->AllocateBits()) {
        return {};
    }
    return dib;
}

bool ConvertRow(PixelKind from, const BYTE* in, PixelKind to, BYTE* out, LONG width) {
    if (from == to) {
        std::memcpy(out, in, (std::size_t{InfoOf(from).bitCount} * width + 7) / 8);
        return true;
    }
    if (to == PixelKind::Bitonal || (InfoOf(from).colour && !InfoOf(to).colour)) {
        return false;
    }
    // The conversions every grey page and every opaque colour page make.
    if (from == PixelKind::Grey8 && to == PixelKind::Bgra32) {
        for (LONG x = 0; x < width; ++x) {
            const std::uint32_t v = 0xFF000000u | std::uint32_t{in[x]} * 0x010101u;
            std::memcpy(out + std::size_t{4} * x, &v, 4);
        }
        return true;
    }
    if (from == PixelKind::Bgra32 && to == PixelKind::Bgr24) {
        for (LONG x = 0; x < width; ++x) {
            std::memcpy(out + std::size_t{3} * x, in + std::size_t{4} * x, 3);
        }
        return true;
    }
    Wide px[kChunk];
    for (LONG first = 0; first < width; first += kChunk) {
        const LONG count = std::min(kChunk, width - first);
        VisitKind(from, [&](auto kind) { UnpackKind<kind()>(in, first, count, px); });
        VisitKind(to, [&](auto kind) { PackKind<kind()>(px, first, count, out); });
    }
    return true;
}

HRESULT ToKind(DibPtr& out, const DibPtr& image, PixelKind kind) {
    const std::optional<PixelKind> from = image ? KindOf(*image) : std::nullopt;
    if (!from || !image->IsValid()) {
        return E_INVALIDARG;
    }
    if (*from == kind) {
        out = image;
        return S_OK;
    }
    if (kind == PixelKind::Bitonal || (InfoOf(*from).colour && !InfoOf(kind).colour)) {
        return E_INVALIDARG;
    }
    DibPtr result = NewDib(image->Width(), image->Height(), kind);
    if (!result) {
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    }
    result->Header()->biXPelsPerMeter = image->Header()->biXPelsPerMeter;
    result->Header()->biYPelsPerMeter = image->Header()->biYPelsPerMeter;
    const std::size_t used = (std::size_t{InfoOf(kind).bitCount} * image->Width() + 7) / 8;
    for (LONG y = 0; y < image->Height(); ++y) {
        BYTE* row = result->Row(y);
        ConvertRow(*from, image->Row(y), kind, row, image->Width());
        std::memset(row + used, 0, result->Stride() - used);
    }
    out = std::move(result);
    return S_OK;
}

void ClearRowPadding(CDib& image) {
    const LONG width = image.Width();
    const std::size_t bits = std::size_t{image.BitCount()} * static_cast<std::size_t>(width);
    const std::size_t used = (bits + 7) / 8;
    const BYTE lastMask = static_cast<BYTE>(0xFF00u >> (bits % 8 == 0 ? 8 : bits % 8));
    for (LONG y = 0; y < image.Height(); ++y) {
        BYTE* row = image.Row(y);
        if (used > 0) {
            row[used - 1] &= lastMask;
        }
        std::memset(row + used, 0, image.Stride() - used);
    }
}

bool ProfileFitsKind(std::span<const BYTE> profile, PixelKind kind) {
    // The ICC header is 128 bytes; the colour space is at offset 16.
    if (profile.size() < 128) {
        return false;
    }
    const char* space = InfoOf(kind).colour ? "RGB " : "GRAY";
    return std::memcmp(profile.data() + 16, space, 4) == 0;
}

std::uint32_t PixelKindNameId(PixelKind kind) {
    static constexpr std::array<std::uint32_t, 9> kNames{
        kStrKindBitonal, kStrKindGrey8,  kStrKindGreyAlpha8, kStrKindGrey16, kStrKindGreyAlpha16,
        kStrKindBgr24,   kStrKindBgra32, kStrKindBgr48,      kStrKindBgra64};
    return kNames[static_cast<std::size_t>(kind)];
}
