#include "image_io/Resolution.h"

#include <gtest/gtest.h>

#include <random>

#include "TestFiles.h"

namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kRational = 5;
constexpr std::uint16_t kXRes = 0x011A;
constexpr std::uint16_t kYRes = 0x011B;
constexpr std::uint16_t kUnit = 0x0128;

bool Read(const Bytes& bytes, FileResolution& out) {
    return ReadFileResolution(bytes.data(), bytes.size(), out);
}

Bytes PngWithPhys(std::uint32_t x, std::uint32_t y, int unit, bool afterIdat = false) {
    Bytes file = PngHeader(4, 4, 8, 0);
    Bytes phys;
    PutBE32(phys, x);
    PutBE32(phys, y);
    phys.push_back(static_cast<std::uint8_t>(unit));
    const Bytes physChunk = PngChunk("pHYs", phys);
    const Bytes idat = PngChunk("IDAT", {1, 2, 3});
    const Bytes text = PngChunk("tEXt", {'a', 0, 'b'});
    file.insert(file.end(), text.begin(), text.end());
    if (afterIdat) {
        file.insert(file.end(), idat.begin(), idat.end());
    }
    file.insert(file.end(), physChunk.begin(), physChunk.end());
    if (!afterIdat) {
        file.insert(file.end(), idat.begin(), idat.end());
    }
    const Bytes end = PngChunk("IEND", {});
    file.insert(file.end(), end.begin(), end.end());
    return file;
}

Bytes Jfif(int units, int x, int y) {
    Bytes app0 = {'J', 'F', 'I', 'F', 0, 1, 2, static_cast<std::uint8_t>(units)};
    PutBE16(app0, static_cast<std::uint32_t>(x));
    PutBE16(app0, static_cast<std::uint32_t>(y));
    app0.insert(app0.end(), {0, 0});
    Bytes file = {0xFF, 0xD8, 0xFF, 0xE0};
    PutBE16(file, static_cast<std::uint32_t>(app0.size() + 2));
    file.insert(file.end(), app0.begin(), app0.end());
    return file;
}

Bytes WithExif(Bytes jpeg, const Bytes& tiff) {
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    Bytes segment = {0xFF, 0xE1};
    PutBE16(segment, static_cast<std::uint32_t>(app1.size() + 2));
    segment.insert(segment.end(), app1.begin(), app1.end());
    jpeg.insert(jpeg.end(), segment.begin(), segment.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
    return jpeg;
}

Bytes Bmp(std::uint32_t headerSize, std::int32_t x, std::int32_t y) {
    Bytes file = {'B', 'M'};
    PutLE32(file, 0);
    PutLE32(file, 0);
    PutLE32(file, 14 + headerSize);
    PutLE32(file, headerSize);
    PutLE32(file, 1);   // width
    PutLE32(file, 1);   // height
    PutLE16(file, 1);   // planes
    PutLE16(file, 24);  // bits
    PutLE32(file, 0);
    PutLE32(file, 4);
    PutLE32(file, static_cast<std::uint32_t>(x));
    PutLE32(file, static_cast<std::uint32_t>(y));
    PutLE32(file, 0);
    PutLE32(file, 0);
    file.resize(14 + headerSize + 4, 0);
    return file;
}

TEST(FileResolution, PngPhysInPixelsPerMetre) {
    FileResolution r;
    ASSERT_TRUE(Read(PngWithPhys(11811, 23622, 1), r));
    EXPECT_NEAR(r.dpiX, 300.0, 0.001);
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiY), 23622);
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiX), 11811);

    FileResolution untouched{1, 2};
    EXPECT_FALSE(Read(PngWithPhys(1, 1, 0), untouched)) << "unit 0 is an aspect ratio only";
    EXPECT_EQ(untouched.dpiX, 1);
    EXPECT_FALSE(Read(PngWithPhys(11811, 11811, 1, true), r)) << "pHYs after IDAT";
    EXPECT_FALSE(Read(PngWithPhys(0, 11811, 1), r));
    EXPECT_FALSE(Read(PngWithPhys(0xFFFFFFFFu, 11811, 1), r)) << "absurd resolution";
    EXPECT_FALSE(Read(PngHeader(4, 4, 8, 0), r));
}

TEST(FileResolution, JpegJfifDensityUnits) {
    FileResolution r;
    ASSERT_TRUE(Read(Jfif(1, 300, 600), r));
    EXPECT_EQ(r.dpiX, 300.0);
    EXPECT_EQ(r.dpiY, 600.0);
    ASSERT_TRUE(Read(Jfif(2, 118, 118), r));
    EXPECT_NEAR(r.dpiX, 299.72, 1e-9);
    EXPECT_FALSE(Read(Jfif(0, 1, 1), r)) << "units 0 is an aspect ratio only";
    EXPECT_FALSE(Read(Jfif(1, 0, 300), r));
}

TEST(FileResolution, JpegExifWhenJfifHasNone) {
    const std::vector<TiffEntry> entries = {
        {kXRes, kRational, 600, 2}, {kYRes, kRational, 300, 1}, {kUnit, kShort, 2}};
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        FileResolution r;
        const Bytes exif = TiffStructure(bigEndian, entries);
        ASSERT_TRUE(Read(WithExif(Jfif(0, 1, 1), exif), r));
        EXPECT_EQ(r.dpiX, 300.0);
        EXPECT_EQ(r.dpiY, 300.0);
        // No JFIF block at all.
        ASSERT_TRUE(Read(WithExif({0xFF, 0xD8}, exif), r));
        EXPECT_EQ(r.dpiX, 300.0);
    }
    // JFIF density wins over EXIF.
    FileResolution r;
    ASSERT_TRUE(Read(WithExif(Jfif(1, 200, 200), TiffStructure(false, entries)), r));
    EXPECT_EQ(r.dpiX, 200.0);
    // Centimetres in EXIF.
    ASSERT_TRUE(Read(WithExif({0xFF, 0xD8}, TiffStructure(true, {{kXRes, kRational, 100, 1},
                                                                 {kYRes, kRational, 200, 1},
                                                                 {kUnit, kShort, 3}})),
                     r));
    EXPECT_NEAR(r.dpiX, 254.0, 1e-9);
    EXPECT_NEAR(r.dpiY, 508.0, 1e-9);
}

TEST(FileResolution, TiffBothByteOrdersAndUnits) {
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "MM" : "II");
        FileResolution r;
        ASSERT_TRUE(Read(
            TiffStructure(bigEndian, {{kXRes, kRational, 300, 1}, {kYRes, kRational, 1200, 2}}), r))
            << "inch is the default unit";
        EXPECT_EQ(r.dpiX, 300.0);
        EXPECT_EQ(r.dpiY, 600.0);
        ASSERT_TRUE(Read(TiffStructure(bigEndian, {{kXRes, kLong, 150}}), r))
            << "one direction serves both";
        EXPECT_EQ(r.dpiX, 150.0);
        EXPECT_EQ(r.dpiY, 150.0);
        EXPECT_FALSE(Read(TiffStructure(bigEndian, {{kXRes, kRational, 300, 1},
                                                    {kYRes, kRational, 300, 1},
                                                    {kUnit, kShort, 1}}),
                          r))
            << "no absolute unit";
        EXPECT_FALSE(Read(TiffStructure(bigEndian, {{kXRes, kRational, 300, 0}}), r))
            << "zero denominator";
        EXPECT_FALSE(Read(TiffStructure(bigEndian, {{0x0100, kLong, 5}}), r));
    }
}

TEST(FileResolution, BmpPelsPerMetre) {
    FileResolution r;
    ASSERT_TRUE(Read(Bmp(40, 11811, 23622), r));
    EXPECT_NEAR(r.dpiX, 300.0, 0.001);
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiY), 23622);
    ASSERT_TRUE(Read(Bmp(124, 3780, 3780), r));
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiX), 3780);
    EXPECT_FALSE(Read(Bmp(40, 0, 0), r));
    EXPECT_FALSE(Read(Bmp(40, -11811, 11811), r));
    EXPECT_FALSE(Read(Bmp(12, 11811, 11811), r)) << "the core header has no resolution";
    EXPECT_FALSE(Read({'G', 'I', 'F', '8', '9', 'a'}, r));
    EXPECT_FALSE(ReadFileResolution(nullptr, 100, r));
}

// Truncations and random corruptions of valid headers: every read must stay
// within the bytes (the sanitizer build checks) and any result that is found
// must be usable.
TEST(FileResolution, TruncatedAndCorruptedHeadersAreSafe) {
    const std::vector<Bytes> seeds = {
        PngWithPhys(11811, 11811, 1),
        WithExif(Jfif(0, 1, 1), TiffStructure(false, {{kXRes, kRational, 300, 1},
                                                      {kYRes, kRational, 300, 1},
                                                      {kUnit, kShort, 2}})),
        WithExif({0xFF, 0xD8}, TiffStructure(true, {{kXRes, kRational, 300, 1}})),
        TiffStructure(true, {{kXRes, kRational, 72, 1}, {kYRes, kRational, 72, 1}}),
        Bmp(40, 11811, 11811),
    };
    std::mt19937 rng(20240611);
    std::size_t found = 0;
    for (const Bytes& seed : seeds) {
        for (std::size_t n = 0; n <= seed.size(); ++n) {
            // A copy of exactly n bytes, so that reading past it is caught.
            const Bytes prefix(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(n));
            FileResolution r;
            if (ReadFileResolution(prefix.data(), prefix.size(), r)) {
                EXPECT_GT(r.dpiX, 0.0);
                EXPECT_LE(r.dpiY, kMaxFileDpi);
                ++found;
            }
        }
        for (int round = 0; round < 3000; ++round) {
            Bytes bytes = seed;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int i = 0; i < flips; ++i) {
                const std::size_t at = 2 + rng() % (bytes.size() - 2);
                bytes[at] = static_cast<std::uint8_t>(rng());
            }
            bytes.resize(rng() % (bytes.size() + 1));
            FileResolution r;
            if (ReadFileResolution(bytes.data(), bytes.size(), r)) {
                EXPECT_GT(r.dpiX, 0.0);
                EXPECT_GT(r.dpiY, 0.0);
                EXPECT_LE(r.dpiX, kMaxFileDpi);
                EXPECT_LE(r.dpiY, kMaxFileDpi);
            }
        }
    }
    EXPECT_GE(found, seeds.size()) << "each whole seed is read";
}

}  // namespace
