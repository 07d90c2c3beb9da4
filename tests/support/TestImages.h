// Helpers shared by the libraries' tests: images made in memory, a stop
// request after a number of questions.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "image/Dib.h"
#include "image/PixelKind.h"
#include "image/Terminable.h"

// A new image with its pixels (and row padding) zero; 8 bits with the grey
// table unless colorsUsed says otherwise.
inline DibPtr BlankImage(LONG width, LONG height, WORD bits, DWORD colorsUsed = 0,
                         DWORD compression = BI_RGB) {
    DibPtr dib(new CDib);
    if (!dib->Create(width, height, bits, colorsUsed, compression) || !dib->AllocateBits()) {
        throw std::runtime_error("cannot create test image");
    }
    dib->ClearBits();
    return dib;
}

// The same with random pixel bytes (padding stays zero), repeatable by seed.
inline DibPtr RandomImage(LONG width, LONG height, WORD bits, unsigned seed) {
    DibPtr dib = BlankImage(width, height, bits);
    std::mt19937 rng(seed);
    const std::size_t rowBytes = std::size_t{bits} / 8 * width;
    for (LONG y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < rowBytes; ++x) {
            dib->Row(y)[x] = static_cast<BYTE>(rng() & 255);
        }
    }
    return dib;
}

// An image of `kind` with random samples (for Bitonal random bits), an
// embedded `profile` when one is given, row padding zero; repeatable by
// seed.
inline DibPtr RandomKindImage(LONG width, LONG height, PixelKind kind, unsigned seed,
                              std::span<const BYTE> profile = {}) {
    const DibPtr dib = NewDib(width, height, kind, profile);
    if (!dib) {
        throw std::runtime_error("cannot create test image");
    }
    std::mt19937 rng(seed);
    const std::size_t rowBytes = (std::size_t{InfoOf(kind).bitCount} * width + 7) / 8;
    for (LONG y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < rowBytes; ++x) {
            dib->Row(y)[x] = static_cast<BYTE>(rng() & 255);
        }
    }
    ClearRowPadding(*dib);
    return dib;
}

// An 8-bit grey or a 32-bit image whose pixel (x, y), row 0 at the top, is
// value(x, y): the grey level, or blue | green << 8 | red << 16 | alpha << 24.
template <class Value>
DibPtr PaintedImage(LONG width, LONG height, WORD bits, Value value) {
    DibPtr dib = BlankImage(width, height, bits);
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const auto v = static_cast<std::uint32_t>(value(x, y));
            for (int c = 0; c < bits / 8; ++c) {
                dib->Row(y)[bits / 8 * x + c] = static_cast<BYTE>(v >> (8 * c));
            }
        }
    }
    return dib;
}

// The pixels of an 8-bit image, top row first.
inline std::vector<BYTE> GreyPixels(const CDib& dib) {
    std::vector<BYTE> v;
    for (LONG y = 0; y < dib.Height(); ++y) {
        v.insert(v.end(), dib.Row(y), dib.Row(y) + dib.Width());
    }
    return v;
}

// Same header block and same pixel bytes.
inline bool SameImage(const CDib& a, const CDib& b) {
    const std::size_t header = CDib::GetHeaderBlockSize(a.Header());
    return header == CDib::GetHeaderBlockSize(b.Header()) &&
           std::memcmp(a.Header(), b.Header(), header) == 0 &&
           a.GetImageSize() == b.GetImageSize() &&
           std::memcmp(a.Bits(), b.Bits(), a.GetImageSize()) == 0;
}

// A small ICC profile of the colour space `space` ("GRAY", "RGB "): the
// header, a tag table of one tag and `dataBytes` bytes of that tag, as
// libpng's checks of a profile want it.
inline std::vector<BYTE> IccProfile(const char* space, std::size_t dataBytes) {
    const auto put32 = [](std::vector<BYTE>& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<BYTE>(v >> shift));
        }
    };
    const std::size_t padded = (dataBytes + 3) / 4 * 4;
    std::vector<BYTE> p;
    put32(p, static_cast<std::uint32_t>(128 + 4 + 12 + padded));
    put32(p, 0);
    put32(p, 0x04300000);  // version 4.3
    p.insert(p.end(), {'m', 'n', 't', 'r'});
    p.insert(p.end(), space, space + 4);
    p.insert(p.end(), {'X', 'Y', 'Z', ' '});
    p.resize(36, 0);
    p.insert(p.end(), {'a', 'c', 's', 'p'});
    p.resize(68, 0);
    for (const std::uint32_t v : {0x0000F6D6u, 0x00010000u, 0x0000D32Du}) {  // D50
        put32(p, v);
    }
    p.resize(128, 0);
    put32(p, 1);  // one tag: a description
    p.insert(p.end(), {'d', 'e', 's', 'c'});
    put32(p, 128 + 4 + 12);
    put32(p, static_cast<std::uint32_t>(dataBytes));
    for (std::size_t i = 0; i < padded; ++i) {
        p.push_back(static_cast<BYTE>(i < dataBytes ? 'a' + i % 26 : 0));
    }
    return p;
}

// Answers "go on" to the first `allowed` questions and "stop" from then on;
// counts the questions. Safe to ask from several threads.
class StopAfter : public CTerminable {
  public:
    explicit StopAfter(long allowed) : m_allowed(allowed) {}
    bool IsTerminated() const override { return ++m_asked > m_allowed; }
    long Asked() const { return m_asked; }

  private:
    long m_allowed;
    mutable std::atomic<long> m_asked{0};
};
