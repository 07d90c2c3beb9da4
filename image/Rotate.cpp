#include "image/Rotate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QV_ROTATE_SSE2 1
#else
#define QV_ROTATE_SSE2 0
#endif

namespace {

const HRESULT kNotEnoughMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

// Source coordinates are 32.32 fixed point in 64-bit integers: the position
// along a row is exactly start + x · step, so the spans computed per row are
// exactly the pixels the inner loop visits, and rounding the step costs less
// than 1e-5 pixel across a full page.
constexpr int kFracBits = 32;
constexpr std::int64_t kOne = std::int64_t{1} << kFracBits;
constexpr int kPhaseBits = 8;
constexpr int kPhases = 1 << kPhaseBits;
constexpr std::int64_t kHalfPhase = kOne >> (kPhaseBits + 1);
// Weights sum to 2^11 per axis: 255 · 1.25 · 2^11 · 1.25 · 2^11 (the largest
// sum of |weights| is 1.25) stays below 2^31.
constexpr int kWeightBits = 11;
constexpr int kShift = 2 * kWeightBits;
// Keeps size · 2^32 and every position along a row far inside 64 bits.
constexpr LONG kMaxSide = LONG{1} << 24;

struct CubicWeights {
    std::int32_t w[kPhases][4];
};

// Catmull-Rom (a = -0.5): keeps text edges sharper than bilinear and passes
// constant areas and phase 0 through unchanged.
CubicWeights MakeCubicWeights() {
    CubicWeights table{};
    const double a = -0.5;
    auto kernel = [a](double d) {
        d = std::fabs(d);
        if (d < 1.0) {
            return ((a + 2.0) * d - (a + 3.0)) * d * d + 1.0;
        }
        if (d < 2.0) {
            return ((a * d - 5.0 * a) * d + 8.0 * a) * d - 4.0 * a;
        }
        return 0.0;
    };
    const int one = 1 << kWeightBits;
    for (int p = 0; p < kPhases; ++p) {
        const double t = static_cast<double>(p) / kPhases;
        int sum = 0;
        for (int k = 0; k < 4; ++k) {
            table.w[p][k] = static_cast<std::int32_t>(std::lround(kernel(t - (k - 1)) * one));
            sum += table.w[p][k];
        }
        // Exact unit sum: a flat area stays flat.
        table.w[p][t < 0.5 ? 1 : 2] += one - sum;
    }
    return table;
}

const CubicWeights& Weights() {
    static const CubicWeights table = MakeCubicWeights();
    return table;
}

// The same weights as 16-bit pairs (w0, w1) and (w2, w3) in one 32-bit word
// each, low half first, for the SIMD multiply-add.
struct CubicPairs {
    std::int32_t w[kPhases][2];
};

[[maybe_unused]] const CubicPairs& Pairs() {
    static const CubicPairs table = [] {
        CubicPairs pairs{};
        const CubicWeights& w = Weights();
        for (int p = 0; p < kPhases; ++p) {
            for (int k = 0; k < 2; ++k) {
                const auto lo = static_cast<std::uint16_t>(w.w[p][2 * k]);
                const auto hi = static_cast<std::uint16_t>(w.w[p][2 * k + 1]);
                pairs.w[p][k] = static_cast<std::int32_t>(std::uint32_t{hi} << 16 | lo);
            }
        }
        return pairs;
    }();
    return table;
}

// The vertical pass leaves sums of weight 2^11; they are scaled down by
// kMidShift before the horizontal pass so that they fit 16 bits for the
// SIMD multiply-add (range -2040 to 18360), and the scalar code does the same
// so that every path gives the same bytes.
constexpr int kMidShift = 5;
constexpr int kFinalShift = kShift - kMidShift;

inline BYTE FinalToByte(std::int32_t acc) {
    const std::int32_t v = (acc + (1 << (kFinalShift - 1))) >> kFinalShift;
    return static_cast<BYTE>(std::clamp(v, 0, 255));
}

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    // b > 0
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

// The x in [0, width) with lo <= start + x · step < hi, as [first, last).
struct Span {
    LONG first;
    LONG last;
};

Span SolveSpan(std::int64_t start, std::int64_t step, std::int64_t lo, std::int64_t hi,
               LONG width) {
    std::int64_t first = 0;
    std::int64_t last = width;
    if (lo >= hi) {
        return Span{0, 0};
    }
    if (step == 0) {
        if (start < lo || start >= hi) {
            return Span{0, 0};
        }
    } else if (step > 0) {
        // x >= ceil((lo - start) / step), x < ceil((hi - start) / step)
        first = std::max(first, -FloorDiv(start - lo, step));
        last = std::min(last, -FloorDiv(start - hi, step));
    } else {
        // x <= floor((start - lo) / -step), x > floor((start - hi) / -step)
        last = std::min(last, FloorDiv(start - lo, -step) + 1);
        first = std::max(first, FloorDiv(start - hi, -step) + 1);
    }
    if (first >= last) {
        return Span{0, 0};
    }
    return Span{static_cast<LONG>(first), static_cast<LONG>(last)};
}

Span Intersect(Span a, Span b) {
    const LONG first = std::max(a.first, b.first);
    const LONG last = std::min(a.last, b.last);
    return first < last ? Span{first, last} : Span{0, 0};
}

struct Source {
    const BYTE* bits;
    std::ptrdiff_t row0;     // offset of row 0 from bits
    std::ptrdiff_t rowStep;  // offset from row y to row y + 1 (negative bottom-up)
    LONG width;
    LONG height;
};

inline std::size_t PhaseOf(std::int64_t f) {
    return static_cast<std::size_t>(f >> (kFracBits - kPhaseBits)) & (kPhases - 1);
}

// Interpolates pixels [first, last) of one output row whose 4 × 4 taps may
// leave the picture; taps are clamped to the border pixels.
template <int C>
void SampleClamped(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                   std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    const CubicWeights& table = Weights();
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy) {
        const std::int64_t ix = fx >> kFracBits;
        const std::int64_t iy = fy >> kFracBits;
        const std::int32_t* wx = table.w[PhaseOf(fx)];
        const std::int32_t* wy = table.w[PhaseOf(fy)];
        const BYTE* rows[4];
        std::int64_t cols[4];
        for (int k = 0; k < 4; ++k) {
            const std::int64_t sy = std::clamp<std::int64_t>(iy - 1 + k, 0, src.height - 1);
            rows[k] = src.bits + src.row0 + sy * src.rowStep;
            cols[k] = std::clamp<std::int64_t>(ix - 1 + k, 0, src.width - 1) * C;
        }
        std::int32_t acc[C] = {};
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < C; ++c) {
                const std::size_t i = static_cast<std::size_t>(cols[k] + c);
                const std::int32_t v = wy[0] * rows[0][i] + wy[1] * rows[1][i] +
                                       wy[2] * rows[2][i] + wy[3] * rows[3][i];
                acc[c] += wx[k] * (v >> kMidShift);
            }
        }
        for (int c = 0; c < C; ++c) {
            dst[x * C + c] = FinalToByte(acc[c]);
        }
    }
}

// The same for pixels whose taps all lie inside the picture: no bounds
// checks in the loop.
template <int C>
void SampleInterior(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                    std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    const CubicWeights& table = Weights();
    const std::ptrdiff_t step = src.rowStep;
    const BYTE* origin = src.bits + src.row0;
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy) {
        const std::ptrdiff_t ix = static_cast<std::ptrdiff_t>(fx >> kFracBits);
        const std::ptrdiff_t iy = static_cast<std::ptrdiff_t>(fy >> kFracBits);
        const std::int32_t* wx = table.w[PhaseOf(fx)];
        const std::int32_t* wy = table.w[PhaseOf(fy)];
        const BYTE* p0 = origin + (iy - 1) * step + (ix - 1) * C;
        const BYTE* p1 = p0 + step;
        const BYTE* p2 = p1 + step;
        const BYTE* p3 = p2 + step;
        std::int32_t acc[C] = {};
        for (int i = 0; i < 4 * C; ++i) {
            const std::int32_t v = wy[0] * p0[i] + wy[1] * p1[i] + wy[2] * p2[i] + wy[3] * p3[i];
            acc[i % C] += wx[i / C] * (v >> kMidShift);
        }
        for (int c = 0; c < C; ++c) {
            dst[x * C + c] = FinalToByte(acc[c]);
        }
    }
}

#if QV_ROTATE_SSE2
// Four channels at once: the vertical pass multiplies byte pairs of two rows
// with a weight pair (pmaddwd), the horizontal pass does the same with pairs
// of columns; packus clamps to 0..255.
template <>
void SampleInterior<4>(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                       std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    const CubicPairs& pairs = Pairs();
    const std::ptrdiff_t step = src.rowStep;
    const BYTE* origin = src.bits + src.row0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kFinalShift - 1));
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy) {
        const std::ptrdiff_t ix = static_cast<std::ptrdiff_t>(fx >> kFracBits);
        const std::ptrdiff_t iy = static_cast<std::ptrdiff_t>(fy >> kFracBits);
        const std::int32_t* wx = pairs.w[PhaseOf(fx)];
        const std::int32_t* wy = pairs.w[PhaseOf(fy)];
        const BYTE* p0 = origin + (iy - 1) * step + (ix - 1) * 4;
        const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + step));
        const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + 2 * step));
        const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + 3 * step));
        const __m128i wy01 = _mm_set1_epi32(wy[0]);
        const __m128i wy23 = _mm_set1_epi32(wy[1]);
        // Bytes of rows 0 and 1 interleaved: b0 b1 g0 g1 ... for each column.
        const __m128i a01 = _mm_unpacklo_epi8(r0, r1);  // columns 0, 1
        const __m128i b01 = _mm_unpackhi_epi8(r0, r1);  // columns 2, 3
        const __m128i a23 = _mm_unpacklo_epi8(r2, r3);
        const __m128i b23 = _mm_unpackhi_epi8(r2, r3);
        __m128i v0 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(a01, zero), wy01),
                                   _mm_madd_epi16(_mm_unpacklo_epi8(a23, zero), wy23));
        __m128i v1 = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(a01, zero), wy01),
                                   _mm_madd_epi16(_mm_unpackhi_epi8(a23, zero), wy23));
        __m128i v2 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(b01, zero), wy01),
                                   _mm_madd_epi16(_mm_unpacklo_epi8(b23, zero), wy23));
        __m128i v3 = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(b01, zero), wy01),
                                   _mm_madd_epi16(_mm_unpackhi_epi8(b23, zero), wy23));
        v0 = _mm_srai_epi32(v0, kMidShift);
        v1 = _mm_srai_epi32(v1, kMidShift);
        v2 = _mm_srai_epi32(v2, kMidShift);
        v3 = _mm_srai_epi32(v3, kMidShift);
        // Columns 0 and 1 interleaved per channel as 16-bit: b0 b1 g0 g1 r0 r1 a0 a1.
        const __m128i h01 = _mm_packs_epi32(_mm_unpacklo_epi32(v0, v1), _mm_unpackhi_epi32(v0, v1));
        const __m128i h23 = _mm_packs_epi32(_mm_unpacklo_epi32(v2, v3), _mm_unpackhi_epi32(v2, v3));
        __m128i acc = _mm_add_epi32(_mm_madd_epi16(h01, _mm_set1_epi32(wx[0])),
                                    _mm_madd_epi16(h23, _mm_set1_epi32(wx[1])));
        acc = _mm_srai_epi32(_mm_add_epi32(acc, round), kFinalShift);
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(acc, acc), zero);
        const std::int32_t pixel = _mm_cvtsi128_si32(packed);
        std::memcpy(dst + std::size_t{4} * x, &pixel, 4);
    }
}

// One channel: the 4 × 4 taps of a pixel fill the lanes instead.
template <>
void SampleInterior<1>(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                       std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    const CubicPairs& pairs = Pairs();
    const std::ptrdiff_t step = src.rowStep;
    const BYTE* origin = src.bits + src.row0;
    const __m128i zero = _mm_setzero_si128();
    const auto load4 = [](const BYTE* p) {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    };
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy) {
        const std::ptrdiff_t ix = static_cast<std::ptrdiff_t>(fx >> kFracBits);
        const std::ptrdiff_t iy = static_cast<std::ptrdiff_t>(fy >> kFracBits);
        const std::int32_t* wx = pairs.w[PhaseOf(fx)];
        const std::int32_t* wy = pairs.w[PhaseOf(fy)];
        const BYTE* p0 = origin + (iy - 1) * step + (ix - 1);
        // Rows 0/1 and 2/3 interleaved: column k of both rows in lanes 2k, 2k + 1.
        const __m128i a01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(load4(p0), load4(p0 + step)), zero);
        const __m128i a23 =
            _mm_unpacklo_epi8(_mm_unpacklo_epi8(load4(p0 + 2 * step), load4(p0 + 3 * step)), zero);
        __m128i v = _mm_add_epi32(_mm_madd_epi16(a01, _mm_set1_epi32(wy[0])),
                                  _mm_madd_epi16(a23, _mm_set1_epi32(wy[1])));
        v = _mm_srai_epi32(v, kMidShift);
        const __m128i h = _mm_madd_epi16(_mm_packs_epi32(v, v), _mm_set_epi32(0, 0, wx[1], wx[0]));
        const std::int32_t acc = _mm_cvtsi128_si32(_mm_add_epi32(h, _mm_srli_si128(h, 4)));
        dst[x] = FinalToByte(acc);
    }
}
#endif

// Rotates `src` (C bytes per pixel) into `dst`, which has the same size and
// pixel format. Every output row: inverse mapping of its pixel centres,
// [0, covered.first) and [covered.last, width) copied from the input, the
// covered span interpolated.
template <int C>
HRESULT RotatePixels(CDib& dst, const CDib& srcImage, double angle, const CTerminable* stop) {
    const LONG width = srcImage.Width();
    const LONG height = srcImage.Height();
    Source src{srcImage.Bits(), srcImage.Row(0) - srcImage.Bits(), 0, width, height};
    src.rowStep = height > 1 ? srcImage.Row(1) - srcImage.Row(0) : 0;

    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const auto toFixed = [](double v) { return static_cast<std::int64_t>(std::llround(v * kOne)); };
    const std::int64_t dfx = toFixed(c);
    const std::int64_t dfy = toFixed(-s);
    const double dx0 = 0.5 - cx;

    // Covered: the inverse-mapped centre lies in [-0.5, size - 0.5) in pixel
    // index units. Interior: all four taps of both axes inside.
    const std::int64_t coverLo = -kOne / 2;
    const std::int64_t interiorLo = kOne;
    const std::int64_t coverHiX = width * kOne - kOne / 2;
    const std::int64_t coverHiY = height * kOne - kOne / 2;
    const std::int64_t interiorHiX = (width - 2) * kOne;
    const std::int64_t interiorHiY = (height - 2) * kOne;

    for (LONG y = 0; y < height; ++y) {
        if (StopRequested(stop)) {
            return E_ABORT;
        }
        const double dy = y + 0.5 - cy;
        const std::int64_t fx = toFixed(cx + dx0 * c + dy * s - 0.5);
        const std::int64_t fy = toFixed(cy - dx0 * s + dy * c - 0.5);
        const Span covered = Intersect(SolveSpan(fx, dfx, coverLo, coverHiX, width),
                                       SolveSpan(fy, dfy, coverLo, coverHiY, width));
        // Samplers get positions half a phase ahead, so that truncating to
        // a phase picks the nearest one (position error at most 1/512 pixel).
        const std::int64_t sx = fx + kHalfPhase;
        const std::int64_t sy = fy + kHalfPhase;
        Span interior = Intersect(SolveSpan(sx, dfx, interiorLo, interiorHiX, width),
                                  SolveSpan(sy, dfy, interiorLo, interiorHiY, width));
        interior = Intersect(interior, covered);
        if (interior.first >= interior.last) {
            interior = Span{covered.last, covered.last};
        }

        const BYTE* in = srcImage.Row(y);
        BYTE* out = dst.Row(y);
        std::memcpy(out, in, std::size_t{C} * covered.first);
        std::memcpy(out + std::size_t{C} * covered.last, in + std::size_t{C} * covered.last,
                    std::size_t{C} * (width - covered.last));
        SampleClamped<C>(src, out, covered.first, interior.first, sx, sy, dfx, dfy);
        SampleInterior<C>(src, out, interior.first, interior.last, sx, sy, dfx, dfy);
        SampleClamped<C>(src, out, interior.last, covered.last, sx, sy, dfx, dfy);
    }
    return S_OK;
}

// An 8-bit picture whose table maps index i to grey i: the input itself, or
// a copy with the table applied.
HRESULT GreyLevels(const CDib*& grey, DibPtr& holder, const CDib& image) {
    const DWORD entries = CDib::ColorTableEntries(image.Header());
    const RGBQUAD* table = image.ColorTable();
    std::array<BYTE, 256> lut{};
    bool identity = entries >= 256;
    for (DWORD i = 0; i < 256; ++i) {
        lut[i] = i < entries ? table[i].rgbGreen : 0;
        identity = identity && lut[i] == i;
    }
    if (identity) {
        grey = &image;
        return S_OK;
    }
    holder.reset(new (std::nothrow) CDib);
    if (!holder || !holder->Create(image.Width(), image.Height(), 8, 0, BI_RGB) ||
        !holder->AllocateBits()) {
        return kNotEnoughMemory;
    }
    for (LONG y = 0; y < image.Height(); ++y) {
        const BYTE* s = image.Row(y);
        BYTE* d = holder->Row(y);
        for (LONG x = 0; x < image.Width(); ++x) {
            d[x] = lut[s[x]];
        }
    }
    grey = holder.get();
    return S_OK;
}

// A 32-bit copy of a 24-bit picture, alpha 255.
HRESULT Expand24(DibPtr& holder, const CDib& image) {
    holder.reset(new (std::nothrow) CDib);
    if (!holder || !holder->Create(image.Width(), image.Height(), 32, 0, BI_RGB) ||
        !holder->AllocateBits()) {
        return kNotEnoughMemory;
    }
    for (LONG y = 0; y < image.Height(); ++y) {
        const BYTE* s = image.Row(y);
        BYTE* d = holder->Row(y);
        for (LONG x = 0; x < image.Width(); ++x) {
            d[4 * x + 0] = s[3 * x + 0];
            d[4 * x + 1] = s[3 * x + 1];
            d[4 * x + 2] = s[3 * x + 2];
            d[4 * x + 3] = 255;
        }
    }
    return S_OK;
}

// The input's header block as a 32-bit BI_RGB header, so the output keeps
// the header size and the embedded profile.
bool Create32Like(CDib& dst, const CDib& image) {
    const std::size_t blockSize = CDib::GetHeaderBlockSize(image.Header());
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[blockSize]);
    if (!block) {
        return false;
    }
    std::memcpy(block.get(), image.Header(), blockSize);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(block.get());
    header->biBitCount = 32;
    header->biCompression = BI_RGB;
    header->biSizeImage = 0;
    header->biClrUsed = 0;
    return dst.CreateLike(header);
}

}  // namespace

HRESULT RotateImage(DibPtr& out, const CDib& image, double angle, const CTerminable* stop) {
    if (!image.IsValid() || image.Width() <= 0 || image.Height() <= 0 || image.Width() > kMaxSide ||
        image.Height() > kMaxSide || !std::isfinite(angle) ||
        image.Header()->biCompression != BI_RGB) {
        return E_INVALIDARG;
    }
    const WORD bits = image.BitCount();
    const bool grey = bits == 8 && CDib::IsGreyPalette(image.Header());
    if (!grey && bits != 24 && bits != 32) {
        return E_INVALIDARG;
    }

    DibPtr holder;
    const CDib* source = &image;
    DibPtr result(new (std::nothrow) CDib);
    if (!result) {
        return kNotEnoughMemory;
    }
    HRESULT hr = S_OK;
    if (grey) {
        hr = GreyLevels(source, holder, image);
        if (FAILED(hr)) {
            return hr;
        }
        if (!result->Create(image.Width(), image.Height(), 8, 0, BI_RGB)) {
            return kNotEnoughMemory;
        }
    } else {
        if (bits == 24) {
            hr = Expand24(holder, image);
            if (FAILED(hr)) {
                return hr;
            }
            source = holder.get();
        }
        if (!Create32Like(*result, image)) {
            return kNotEnoughMemory;
        }
    }
    if (!result->AllocateBits()) {
        return kNotEnoughMemory;
    }
    // Row padding is not covered by the row loops.
    const std::size_t used = std::size_t{grey ? 1u : 4u} * image.Width();
    if (result->Stride() > used) {
        for (LONG y = 0; y < image.Height(); ++y) {
            std::memset(result->Row(y) + used, 0, result->Stride() - used);
        }
    }

    hr = grey ? RotatePixels<1>(*result, *source, angle, stop)
              : RotatePixels<4>(*result, *source, angle, stop);
    if (FAILED(hr)) {
        return hr;
    }
    out = result;
    return S_OK;
}
