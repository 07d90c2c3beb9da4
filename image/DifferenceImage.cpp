#include "image/DifferenceImage.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

using RowKernel = void (*)(BYTE* dst, const BYTE* a, const BYTE* b, LONG width);

// Measures 0-3: the square root of a sum of squared differences over the
// channels whose weight is 1 (byte order blue, green, red).
template <int WeightBlue, int WeightGreen, int WeightRed>
void SquaredDistanceRow(BYTE* dst, const BYTE* a, const BYTE* b, LONG width) {
    for (LONG x = 0; x < width; ++x) {
        const std::int32_t dB = std::int32_t{a[4 * x + 0]} - b[4 * x + 0];
        const std::int32_t dG = std::int32_t{a[4 * x + 1]} - b[4 * x + 1];
        const std::int32_t dR = std::int32_t{a[4 * x + 2]} - b[4 * x + 2];
        dst[x] = GreyFromSquaredDistance(WeightBlue * dB * dB + WeightGreen * dG * dG +
                                         WeightRed * dR * dR);
    }
}

// Measures 4-6: sqrt(d²) is |d|, which never exceeds 255.
template <int Channel>
void AbsoluteDifferenceRow(BYTE* dst, const BYTE* a, const BYTE* b, LONG width) {
    for (LONG x = 0; x < width; ++x) {
        dst[x] = static_cast<BYTE>(std::abs(std::int32_t{a[4 * x + Channel]} - b[4 * x + Channel]));
    }
}

RowKernel KernelFor(int measure) {
    switch (measure) {
        case MeasureRgb:
            return SquaredDistanceRow<1, 1, 1>;
        case MeasureRg:
            return SquaredDistanceRow<0, 1, 1>;
        case MeasureGb:
            return SquaredDistanceRow<1, 1, 0>;
        case MeasureBr:
            return SquaredDistanceRow<1, 0, 1>;
        case MeasureRed:
            return AbsoluteDifferenceRow<2>;
        case MeasureGreen:
            return AbsoluteDifferenceRow<1>;
        case MeasureBlue:
            return AbsoluteDifferenceRow<0>;
        default:
            return nullptr;
    }
}

bool IsPixelImage32(const CDib& image) {
    return image.IsValid() && image.BitCount() == 32;
}

}  // namespace

HRESULT ComputeDifferenceImage(DibPtr& out, const CDib& image, const CDib& emptyImage, int measure,
                               const CTerminable* stop) {
    const RowKernel kernel = KernelFor(measure);
    // Both inputs are read four bytes per pixel; anything else would read
    // past the rows.
    if (kernel == nullptr || !IsPixelImage32(image) || !IsPixelImage32(emptyImage)) {
        return E_INVALIDARG;
    }
    const LONG width = std::min(image.Width(), emptyImage.Width());
    const LONG height = std::min(image.Height(), emptyImage.Height());
    if (width <= 0 || height <= 0) {
        return E_INVALIDARG;
    }

    out = NewDib(width, height, 8);
    if (!out) {
        return E_OUTOFMEMORY;
    }
    const std::size_t padding = out->Stride() - static_cast<std::size_t>(width);
    for (LONG y = 0; y < height; ++y) {
        if (StopRequested(stop)) {
            out.reset();
            return E_ABORT;
        }
        BYTE* dst = out->Row(y);
        kernel(dst, image.Row(y), emptyImage.Row(y), width);
        // Keeps saved files and whole-buffer comparisons deterministic.
        std::memset(dst + width, 0, padding);
    }
    return S_OK;
}
