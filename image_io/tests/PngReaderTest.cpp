#include "image_io/PngReader.h"

#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "TestFiles.h"
#include "image_io/ImageFile.h"

namespace {

constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

// What a test PNG holds: raw rows as the file stores them (samples
// big-endian, packed below 8 bits).
struct PngSpec {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 8;
    int colourType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<png_color> palette;
    Bytes trans;                 // palette alpha
    png_color_16 transColour{};  // grey or colour key
    bool colourKey = false;
    std::vector<Bytes> rows;
};

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

Bytes WriteTestPng(const PngSpec& spec) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng could not write the test file";
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty()) {
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    }
    if (!spec.trans.empty() || spec.colourKey) {
        png_set_tRNS(png, info, spec.trans.empty() ? nullptr : spec.trans.data(),
                     static_cast<int>(spec.trans.size()),
                     spec.colourKey ? &spec.transColour : nullptr);
    }
    png_set_pHYs(png, info, 23622, 23622, PNG_RESOLUTION_METER);  // 600 dpi
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const Bytes& row : spec.rows) {
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

// Loads through the public path and checks the header fields every PNG
// shares; pixel (x, y) is then dib->Row(y) + 4x.
DibPtr Load(const Bytes& file, bool expectAlpha) {
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(file)), S_OK);
    if (!image) {
        return DibPtr();
    }
    EXPECT_EQ(image->HasAlpha(), expectAlpha);
    EXPECT_NEAR(image->GetHorizontalResolution(), 600.0f, 0.01f);
    DibPtr dib;
    EXPECT_EQ(ImageToDib(image, dib, 7), S_OK);
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

TEST(PngReader, GreyAtEveryDepthInterlacedOrNot) {
    std::mt19937 rng(5150);
    for (const int depth : {1, 2, 4, 8, 16}) {
        for (const bool interlaced : {false, true}) {
            PngSpec spec;
            spec.width = 11;
            spec.height = 9;  // more than one Adam7 block each way
            spec.bitDepth = depth;
            spec.colourType = PNG_COLOR_TYPE_GRAY;
            spec.interlaced = interlaced;
            const int top = (1 << depth) - 1;
            std::vector<std::vector<int>> samples(spec.height, std::vector<int>(spec.width));
            for (png_uint_32 y = 0; y < spec.height; ++y) {
                Bytes row((spec.width * depth + 7) / 8 + (depth == 16 ? spec.width : 0), 0);
                for (png_uint_32 x = 0; x < spec.width; ++x) {
                    const int v = static_cast<int>(rng() % (top + 1));
                    samples[y][x] = v;
                    if (depth == 16) {
                        row[2 * x] = static_cast<std::uint8_t>(v >> 8);
                        row[2 * x + 1] = static_cast<std::uint8_t>(v);
                    } else {
                        const int bit = static_cast<int>(x) * depth;
                        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
                    }
                }
                spec.rows.push_back(row);
            }
            const DibPtr dib = Load(WriteTestPng(spec), false);
            ASSERT_TRUE(dib);
            for (png_uint_32 y = 0; y < spec.height; ++y) {
                for (png_uint_32 x = 0; x < spec.width; ++x) {
                    // Scaled to 0 to 255: low depths replicate their bits,
                    // 16 bits round.
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

TEST(PngReader, PaletteWithAndWithoutTransparency) {
    PngSpec spec;
    spec.width = 5;
    spec.height = 2;
    spec.bitDepth = 2;
    spec.colourType = PNG_COLOR_TYPE_PALETTE;
    spec.palette = {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}};
    // Indices 0 1 2 1 0 / 2 2 0 0 1, two bits each.
    spec.rows = {{0b00011001, 0b00000000}, {0b10100000, 0b01000000}};
    DibPtr dib = Load(WriteTestPng(spec), false);
    ASSERT_TRUE(dib);
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{255, 128, 0, 255}));
    EXPECT_EQ(Bgra(*dib, 2, 0), (std::vector<int>{9, 8, 7, 255}));
    EXPECT_EQ(Bgra(*dib, 4, 1), (std::vector<int>{255, 128, 0, 255}));

    // Fully opaque entries only: still no alpha.
    spec.trans = {255, 255};
    dib = Load(WriteTestPng(spec), false);
    ASSERT_TRUE(dib);

    spec.trans = {255, 0};  // entry 1 transparent; entry 2 has none listed
    dib = Load(WriteTestPng(spec), true);
    ASSERT_TRUE(dib);
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{255, 128, 0, 0})) << "not premultiplied";
    EXPECT_EQ(Bgra(*dib, 0, 0), (std::vector<int>{0, 0, 255, 255}));
    EXPECT_EQ(Bgra(*dib, 2, 0), (std::vector<int>{9, 8, 7, 255}));
}

TEST(PngReader, ColourAlphaAndSixteenBits) {
    PngSpec rgba;
    rgba.width = 2;
    rgba.height = 1;
    rgba.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.rows = {{200, 100, 50, 128, 1, 2, 3, 0}};
    DibPtr dib = Load(WriteTestPng(rgba), true);
    ASSERT_TRUE(dib);
    EXPECT_EQ(Bgra(*dib, 0, 0), (std::vector<int>{50, 100, 200, 128}));
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{3, 2, 1, 0}));

    // 16-bit grey and alpha: rounded to 8 bits, grey spread to all three.
    PngSpec greyAlpha;
    greyAlpha.width = 2;
    greyAlpha.height = 1;
    greyAlpha.bitDepth = 16;
    greyAlpha.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
    greyAlpha.rows = {{0x12, 0x34, 0xFF, 0x80, 0xFF, 0xFF, 0x00, 0x81}};
    dib = Load(WriteTestPng(greyAlpha), true);
    ASSERT_TRUE(dib);
    EXPECT_EQ(Bgra(*dib, 0, 0), (std::vector<int>{18, 18, 18, 255}));   // 0x1234/257 = 18.1
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{255, 255, 255, 1}));  // 0x0081/257 = 0.5+

    // 16-bit colour with a colour key: the keyed pixel turns transparent.
    PngSpec keyed;
    keyed.width = 2;
    keyed.height = 2;
    keyed.bitDepth = 16;
    keyed.colourType = PNG_COLOR_TYPE_RGB;
    keyed.interlaced = true;
    keyed.colourKey = true;
    keyed.transColour.red = 0x0100;
    keyed.transColour.green = 0x0200;
    keyed.transColour.blue = 0x0300;
    keyed.rows = {{0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00},
                  {0x01, 0x00, 0x02, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    dib = Load(WriteTestPng(keyed), true);
    ASSERT_TRUE(dib);
    EXPECT_EQ(Bgra(*dib, 0, 0), (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{0, 128, 255, 255}));
    EXPECT_EQ(Bgra(*dib, 0, 1), (std::vector<int>{3, 2, 1, 255})) << "one unit off the key";
}

// A PNG of `height` rows with random colour pixels.
PngSpec RandomColour(png_uint_32 width, png_uint_32 height, std::mt19937& rng) {
    PngSpec spec;
    spec.width = width;
    spec.height = height;
    for (png_uint_32 y = 0; y < height; ++y) {
        Bytes row(width * 3);
        for (auto& b : row) {
            b = static_cast<std::uint8_t>(rng());
        }
        spec.rows.push_back(row);
    }
    return spec;
}

TEST(PngReader, TruncatedAndBrokenFilesAreRefused) {
    std::mt19937 rng(99);
    const Bytes file = WriteTestPng(RandomColour(40, 30, rng));
    const Bytes tag = {'I', 'D', 'A', 'T'};
    const auto idat = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(idat, file.end());
    const std::size_t idatAt = static_cast<std::size_t>(idat - file.begin());
    ImagePtr image;
    for (std::size_t cut = 0; cut < file.size(); cut += 7) {
        const Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const HRESULT hr = LoadImageFromStream(image, StreamOf(part));
        if (cut < idatAt + 100) {
            EXPECT_EQ(hr, E_NOTIMPL) << "cut at " << cut;
        } else {
            // Only the closing chunk may be missing.
            EXPECT_TRUE(hr == E_NOTIMPL || (hr == S_OK && cut + 12 >= file.size()))
                << "cut at " << cut;
        }
    }

    // A damaged pixel chunk (its checksum no longer matches).
    Bytes damaged = file;
    damaged[idatAt + 20] ^= 0x55;
    image.reset();
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(damaged)), E_NOTIMPL);
    EXPECT_FALSE(image);
}

TEST(PngReader, DamagedSideChunkIsSkippedSilently) {
    // libpng warns about an ancillary chunk with a bad checksum and goes on;
    // the loader must print nothing.
    std::mt19937 rng(3);
    Bytes file = WriteTestPng(RandomColour(3, 2, rng));
    const Bytes tag = {'p', 'H', 'Y', 's'};
    const auto at = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(at, file.end());
    at[4 + 9] ^= 0xFF;  // first byte of the chunk's CRC
    testing::internal::CaptureStderr();
    ImagePtr image;
    const HRESULT hr = LoadImageFromStream(image, StreamOf(file));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(hr, S_OK);
}

TEST(PngReader, SizeCapAndHandOver) {
    std::mt19937 rng(17);
    const PngSpec spec = RandomColour(6, 5, rng);
    const Bytes file = WriteTestPng(spec);
    DibPtr dib;
    bool alpha = true;
    EXPECT_EQ(ReadPng(dib, alpha, file.data(), file.size(), 6 * 5 * 4 - 1), kNoMemory);
    EXPECT_FALSE(dib);
    EXPECT_TRUE(alpha) << "untouched";
    EXPECT_EQ(ReadPng(dib, alpha, file.data(), 7, 1000), E_NOTIMPL);
    ASSERT_EQ(ReadPng(dib, alpha, file.data(), file.size(), 6 * 5 * 4), S_OK);
    EXPECT_FALSE(alpha);

    // The first conversion hands the decoded pixels over; a later one
    // decodes them again, unaffected by changes to the first result.
    ImagePtr image;
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(file)), S_OK);
    DibPtr first;
    DibPtr second;
    ASSERT_EQ(ImageToDib(image, first, 7), S_OK);
    first->Row(4)[5] ^= 0xFF;
    ASSERT_EQ(ImageToDib(image, second, 7), S_OK);
    ASSERT_NE(first.get(), second.get());
    for (LONG y = 0; y < 5; ++y) {
        for (LONG x = 0; x < 6; ++x) {
            const Bytes& row = spec.rows[y];
            EXPECT_EQ(Bgra(*second, x, y),
                      (std::vector<int>{row[3 * x + 2], row[3 * x + 1], row[3 * x], 255}));
        }
    }
    EXPECT_EQ(second->Header()->biYPelsPerMeter, 23622);
}

}  // namespace
