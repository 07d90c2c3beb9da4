#include "image/BackgroundModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

bool IsPixelImage32(const CDib& image) {
    return image.IsValid() && image.BitCount() == 32;
}

bool RectInside(const RECT& r, LONG width, LONG height) {
    return 0 <= r.left && r.left <= r.right && r.right <= width && 0 <= r.top &&
           r.top <= r.bottom && r.bottom <= height;
}

LONG BandOf(LONG length, double ratio) {
    const double band = std::trunc(static_cast<double>(length) * ratio);
    // Written so that NaN also ends up as 1.
    if (!(band >= 1.0)) {
        return 1;
    }
    if (band >= static_cast<double>(std::numeric_limits<LONG>::max())) {
        return std::numeric_limits<LONG>::max();
    }
    return static_cast<LONG>(band);
}

}  // namespace

SIZE BorderBandOf(SIZE imageSize, double ratio) {
    return SIZE{BandOf(imageSize.cx, ratio), BandOf(imageSize.cy, ratio)};
}

bool SideBandRect(RECT& rect, Side side, SIZE imageSize, SIZE band) {
    const LONG w = imageSize.cx;
    const LONG h = imageSize.cy;
    switch (side) {
        case 0:
            rect = RECT{0, 0, band.cx, h};
            return true;
        case 1:
            rect = RECT{0, 0, w, band.cy};
            return true;
        case 2:
            rect = RECT{w - band.cx, 0, w, h};
            return true;
        case 3:
            rect = RECT{0, h - band.cy, w, h};
            return true;
        default:
            return false;
    }
}

namespace {

// Adds the blue, green and red bytes of a rectangle inside a 32-bit image
// to `sum`. Byte sums are integers far below 2^53, so summing them exactly in
// integers equals summing them pixel by pixel in doubles.
void AddColourSums(const CDib& image, const RECT& r, std::uint64_t (&sum)[3]) {
    for (LONG y = r.top; y < r.bottom; ++y) {
        const BYTE* p = image.Row(y) + std::size_t{4} * r.left;
        for (LONG x = r.left; x < r.right; ++x, p += 4) {
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
        }
    }
}

// Mean blue, green and red of a rectangle inside a 32-bit image.
std::array<double, 3> MeanColour(const CDib& image, const RECT& r) {
    std::uint64_t sum[3] = {0, 0, 0};
    AddColourSums(image, r, sum);
    const double n = static_cast<double>(r.right - r.left) * static_cast<double>(r.bottom - r.top);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

double Median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

HRESULT SelectLidSamples(std::vector<RECT>& pieces, const CDib& image,
                         const std::vector<RECT>& rects) {
    constexpr LONG kPieces = 16;
    constexpr double kLeastSpread = 8.0;
    constexpr double kSpreadFactor = 4.0;
    if (!IsPixelImage32(image)) {
        return E_INVALIDARG;
    }
    std::vector<RECT> cut;
    for (const RECT& r : rects) {
        if (!RectInside(r, image.Width(), image.Height())) {
            return E_INVALIDARG;
        }
        const bool across = r.right - r.left >= r.bottom - r.top;
        const LONG from = across ? r.left : r.top;
        const LONG length = across ? r.right - r.left : r.bottom - r.top;
        for (LONG i = 0; i < kPieces; ++i) {
            const LONG a = from + length * i / kPieces;
            const LONG b = from + length * (i + 1) / kPieces;
            if (b > a && r.right > r.left && r.bottom > r.top) {
                cut.push_back(across ? RECT{a, r.top, b, r.bottom} : RECT{r.left, a, r.right, b});
            }
        }
    }
    if (cut.empty()) {
        return E_INVALIDARG;
    }
    std::vector<std::array<double, 3>> means;
    for (const RECT& r : cut) {
        means.push_back(MeanColour(image, r));
    }
    const auto distance = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        const double d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
        return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
    };
    // The densest colour: the piece with the most pieces near it (the first
    // on ties), and the channel-wise median of those neighbours.
    std::size_t densest = 0;
    std::size_t most = 0;
    for (std::size_t i = 0; i < means.size(); ++i) {
        std::size_t near = 0;
        for (const auto& m : means) {
            near += distance(means[i], m) <= kLeastSpread ? 1 : 0;
        }
        if (near > most) {
            most = near;
            densest = i;
        }
    }
    std::array<double, 3> centre{};
    for (std::size_t c = 0; c < 3; ++c) {
        std::vector<double> channel;
        for (const auto& m : means) {
            if (distance(means[densest], m) <= kLeastSpread) {
                channel.push_back(m[c]);
            }
        }
        centre[c] = Median(std::move(channel));
    }
    std::vector<double> distances;
    for (const auto& m : means) {
        distances.push_back(distance(m, centre));
    }
    std::vector<double> sorted = distances;
    std::sort(sorted.begin(), sorted.end());
    const double limit = std::max(kLeastSpread, kSpreadFactor * sorted[sorted.size() / 4]);
    std::vector<RECT> kept;
    for (std::size_t i = 0; i < cut.size(); ++i) {
        if (distances[i] <= limit) {
            kept.push_back(cut[i]);
        }
    }
    pieces = std::move(kept);
    return S_OK;
}

HRESULT ComputeBackgroundStatistics(std::vector<double>& mean, std::vector<double>& covariance,
                                    const CDib& image, const std::vector<RECT>& rects) {
    if (!IsPixelImage32(image)) {
        return E_INVALIDARG;
    }
    // Unchecked rectangles would read outside the pixel block, and without a
    // single sample the mean is 0 / 0.
    double n = 0.0;
    for (const RECT& r : rects) {
        if (!RectInside(r, image.Width(), image.Height())) {
            return E_INVALIDARG;
        }
        n += static_cast<double>(r.right - r.left) * static_cast<double>(r.bottom - r.top);
    }
    if (n == 0.0) {
        return E_INVALIDARG;
    }

    std::uint64_t sum[3] = {0, 0, 0};
    for (const RECT& r : rects) {
        AddColourSums(image, r, sum);
    }
    const double m[3] = {static_cast<double>(sum[0]) / n, static_cast<double>(sum[1]) / n,
                         static_cast<double>(sum[2]) / n};

    // The products are not integers: accumulate them in the fixed order
    // rectangle, row, pixel so that results are reproducible.
    double c00 = 0.0, c01 = 0.0, c02 = 0.0, c11 = 0.0, c12 = 0.0, c22 = 0.0;
    for (const RECT& r : rects) {
        for (LONG y = r.top; y < r.bottom; ++y) {
            const BYTE* p = image.Row(y) + std::size_t{4} * r.left;
            for (LONG x = r.left; x < r.right; ++x, p += 4) {
                const double d0 = p[0] - m[0];
                const double d1 = p[1] - m[1];
                const double d2 = p[2] - m[2];
                c00 += d0 * d0;
                c01 += d1 * d0;
                c02 += d2 * d0;
                c11 += d1 * d1;
                c12 += d2 * d1;
                c22 += d2 * d2;
            }
        }
    }
    mean.assign(m, m + 3);
    covariance = {c00 / n, c01 / n, c02 / n, c01 / n, c11 / n, c12 / n, c02 / n, c12 / n, c22 / n};
    return S_OK;
}

HRESULT InvertMatrix3(std::vector<double>& inverse, const std::vector<double>& matrix) {
    if (matrix.size() != 9) {
        return E_INVALIDARG;
    }
    const double a = matrix[0], b = matrix[1], c = matrix[2];
    const double d = matrix[4], e = matrix[5], f = matrix[8];
    const double det = a * d * f + 2 * b * c * e - b * b * f - a * e * e - d * c * c;
    if (std::fabs(det) < 0.00001) {
        return S_FALSE;
    }
    const double i00 = (d * f - e * e) / det;
    const double i01 = (c * e - b * f) / det;
    const double i02 = (b * e - c * d) / det;
    const double i11 = (a * f - c * c) / det;
    const double i12 = (b * c - a * e) / det;
    const double i22 = (a * d - b * b) / det;
    inverse = {i00, i01, i02, i01, i11, i12, i02, i12, i22};
    return S_OK;
}

std::vector<double> SingularCovarianceFallback(const std::vector<double>& covariance) {
    std::vector<double> fallback(covariance.size());
    for (std::size_t i = 0; i < covariance.size(); ++i) {
        fallback[i] = 1.0 / covariance[i];
    }
    return fallback;
}

HRESULT ComputeDistanceImage(DibPtr& out, const CDib& image, const std::vector<double>& mean,
                             const std::vector<double>& inverse, const CTerminable* stop) {
    if (!IsPixelImage32(image) || mean.size() != 3 || inverse.size() != 9) {
        return E_INVALIDARG;
    }
    const LONG width = image.Width();
    const LONG height = image.Height();
    out = NewDib(width, height, 8);
    if (!out) {
        return E_OUTOFMEMORY;
    }

    // Left-to-right evaluation computes 2·M[r][c] first, so hoisting these
    // products changes no bit of q.
    const double m0 = mean[0], m1 = mean[1], m2 = mean[2];
    const double k00 = inverse[0], k11 = inverse[4], k22 = inverse[8];
    const double k10 = 2 * inverse[3], k20 = 2 * inverse[6], k21 = 2 * inverse[7];
    const std::size_t padding = out->Stride() - static_cast<std::size_t>(width);

    for (LONG y = 0; y < height; ++y) {
        if (StopRequested(stop)) {
            out.reset();
            return E_ABORT;
        }
        const BYTE* src = image.Row(y);
        BYTE* dst = out->Row(y);
        for (LONG x = 0; x < width; ++x) {
            const double d0 = src[4 * x + 0] - m0;
            const double d1 = src[4 * x + 1] - m1;
            const double d2 = src[4 * x + 2] - m2;
            const double q = k00 * d0 * d0 + k10 * d0 * d1 + k20 * d0 * d2 + k11 * d1 * d1 +
                             k21 * d1 * d2 + k22 * d2 * d2;
            // The second test is false for NaN, which stores 0.
            const double upper = q > 255.0 ? 255.0 : q;
            const double clamped = upper >= 0.0 ? upper : 0.0;
            dst[x] = static_cast<BYTE>(static_cast<std::int32_t>(clamped));
        }
        std::memset(dst + width, 0, padding);
    }
    return S_OK;
}
