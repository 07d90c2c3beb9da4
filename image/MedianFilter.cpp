#include "image/MedianFilter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "image/PixelKind.h"
#include "image/Resize.h"

namespace {

constexpr LONG kSideDetectionShortSide = 300;

// Fixed-length inner blocks let the compiler vectorise the row kernels
// without runtime trip-count checks, also at -O2.
constexpr std::size_t kBlock = 32;

inline BYTE Min(BYTE a, BYTE b) {
    return a < b ? a : b;
}
inline BYTE Max(BYTE a, BYTE b) {
    return a < b ? b : a;
}
inline BYTE Median3(BYTE a, BYTE b, BYTE c) {
    return Max(Min(a, b), Min(Max(a, b), c));
}

// Sorts every column triple (a[i], b[i], c[i]) into lo[i] <= mid[i] <= hi[i].
// Each block is computed into locals first: the compiler then needs no alias
// checks between the rows read and the rows written.
void SortColumns(const BYTE* a, const BYTE* b, const BYTE* c, BYTE* lo, BYTE* mid, BYTE* hi,
                 std::size_t n) {
    std::size_t i = 0;
    const auto block = [&](std::size_t len) {
        BYTE l[kBlock];
        BYTE m[kBlock];
        BYTE h[kBlock];
        for (std::size_t k = 0; k < len; ++k) {
            const BYTE l1 = Min(a[i + k], b[i + k]);
            const BYTE h1 = Max(a[i + k], b[i + k]);
            const BYTE m1 = Min(h1, c[i + k]);
            h[k] = Max(h1, c[i + k]);
            l[k] = Min(l1, m1);
            m[k] = Max(l1, m1);
        }
        std::memcpy(lo + i, l, len);
        std::memcpy(mid + i, m, len);
        std::memcpy(hi + i, h, len);
    };
    for (; i + kBlock <= n; i += kBlock) {
        block(kBlock);
    }
    if (i < n) {
        block(n - i);
    }
}

// dst[i] = median of the 3 × 3 window over columns i, i + 1, i + 2, for n
// outputs. The median of nine values given as three sorted columns is the
// median of (largest low, median of the middles, smallest high), so each
// sorted column serves three neighbouring windows.
void MedianRow(const BYTE* lo, const BYTE* mid, const BYTE* hi, BYTE* dst, std::size_t n) {
    std::size_t i = 0;
    const auto block = [&](std::size_t len) {
        BYTE d[kBlock];
        for (std::size_t k = 0; k < len; ++k) {
            const std::size_t j = i + k;
            const BYTE maxLo = Max(Max(lo[j], lo[j + 1]), lo[j + 2]);
            const BYTE minHi = Min(Min(hi[j], hi[j + 1]), hi[j + 2]);
            const BYTE medMid = Median3(mid[j], mid[j + 1], mid[j + 2]);
            d[k] = Median3(maxLo, medMid, minHi);
        }
        std::memcpy(dst + i, d, len);
    };
    for (; i + kBlock <= n; i += kBlock) {
        block(kBlock);
    }
    if (i < n) {
        block(n - i);
    }
}

struct Geometry {
    LONG width;
    LONG height;
    std::int64_t n;
    std::int64_t half;
};

// The 3 × 3 interior with sorted columns shared between neighbours.
HRESULT FilterInterior3(const CDib& image, CDib& out, const Geometry& g, std::vector<BYTE>& cols,
                        const CTerminable* stop) {
    const std::size_t w = static_cast<std::size_t>(g.width);
    BYTE* lo = cols.data();
    BYTE* mid = lo + w;
    BYTE* hi = mid + w;
    for (LONG y = 1; y + 1 < g.height; ++y) {
        if (StopRequested(stop)) {
            return E_ABORT;
        }
        if (w < 3) {
            continue;
        }
        SortColumns(image.Row(y - 1), image.Row(y), image.Row(y + 1), lo, mid, hi, w);
        MedianRow(lo, mid, hi, out.Row(y) + 1, w - 2);
    }
    return S_OK;
}

HRESULT FilterInteriorGeneral(const CDib& image, CDib& out, const Geometry& g,
                              std::vector<int>& work, const CTerminable* stop) {
    const std::int64_t n = g.n;
    // The work vector holds n × n values only when a whole window fits.
    const bool hasColumns = g.width - g.half > g.half;
    for (std::int64_t y = g.half; y < g.height - g.half; ++y) {
        if (StopRequested(stop)) {
            return E_ABORT;
        }
        if (!hasColumns) {
            continue;
        }
        int* const first = work.data();
        int* const nth = first + (n * n) / 2;
        int* const last = first + n * n;
        BYTE* dst = out.Row(static_cast<LONG>(y));
        for (std::int64_t x = g.half; x < g.width - g.half; ++x) {
            int* p = first;
            for (std::int64_t r = 0; r < n; ++r) {
                const BYTE* src = image.Row(static_cast<LONG>(y - g.half + r)) + (x - g.half);
                for (std::int64_t c = 0; c < n; ++c) {
                    *p++ = src[c];
                }
            }
            // nth_element leaves the same value at this position as a full sort.
            std::nth_element(first, nth, last);
            dst[x] = static_cast<BYTE>(std::clamp(*nth, 0, 255));
        }
    }
    return S_OK;
}

// A pixel whose window is clipped by the image: element count / 2 of the
// sorted values that lie inside.
void FilterBorderPixel(const CDib& image, CDib& out, const Geometry& g, std::vector<int>& work,
                       std::int64_t x, std::int64_t y) {
    const std::int64_t x0 = std::max<std::int64_t>(0, x - g.half);
    const std::int64_t x1 = std::min<std::int64_t>(g.width, x - g.half + g.n);
    const std::int64_t y0 = std::max<std::int64_t>(0, y - g.half);
    const std::int64_t y1 = std::min<std::int64_t>(g.height, y - g.half + g.n);
    int* p = work.data();
    for (std::int64_t r = y0; r < y1; ++r) {
        const BYTE* src = image.Row(static_cast<LONG>(r));
        for (std::int64_t c = x0; c < x1; ++c) {
            *p++ = src[c];
        }
    }
    const std::size_t count = static_cast<std::size_t>(p - work.data());
    std::sort(work.data(), p);
    out.Row(static_cast<LONG>(y))[x] = static_cast<BYTE>(std::clamp(work[count / 2], 0, 255));
}

// Every pixel outside the interior, each computed once (the side bands
// overlap at the corners with the same result there).
void FilterBorders(const CDib& image, CDib& out, const Geometry& g, std::vector<int>& work) {
    const std::int64_t leftEnd = std::min<std::int64_t>(g.half, g.width);
    const std::int64_t rightBegin = std::max<std::int64_t>(leftEnd, g.width - g.half);
    for (std::int64_t y = 0; y < g.height; ++y) {
        if (y < g.half || y >= g.height - g.half) {
            for (std::int64_t x = 0; x < g.width; ++x) {
                FilterBorderPixel(image, out, g, work, x, y);
            }
            continue;
        }
        for (std::int64_t x = 0; x < leftEnd; ++x) {
            FilterBorderPixel(image, out, g, work, x, y);
        }
        for (std::int64_t x = rightBegin; x < g.width; ++x) {
            FilterBorderPixel(image, out, g, work, x, y);
        }
    }
}

}  // namespace

HRESULT MedianFilter(DibPtr& out, const CDib& image, int n, const CTerminable* stop) {
    const BITMAPINFOHEADER* header = image.Header();
    if (!image.IsValid() || header->biBitCount != 8 || header->biCompression != BI_RGB ||
        image.Width() < 0) {
        return E_INVALIDARG;
    }
    if (n < 1) {
        return E_INVALIDARG;
    }
    const Geometry g{image.Width(), image.Height(), n, n / 2};

    const DibPtr result = NewDib(g.width, g.height, 8);
    if (!result) {
        out.reset();
        return E_OUTOFMEMORY;
    }
    ClearRowPadding(*result);

    // Room for the largest window that fits the image; interior windows
    // exist only when the whole n × n window fits.
    const std::size_t windowCols = static_cast<std::size_t>(std::min<std::int64_t>(n, g.width));
    const std::size_t windowRows = static_cast<std::size_t>(std::min<std::int64_t>(n, g.height));
    std::vector<int> work;
    std::vector<BYTE> cols;
    try {
        work.resize(std::max<std::size_t>(1, windowCols * windowRows));
        if (n == 3) {
            cols.resize(3 * static_cast<std::size_t>(g.width));
        }
    } catch (const std::bad_alloc&) {
        out.reset();
        return E_OUTOFMEMORY;
    }

    const HRESULT hr = n == 3 ? FilterInterior3(image, *result, g, cols, stop)
                              : FilterInteriorGeneral(image, *result, g, work, stop);
    if (FAILED(hr)) {
        out.reset();
        return hr;
    }
    FilterBorders(image, *result, g, work);
    out = result;
    return S_OK;
}

HRESULT ShrinkForSideDetection(DibPtr& out, const CDib& image) {
    if (image.Header() == nullptr) {
        return E_INVALIDARG;
    }
    const std::int64_t w = image.Width();
    const std::int64_t h = image.Height();
    if (w <= 0 || h <= 0) {
        return E_INVALIDARG;
    }
    std::int64_t targetWidth = kSideDetectionShortSide;
    std::int64_t targetHeight = kSideDetectionShortSide;
    if (w < h) {
        targetHeight = h * kSideDetectionShortSide / w;
    } else {
        targetWidth = w * kSideDetectionShortSide / h;
    }
    constexpr std::int64_t kMax = std::numeric_limits<LONG>::max();
    if (targetWidth > kMax || targetHeight > kMax) {
        return E_INVALIDARG;
    }
    const RECT dst{0, 0, static_cast<LONG>(targetWidth), static_cast<LONG>(targetHeight)};
    const RECT src{0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    return Resize(out, dst, image, src);
}
