#include "image/Rotate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QV_ROTATE_SSE2 1
#else
#define QV_ROTATE_SSE2 0
#endif
// GCC and Clang build an AVX2 variant beside the SSE2 code and pick it at
// run time.
#if QV_ROTATE_SSE2 && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QV_ROTATE_AVX2 1
#else
#define QV_ROTATE_AVX2 0
#endif

namespace {

// RotateKernel::Auto, or the kernel forced by ForceRotateKernel.
std::atomic<RotateKernel> g_forcedKernel{RotateKernel::Auto};

RotateKernel BestKernel() {
#if QV_ROTATE_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) {
        return RotateKernel::Avx2;
    }
#endif
    return QV_ROTATE_SSE2 ? RotateKernel::Sse2 : RotateKernel::Plain;
}

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

// The 4 × 4 taps of the pixel at (fx, fy): its phases' weights, the rows
// and the byte offsets of the columns (`pixel` bytes a pixel), clamped to
// the border pixels unless `Clamp` is false.
struct Taps {
    const std::int32_t* wx;
    const std::int32_t* wy;
    const BYTE* rows[4];
    std::int64_t cols[4];
};

template <bool Clamp>
inline Taps TapsAt(const Source& src, std::int64_t fx, std::int64_t fy, std::int64_t pixel) {
    const CubicWeights& table = Weights();
    const std::int64_t ix = fx >> kFracBits;
    const std::int64_t iy = fy >> kFracBits;
    Taps taps{table.w[PhaseOf(fx)], table.w[PhaseOf(fy)], {}, {}};
    for (int k = 0; k < 4; ++k) {
        const std::int64_t sy =
            Clamp ? std::clamp<std::int64_t>(iy - 1 + k, 0, src.height - 1) : iy - 1 + k;
        const std::int64_t sx =
            Clamp ? std::clamp<std::int64_t>(ix - 1 + k, 0, src.width - 1) : ix - 1 + k;
        taps.rows[k] = src.bits + src.row0 + sy * src.rowStep;
        taps.cols[k] = sx * pixel;
    }
    return taps;
}

// Interpolates pixels [first, last) of one output row whose 4 × 4 taps may
// leave the picture; taps are clamped to the border pixels. `dst` receives
// pixel `first`; fx, fy are the positions of pixel 0 of the row.
template <int C>
void SampleClamped(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                   std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy) {
        const Taps t = TapsAt<true>(src, fx, fy, C);
        std::int32_t acc[C] = {};
        for (int k = 0; k < 4; ++k) {
            for (int c = 0; c < C; ++c) {
                const std::size_t i = static_cast<std::size_t>(t.cols[k] + c);
                const std::int32_t v = t.wy[0] * t.rows[0][i] + t.wy[1] * t.rows[1][i] +
                                       t.wy[2] * t.rows[2][i] + t.wy[3] * t.rows[3][i];
                acc[c] += t.wx[k] * (v >> kMidShift);
            }
        }
        for (int c = 0; c < C; ++c) {
            dst[c] = FinalToByte(acc[c]);
        }
        dst += C;
    }
}

// The same for pixels whose taps all lie inside the picture: no bounds
// checks in the loop. The plain kernel; the SIMD ones below give the same
// bytes.
template <int C>
void SampleInteriorPlain(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
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
            dst[c] = FinalToByte(acc[c]);
        }
        dst += C;
    }
}

// 16-bit samples: the same weights, phases and taps as the 8-bit samplers,
// summed exactly (the vertical sums in 32 bits, the horizontal ones in 64),
// so that a picture of 8-bit samples times 257 comes out as the 8-bit
// result times 257 to within the 8-bit rounding.
inline std::uint16_t Load16(const BYTE* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline void Store16(BYTE* p, std::int64_t acc) {
    const std::int64_t v = (acc + (std::int64_t{1} << (kShift - 1))) >> kShift;
    const auto sample = static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
    std::memcpy(p, &sample, 2);
}

// `Interior`: all 4 × 4 taps lie inside the picture, no clamping.
template <int C, bool Interior>
void Sample16(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx, std::int64_t fy,
              std::int64_t dfx, std::int64_t dfy) {
    fx += first * dfx;
    fy += first * dfy;
    for (LONG x = first; x < last; ++x, fx += dfx, fy += dfy, dst += 2 * C) {
        const Taps t = TapsAt<!Interior>(src, fx, fy, 2 * C);
        for (int c = 0; c < C; ++c) {
            std::int64_t acc = 0;
            for (int k = 0; k < 4; ++k) {
                const std::size_t i = static_cast<std::size_t>(t.cols[k] + 2 * c);
                const std::int32_t v =
                    t.wy[0] * Load16(t.rows[0] + i) + t.wy[1] * Load16(t.rows[1] + i) +
                    t.wy[2] * Load16(t.rows[2] + i) + t.wy[3] * Load16(t.rows[3] + i);
                acc += std::int64_t{t.wx[k]} * v;
            }
            Store16(dst + 2 * c, acc);
        }
    }
}

#if QV_ROTATE_SSE2
// Asks for the cache line at p + offset, which may lie outside the picture
// (a prefetch never faults).
inline void Prefetch(const BYTE* p, std::ptrdiff_t offset) {
    const auto address = reinterpret_cast<std::uintptr_t>(p) + static_cast<std::uintptr_t>(offset);
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T1);
}

// Four channels at once: the vertical pass multiplies byte pairs of two rows
// with a weight pair (pmaddwd), the horizontal pass does the same with pairs
// of columns; packus clamps to 0..255.
void SampleInterior4Sse2(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
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
        // The row below the taps is the one the next output row adds; fetching
        // it now hides the latency of the diagonal walk, which the hardware
        // prefetcher does not follow.
        Prefetch(p0, 4 * step);
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
        std::memcpy(dst, &pixel, 4);
        dst += 4;
    }
}

#if QV_ROTATE_AVX2
// The same with two pixels side by side, one in each 128-bit lane (the AVX2
// unpack, multiply-add and pack instructions work lane by lane, so each lane
// computes exactly what the SSE2 code does).
#define QV_AVX2 __attribute__((target("avx2")))

// Row k of the taps of pixels a (low lane) and b (high lane).
QV_AVX2 inline __m256i TapRows(const BYTE* a, const BYTE* b) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), 1);
}

// Weight pair k of pixel a in the low lane, of pixel b in the high lane.
QV_AVX2 inline __m256i LanePair(const std::int32_t* wa, const std::int32_t* wb, int k) {
    return _mm256_set_epi32(wb[k], wb[k], wb[k], wb[k], wa[k], wa[k], wa[k], wa[k]);
}

QV_AVX2 inline __m256i ColumnSums(__m256i x01, __m256i x23, __m256i wy01, __m256i wy23) {
    return _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(x01, wy01), _mm256_madd_epi16(x23, wy23)), kMidShift);
}

QV_AVX2 void SampleInterior4Avx2(const Source& src, BYTE* dst, LONG first, LONG last,
                                 std::int64_t fx, std::int64_t fy, std::int64_t dfx,
                                 std::int64_t dfy) {
    const CubicPairs& pairs = Pairs();
    const std::ptrdiff_t step = src.rowStep;
    const BYTE* origin = src.bits + src.row0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i round = _mm256_set1_epi32(1 << (kFinalShift - 1));
    fx += first * dfx;
    fy += first * dfy;
    LONG x = first;
    for (; last - x >= 2; x += 2, fx += 2 * dfx, fy += 2 * dfy) {
        const std::int64_t fxB = fx + dfx, fyB = fy + dfy;
        const BYTE* a = origin + static_cast<std::ptrdiff_t>((fy >> kFracBits) - 1) * step +
                        static_cast<std::ptrdiff_t>((fx >> kFracBits) - 1) * 4;
        const BYTE* b = origin + static_cast<std::ptrdiff_t>((fyB >> kFracBits) - 1) * step +
                        static_cast<std::ptrdiff_t>((fxB >> kFracBits) - 1) * 4;
        Prefetch(a, 4 * step);
        const std::int32_t* wyA = pairs.w[PhaseOf(fy)];
        const std::int32_t* wyB = pairs.w[PhaseOf(fyB)];
        const std::int32_t* wxA = pairs.w[PhaseOf(fx)];
        const std::int32_t* wxB = pairs.w[PhaseOf(fxB)];
        const __m256i r0 = TapRows(a, b);
        const __m256i r1 = TapRows(a + step, b + step);
        const __m256i r2 = TapRows(a + 2 * step, b + 2 * step);
        const __m256i r3 = TapRows(a + 3 * step, b + 3 * step);
        const __m256i wy01 = LanePair(wyA, wyB, 0);
        const __m256i wy23 = LanePair(wyA, wyB, 1);
        const __m256i a01 = _mm256_unpacklo_epi8(r0, r1);
        const __m256i b01 = _mm256_unpackhi_epi8(r0, r1);
        const __m256i a23 = _mm256_unpacklo_epi8(r2, r3);
        const __m256i b23 = _mm256_unpackhi_epi8(r2, r3);
        const __m256i v0 = ColumnSums(_mm256_unpacklo_epi8(a01, zero),
                                      _mm256_unpacklo_epi8(a23, zero), wy01, wy23);
        const __m256i v1 = ColumnSums(_mm256_unpackhi_epi8(a01, zero),
                                      _mm256_unpackhi_epi8(a23, zero), wy01, wy23);
        const __m256i v2 = ColumnSums(_mm256_unpacklo_epi8(b01, zero),
                                      _mm256_unpacklo_epi8(b23, zero), wy01, wy23);
        const __m256i v3 = ColumnSums(_mm256_unpackhi_epi8(b01, zero),
                                      _mm256_unpackhi_epi8(b23, zero), wy01, wy23);
        const __m256i h01 =
            _mm256_packs_epi32(_mm256_unpacklo_epi32(v0, v1), _mm256_unpackhi_epi32(v0, v1));
        const __m256i h23 =
            _mm256_packs_epi32(_mm256_unpacklo_epi32(v2, v3), _mm256_unpackhi_epi32(v2, v3));
        __m256i acc = _mm256_add_epi32(_mm256_madd_epi16(h01, LanePair(wxA, wxB, 0)),
                                       _mm256_madd_epi16(h23, LanePair(wxA, wxB, 1)));
        acc = _mm256_srai_epi32(_mm256_add_epi32(acc, round), kFinalShift);
        const __m256i packed = _mm256_packus_epi16(_mm256_packs_epi32(acc, acc), zero);
        const std::int32_t pa = _mm256_extract_epi32(packed, 0);
        const std::int32_t pb = _mm256_extract_epi32(packed, 4);
        std::memcpy(dst, &pa, 4);
        std::memcpy(dst + 4, &pb, 4);
        dst += 8;
    }
    if (x < last) {
        SampleInterior4Sse2(src, dst, x, last, fx - x * dfx, fy - x * dfy, dfx, dfy);
    }
}
#endif

// One channel: the 4 × 4 taps of a pixel fill the lanes instead. The
// horizontal pass, rounding and clamping run for four pixels at a time.
void SampleInterior1Sse2(const Source& src, BYTE* dst, LONG first, LONG last, std::int64_t fx,
                         std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
    const CubicPairs& pairs = Pairs();
    const std::ptrdiff_t step = src.rowStep;
    const BYTE* origin = src.bits + src.row0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kFinalShift - 1));
    const auto load4 = [](const BYTE* p) {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    };
    // The vertical pass of one pixel: its four column sums, scaled down.
    const auto columns = [&](std::int64_t px, std::int64_t py) {
        const std::ptrdiff_t ix = static_cast<std::ptrdiff_t>(px >> kFracBits);
        const std::ptrdiff_t iy = static_cast<std::ptrdiff_t>(py >> kFracBits);
        const std::int32_t* wy = pairs.w[PhaseOf(py)];
        const BYTE* p0 = origin + (iy - 1) * step + (ix - 1);
        Prefetch(p0, 4 * step);
        // Rows 0/1 and 2/3 interleaved: column k of both rows in lanes 2k, 2k + 1.
        const __m128i a01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(load4(p0), load4(p0 + step)), zero);
        const __m128i a23 =
            _mm_unpacklo_epi8(_mm_unpacklo_epi8(load4(p0 + 2 * step), load4(p0 + 3 * step)), zero);
        const __m128i v = _mm_add_epi32(_mm_madd_epi16(a01, _mm_set1_epi32(wy[0])),
                                        _mm_madd_epi16(a23, _mm_set1_epi32(wy[1])));
        return _mm_srai_epi32(v, kMidShift);
    };
    const auto weightsX = [&](std::int64_t px) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs.w[PhaseOf(px)]));
    };
    // Two pixels' columns times their horizontal weight pairs: the partial
    // sums (a01, a23, b01, b23).
    const auto partials = [&](std::int64_t pxA, std::int64_t pyA, std::int64_t pxB,
                              std::int64_t pyB) {
        const __m128i h = _mm_packs_epi32(columns(pxA, pyA), columns(pxB, pyB));
        return _mm_madd_epi16(h, _mm_unpacklo_epi64(weightsX(pxA), weightsX(pxB)));
    };
    fx += first * dfx;
    fy += first * dfy;
    LONG x = first;
    for (; last - x >= 4; x += 4, fx += 4 * dfx, fy += 4 * dfy) {
        const __m128 ab = _mm_castsi128_ps(partials(fx, fy, fx + dfx, fy + dfy));
        const __m128 cd =
            _mm_castsi128_ps(partials(fx + 2 * dfx, fy + 2 * dfy, fx + 3 * dfx, fy + 3 * dfy));
        const __m128i lo = _mm_castps_si128(_mm_shuffle_ps(ab, cd, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i hi = _mm_castps_si128(_mm_shuffle_ps(ab, cd, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i acc =
            _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(lo, hi), round), kFinalShift);
        const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(acc, acc), zero);
        const std::int32_t four = _mm_cvtsi128_si32(packed);
        std::memcpy(dst, &four, 4);
        dst += 4;
    }
    for (; x < last; ++x, fx += dfx, fy += dfy) {
        const __m128i v = columns(fx, fy);
        const __m128i h = _mm_madd_epi16(_mm_packs_epi32(v, v), weightsX(fx));
        *dst++ = FinalToByte(_mm_cvtsi128_si32(_mm_add_epi32(h, _mm_srli_si128(h, 4))));
    }
}
#endif

// The interior sampler of `kernel` (one the processor has).
template <int C>
void SampleInterior(RotateKernel kernel, const Source& src, BYTE* dst, LONG first, LONG last,
                    std::int64_t fx, std::int64_t fy, std::int64_t dfx, std::int64_t dfy) {
#if QV_ROTATE_SSE2
    if constexpr (C == 4) {
#if QV_ROTATE_AVX2
        if (kernel == RotateKernel::Avx2) {
            return SampleInterior4Avx2(src, dst, first, last, fx, fy, dfx, dfy);
        }
#endif
        if (kernel != RotateKernel::Plain) {
            return SampleInterior4Sse2(src, dst, first, last, fx, fy, dfx, dfy);
        }
    } else if constexpr (C == 1) {
        // No wider one-channel kernel: AVX2 runs the SSE2 one.
        if (kernel != RotateKernel::Plain) {
            return SampleInterior1Sse2(src, dst, first, last, fx, fy, dfx, dfy);
        }
    }
#else
    (void)kernel;
#endif
    SampleInteriorPlain<C>(src, dst, first, last, fx, fy, dfx, dfy);
}

// The inverse mapping of one rotation about the picture's centre. Every
// output row: its pixel centres mapped back into the input; where they land
// inside the picture the pixel is interpolated, elsewhere (the corner wedges)
// the input pixel at the same place is kept.
class Rotation {
  public:
    Rotation(const CDib& image, double angle) : m_image(image), m_kernel(ActiveRotateKernel()) {
        const LONG width = image.Width();
        const LONG height = image.Height();
        m_src = Source{image.Bits(), image.Row(0) - image.Bits(), 0, width, height};
        m_src.rowStep = height > 1 ? image.Row(1) - image.Row(0) : 0;
        m_c = std::cos(angle);
        m_s = std::sin(angle);
        m_cx = width / 2.0;
        m_cy = height / 2.0;
        m_dfx = ToFixed(m_c);
        m_dfy = ToFixed(-m_s);
        m_dx0 = 0.5 - m_cx;
        // Covered: the inverse-mapped centre lies in [-0.5, size - 0.5) in
        // pixel index units. Interior: all four taps of both axes inside.
        m_coverHiX = width * kOne - kOne / 2;
        m_coverHiY = height * kOne - kOne / 2;
        m_interiorHiX = (width - 2) * kOne;
        m_interiorHiY = (height - 2) * kOne;
    }

    // Pixels [left, right) of output row y (C samples of type T each) into
    // `out`, which receives pixel `left`.
    template <int C, class T = BYTE>
    void Row(LONG y, LONG left, LONG right, BYTE* out) const {
        constexpr std::size_t kPixel = C * sizeof(T);
        const LONG width = m_src.width;
        const double dy = y + 0.5 - m_cy;
        const std::int64_t fx = ToFixed(m_cx + m_dx0 * m_c + dy * m_s - 0.5);
        const std::int64_t fy = ToFixed(m_cy - m_dx0 * m_s + dy * m_c - 0.5);
        const Span covered = Intersect(SolveSpan(fx, m_dfx, kCoverLo, m_coverHiX, width),
                                       SolveSpan(fy, m_dfy, kCoverLo, m_coverHiY, width));
        // Samplers get positions half a phase ahead, so that truncating to
        // a phase picks the nearest one (position error at most 1/512 pixel).
        const std::int64_t sx = fx + kHalfPhase;
        const std::int64_t sy = fy + kHalfPhase;
        Span interior = Intersect(SolveSpan(sx, m_dfx, kInteriorLo, m_interiorHiX, width),
                                  SolveSpan(sy, m_dfy, kInteriorLo, m_interiorHiY, width));
        interior = Intersect(interior, covered);
        if (interior.first >= interior.last) {
            interior = Span{covered.last, covered.last};
        }

        const BYTE* in = m_image.Row(y);
        const auto part = [&](LONG first, LONG last) {
            first = std::clamp(first, left, right);
            return Span{first, std::clamp(last, first, right)};
        };
        const auto at = [&](LONG x) { return out + kPixel * (x - left); };
        for (const Span kept : {part(0, covered.first), part(covered.last, width)}) {
            std::memcpy(at(kept.first), in + kPixel * kept.first,
                        kPixel * (kept.last - kept.first));
        }
        const Span before = part(covered.first, interior.first);
        const Span inside = part(interior.first, interior.last);
        const Span after = part(interior.last, covered.last);
        if constexpr (sizeof(T) == 1) {
            SampleClamped<C>(m_src, at(before.first), before.first, before.last, sx, sy, m_dfx,
                             m_dfy);
            SampleInterior<C>(m_kernel, m_src, at(inside.first), inside.first, inside.last, sx, sy,
                              m_dfx, m_dfy);
            SampleClamped<C>(m_src, at(after.first), after.first, after.last, sx, sy, m_dfx, m_dfy);
        } else {
            Sample16<C, false>(m_src, at(before.first), before.first, before.last, sx, sy, m_dfx,
                               m_dfy);
            Sample16<C, true>(m_src, at(inside.first), inside.first, inside.last, sx, sy, m_dfx,
                              m_dfy);
            Sample16<C, false>(m_src, at(after.first), after.first, after.last, sx, sy, m_dfx,
                               m_dfy);
        }
    }

  private:
    static std::int64_t ToFixed(double v) { return std::llround(v * kOne); }

    static constexpr std::int64_t kCoverLo = -kOne / 2;
    static constexpr std::int64_t kInteriorLo = kOne;

    const CDib& m_image;
    RotateKernel m_kernel;
    Source m_src{};
    double m_c, m_s, m_cx, m_cy, m_dx0;
    std::int64_t m_dfx, m_dfy;
    std::int64_t m_coverHiX, m_coverHiY, m_interiorHiX, m_interiorHiY;
};

// Rotates `src` (C bytes per pixel) into `dst`, which has the same size and
// pixel format.
template <int C>
HRESULT RotatePixels(CDib& dst, const CDib& src, double angle, const CTerminable* stop) {
    const Rotation rotation(src, angle);
    for (LONG y = 0; y < src.Height(); ++y) {
        if (StopRequested(stop)) {
            return E_ABORT;
        }
        rotation.Row<C>(y, 0, src.Width(), dst.Row(y));
    }
    return S_OK;
}

// A copy of `image` with `bits` per pixel in `holder`, each row made by
// row(input row, output row, width).
template <class RowFn>
HRESULT ConvertRows(DibPtr& holder, const CDib& image, WORD bits, RowFn row) {
    holder = NewDib(image.Width(), image.Height(), bits);
    if (!holder) {
        return kNotEnoughMemory;
    }
    for (LONG y = 0; y < image.Height(); ++y) {
        row(image.Row(y), holder->Row(y), image.Width());
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
    const HRESULT hr = ConvertRows(holder, image, 8, [&lut](const BYTE* s, BYTE* d, LONG width) {
        for (LONG x = 0; x < width; ++x) {
            d[x] = lut[s[x]];
        }
    });
    if (SUCCEEDED(hr)) {
        grey = holder.get();
    }
    return hr;
}

// A 32-bit copy of a 24-bit picture, alpha 255.
HRESULT Expand24(DibPtr& holder, const CDib& image) {
    return ConvertRows(holder, image, 32, [](const BYTE* s, BYTE* d, LONG width) {
        for (LONG x = 0; x < width; ++x) {
            d[4 * x + 0] = s[3 * x + 0];
            d[4 * x + 1] = s[3 * x + 1];
            d[4 * x + 2] = s[3 * x + 2];
            d[4 * x + 3] = 255;
        }
    });
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

// Blue, green and red of `count` 32-bit pixels.
void DropAlphaRow(RotateKernel kernel, const BYTE* in, BYTE* out, LONG count) {
    LONG x = 0;
#if QV_ROTATE_SSE2
    // Four pixels in, twelve bytes out; a 16-byte store runs four bytes
    // ahead, so the last four pixels are left to the plain loop.
    for (; kernel != RotateKernel::Plain && count - x >= 8; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * x));
        // Keep b g r of each pixel and close the gaps: pixel k moves down by k bytes.
        const __m128i p0 = _mm_and_si128(p, _mm_set_epi32(0, 0, 0, 0x00FFFFFF));
        const __m128i p1 = _mm_srli_si128(_mm_and_si128(p, _mm_set_epi32(0, 0, 0x00FFFFFF, 0)), 1);
        const __m128i p2 = _mm_srli_si128(_mm_and_si128(p, _mm_set_epi32(0, 0x00FFFFFF, 0, 0)), 2);
        const __m128i p3 = _mm_srli_si128(_mm_and_si128(p, _mm_set_epi32(0x00FFFFFF, 0, 0, 0)), 3);
        const __m128i packed = _mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(p2, p3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), packed);
    }
#else
    (void)kernel;
#endif
    for (; x < count; ++x) {
        out[3 * x + 0] = in[4 * x + 0];
        out[3 * x + 1] = in[4 * x + 1];
        out[3 * x + 2] = in[4 * x + 2];
    }
}

// One RotateImageRect: `result` (of `outKind`, the size of `rect`) is
// filled from `image` (of `kind`).
struct Cut {
    CDib& result;
    const CDib& image;
    double angle;
    const RECT& rect;
    PixelKind kind;
    PixelKind outKind;
    const CTerminable* stop;
};

// Zeroes the bytes of `row` past the `used` ones (the row padding).
void ClearPadding(const CDib& dib, BYTE* row, std::size_t used) {
    std::memset(row + used, 0, dib.Stride() - used);
}

// Rows of C samples of type T a pixel. Without alpha in `outKind`, each
// row is made in a buffer first (at angle 0 the input row serves as that
// buffer) and its alpha dropped.
template <int C, class T>
HRESULT CutRows(const Cut& cut) {
    constexpr std::size_t kPixel = C * sizeof(T);
    const LONG width = cut.rect.right - cut.rect.left;
    const bool convert = cut.outKind != cut.kind;
    std::unique_ptr<BYTE[]> buffer;
    if (convert && cut.angle != 0.0) {
        buffer.reset(new (std::nothrow) BYTE[kPixel * width]);
        if (!buffer) {
            return kNotEnoughMemory;
        }
    }
    const std::size_t used = (std::size_t{InfoOf(cut.outKind).bitCount} * width + 7) / 8;
    const Rotation rotation(cut.image, cut.angle);
    const RotateKernel kernel = ActiveRotateKernel();
    for (LONG y = 0; y < cut.rect.bottom - cut.rect.top; ++y) {
        if (StopRequested(cut.stop)) {
            return E_ABORT;
        }
        BYTE* row = cut.result.Row(y);
        const BYTE* pixels = cut.image.Row(cut.rect.top + y) + kPixel * cut.rect.left;
        if (!convert) {
            if (cut.angle == 0.0) {
                std::memcpy(row, pixels, kPixel * width);
            } else {
                rotation.Row<C, T>(cut.rect.top + y, cut.rect.left, cut.rect.right, row);
            }
        } else {
            if (cut.angle != 0.0) {
                rotation.Row<C, T>(cut.rect.top + y, cut.rect.left, cut.rect.right, buffer.get());
                pixels = buffer.get();
            }
            if (cut.kind == PixelKind::Bgra32) {
                DropAlphaRow(kernel, pixels, row, width);
            } else {
                ConvertRow(cut.kind, pixels, cut.outKind, row, width);
            }
        }
        ClearPadding(cut.result, row, used);
    }
    return S_OK;
}

// Bits [first, first + count) of a Bitonal row into a row of its own.
void CopyBits(const BYTE* in, std::size_t inBytes, LONG first, LONG count, BYTE* out) {
    const std::size_t from = static_cast<std::size_t>(first) / 8;
    const int shift = first % 8;
    const std::size_t bytes = (static_cast<std::size_t>(count) + 7) / 8;
    for (std::size_t i = 0; i < bytes; ++i) {
        const unsigned hi = in[from + i];
        const unsigned lo = shift != 0 && from + i + 1 < inBytes ? in[from + i + 1] : 0;
        out[i] = static_cast<BYTE>(hi << shift | lo >> (8 - shift));
    }
}

// A Bitonal page: at angle 0 its bits are copied; otherwise it is rotated
// as grey levels 0 and 255 (a grey copy of the whole page) and each output
// pixel is white when its level is at least kBitonalThreshold.
HRESULT CutBitonal(const Cut& cut) {
    const LONG width = cut.rect.right - cut.rect.left;
    const LONG height = cut.rect.bottom - cut.rect.top;
    const std::size_t inBytes = (static_cast<std::size_t>(cut.image.Width()) + 7) / 8;
    DibPtr grey;
    std::unique_ptr<BYTE[]> levels;
    if (cut.angle != 0.0) {
        grey = NewDib(cut.image.Width(), cut.image.Height(), PixelKind::Grey8);
        levels.reset(new (std::nothrow) BYTE[static_cast<std::size_t>(width)]);
        if (!grey || !levels) {
            return kNotEnoughMemory;
        }
        for (LONG y = 0; y < cut.image.Height(); ++y) {
            ConvertRow(PixelKind::Bitonal, cut.image.Row(y), PixelKind::Grey8, grey->Row(y),
                       cut.image.Width());
        }
    }
    const Rotation rotation(grey ? *grey : cut.image, cut.angle);
    for (LONG y = 0; y < height; ++y) {
        if (StopRequested(cut.stop)) {
            return E_ABORT;
        }
        BYTE* row = cut.result.Row(y);
        if (!grey) {
            CopyBits(cut.image.Row(cut.rect.top + y), inBytes, cut.rect.left, width, row);
        } else {
            rotation.Row<1>(cut.rect.top + y, cut.rect.left, cut.rect.right, levels.get());
            std::memset(row, 0, (static_cast<std::size_t>(width) + 7) / 8);
            for (LONG x = 0; x < width; ++x) {
                if (levels[x] >= kBitonalThreshold) {
                    row[x >> 3] |= static_cast<BYTE>(0x80u >> (x & 7));
                }
            }
        }
    }
    ClearRowPadding(cut.result);
    return S_OK;
}

}  // namespace

void ForceRotateKernel(RotateKernel kernel) {
    g_forcedKernel.store(kernel);
}

RotateKernel ActiveRotateKernel() {
    const RotateKernel best = BestKernel();
    const RotateKernel forced = g_forcedKernel.load();
    return forced == RotateKernel::Auto ? best : std::min(forced, best);
}

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

HRESULT RotateImageRect(DibPtr& out, const CDib& image, double angle, const RECT& rect,
                        bool keepAlpha, const CTerminable* stop) {
    const std::optional<PixelKind> kind = KindOf(image);
    if (!kind || !image.IsValid() || image.Width() <= 0 || image.Height() <= 0 ||
        image.Width() > kMaxSide || image.Height() > kMaxSide || !std::isfinite(angle) ||
        rect.left < 0 || rect.top < 0 || rect.right > image.Width() ||
        rect.bottom > image.Height() || rect.left >= rect.right || rect.top >= rect.bottom) {
        return E_INVALIDARG;
    }
    const PixelKind outKind = keepAlpha ? *kind : WithoutAlpha(*kind);
    const DibPtr result =
        NewDib(rect.right - rect.left, rect.bottom - rect.top, outKind, image.Profile());
    if (!result) {
        return kNotEnoughMemory;
    }
    const Cut cut{*result, image, angle, rect, *kind, outKind, stop};
    const HRESULT hr = VisitKind(*kind, [&cut](auto k) {
        constexpr PixelKindInfo info = InfoOf(k());
        if constexpr (k() == PixelKind::Bitonal) {
            return CutBitonal(cut);
        } else {
            using Sample = std::conditional_t<info.sampleBits == 16, std::uint16_t, BYTE>;
            return CutRows<info.channels, Sample>(cut);
        }
    });
    if (FAILED(hr)) {
        return hr;
    }
    out = result;
    return S_OK;
}
