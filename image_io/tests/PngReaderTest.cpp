#include "image_io/PngReader.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <iterator>
#include <random>
#include <tuple>
#include <vector>

#include "TestFiles.h"
#include "image_io/ImageFile.h"

namespace {

constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

// What a test PNG holds: raw rows as the file stores them (samples
// big-endian, packed below 8 bits).
struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 8;
    int colourType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<png_color> palette{};
    Bytes trans{};               // palette alpha
    png_color_16 transColour{};  // grey or colour key
    bool colourKey = false;
    std::vector<Bytes> rows{};
};

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// Written by libpng itself, with 600 dpi in pHYs.
Bytes WriteTestPng(const PngLayout& layout) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng could not write the test file";
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty()) {
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    }
    if (!layout.trans.empty() || layout.colourKey) {
        png_set_tRNS(png, info, layout.trans.empty() ? nullptr : layout.trans.data(),
                     static_cast<int>(layout.trans.size()),
                     layout.colourKey ? &layout.transColour : nullptr);
    }
    png_set_pHYs(png, info, 23622, 23622, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& row : layout.rows) {
        rows.push_back(const_cast<png_bytep>(row.data()));
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

StreamPtr StreamOf(const Bytes& bytes) {
    return CMemoryStream::Copy(bytes.data(), bytes.size());
}

// Loads through the public path; checks the fields every test PNG shares.
DibPtr Load(const Bytes& file, bool expectAlpha) {
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(file)), S_OK);
    DibPtr dib;
    if (image) {
        EXPECT_EQ(image->HasAlpha(), expectAlpha);
        EXPECT_EQ(ImageToDib(image, dib, 7), S_OK);
    }
    if (dib) {
        EXPECT_EQ(dib->BitCount(), 32);
        EXPECT_GT(dib->Header()->biHeight, 0) << "bottom-up";
        EXPECT_EQ(dib->Header()->biXPelsPerMeter, 23622);
    }
    return dib;
}

std::vector<int> Bgra(const CDib& dib, LONG x, LONG y) {
    const BYTE* p = dib.Row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

PngLayout RandomColour(png_uint_32 width, png_uint_32 height, std::mt19937& rng) {
    PngLayout layout{width, height};
    for (png_uint_32 y = 0; y < height; ++y) {
        Bytes row(width * 3);
        for (auto& b : row) {
            b = static_cast<std::uint8_t>(rng());
        }
        layout.rows.push_back(row);
    }
    return layout;
}

TEST(PngReader, GreyAtEveryDepthInterlacedOrNot) {
    std::mt19937 rng(5150);
    for (const int depth : {1, 2, 4, 8, 16}) {
        for (const bool interlaced : {false, true}) {
            // 11 x 9: more than one Adam7 block each way.
            PngLayout layout{11, 9, depth, PNG_COLOR_TYPE_GRAY, interlaced};
            const int top = (1 << depth) - 1;
            std::vector<std::vector<int>> samples(9, std::vector<int>(11));
            for (png_uint_32 y = 0; y < 9; ++y) {
                Bytes row((11 * depth + 7) / 8, 0);
                for (png_uint_32 x = 0; x < 11; ++x) {
                    const int v = samples[y][x] = static_cast<int>(rng() % (top + 1));
                    const int bit = static_cast<int>(x) * depth;
                    if (depth == 16) {
                        row[2 * x] = static_cast<std::uint8_t>(v >> 8);
                        row[2 * x + 1] = static_cast<std::uint8_t>(v);
                    } else {
                        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
                    }
                }
                layout.rows.push_back(row);
            }
            const DibPtr dib = Load(WriteTestPng(layout), false);
            ASSERT_TRUE(dib);
            for (png_uint_32 y = 0; y < 9; ++y) {
                for (png_uint_32 x = 0; x < 11; ++x) {
                    // Low depths replicate their bits, 16 bits round.
                    const int v = depth == 16 ? static_cast<int>(std::lround(samples[y][x] / 257.0))
                                              : samples[y][x] * 255 / top;
                    EXPECT_EQ(Bgra(*dib, x, y), (std::vector<int>{v, v, v, 255}))
                        << "depth " << depth << " interlaced " << interlaced << " at " << x << ","
                        << y;
                }
            }
        }
    }
}

using Pixel = std::tuple<LONG, LONG, std::vector<int>>;

void ExpectPixels(const PngLayout& layout, bool alpha, const std::vector<Pixel>& pixels) {
    const DibPtr dib = Load(WriteTestPng(layout), alpha);
    ASSERT_TRUE(dib);
    for (const auto& [x, y, bgra] : pixels) {
        EXPECT_EQ(Bgra(*dib, x, y), bgra) << x << "," << y;
    }
}

TEST(PngReader, PaletteAlphaAndSixteenBits) {
    PngLayout pal{5, 2, 2, PNG_COLOR_TYPE_PALETTE};
    pal.palette = {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}};
    // Indices 0 1 2 1 0 / 2 2 0 0 1, two bits each.
    pal.rows = {{0b00011001, 0b00000000}, {0b10100000, 0b01000000}};
    ExpectPixels(pal, false, {{2, 0, {9, 8, 7, 255}}, {4, 1, {255, 128, 0, 255}}});
    pal.trans = {255, 255};  // fully opaque entries only: still no alpha
    ExpectPixels(pal, false, {{1, 0, {255, 128, 0, 255}}});
    pal.trans = {255, 0};  // entry 1 transparent, not premultiplied; entry 2 has none listed
    ExpectPixels(pal, true,
                 {{1, 0, {255, 128, 0, 0}}, {0, 0, {0, 0, 255, 255}}, {2, 0, {9, 8, 7, 255}}});

    PngLayout rgba{2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA};
    rgba.rows = {{200, 100, 50, 128, 1, 2, 3, 0}};
    ExpectPixels(rgba, true, {{0, 0, {50, 100, 200, 128}}, {1, 0, {3, 2, 1, 0}}});

    // 16 bits round to 8 (0x1234/257 = 18.1, 0x0081/257 = 0.5+).
    PngLayout greyAlpha{2, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA};
    greyAlpha.rows = {{0x12, 0x34, 0xFF, 0x80, 0xFF, 0xFF, 0x00, 0x81}};
    ExpectPixels(greyAlpha, true, {{0, 0, {18, 18, 18, 255}}, {1, 0, {255, 255, 255, 1}}});

    // The keyed pixel turns transparent; one unit off the key does not.
    PngLayout keyed{2, 2, 16, PNG_COLOR_TYPE_RGB, true};
    keyed.colourKey = true;
    keyed.transColour = {0, 0x0100, 0x0200, 0x0300, 0};
    keyed.rows = {{0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00},
                  {0x01, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    ExpectPixels(keyed, true,
                 {{0, 0, {3, 2, 1, 0}}, {1, 0, {0, 128, 255, 255}}, {0, 1, {3, 2, 1, 255}}});
}

TEST(PngReader, TruncatedAndDamagedFiles) {
    std::mt19937 rng(99);
    const Bytes file = WriteTestPng(RandomColour(40, 30, rng));
    const Bytes tag = {'I', 'D', 'A', 'T'};
    const std::size_t idatAt = static_cast<std::size_t>(
        std::search(file.begin(), file.end(), tag.begin(), tag.end()) - file.begin());
    ASSERT_LT(idatAt, file.size());
    ImagePtr image;
    for (std::size_t cut = 0; cut < file.size(); cut += 7) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const HRESULT hr = LoadImageFromStream(image, StreamOf(prefix));
        // Only the closing chunk may be missing; a cut inside the signature
        // leaves no PNG at all.
        const HRESULT expected = cut < 8 ? E_NOT_IMAGE_FILE : HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        EXPECT_TRUE(hr == expected || (hr == S_OK && cut > idatAt + 100 && cut + 12 >= file.size()))
            << "cut at " << cut;
    }

    Bytes damaged = file;  // the pixel chunk's checksum no longer matches
    damaged[idatAt + 20] ^= 0x55;
    image.reset();
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(damaged)), E_NOT_IMAGE_FILE);
    EXPECT_FALSE(image);

    // A side chunk with a bad checksum is skipped, and nothing is printed.
    Bytes side = WriteTestPng(RandomColour(3, 2, rng));
    const Bytes phys = {'p', 'H', 'Y', 's'};
    const auto at = std::search(side.begin(), side.end(), phys.begin(), phys.end());
    ASSERT_NE(at, side.end());
    at[4 + 9] ^= 0xFF;
    testing::internal::CaptureStderr();
    const HRESULT hr = LoadImageFromStream(image, StreamOf(side));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(hr, S_OK);
}

TEST(PngReader, SizeCapAndHandOver) {
    std::mt19937 rng(17);
    const PngLayout layout = RandomColour(6, 5, rng);
    const Bytes file = WriteTestPng(layout);
    DibPtr dib;
    bool alpha = true;
    EXPECT_EQ(ReadPng(dib, alpha, file.data(), file.size(), {6 * 5 * 4 - 1, 100}), kNoMemory);
    EXPECT_FALSE(dib);
    EXPECT_TRUE(alpha) << "untouched";
    EXPECT_EQ(ReadPng(dib, alpha, file.data(), 7, {1000, 100}), E_NOT_IMAGE_FILE);
    ASSERT_EQ(ReadPng(dib, alpha, file.data(), file.size(), {6 * 5 * 4, 100}), S_OK);
    EXPECT_FALSE(alpha);

    // The first conversion hands the decoded pixels over; a later one
    // decodes them again, unaffected by changes to the first result.
    ImagePtr image;
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(file)), S_OK);
    DibPtr first, second;
    ASSERT_EQ(ImageToDib(image, first, 7), S_OK);
    first->Row(4)[5] ^= 0xFF;
    ASSERT_EQ(ImageToDib(image, second, 7), S_OK);
    const Bytes& row = layout.rows[4];
    EXPECT_EQ(Bgra(*second, 1, 4), (std::vector<int>{row[5], row[4], row[3], 255}));
    EXPECT_EQ(Bgra(*second, 5, 4), (std::vector<int>{row[17], row[16], row[15], 255}));
}

}  // namespace
