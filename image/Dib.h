// CDib: the program's one raster image type, a device-independent bitmap in
// process memory.
//
// Layout:
//  - header block: a BITMAPINFOHEADER (40 bytes) or BITMAPV5HEADER (124
//    bytes), immediately followed by the colour table (RGBQUAD entries) and,
//    for a version-5 header with an embedded profile, the profile bytes.
//    Zero-filled when created.
//  - pixel bits: a separate block of GetImageSize() bytes, not cleared when
//    allocated.
//
// Rows are stored bottom-up (positive biHeight) with a stride rounded up to a
// multiple of 4 bytes. Image coordinates have their origin at the top-left
// pixel with y growing downwards; Row(y) hides the storage order. Pixel
// formats the program produces: 32-bit blue, green, red, alpha; 24-bit blue,
// green, red; 8-bit grey with a 256-entry grey ramp; and for the pixels of
// source files and results, every kind of PixelKind.h.
//
// Images are shared between stages through DibPtr and are never modified
// once handed on. Creation and allocation report failure (including
// impossible sizes) by returning false; nothing throws.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <span>

#include "image/BitmapTypes.h"
#include "msg/Result.h"

class CDib {
  public:
    CDib() = default;
    virtual ~CDib();
    CDib(const CDib&) = delete;
    CDib& operator=(const CDib&) = delete;

    // Builds a new zero-filled header block (the old one is freed first):
    // biSize, biWidth, biHeight (sign kept), biPlanes = 1, biBitCount,
    // biCompression; the colour-table entry count (ColorTableEntries) in
    // biClrUsed and biClrImportant; biSizeImage = stride × |height| for
    // BI_BITFIELDS; a grey ramp for 8 bits with 256 entries; the colour-space
    // fields of a version-5 header. False when the block cannot be allocated
    // or the sizes are impossible.
    virtual bool CreateHeader(DWORD headerSize, LONG width, LONG height, WORD bitCount,
                              DWORD colorsUsed, DWORD compression, DWORD profileSize);
    virtual void FreeHeader();
    // Frees existing bits, then allocates GetImageSize() bytes. False when
    // there is no header or the allocation fails.
    virtual bool AllocateBits();
    virtual void FreeBits();

    // CreateHeader with a 40-byte header and no profile.
    bool Create(LONG width, LONG height, WORD bitCount, DWORD colorsUsed, DWORD compression);
    // A header like `header` (size, width, height, bit count, compression,
    // embedded profile), with min(source, new) colour-table entries and the
    // profile bytes copied from the given header block.
    bool CreateLike(const BITMAPINFOHEADER* header);
    // A 24-bit BI_RGB header of the given size, keeping the given header's
    // header size and embedded profile.
    bool CreateRgb24Like(SIZE size, const BITMAPINFOHEADER* header);

    // 3 for BI_BITFIELDS; 0 for 9 bits or more; else biClrUsed when non-zero,
    // else 2^bitCount.
    static DWORD ColorTableEntries(const BITMAPINFOHEADER* header);
    static DWORD ColorTableEntries(WORD bitCount, DWORD colorsUsed, DWORD compression);
    // (width × bitCount + 7) / 8 rounded up to a multiple of 4.
    static std::size_t CalcStride(LONG width, WORD bitCount);
    // Header, colour table and embedded profile, in bytes; 0 for null.
    static std::size_t GetHeaderBlockSize(const BITMAPINFOHEADER* header);
    // At most 8 bits, BI_RGB, at least one colour-table entry, every entry
    // with blue = green = red.
    static bool IsGreyPalette(const BITMAPINFOHEADER* header);

    // biSizeImage when compression is not BI_RGB, else stride × |height|;
    // 0 when there is no header.
    std::size_t GetImageSize() const;
    void ClearBits();

    // Premultiplies blue, green and red by alpha (x × a / 255, truncated) for
    // every pixel with alpha below 255 in the rectangle clipped to the image.
    // Only 32-bit images are changed.
    void PremultiplyAlpha();
    void PremultiplyAlpha(const RECT& rect);

    // --- access -----------------------------------------------------------
    BITMAPINFOHEADER* Header() { return m_header; }
    const BITMAPINFOHEADER* Header() const { return m_header; }
    RGBQUAD* ColorTable();
    const RGBQUAD* ColorTable() const;
    BYTE* Bits() { return m_bits; }
    const BYTE* Bits() const { return m_bits; }
    bool IsValid() const { return m_header != nullptr && m_bits != nullptr; }
    // The colour profile (ICC) embedded in a version-5 header; empty when
    // there is none.
    std::span<const BYTE> Profile() const;

    LONG Width() const { return m_header ? m_header->biWidth : 0; }
    // |biHeight|: the number of rows.
    LONG Height() const;
    WORD BitCount() const { return m_header ? m_header->biBitCount : 0; }
    std::size_t Stride() const { return m_header ? CalcStride(Width(), BitCount()) : 0; }
    SIZE Size() const { return SIZE{Width(), Height()}; }

    // First byte of image row y (0 = top row).
    BYTE* Row(LONG y) { return m_bits + RowOffset(y); }
    const BYTE* Row(LONG y) const { return m_bits + RowOffset(y); }

  private:
    std::size_t RowOffset(LONG y) const;

    BITMAPINFOHEADER* m_header = nullptr;
    BYTE* m_bits = nullptr;
};

using DibPtr = boost::shared_ptr<CDib>;

// A new image with a 40-byte header (an 8-bit one with the grey table) and
// pixels allocated but not cleared; null when memory runs out.
DibPtr NewDib(LONG width, LONG height, WORD bitCount);

// Pixels per metre for a resolution in dots per inch: trunc(dpi × 10000 /
// 254 + 0.5). 300 dpi gives 11811, 96 dpi gives 3780.
LONG DpiToPelsPerMeter(double dpi);
// The inverse, for writers: dpi = pelsPerMeter × 254 / 10000.
double PelsPerMeterToDpi(LONG pelsPerMeter);

// 32-bit to 24-bit: copies blue, green and red of every pixel row by row in
// storage order. E_INVALIDARG (output untouched) unless the input has 32
// bits; E_OUTOFMEMORY when the output cannot be made. The result carries no
// resolution.
HRESULT RemoveAlpha(DibPtr& out, const CDib& image);
