// PixelKind: what one pixel of a source file or of a result holds, so that
// a page is written with the samples its source has (a bitonal scan stays
// 1 bit, a grey one grey, 16 bits stay 16).
//
// Each kind is one CDib layout (rows bottom-up, stride a multiple of 4
// bytes, as every CDib):
//
//   kind         bits  biCompression   pixel bytes
//   Bitonal         1  BI_RGB          8 pixels a byte, the leftmost in the
//                                      highest bit; 0 black, 1 white; a
//                                      2-entry table black, white
//   Grey8           8  BI_RGB          grey; the 256-entry grey ramp
//   GreyAlpha8     16  BI_GREYALPHA8   grey, alpha
//   Grey16         16  BI_SAMPLES16    grey (16-bit samples)
//   GreyAlpha16    32  BI_SAMPLES16    grey, alpha
//   Bgr24          24  BI_RGB          blue, green, red
//   Bgra32         32  BI_RGB          blue, green, red, alpha
//   Bgr48          48  BI_SAMPLES16    blue, green, red
//   Bgra64         64  BI_SAMPLES16    blue, green, red, alpha
//
// 16-bit samples are in the machine's byte order; alpha is never
// premultiplied. The analyses work on Bgra32 images made from these
// (ToKind); 16-bit samples become 8-bit ones by Reduce16To8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "image/Dib.h"
#include "msg/Result.h"

enum class PixelKind : std::uint8_t {
    Bitonal,
    Grey8,
    GreyAlpha8,
    Grey16,
    GreyAlpha16,
    Bgr24,
    Bgra32,
    Bgr48,
    Bgra64,
};

struct PixelKindInfo {
    WORD bitCount;        // bits a pixel (biBitCount)
    DWORD compression;    // biCompression
    int channels;         // samples a pixel, alpha included
    int sampleBits;       // 1, 8 or 16
    bool colour;          // blue, green, red rather than grey
    bool alpha;           // the last sample is alpha
    const char* keyword;  // "bitonal", "grey8", "grey_alpha16", "colour16" ...
};

inline constexpr std::array<PixelKindInfo, 9> kPixelKinds{{
    {1, BI_RGB, 1, 1, false, false, "bitonal"},
    {8, BI_RGB, 1, 8, false, false, "grey8"},
    {16, BI_GREYALPHA8, 2, 8, false, true, "grey_alpha8"},
    {16, BI_SAMPLES16, 1, 16, false, false, "grey16"},
    {32, BI_SAMPLES16, 2, 16, false, true, "grey_alpha16"},
    {24, BI_RGB, 3, 8, true, false, "colour8"},
    {32, BI_RGB, 4, 8, true, true, "colour_alpha8"},
    {48, BI_SAMPLES16, 3, 16, true, false, "colour16"},
    {64, BI_SAMPLES16, 4, 16, true, true, "colour_alpha16"},
}};

constexpr const PixelKindInfo& InfoOf(PixelKind kind) {
    return kPixelKinds[static_cast<std::size_t>(kind)];
}

// fn(std::integral_constant<PixelKind, K>()) with K the value of `kind`, so
// that a pixel loop is made for each kind with its layout known.
template <class Fn>
decltype(auto) VisitKind(PixelKind kind, Fn&& fn) {
    using K = PixelKind;
    switch (kind) {
        case K::Bitonal:
            return fn(std::integral_constant<K, K::Bitonal>());
        case K::Grey8:
            return fn(std::integral_constant<K, K::Grey8>());
        case K::GreyAlpha8:
            return fn(std::integral_constant<K, K::GreyAlpha8>());
        case K::Grey16:
            return fn(std::integral_constant<K, K::Grey16>());
        case K::GreyAlpha16:
            return fn(std::integral_constant<K, K::GreyAlpha16>());
        case K::Bgr24:
            return fn(std::integral_constant<K, K::Bgr24>());
        case K::Bgra32:
            return fn(std::integral_constant<K, K::Bgra32>());
        case K::Bgr48:
            return fn(std::integral_constant<K, K::Bgr48>());
        case K::Bgra64:
            break;
    }
    return fn(std::integral_constant<K, K::Bgra64>());
}

// A set of kinds (what a file format can hold).
class PixelKindSet {
  public:
    constexpr PixelKindSet() = default;
    constexpr PixelKindSet(std::initializer_list<PixelKind> kinds) {
        for (const PixelKind kind : kinds) {
            m_bits |= Bit(kind);
        }
    }
    constexpr bool Has(PixelKind kind) const { return (m_bits & Bit(kind)) != 0; }

  private:
    static constexpr std::uint16_t Bit(PixelKind kind) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(kind));
    }
    std::uint16_t m_bits = 0;
};

// The kind whose layout the image has; nothing for other images (a colour
// table other than the two above, 4 bits, 5-5-5, bit fields, run-length
// rows) and for an image without header.
std::optional<PixelKind> KindOf(const CDib& image);

// The same kind without its alpha sample (the kind itself when it has none).
PixelKind WithoutAlpha(PixelKind kind);
// The same kind with 8-bit samples (Bitonal and the 8-bit kinds stay).
PixelKind EightBitKind(PixelKind kind);

// The kind a file format that holds `held` writes for an image of `kind`:
// the kind itself when held, else the first held kind of the fallback
// chain: wider kinds that lose nothing first (Bitonal as Grey8, grey and
// alpha as colour and alpha), then 8 bits for 16, then alpha dropped.
// Nothing when no kind of the chain is held.
std::optional<PixelKind> KindToWrite(PixelKind kind, PixelKindSet held);
// Whether writing an image of `from` as `to` loses something: bits of the
// samples (16 to 8) or the alpha sample.
bool LosesSamples(PixelKind from, PixelKind to);

// Bytes of the pixel block of a width × height image of `kind` (stride ×
// height): what a decoder allocates for it, and what a memory budget
// reserves before a file is decoded. (The pipeline holds a Bgra32 copy for
// the analyses beside an image of any other kind.)
std::uint64_t DecodedImageBytes(std::uint64_t width, std::uint64_t height, PixelKind kind);

// A 16-bit sample as the nearest 8-bit one: round(v × 255 / 65535).
inline BYTE Reduce16To8(std::uint16_t v) {
    return static_cast<BYTE>((std::uint32_t{v} + 128) / 257);
}

// A new image of `kind` with pixels allocated but not cleared: a 40-byte
// header, or a version-5 one that embeds `profile` when it is not empty;
// null when memory is short or the size is impossible.
DibPtr NewDib(LONG width, LONG height, PixelKind kind, std::span<const BYTE> profile = {});

// Converts `width` pixels of a row of `from` into a row of `to`. Samples
// are widened exactly (8 bits to 16 as v × 257, grey to blue = green = red,
// Bitonal to 0 or 255) and narrowed by Reduce16To8; alpha is dropped, or
// 255 (65535) where `from` has none; a row of the same kind is copied.
// Colour to grey and anything else to Bitonal are not conversions: false,
// nothing written.
bool ConvertRow(PixelKind from, const BYTE* in, PixelKind to, BYTE* out, LONG width);

// `image` as an image of `kind`: the image itself when it is of that kind
// already, else a new one (a 40-byte header, no profile, the image's
// resolution) made row by row with ConvertRow. E_INVALIDARG when the image
// is of no kind or ConvertRow does not convert; 0x80070008 when memory is
// short. `out` is set only on success and may be `image`.
HRESULT ToKind(DibPtr& out, const DibPtr& image, PixelKind kind);

// Sets every row's bytes past its last pixel (the stride's padding and, for
// 1-bit pixels, the unused bits of the last byte) to 0, so that images of
// equal pixels are equal bytes.
void ClearRowPadding(CDib& image);

// The ICC colour space a profile describes ("GRAY", "RGB ", "CMYK" ...,
// bytes 16 to 19 of its header), and whether it is the one `kind`'s samples
// are in (grey kinds, Bitonal included: "GRAY"; colour kinds: "RGB ").
bool ProfileFitsKind(std::span<const BYTE> profile, PixelKind kind);

// The message id of the kind's name ("16-bit colour" ...).
std::uint32_t PixelKindNameId(PixelKind kind);
