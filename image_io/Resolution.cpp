#include "image_io/Resolution.h"

#include <cmath>

#include "image_io/ByteView.h"

namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr double kCmPerInch = 2.54;

bool Usable(double dpi) {
    return std::isfinite(dpi) && dpi > 0.0 && dpi <= kMaxFileDpi;
}

bool Accept(double dpiX, double dpiY, FileResolution& out) {
    if (!Usable(dpiX) || !Usable(dpiY)) {
        return false;
    }
    out.dpiX = dpiX;
    out.dpiY = dpiY;
    return true;
}

// --- PNG ---------------------------------------------------------------------

bool ReadPng(const ByteView& file, FileResolution& out) {
    std::size_t pos = 8;
    for (;;) {
        const auto length = file.U32(pos);
        if (!length || *length > 0x7FFFFFFFu || !file.Has(pos + 4, 4)) {
            return false;
        }
        const std::size_t data = pos + 8;
        if (file.Matches(pos + 4, "pHYs", 4)) {
            if (*length < 9) {
                return false;
            }
            const auto x = file.U32(data);
            const auto y = file.U32(data + 4);
            const auto unit = file.U8(data + 8);
            if (!x || !y || !unit || *unit != 1) {
                return false;
            }
            return Accept(*x * kMetresPerInch, *y * kMetresPerInch, out);
        }
        // pHYs must precede the image data.
        if (file.Matches(pos + 4, "IDAT", 4) || file.Matches(pos + 4, "IEND", 4)) {
            return false;
        }
        if (!file.Has(data, std::size_t{*length} + 4)) {
            return false;
        }
        pos = data + *length + 4;
    }
}

// --- TIFF structure (TIFF files and EXIF blocks) --------------------------------

enum TiffType : std::uint16_t {
    kShort = 3,
    kLong = 4,
    kRational = 5,
};

constexpr std::uint16_t kTagXResolution = 0x011A;
constexpr std::uint16_t kTagYResolution = 0x011B;
constexpr std::uint16_t kTagResolutionUnit = 0x0128;

// The numeric value of a one-value SHORT, LONG or RATIONAL entry.
std::optional<double> TiffNumber(const ByteView& tiff, std::size_t entry) {
    const auto type = tiff.U16(entry + 2);
    const auto count = tiff.U32(entry + 4);
    if (!type || !count || *count < 1) {
        return std::nullopt;
    }
    switch (*type) {
        case kShort:
            if (const auto v = tiff.U16(entry + 8)) {
                return static_cast<double>(*v);
            }
            return std::nullopt;
        case kLong:
            if (const auto v = tiff.U32(entry + 8)) {
                return static_cast<double>(*v);
            }
            return std::nullopt;
        case kRational: {
            const auto offset = tiff.U32(entry + 8);
            if (!offset) {
                return std::nullopt;
            }
            const auto num = tiff.U32(*offset);
            const auto den = tiff.U32(std::size_t{*offset} + 4);
            if (!num || !den || *den == 0) {
                return std::nullopt;
            }
            return static_cast<double>(*num) / static_cast<double>(*den);
        }
        default:
            return std::nullopt;
    }
}

bool ReadTiffStructure(const ByteView& raw, FileResolution& out) {
    bool bigEndian;
    if (raw.Matches(0, "II\x2A\x00", 4)) {
        bigEndian = false;
    } else if (raw.Matches(0, "MM\x00\x2A", 4)) {
        bigEndian = true;
    } else {
        return false;
    }
    const ByteView tiff = raw.Sub(0, raw.Size(), bigEndian);
    const auto ifd = tiff.U32(4);
    if (!ifd) {
        return false;
    }
    const auto count = tiff.U16(*ifd);
    if (!count) {
        return false;
    }
    std::optional<double> x, y;
    std::uint16_t unit = 2;
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t entry = std::size_t{*ifd} + 2 + 12 * i;
        const auto tag = tiff.U16(entry);
        if (!tag || !tiff.Has(entry, 12)) {
            break;
        }
        if (*tag == kTagXResolution) {
            x = TiffNumber(tiff, entry);
        } else if (*tag == kTagYResolution) {
            y = TiffNumber(tiff, entry);
        } else if (*tag == kTagResolutionUnit) {
            // Only inch (2) and centimetre (3) are units; a LONG or RATIONAL
            // entry may hold any number, which must not be narrowed blindly.
            const auto v = TiffNumber(tiff, entry);
            unit = v && (*v == 2.0 || *v == 3.0) ? static_cast<std::uint16_t>(*v) : 0;
        }
    }
    if (!x && !y) {
        return false;
    }
    if (!x) {
        x = y;
    }
    if (!y) {
        y = x;
    }
    switch (unit) {
        case 2:
            return Accept(*x, *y, out);
        case 3:
            return Accept(*x * kCmPerInch, *y * kCmPerInch, out);
        default:
            return false;
    }
}

// --- JPEG ----------------------------------------------------------------------

bool ReadJpeg(const ByteView& file, FileResolution& out) {
    FileResolution exif;
    bool haveExif = false;
    std::size_t pos = 2;
    for (;;) {
        // A marker is 0xFF, any number of 0xFF fill bytes, then its code.
        if (file.U8(pos) != 0xFF) {
            break;
        }
        while (file.U8(pos) == 0xFF) {
            ++pos;
        }
        const auto marker = file.U8(pos);
        if (!marker) {
            break;
        }
        ++pos;
        if (*marker == 0xD9 || *marker == 0xDA) {
            break;  // end of image or start of scan: no more headers
        }
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) {
            continue;  // markers without a length
        }
        const auto length = file.U16(pos);
        if (!length || *length < 2) {
            break;
        }
        const ByteView segment = file.Sub(pos + 2, *length - 2u, true);
        if (*marker == 0xE0 && segment.Matches(0, "JFIF\0", 5)) {
            const auto units = segment.U8(7);
            const auto dx = segment.U16(8);
            const auto dy = segment.U16(10);
            if (units && dx && dy) {
                if (*units == 1 && Accept(*dx, *dy, out)) {
                    return true;
                }
                if (*units == 2 && Accept(*dx * kCmPerInch, *dy * kCmPerInch, out)) {
                    return true;
                }
            }
        } else if (*marker == 0xE1 && !haveExif && segment.Matches(0, "Exif\0\0", 6)) {
            haveExif = ReadTiffStructure(segment.Sub(6, segment.Size() - 6, true), exif);
        }
        if (!file.Has(pos, *length)) {
            break;
        }
        pos += *length;
    }
    if (haveExif) {
        out = exif;
    }
    return haveExif;
}

// --- BMP -----------------------------------------------------------------------

bool ReadBmp(const ByteView& raw, FileResolution& out) {
    const ByteView file = raw.Sub(0, raw.Size(), false);
    const auto headerSize = file.U32(14);
    if (!headerSize || *headerSize < 40) {
        return false;
    }
    const auto x = file.U32(38);
    const auto y = file.U32(42);
    if (!x || !y) {
        return false;
    }
    // Signed in the header: negative values are as unusable as zero.
    const auto sx = static_cast<std::int32_t>(*x);
    const auto sy = static_cast<std::int32_t>(*y);
    return Accept(sx * kMetresPerInch, sy * kMetresPerInch, out);
}

}  // namespace

bool ReadFileResolution(const std::uint8_t* data, std::size_t size, FileResolution& out) {
    if (data == nullptr) {
        return false;
    }
    const ByteView file(data, size);
    if (file.Matches(0, "\x89PNG\r\n\x1A\n", 8)) {
        return ReadPng(file, out);
    }
    if (file.Matches(0, "\xFF\xD8", 2)) {
        return ReadJpeg(file, out);
    }
    if (file.Matches(0, "II\x2A\x00", 4) || file.Matches(0, "MM\x00\x2A", 4)) {
        return ReadTiffStructure(file, out);
    }
    if (file.Matches(0, "BM", 2)) {
        return ReadBmp(file, out);
    }
    return false;
}
