#include "image_io/Resolution.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestFiles.h"

namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kRational = 5;
constexpr std::uint16_t kXRes = 0x011A;
constexpr std::uint16_t kYRes = 0x011B;
constexpr std::uint16_t kUnit = 0x0128;

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

// What each kind of file gives, in dots per inch (an inch is 0.0254 metre);
// a file without a usable resolution is refused and the result untouched.
TEST(FileResolution, EveryKindAndUnit) {
    const std::vector<TiffEntry> exif = {
        {kXRes, kRational, 600, 2}, {kYRes, kRational, 300, 1}, {kUnit, kShort, 2}};
    struct Case {
        std::string what;
        Bytes file;
        double dpiX = 0, dpiY = 0;  // 0: refused
    };
    std::vector<Case> cases = {
        {"PNG pHYs per metre", PngWithPhys(11811, 23622, 1), 11811 * 0.0254, 23622 * 0.0254},
        {"PNG unit 0 is an aspect ratio only", PngWithPhys(1, 1, 0)},
        {"PNG pHYs after IDAT", PngWithPhys(11811, 11811, 1, true)},
        {"PNG absurd resolution", PngWithPhys(0xFFFFFFFFu, 11811, 1)},
        {"PNG without pHYs", PngHeader(4, 4, 8, 0)},
        {"JFIF per inch", Jfif(1, 300, 600), 300, 600},
        {"JFIF per centimetre", Jfif(2, 118, 118), 299.72, 299.72},
        {"JFIF units 0 is an aspect ratio only", Jfif(0, 1, 1)},
        {"JFIF density wins over EXIF", WithExif(Jfif(1, 200, 200), TiffStructure(false, exif)),
         200, 200},
        {"EXIF in centimetres",
         WithExif({0xFF, 0xD8}, TiffStructure(true, {{kXRes, kRational, 100, 1},
                                                     {kYRes, kRational, 200, 1},
                                                     {kUnit, kShort, 3}})),
         254, 508},
        {"BMP", Bmp(40, 11811, 23622), 11811 * 0.0254, 23622 * 0.0254},
        {"BMP version 5 header", Bmp(124, 3780, 3780), 3780 * 0.0254, 3780 * 0.0254},
        {"BMP negative resolution", Bmp(40, -11811, 11811)},
        {"BMP core header has no resolution", Bmp(12, 11811, 11811)},
        {"GIF", {'G', 'I', 'F', '8', '9', 'a'}},
    };
    for (const bool bigEndian : {false, true}) {
        const std::string order = bigEndian ? "MM, " : "II, ";
        const auto tiff = [&](const std::vector<TiffEntry>& entries) {
            return TiffStructure(bigEndian, entries);
        };
        const std::vector<Case> ordered = {
            {"EXIF when JFIF has none", WithExif(Jfif(0, 1, 1), tiff(exif)), 300, 300},
            {"EXIF without JFIF", WithExif({0xFF, 0xD8}, tiff(exif)), 300, 300},
            {"TIFF, inch by default",
             tiff({{kXRes, kRational, 300, 1}, {kYRes, kRational, 1200, 2}}), 300, 600},
            {"TIFF, one direction serves both", tiff({{kXRes, kLong, 150}}), 150, 150},
            {"TIFF without an absolute unit",
             tiff({{kXRes, kRational, 300, 1}, {kYRes, kRational, 300, 1}, {kUnit, kShort, 1}})},
            {"TIFF unit beyond 16 bits is no unit (and is not narrowed to 2)",
             tiff({{kXRes, kRational, 300, 1}, {kUnit, kLong, 0x30002}})},
            {"TIFF zero denominator", tiff({{kXRes, kRational, 300, 0}})},
        };
        for (const Case& c : ordered) {
            cases.push_back({order + c.what, c.file, c.dpiX, c.dpiY});
        }
    }
    for (const Case& c : cases) {
        FileResolution r{1, 2};
        EXPECT_EQ(ReadFileResolution(c.file.data(), c.file.size(), r), c.dpiX != 0) << c.what;
        EXPECT_DOUBLE_EQ(r.dpiX, c.dpiX != 0 ? c.dpiX : 1) << c.what;
        EXPECT_DOUBLE_EQ(r.dpiY, c.dpiX != 0 ? c.dpiY : 2) << c.what;
    }
    FileResolution r;
    EXPECT_FALSE(ReadFileResolution(nullptr, 100, r));
}

}  // namespace
