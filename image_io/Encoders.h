// Inside image_io only: the file writers behind Save, each a FormatWriter
// (OutputFormats.h).
//
// Each writes the kind WriteSettings names (one its format holds), the
// image's rows converted to it where the image is of another kind, top row
// first (BMP: in storage order), with the resolution, and the image's ICC
// profile where the format has a place for it and the profile describes
// the written kind's colour space.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "image/Dib.h"
#include "image/PixelKind.h"
#include "image_io/OutputFormats.h"

// BMP: Bitonal (1 bit, a black and white table), Grey8 (8 bits, the grey
// ramp), Bgr24 and Bgra32 (32 bits, the fourth byte alpha); no profile.
bool WriteBmp(std::FILE* file, const CDib& image, const WriteSettings& settings);
// PNG: every kind, at 1, 8 or 16 bits a sample, grey or colour, with or
// without alpha; pHYs in pixels per metre; iCCP. The rows filtered
// (Average) and deflated as a whole by libdeflate; memory for the filtered
// rows and the deflated data (together about 1.5 times the image) is taken
// while it runs.
bool WritePng(std::FILE* file, const CDib& image, const WriteSettings& settings);
// The same file for Grey8, Bgr24 and Bgra32 through libpng and zlib (level
// 1, Up filter, run-length strategy), row by row, without a profile: what
// WritePng is measured against.
bool WritePngReference(std::FILE* file, const CDib& image, const WriteSettings& settings);
// TIFF: every kind; Bitonal as white-is-zero Group 4, the others with the
// horizontal predictor and settings.compression (the TIFF Compression
// tag's value: 8 Deflate, 5 LZW); alpha unassociated; X/YResolution in
// inches as given; the ICC profile tag.
bool WriteTiff(std::FILE* file, const CDib& image, const WriteSettings& settings);
// JPEG: Grey8 and Bgr24 (quality 0 to 100; values above are taken as 100);
// JFIF density in dots per inch rounded to a whole number (the format has
// no fractions); the profile in APP2 markers.
bool WriteJpeg(std::FILE* file, const CDib& image, const WriteSettings& settings);

// The rows of an image as rows of another kind: the image's own rows when
// it is of that kind, else each row converted (ConvertRow) into a buffer
// of its own, with the unused bits of a Bitonal row's last byte zero.
class KindRows {
  public:
    KindRows(const CDib& image, PixelKind kind);
    // False when the image is of no kind or cannot be converted to `kind`.
    bool Ok() const { return m_ok; }
    // Row y (0 = top), valid until the next call.
    const BYTE* Row(LONG y);

  private:
    const CDib& m_image;
    std::optional<PixelKind> m_from;
    PixelKind m_to;
    bool m_ok;
    std::vector<BYTE> m_buffer;
};

// The image's profile when it describes the colour space of `kind`, else
// empty.
std::span<const BYTE> ProfileToWrite(const CDib& image, PixelKind kind);
