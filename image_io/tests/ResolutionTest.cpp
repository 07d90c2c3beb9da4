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
    Bytes phys;
    PutBE32(phys, x);
    PutBE32(phys, y);
    phys.push_back(static_cast<std::uint8_t>(unit));
    Bytes file = PngHeader(4, 4, 8, 0);
    std::vector<Bytes> chunks = {PngChunk("tEXt", {'a', 0, 'b'}), PngChunk("pHYs", phys),
                                 PngChunk("IDAT", {1, 2, 3}), PngChunk("IEND", {})};
    if (afterIdat) {
        std::swap(chunks[1], chunks[2]);
    }
    for (const Bytes& chunk : chunks) {
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
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
    // Sizes, pixel offset, header size, 1 x 1 pixels, 1 plane, 24 bits.
    for (std::uint32_t v : {0u, 0u, 14 + headerSize, headerSize, 1u, 1u, 0x180001u, 0u, 4u}) {
        PutLE32(file, v);
    }
    PutLE32(file, static_cast<std::uint32_t>(x));
    PutLE32(file, static_cast<std::uint32_t>(y));
    file.resize(14 + headerSize + 4, 0);
    return file;
}

TEST(FileResolution, PngPhysInPixelsPerMetre) {
    FileResolution r;
    ASSERT_TRUE(Read(PngWithPhys(11811, 23622, 1), r));
    EXPECT_NEAR(r.dpiX, 300.0, 0.001);
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiY), 23622);

    FileResolution untouched{1, 2};
    EXPECT_FALSE(Read(PngWithPhys(1, 1, 0), untouched)) << "unit 0 is an aspect ratio only";
    EXPECT_EQ(untouched.dpiX, 1);
    EXPECT_FALSE(Read(PngWithPhys(11811, 11811, 1, true), r)) << "pHYs after IDAT";
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
        ASSERT_TRUE(Read(WithExif({0xFF, 0xD8}, exif), r)) << "no JFIF block at all";
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
        EXPECT_FALSE(Read(
            TiffStructure(bigEndian, {{kXRes, kRational, 300, 1}, {kUnit, kLong, 0x30002}}), r))
            << "a unit beyond 16 bits is no unit (and is not narrowed to 2)";
        EXPECT_FALSE(Read(TiffStructure(bigEndian, {{kXRes, kRational, 300, 0}}), r))
            << "zero denominator";
    }
}

TEST(FileResolution, BmpPelsPerMetre) {
    FileResolution r;
    ASSERT_TRUE(Read(Bmp(40, 11811, 23622), r));
    EXPECT_NEAR(r.dpiX, 300.0, 0.001);
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiY), 23622);
    ASSERT_TRUE(Read(Bmp(124, 3780, 3780), r));
    EXPECT_EQ(DpiToPelsPerMeter(r.dpiX), 3780);
    EXPECT_FALSE(Read(Bmp(40, -11811, 11811), r));
    EXPECT_FALSE(Read(Bmp(12, 11811, 11811), r)) << "the core header has no resolution";
    EXPECT_FALSE(Read({'G', 'I', 'F', '8', '9', 'a'}, r));
    EXPECT_FALSE(ReadFileResolution(nullptr, 100, r));
}

}  // namespace
