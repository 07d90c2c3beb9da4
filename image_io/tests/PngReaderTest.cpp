#include "image_io/PngReader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "TestFiles.h"
#include "image_io/ImageFile.h"

namespace {

constexpr HRESULT kTruncated = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
constexpr DecodeLimits kLimits{1u << 30, 65535};

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
    int filters = -1;        // libpng's choice when negative
    bool phys = true;        // 600 dpi
    png_size_t idatBytes{};  // largest IDAT chunk; libpng's 8 KiB when 0
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
    if (layout.phys) {
        png_set_pHYs(png, info, 23622, 23622, PNG_RESOLUTION_METER);
    }
    if (layout.filters >= 0) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, layout.filters);
    }
    if (layout.idatBytes != 0) {
        png_set_compression_buffer_size(png, layout.idatBytes);
    }
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

// Loads through the public path; checks the fields every test PNG shares.
DibPtr Load(const Bytes& file, bool expectAlpha) {
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(file)), S_OK);
    DibPtr dib;
    if (image) {
        EXPECT_EQ(image->HasAlpha(), expectAlpha);
        EXPECT_EQ(ImageToDib(image, dib), S_OK);
    }
    if (dib) {
        EXPECT_EQ(dib->BitCount(), 32);
        EXPECT_GT(dib->Header()->biHeight, 0) << "bottom-up";
        EXPECT_EQ(dib->Header()->biXPelsPerMeter, 23622);
    }
    return dib;
}

// Random raw rows for the layout's size, `channels` samples a pixel.
void FillRandom(PngLayout& layout, int channels, std::mt19937& rng) {
    for (png_uint_32 y = 0; y < layout.height; ++y) {
        Bytes row((layout.width * channels * layout.bitDepth + 7) / 8);
        for (auto& b : row) {
            b = static_cast<std::uint8_t>(rng());
        }
        layout.rows.push_back(row);
    }
}

PngLayout RandomColour(png_uint_32 width, png_uint_32 height, std::mt19937& rng) {
    PngLayout layout{width, height};
    FillRandom(layout, 3, rng);
    return layout;
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

TEST(PngReader, WithoutResolutionCountsAs96Dpi) {
    PngLayout layout{3, 2};
    layout.phys = false;
    layout.rows = {Bytes(9, 10), Bytes(9, 10)};
    ImagePtr image;
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(WriteTestPng(layout))), S_OK);
    EXPECT_EQ(image->GetHorizontalResolution(), 96.0f);
    DibPtr dib;
    ASSERT_EQ(ImageToDib(image, dib), S_OK);
    EXPECT_EQ(dib->Header()->biXPelsPerMeter, 3780);
    EXPECT_EQ(dib->Header()->biYPelsPerMeter, 3780);
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
    ASSERT_EQ(ImageToDib(image, first), S_OK);
    first->Row(4)[5] ^= 0xFF;
    ASSERT_EQ(ImageToDib(image, second), S_OK);
    const Bytes& row = layout.rows[4];
    EXPECT_EQ(Bgra(*second, 1, 4), (std::vector<int>{row[5], row[4], row[3], 255}));
    EXPECT_EQ(Bgra(*second, 5, 4), (std::vector<int>{row[17], row[16], row[15], 255}));
}

// zlib's inflate, as libpng (and every other caller in this test program)
// reaches it, counting the bytes it puts out.
std::atomic<std::uint64_t> g_inflated{0};

}  // namespace

extern "C" int inflate(z_streamp stream, int flush) {
    using Inflate = int (*)(z_streamp, int);
    static const auto real = reinterpret_cast<Inflate>(::dlsym(RTLD_NEXT, "inflate"));
    const uLong before = stream->total_out;
    const int result = real(stream, flush);
    g_inflated += stream->total_out - before;
    return result;
}

namespace {

// A text chunk bomb (255 zTXt chunks of almost 8 MB each, a 2 MB file) and
// its iTXt and tEXt kin decode as the plain image, without decompressing
// them: the chunks are skipped. A profile is decompressed to 16 MB at most.
TEST(PngReader, TextChunksAreSkippedUndecompressed) {
    std::mt19937 rng(5);
    const PngLayout layout = RandomColour(300, 200, rng);
    Bytes file = WriteTestPng(layout);
    std::vector<Bytef> zeros(8000000), packed(compressBound(zeros.size()));
    uLongf packedSize = packed.size();
    ASSERT_EQ(compress2(packed.data(), &packedSize, zeros.data(), zeros.size(), 9), Z_OK);
    Bytes bombs;
    const auto add = [&](const char* type, const std::string& prefix) {
        Bytes data(prefix.begin(), prefix.end());
        data.insert(data.end(), packed.begin(), packed.begin() + packedSize);
        const Bytes chunk = PngChunk(type, data);
        bombs.insert(bombs.end(), chunk.begin(), chunk.end());
    };
    for (int i = 0; i < 255; ++i) {
        add("zTXt", std::string("Comment\0\0", 9));
    }
    add("iTXt", std::string("Comment\0\1\0en\0\0", 15));
    add("iCCP", std::string("big\0\0", 5));
    add("tEXt", std::string("Comment\0", 8));
    const std::size_t idat = 8 + 25 + 21;  // signature, IHDR, pHYs
    ASSERT_EQ(std::memcmp(file.data() + idat + 4, "IDAT", 4), 0);
    file.insert(file.begin() + idat, bombs.begin(), bombs.end());

    for (const auto decode : {ReadPng, ReadPngReference}) {
        g_inflated = 0;
        DibPtr dib;
        bool alpha = true;
        ASSERT_EQ(decode(dib, alpha, file.data(), file.size(), kLimits), S_OK);
        // The pixels (when libpng decodes them) and at most 16 MB of profile.
        EXPECT_LT(g_inflated.load(), 300u * 201 * 3 + (16u << 20)) << "bytes inflated";
        EXPECT_EQ(Bgra(*dib, 299, 199),
                  (std::vector<int>{layout.rows[199][899], layout.rows[199][898],
                                    layout.rows[199][897], 255}));
    }
}

// ReadPng decodes the common kinds itself: every kind, interlaced or not,
// with each filter, in one IDAT chunk or many, with or without pHYs, must
// give exactly what libpng gives.
TEST(PngReader, EveryKindDecodesAsLibpngDoes) {
    struct Kind {
        int colourType;
        int depth;
        bool trns;
    };
    const Kind kinds[] = {
        {PNG_COLOR_TYPE_GRAY, 1, false},       {PNG_COLOR_TYPE_GRAY, 2, false},
        {PNG_COLOR_TYPE_GRAY, 4, false},       {PNG_COLOR_TYPE_GRAY, 8, false},
        {PNG_COLOR_TYPE_GRAY, 8, true},        {PNG_COLOR_TYPE_GRAY, 16, false},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false}, {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false},
        {PNG_COLOR_TYPE_PALETTE, 2, false},    {PNG_COLOR_TYPE_PALETTE, 8, false},
        {PNG_COLOR_TYPE_PALETTE, 8, true},     {PNG_COLOR_TYPE_RGB, 8, false},
        {PNG_COLOR_TYPE_RGB, 8, true},         {PNG_COLOR_TYPE_RGB, 16, false},
        {PNG_COLOR_TYPE_RGB_ALPHA, 8, false},  {PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
    };
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    std::mt19937 rng(1207);
    for (const Kind& kind : kinds) {
        const int channels = kind.colourType == PNG_COLOR_TYPE_PALETTE      ? 1
                             : kind.colourType == PNG_COLOR_TYPE_GRAY       ? 1
                             : kind.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                             : kind.colourType == PNG_COLOR_TYPE_RGB        ? 3
                                                                            : 4;
        for (const int filter : filters) {
            for (const bool interlaced : {false, true}) {
                PngLayout layout{13, 7, kind.depth, kind.colourType, interlaced};
                layout.filters = filter;
                layout.phys = interlaced;
                layout.idatBytes = filter == PNG_ALL_FILTERS ? 16 : 0;
                if (kind.colourType == PNG_COLOR_TYPE_PALETTE) {
                    for (int i = 0; i < (1 << kind.depth); ++i) {
                        layout.palette.push_back({static_cast<png_byte>(rng()),
                                                  static_cast<png_byte>(rng()),
                                                  static_cast<png_byte>(rng())});
                    }
                    if (kind.trns) {
                        layout.trans = {255, 0, 128};
                    }
                } else if (kind.trns) {
                    layout.colourKey = true;
                    layout.transColour = {0, 7, 8, 9, 7};
                }
                FillRandom(layout, channels, rng);
                const Bytes file = WriteTestPng(layout);
                SCOPED_TRACE(testing::Message()
                             << "colour type " << kind.colourType << ", depth " << kind.depth
                             << ", tRNS " << kind.trns << ", filter " << filter << ", interlaced "
                             << interlaced);
                DibPtr own, reference;
                bool ownAlpha = false, referenceAlpha = true;
                ASSERT_EQ(ReadPng(own, ownAlpha, file.data(), file.size(), kLimits), S_OK);
                ASSERT_EQ(
                    ReadPngReference(reference, referenceAlpha, file.data(), file.size(), kLimits),
                    S_OK);
                EXPECT_EQ(ownAlpha, referenceAlpha);
                ASSERT_EQ(own->GetImageSize(), reference->GetImageSize());
                EXPECT_EQ(std::memcmp(own->Bits(), reference->Bits(), own->GetImageSize()), 0);
            }
        }
    }
}

// Hand-made pixel data for an 8-bit colour file (ReadPng's own decoding):
// damage of every kind fails cleanly, as libpng's decoding does, and what
// libpng accepts ReadPng accepts.
TEST(PngReader, DamagedPixelDataFailsCleanly) {
    constexpr std::uint32_t kWidth = 5, kHeight = 4;
    auto rows = [](std::uint32_t count, std::uint8_t filter) {
        Bytes raw;
        for (std::uint32_t y = 0; y < count; ++y) {
            raw.push_back(filter);
            for (std::uint32_t i = 0; i < kWidth * 3; ++i) {
                raw.push_back(static_cast<std::uint8_t>(y * 40 + i * 3));
            }
        }
        return raw;
    };
    auto deflated = [](const Bytes& raw) {
        uLongf size = compressBound(static_cast<uLong>(raw.size()));
        Bytes out(size);
        compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
        out.resize(size);
        return out;
    };
    // The stream in two IDAT chunks split at `split`, then `tail`.
    auto file = [](const Bytes& stream, std::size_t split, const Bytes& tail) {
        Bytes out = PngHeader(kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB);
        for (const Bytes& chunk :
             {PngChunk("IDAT", Bytes(stream.begin(), stream.begin() + split)),
              PngChunk("IDAT", Bytes(stream.begin() + split, stream.end())), tail}) {
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        return out;
    };
    const Bytes good = deflated(rows(kHeight, 2));
    const Bytes end = PngChunk("IEND", {});
    Bytes badCrc = file(good, 6, end);
    badCrc[33 + 12 + 6 + 8] ^= 1;  // first byte of the second chunk's data
    Bytes badAdler = good;
    badAdler[badAdler.size() - 1] ^= 1;
    Bytes dictionary = good;
    dictionary[1] = 0x20 | static_cast<std::uint8_t>(31 - ((dictionary[0] << 8 | 0x20) % 31));
    Bytes badDeflate = good;
    badDeflate[2] = 0xFF;  // block type 3 does not exist
    const Bytes whole = file(good, 6, end);

    const struct {
        const char* name;
        Bytes bytes;
        HRESULT expected;  // of both decodings
    } cases[] = {
        {"sound, two chunks", whole, S_OK},
        {"an empty IDAT first", file(good, 0, end), S_OK},
        {"no closing chunk", file(good, 6, {}), S_OK},
        {"Adler-32 sum wrong", file(badAdler, 6, end), E_NOT_IMAGE_FILE},
        {"second chunk's CRC wrong", badCrc, E_NOT_IMAGE_FILE},
        {"unknown filter type", file(deflated(rows(kHeight, 5)), 6, end), E_NOT_IMAGE_FILE},
        {"a row short", file(deflated(rows(kHeight - 1, 0)), 6, end), E_NOT_IMAGE_FILE},
        {"a preset dictionary", file(dictionary, 6, end), E_NOT_IMAGE_FILE},
        {"deflate data corrupt", file(badDeflate, 6, end), E_NOT_IMAGE_FILE},
        {"ends after the first chunk", Bytes(whole.begin(), whole.begin() + 33 + 12 + 6),
         kTruncated},
        {"ends inside the second chunk", Bytes(whole.begin(), whole.end() - 12 - 6), kTruncated},
        // libpng drops the excess with a warning, and so does ReadPng.
        {"a row too many", file(deflated(rows(kHeight + 1, 0)), 6, end), S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DibPtr dib, reference;
        bool alpha = true;
        EXPECT_EQ(ReadPng(dib, alpha, c.bytes.data(), c.bytes.size(), kLimits), c.expected);
        EXPECT_EQ(ReadPngReference(reference, alpha, c.bytes.data(), c.bytes.size(), kLimits),
                  c.expected);
        EXPECT_EQ(bool(dib), c.expected == S_OK) << "set only on success";
        if (dib && reference) {
            EXPECT_EQ(std::memcmp(dib->Bits(), reference->Bits(), dib->GetImageSize()), 0);
        }
    }
}

}  // namespace
