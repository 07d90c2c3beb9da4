#include "image/Resize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr HRESULT kCannotCreate = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

// Fixed-length inner blocks let the compiler vectorise the row kernels
// without runtime trip-count checks, also at -O2.
constexpr std::size_t kBlock = 32;

// Resampling weights along one axis. Output index o in [outBegin, outEnd)
// reads the source samples start[i] .. start[i] + count[i] − 1 (relative to
// the source rectangle) with the weights at offset[i], i = o − outBegin.
struct AxisTaps {
    std::int64_t outBegin = 0;
    std::int64_t outEnd = 0;
    std::vector<std::int64_t> start;
    std::vector<std::size_t> count;
    std::vector<std::size_t> offset;
    std::vector<float> weights;
};

// Keys' cubic convolution kernel with a = −0.5.
double Cubic(double t) {
    t = std::abs(t);
    if (t < 1.0) {
        return (1.5 * t - 2.5) * t * t + 1.0;
    }
    if (t < 2.0) {
        return ((-0.5 * t + 2.5) * t - 4.0) * t + 2.0;
    }
    return 0.0;
}

void BuildAxis(AxisTaps& taps, std::int64_t srcLen, std::int64_t dstLen, std::int64_t dstOffset,
               std::int64_t outLen) {
    taps.outBegin = std::max<std::int64_t>(0, dstOffset);
    taps.outEnd = std::min(outLen, dstOffset + dstLen);
    if (taps.outEnd <= taps.outBegin) {
        taps.outEnd = taps.outBegin;
        return;
    }
    const std::size_t outputs = static_cast<std::size_t>(taps.outEnd - taps.outBegin);
    taps.start.reserve(outputs);
    taps.count.reserve(outputs);
    taps.offset.reserve(outputs);

    const double scale = static_cast<double>(srcLen) / static_cast<double>(dstLen);
    const bool shrink = dstLen <= srcLen;
    std::vector<double> w;
    for (std::int64_t o = taps.outBegin; o < taps.outEnd; ++o) {
        const double u = static_cast<double>(o - dstOffset);
        std::int64_t first = 0;
        w.clear();
        if (shrink) {
            const double a = u * scale;
            const double b = std::min((u + 1.0) * scale, static_cast<double>(srcLen));
            first = static_cast<std::int64_t>(std::floor(a));
            const std::int64_t last = static_cast<std::int64_t>(std::ceil(b)) - 1;
            for (std::int64_t j = first; j <= last; ++j) {
                const double jd = static_cast<double>(j);
                w.push_back(std::min(b, jd + 1.0) - std::max(a, jd));
            }
        } else {
            const double x = (u + 0.5) * scale - 0.5;
            const std::int64_t i0 = static_cast<std::int64_t>(std::floor(x));
            const auto clampIndex = [srcLen](std::int64_t j) {
                return std::clamp<std::int64_t>(j, 0, srcLen - 1);
            };
            first = clampIndex(i0 - 1);
            w.assign(static_cast<std::size_t>(clampIndex(i0 + 2) - first + 1), 0.0);
            for (std::int64_t k = -1; k <= 2; ++k) {
                w[static_cast<std::size_t>(clampIndex(i0 + k) - first)] +=
                    Cubic(x - static_cast<double>(i0 + k));
            }
        }
        // Rounding in the box ends can leave empty taps; they only cost time.
        std::size_t lo = 0;
        std::size_t hi = w.size();
        while (hi - lo > 1 && std::abs(w[lo]) < 1e-12) {
            ++lo;
        }
        while (hi - lo > 1 && std::abs(w[hi - 1]) < 1e-12) {
            --hi;
        }
        double sum = 0.0;
        for (std::size_t k = lo; k < hi; ++k) {
            sum += w[k];
        }
        taps.start.push_back(first + static_cast<std::int64_t>(lo));
        taps.count.push_back(hi - lo);
        taps.offset.push_back(taps.weights.size());
        for (std::size_t k = lo; k < hi; ++k) {
            taps.weights.push_back(static_cast<float>(w[k] / sum));
        }
    }
}

// --- source rows ---------------------------------------------------------

enum class SourceKind {
    Direct,       // 8 bits with the identity grey ramp, 24 or 32 bits
    GreyTable,    // other grey tables: one grey byte per pixel
    ColourTable,  // colour tables: blue, green, red per pixel
    Unsupported,
};

// Hands out the pixels of srcRect row by row as `channels` bytes per pixel.
class SourceRows {
  public:
    SourceRows(const CDib& dib, std::int64_t left, std::int64_t width)
        : m_dib(dib), m_left(left), m_width(width) {
        const BITMAPINFOHEADER* h = dib.Header();
        const WORD bits = h->biBitCount;
        m_kind = SourceKind::Unsupported;
        if (h->biCompression != BI_RGB) {
            return;
        }
        if (bits == 32 || bits == 24) {
            m_kind = SourceKind::Direct;
            m_channels = bits / 8;
            return;
        }
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8) {
            return;
        }
        const DWORD entries = std::min<DWORD>(CDib::ColorTableEntries(h), DWORD{1} << bits);
        const RGBQUAD* table = dib.ColorTable();
        m_table.fill(RGBQUAD{0, 0, 0, 0});
        std::copy(table, table + entries, m_table.begin());
        m_bits = bits;
        if (CDib::IsGreyPalette(h)) {
            m_channels = 1;
            bool identity = bits == 8 && entries == 256;
            for (DWORD i = 0; identity && i < 256; ++i) {
                identity = m_table[i].rgbGreen == i;
            }
            m_kind = identity ? SourceKind::Direct : SourceKind::GreyTable;
        } else {
            m_channels = 3;
            m_kind = SourceKind::ColourTable;
        }
    }

    SourceKind Kind() const { return m_kind; }
    int Channels() const { return m_channels; }
    bool Grey() const { return m_channels == 1; }

    void Prepare() {
        if (m_kind != SourceKind::Direct) {
            m_scratch.resize(static_cast<std::size_t>(m_width) * m_channels);
        }
    }

    // Row y of the image (0 = top), starting at the rectangle's left edge.
    const BYTE* Fetch(std::int64_t y) {
        const BYTE* row = m_dib.Row(static_cast<LONG>(y));
        if (m_kind == SourceKind::Direct) {
            return row + static_cast<std::size_t>(m_left) * (m_dib.BitCount() / 8);
        }
        const unsigned mask = (1u << m_bits) - 1;
        BYTE* dst = m_scratch.data();
        for (std::int64_t i = 0; i < m_width; ++i) {
            const std::size_t bit = static_cast<std::size_t>(m_left + i) * m_bits;
            const unsigned index = (row[bit / 8] >> (8 - m_bits - bit % 8)) & mask;
            const RGBQUAD e = m_table[index];
            if (m_kind == SourceKind::GreyTable) {
                *dst++ = e.rgbGreen;
            } else {
                *dst++ = e.rgbBlue;
                *dst++ = e.rgbGreen;
                *dst++ = e.rgbRed;
            }
        }
        return m_scratch.data();
    }

  private:
    const CDib& m_dib;
    std::int64_t m_left;
    std::int64_t m_width;
    SourceKind m_kind = SourceKind::Unsupported;
    int m_channels = 4;
    unsigned m_bits = 8;
    // Indices beyond the stored table read black.
    std::array<RGBQUAD, 256> m_table{};
    std::vector<BYTE> m_scratch;
};

// --- kernels -------------------------------------------------------------

void SetWeightedRow(float* __restrict acc, const BYTE* __restrict row, std::size_t n, float w) {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t k = 0; k < kBlock; ++k) {
            acc[i + k] = w * static_cast<float>(row[i + k]);
        }
    }
    for (; i < n; ++i) {
        acc[i] = w * static_cast<float>(row[i]);
    }
}

void AddWeightedRow(float* __restrict acc, const BYTE* __restrict row, std::size_t n, float w) {
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        for (std::size_t k = 0; k < kBlock; ++k) {
            acc[i + k] += w * static_cast<float>(row[i + k]);
        }
    }
    for (; i < n; ++i) {
        acc[i] += w * static_cast<float>(row[i]);
    }
}

inline BYTE ToByte(float v) {
    return static_cast<BYTE>(std::min(std::max(v + 0.5f, 0.0f), 255.0f));
}

// Resamples one vertically combined row (C interleaved channels per source
// pixel) along x into dst, which has OutBytes bytes per pixel.
template <int C, int OutBytes>
void HorizontalPass(const float* acc, const AxisTaps& taps, BYTE* dst) {
    for (std::int64_t o = taps.outBegin; o < taps.outEnd; ++o) {
        const std::size_t i = static_cast<std::size_t>(o - taps.outBegin);
        const float* a = acc + static_cast<std::size_t>(taps.start[i]) * C;
        const float* w = taps.weights.data() + taps.offset[i];
        const std::size_t count = taps.count[i];
        float s[C] = {};
        for (std::size_t t = 0; t < count; ++t) {
            for (int c = 0; c < C; ++c) {
                s[c] += a[t * C + c] * w[t];
            }
        }
        BYTE* d = dst + static_cast<std::size_t>(o) * OutBytes;
        for (int c = 0; c < C; ++c) {
            d[c] = ToByte(s[c]);
        }
        if constexpr (OutBytes > C) {
            d[C] = 255;
        }
    }
}

bool CreateOutput(CDib& result, const CDib& source, bool grey, LONG width, LONG height) {
    if (grey) {
        return result.Create(width, height, 8, 0, BI_RGB) && result.AllocateBits();
    }
    // The source's header block, so that its header size and colour profile
    // carry over; CreateLike drops the colour table and the resolution.
    const BITMAPINFOHEADER* h = source.Header();
    std::vector<BYTE> block(CDib::GetHeaderBlockSize(h));
    std::memcpy(block.data(), h, block.size());
    auto* copy = reinterpret_cast<BITMAPINFOHEADER*>(block.data());
    copy->biWidth = width;
    copy->biHeight = height;
    copy->biBitCount = 32;
    copy->biCompression = BI_RGB;
    copy->biSizeImage = 0;
    return result.CreateLike(copy) && result.AllocateBits();
}

void Draw(CDib& result, const RECT& dstRect, const RECT& srcRect, SourceRows& rows) {
    const std::int64_t srcW = std::int64_t{srcRect.right} - srcRect.left;
    const std::int64_t srcH = std::int64_t{srcRect.bottom} - srcRect.top;
    const std::int64_t dstW = std::int64_t{dstRect.right} - dstRect.left;
    const std::int64_t dstH = std::int64_t{dstRect.bottom} - dstRect.top;
    AxisTaps xTaps;
    AxisTaps yTaps;
    BuildAxis(xTaps, srcW, dstW, dstRect.left, result.Width());
    BuildAxis(yTaps, srcH, dstH, dstRect.top, result.Height());
    rows.Prepare();
    const int channels = rows.Channels();
    const std::size_t n = static_cast<std::size_t>(srcW) * channels;
    std::vector<float> acc(n);

    for (std::int64_t oy = yTaps.outBegin; oy < yTaps.outEnd; ++oy) {
        const std::size_t i = static_cast<std::size_t>(oy - yTaps.outBegin);
        const std::int64_t first = srcRect.top + yTaps.start[i];
        const float* w = yTaps.weights.data() + yTaps.offset[i];
        SetWeightedRow(acc.data(), rows.Fetch(first), n, w[0]);
        for (std::size_t t = 1; t < yTaps.count[i]; ++t) {
            AddWeightedRow(acc.data(), rows.Fetch(first + static_cast<std::int64_t>(t)), n, w[t]);
        }
        BYTE* dst = result.Row(static_cast<LONG>(oy));
        switch (channels) {
            case 1:
                HorizontalPass<1, 1>(acc.data(), xTaps, dst);
                break;
            case 3:
                HorizontalPass<3, 4>(acc.data(), xTaps, dst);
                break;
            default:
                HorizontalPass<4, 4>(acc.data(), xTaps, dst);
                break;
        }
    }
}

}  // namespace

HRESULT Resize(DibPtr& out, const RECT& dstRect, const CDib& dib, const RECT& srcRect) {
    if (CDib::GetHeaderBlockSize(dib.Header()) == 0 || dib.Bits() == nullptr || dib.Width() < 0) {
        return E_INVALIDARG;
    }
    if (dstRect.right <= dstRect.left || dstRect.bottom <= dstRect.top ||
        srcRect.right <= srcRect.left || srcRect.bottom <= srcRect.top) {
        return E_INVALIDARG;
    }
    if (srcRect.left < 0 || srcRect.top < 0 || srcRect.right > dib.Width() ||
        srcRect.bottom > dib.Height()) {
        return E_INVALIDARG;
    }
    const std::int64_t dstW = std::int64_t{dstRect.right} - dstRect.left;
    const std::int64_t dstH = std::int64_t{dstRect.bottom} - dstRect.top;
    constexpr std::int64_t kMax = std::numeric_limits<LONG>::max();
    if (dstW > kMax || dstH > kMax) {
        return kCannotCreate;
    }

    try {
        SourceRows rows(dib, srcRect.left, std::int64_t{srcRect.right} - srcRect.left);
        if (rows.Kind() == SourceKind::Unsupported) {
            return E_NOTIMPL;
        }
        DibPtr result(new (std::nothrow) CDib);
        if (!result || !CreateOutput(*result, dib, rows.Grey(), static_cast<LONG>(dstW),
                                     static_cast<LONG>(dstH))) {
            return kCannotCreate;
        }
        result->ClearBits();
        Draw(*result, dstRect, srcRect, rows);
        out = result;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return kCannotCreate;
    } catch (const std::length_error&) {
        return kCannotCreate;
    }
}
