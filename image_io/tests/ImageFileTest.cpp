#include "image_io/ImageFile.h"

#include <gtest/gtest.h>

#include <tiffio.h>
#include <QBuffer>
#include <QImage>

#include <filesystem>
#include <random>

#include "TestFiles.h"
#include "image_io/ImagePreload.h"
#include "image_io/ImageSaver.h"

namespace {

// A 1 x 1 GIF with a two-colour palette.
const Bytes kGif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0,  0,
                    0,   ',', 0,   0,   0,   0,   1, 0, 1, 0, 0,    2, 2, 'D',  1,    0,    ';'};

TEST(ReadFileToStream, ErrorsAreSystemCodes) {
    TempDir dir;
    StreamPtr stream;
    EXPECT_EQ(ReadFileToStream(stream, dir.File("no/such/folder.png")), MakeHResult(0x80070002u));
    WriteFileBytes(dir.File("plain"), "\1\2\3");
    EXPECT_EQ(ReadFileToStream(stream, dir.File("plain/below.png")), MakeHResult(0x80070003u))
        << "a file used as a folder";
    EXPECT_EQ(ReadFileToStream(stream, dir.Path()), MakeHResult(0x8007010Bu));
    EXPECT_FALSE(stream) << "untouched on failure";
}

TEST(LoadImage, FailuresGiveTheirCodes) {
    TempDir dir;
    ImagePtr image;
    WriteFileBytes(dir.File("notes.png"), "not an image");
    EXPECT_EQ(LoadImageFromFile(image, dir.File("notes.png")), E_NOT_IMAGE_FILE);
    WriteFileBytes(dir.File("empty.png"), "");
    EXPECT_EQ(LoadImageFromFile(image, dir.File("empty.png")), E_NOT_IMAGE_FILE);
    EXPECT_EQ(LoadImageFromFile(image, dir.File("missing.png")), MakeHResult(0x80070002u));
    EXPECT_EQ(LoadImageFromStream(image, StreamPtr()), E_FAIL);
    EXPECT_FALSE(image);

    DibPtr dib;
    EXPECT_EQ(ImageToDib(ImagePtr(), dib), kNoMemory);
    EXPECT_EQ(LoadDibFromFile(dib, dir.File("notes.png")), E_NOT_IMAGE_FILE);
    EXPECT_FALSE(dib);

    // A preload gives what LoadImageFromFile gives, and the memory reserved
    // for it, once; a second Take decodes again; one dropped untaken just
    // ends, and gives its memory back.
    std::mt19937 rng(3);
    BitmapPtr bitmap;
    ASSERT_EQ(DibToBitmap(bitmap, RandomImage(9, 4, 24, rng()), true), S_OK);
    ASSERT_EQ(Save(*SaverFor("png"), bitmap, dir.File("a.png")), S_OK);
    CMemoryBudget budget(1000);
    for (const char* name : {"notes.png", "empty.png", "missing.png", "a.png"}) {
        CMemoryReservation memory;
        ASSERT_EQ(budget.TryReserve(memory, 600), S_OK);
        CImagePreload preload(dir.File(name), std::move(memory));
        ImagePtr direct, first, second;
        const HRESULT expected = LoadImageFromFile(direct, dir.File(name));
        EXPECT_EQ(preload.Take(first, memory), expected) << name;
        EXPECT_EQ(memory.Bytes(), 600u);
        EXPECT_EQ(preload.Take(second, memory), expected) << name;
        EXPECT_EQ(budget.Held(), 0u);
        EXPECT_EQ(bool(first), expected == S_OK);
        EXPECT_TRUE(first == second ? !first : first->GetWidth() == second->GetWidth());
    }
    {
        CMemoryReservation memory;
        ASSERT_EQ(budget.TryReserve(memory, 1000), S_OK);
        const CImagePreload dropped(dir.File("a.png"), std::move(memory));
    }
    EXPECT_EQ(budget.Held(), 0u);

    // The memory a file will need, told from its header (ours for PNG and
    // JPEG, Qt's for the others): the file's bytes, then 8 bytes a pixel.
    std::uint64_t need = 0;
    for (const auto& [name, keyword] :
         {std::pair{"a.png", "png"}, std::pair{"a.bmp", "bmp"}, std::pair{"a.tif", "tif"}}) {
        ASSERT_EQ(Save(*SaverFor(keyword), bitmap, dir.File(name)), S_OK);
        EXPECT_EQ(ImageMemoryNeed(dir.File(name), need), S_OK) << name;
        EXPECT_EQ(need, std::filesystem::file_size(dir.File(name)) + 9 * 4 * 8) << name;
    }
    // 16-bit samples are kept by the output's rotation and cut: 12 and 16
    // bytes a pixel for colour and colour with alpha, grey stays at 8.
    for (const auto& [type, perPixel] : {std::pair{2, 12}, std::pair{6, 16}, std::pair{0, 8}}) {
        const Bytes deep = PngHeader(9, 4, 16, type);
        WriteFileBytes(dir.File("deep.png"), std::string(deep.begin(), deep.end()));
        EXPECT_EQ(ImageMemoryNeed(dir.File("deep.png"), need), S_OK);
        EXPECT_EQ(need, deep.size() + 9 * 4 * perPixel) << type;
    }
    const Bytes jpeg = FlatJpeg(40, 30, {90}, true);
    WriteFileBytes(dir.File("a.jpg"), std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(ImageMemoryNeed(dir.File("a.jpg"), need), S_OK);
    EXPECT_EQ(need, std::filesystem::file_size(dir.File("a.jpg")) + 40 * 30 * 8);
    EXPECT_EQ(ImageMemoryNeed(dir.File("notes.png"), need), S_FALSE);
    EXPECT_EQ(need, std::filesystem::file_size(dir.File("notes.png")));
    EXPECT_EQ(ImageMemoryNeed(dir.File("missing.png"), need),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// A deflated TIFF image of 16-bit grey samples with the `more` entries
// (libtiff keeps the first of repeated entries): 2816 x 7 in one strip, or
// 16 x 16 when `more` gives the tiles.
Bytes DeflateTiff(const std::vector<TiffEntry>& more, bool tiled = false) {
    const std::uint32_t width = tiled ? 16 : 2816, height = tiled ? 16 : 7;
    std::vector<TiffEntry> entries = {
        {0x100, 3, width}, {0x101, 3, height}, {0x102, 3, 16}, {0x103, 3, 8}, {0x106, 3, 1}};
    if (!tiled) {
        entries.insert(entries.end(), {{0x111, 4, 8}, {0x117, 4, 1}});
    }
    entries.insert(entries.end(), more.begin(), more.end());
    return TiffStructure(false, entries);
}

// A declared size beyond the limits is refused before any pixel memory (or
// libpng row buffer, or libjpeg coefficient buffer) is taken.
TEST(LoadImage, HugeDeclaredSizesAreRefused) {
    const Bytes idat = PngChunk("IDAT", {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF});
    Bytes sof = FlatJpeg(16, 16, {90}, false);
    const Bytes marker = {0xFF, 0xC0};
    const auto frame = static_cast<std::size_t>(
        std::search(sof.begin(), sof.end(), marker.begin(), marker.end()) - sof.begin());
    ASSERT_LT(frame + 8, sof.size());
    sof[frame + 5] = sof[frame + 7] = 0xEA;  // 60000 × 60000
    sof[frame + 6] = sof[frame + 8] = 0x60;
    struct Case {
        const char* what;
        Bytes file;
    };
    std::vector<Case> cases = {
        {"100000 x 100000", PngHeader(100000, 100000, 8, 6)},
        {"2^31-1 x 1", PngHeader(2147483647u, 1, 8, 6)},
        {"500M x 1", PngHeader(500000000u, 1, 16, 6)},
        {"70000 x 1: wider than any side may be", PngHeader(70000, 1, 8, 0)},
        {"JPEG 60000 x 60000", sof},
        // A small progressive file whose coefficients need 52 MB.
        {"progressive JPEG 4200 x 4200", FlatJpeg(4200, 4200, {10, 20, 30}, true)},
        // Few pixels, but 2.5 GB of undecoded samples for libtiff's strip,
        // also when a second width entry of a type libtiff skips follows,
        // or 8 GB for one tile of a 16 x 16 image.
        {"TIFF 2816 x 7 of 63744 16-bit samples", DeflateTiff({{0x115, 3, 63744}})},
        {"TIFF with a mistyped second width", DeflateTiff({{0x115, 3, 63744}, {0x100, 0, 0}})},
        {"TIFF 16 x 16 in 65536 x 65536 tiles",
         DeflateTiff({{0x142, 4, 65536}, {0x143, 4, 65536}, {0x144, 4, 8}, {0x145, 4, 1}}, true)},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        cases[i].file.insert(cases[i].file.end(), idat.begin(), idat.end());
    }
    for (const Case& c : cases) {
        ImagePtr image;
        EXPECT_EQ(LoadImageFromStream(image, StreamOf(c.file)), kNoMemory) << c.what;
        EXPECT_FALSE(image);
    }
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(FlatJpeg(2000, 2000, {10, 20, 30}, true))), S_OK);
}

// A file that ends early or holds corrupt data is a failure, never a
// partial or grey-filled page: our own decoders and the structure checks
// give "end of file", Qt's decoders where they notice. (PNG files are cut
// everywhere in the PNG reader's tests.)
TEST(LoadImage, FilesThatEndEarlyOrAreCorruptFail) {
    // An odd width: the BMP's rows of 24-bit pixels are padded to 4 bytes.
    QImage q(121, 90, QImage::Format_RGB32);
    for (int y = 0; y < q.height(); ++y) {
        for (int x = 0; x < q.width(); ++x) {
            q.setPixel(x, y, qRgb(x * 2, y * 2, (x * y) & 255));
        }
    }
    auto encoded = [&q](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(q.save(&buffer, format)) << format;
        return Bytes(bytes.begin(), bytes.end());
    };
    // 2 × 2, 8-bit run-length encoded: two runs of two, each row ended.
    Bytes rle = {'B', 'M'};
    PutLE32(rle, 14 + 40 + 8 + 10), PutLE32(rle, 0), PutLE32(rle, 14 + 40 + 8);
    for (std::uint32_t v : {40u, 2u, 2u, 0x00080001u, 1u, 10u, 0u, 0u, 2u, 0u}) {
        PutLE32(rle, v);  // header: size, width, height, planes|bits, RLE8, ...
    }
    rle.insert(rle.end(), {0, 0, 0, 0, 255, 255, 255, 0, 2, 0, 0, 0, 2, 1, 0, 0, 0, 1});
    const HRESULT kEnd = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    struct Case {
        const char* what;
        Bytes file;
        std::size_t cut;  // bytes kept
        HRESULT expected;
    };
    const Bytes jpeg = encoded("JPEG"), bmp = encoded("BMP");
    const Bytes tiff = encoded("TIFF"), webp = encoded("WEBP");
    ASSERT_EQ(bmp.at(28), 24);
    const std::vector<Case> cases = {
        {"JPEG", jpeg, jpeg.size() / 2, kEnd},
        {"JPEG without its end marker", jpeg, jpeg.size() - 2, kEnd},
        {"BMP, the last row's padding and a byte of its pixels missing", bmp, bmp.size() - 2, kEnd},
        {"BMP, run-length encoded", rle, rle.size() - 5, kEnd},
        {"GIF", kGif, kGif.size() - 3, kEnd},
        {"TIFF", tiff, tiff.size() / 2, E_NOT_IMAGE_FILE},
        {"WebP", webp, webp.size() / 2, E_NOT_IMAGE_FILE},
    };
    for (const Case& c : cases) {
        ImagePtr image;
        EXPECT_EQ(LoadImageFromStream(image, StreamOf(c.file)), S_OK) << c.what;
        const Bytes cut(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(c.cut));
        EXPECT_EQ(LoadImageFromStream(image, StreamOf(cut)), c.expected) << c.what;
    }
    // GIF without its trailer and BMP with bytes to spare: the image is whole.
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(Bytes(kGif.begin(), kGif.end() - 1))), S_OK);
    Bytes longer = bmp;
    longer.push_back(0);
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(longer)), S_OK);

    // Corrupt entropy-coded data in the middle of a JPEG.
    Bytes corrupt = jpeg;
    for (std::size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 40; ++i) {
        corrupt[i] = 0xFF;
    }
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(corrupt)), E_NOT_IMAGE_FILE);
}

// JPEG files are decoded by our own code: colour, grey and inverted CMYK,
// baseline or progressive, all become blue, green, red, opaque.
TEST(LoadImage, JpegColourGreyAndCmyk) {
    struct Case {
        std::vector<std::uint8_t> sample;
        std::vector<int> bgra;
    };
    const std::vector<Case> cases = {
        {{200, 100, 50}, {50, 100, 200, 255}},
        {{77}, {77, 77, 77, 255}},
        {{255, 128, 0, 200}, {0, 100, 200, 255}},  // inverted C, M, Y, K
    };
    for (const Case& c : cases) {
        for (bool progressive : {false, true}) {
            ImagePtr image;
            DibPtr dib;
            ASSERT_EQ(LoadImageFromStream(image, StreamOf(FlatJpeg(17, 9, c.sample, progressive))),
                      S_OK);
            EXPECT_FALSE(image->HasAlpha());
            ASSERT_EQ(ImageToDib(image, dib), S_OK);
            for (const auto& [x, y] : {std::pair{0, 0}, {16, 8}}) {
                const std::vector<int> p = Bgra(*dib, x, y);
                for (int i = 0; i < 4; ++i) {
                    EXPECT_NEAR(p[i], c.bgra[i], 2) << c.sample.size() << " samples, " << i;
                }
            }
        }
    }
}

// Files Qt decodes keep their kind where Qt's is one of ours (1 bit black
// and white, grey, a grey palette) and become 8-bit colour otherwise; the
// analyses get 8-bit colour of every kind.
TEST(LoadImage, QtDecodedFilesKeepTheirKinds) {
    TempDir dir;
    QImage mono(9, 130, QImage::Format_Mono);                  // taller than one conversion band
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});  // 0 is white here
    mono.fill(0);
    mono.setPixel(3, 129, 1);
    QImage grey(5, 3, QImage::Format_Grayscale8);
    grey.fill(77);
    QImage palette(4, 2, QImage::Format_Indexed8);
    palette.setColorTable({qRgb(10, 20, 30), qRgb(40, 50, 60)});
    palette.fill(1);
    struct Case {
        const char* file;
        const QImage& image;
        PixelKind kind;
        std::vector<int> bgra;  // of pixel (3, height - 1) for the analyses
    };
    const Case cases[] = {
        {"mono.bmp", mono, PixelKind::Bitonal, {0, 0, 0, 255}},
        {"mono.pbm", mono, PixelKind::Bitonal, {0, 0, 0, 255}},
        {"grey.pgm", grey, PixelKind::Grey8, {77, 77, 77, 255}},
        {"palette.bmp", palette, PixelKind::Bgra32, {60, 50, 40, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(c.image.save(QString::fromStdString(dir.File(c.file))));
        ImagePtr image;
        DibPtr kept, analysed;
        ASSERT_EQ(LoadImageFromFile(image, dir.File(c.file)), S_OK);
        ASSERT_EQ(ImageToKeptDib(image, kept), S_OK);
        EXPECT_EQ(KindOf(*kept), c.kind);
        ASSERT_EQ(LoadDibFromFile(analysed, dir.File(c.file)), S_OK);
        ASSERT_EQ(KindOf(*analysed), PixelKind::Bgra32);
        EXPECT_EQ(Bgra(*analysed, 3, c.image.height() - 1), c.bgra);
        EXPECT_EQ(Bgra(*analysed, 0, 0)[0], c.kind == PixelKind::Bitonal ? 255 : c.bgra[0]);
    }
}

// A TIFF file written by libtiff with the given samples, one strip or 16 x
// 16 tiles.
struct TiffContent {
    std::uint32_t width, height;
    std::uint16_t bits, samples, photometric, extra, compression;
    bool tiled;
    Bytes pixels;  // the samples, top row first, rows of whole bytes
    Bytes profile;
};

void WriteTiffFile(const std::string& path, const TiffContent& content) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, content.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, content.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, content.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, content.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, content.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, content.compression);
    if (content.extra != 0) {
        const std::uint16_t extra[1] = {content.extra};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (!content.profile.empty()) {
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(content.profile.size()),
                     content.profile.data());
    }
    const std::size_t rowBytes =
        (std::size_t{content.width} * content.samples * content.bits + 7) / 8;
    if (!content.tiled) {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, content.height);
        for (std::uint32_t y = 0; y < content.height; ++y) {
            Bytes row(content.pixels.begin() + rowBytes * y,
                      content.pixels.begin() + rowBytes * (y + 1));
            ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
        }
    } else {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        const std::size_t pixel = content.samples * content.bits / 8;
        for (std::uint32_t ty = 0; ty < content.height; ty += 16) {
            for (std::uint32_t tx = 0; tx < content.width; tx += 16) {
                Bytes tile(16 * 16 * pixel, 0);
                for (std::uint32_t y = ty; y < std::min(ty + 16, content.height); ++y) {
                    for (std::uint32_t x = tx; x < std::min(tx + 16, content.width); ++x) {
                        std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * pixel],
                                    &content.pixels[rowBytes * y + pixel * x], pixel);
                    }
                }
                ASSERT_GT(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
            }
        }
    }
    TIFFClose(t);
}

// TIFF files are decoded by libtiff directly in their own kind: white-is-
// zero made black-is-zero, premultiplied alpha divided out, stripped or
// tiled, with the profile; other TIFF files go to Qt; strips past the end of
// the file are a file that ends early.
TEST(LoadImage, TiffFilesKeepTheirKinds) {
    TempDir dir;
    const std::uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW;
    const Bytes rgbProfile = IccProfile("RGB ", 40), greyProfile = IccProfile("GRAY", 41);
    auto le16 = [](std::initializer_list<int> values) {
        Bytes out;
        for (const int v : values) {
            out.push_back(static_cast<std::uint8_t>(v));
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        return out;
    };
    struct Case {
        const char* what;
        TiffContent content;
        PixelKind kind;
        bool alpha;
        Bytes row0;  // the kept image's first row, as far as given
    };
    const Case cases[] = {
        {"1-bit white is zero, Group 4",
         {10,
          3,
          1,
          1,
          PHOTOMETRIC_MINISWHITE,
          0,
          COMPRESSION_CCITTFAX4,
          false,
          {0x0F, 0x00, 0xFF, 0xC0, 0x00, 0x00},
          greyProfile},
         PixelKind::Bitonal,
         false,
         {0xF0, 0xC0}},
        {"8-bit grey, white is zero",
         {2, 1, 8, 1, PHOTOMETRIC_MINISWHITE, 0, kLzw, false, {0, 200}, {}},
         PixelKind::Grey8,
         false,
         {255, 55}},
        {"8-bit grey and premultiplied alpha",
         {2,
          1,
          8,
          2,
          PHOTOMETRIC_MINISBLACK,
          EXTRASAMPLE_ASSOCALPHA,
          kNone,
          false,
          {50, 100, 0, 0},
          {}},
         PixelKind::GreyAlpha8,
         true,
         {128, 100, 0, 0}},
        {"16-bit colour, tiled",
         {17, 18, 16, 3, PHOTOMETRIC_RGB, 0, kLzw, true, Bytes(17 * 18 * 6, 0x81), rgbProfile},
         PixelKind::Bgr48,
         false,
         le16({0x8181, 0x8181, 0x8181})},
        {"8-bit colour, unassociated alpha",
         {2,
          1,
          8,
          4,
          PHOTOMETRIC_RGB,
          EXTRASAMPLE_UNASSALPHA,
          kNone,
          false,
          {200, 100, 50, 128, 10, 20, 30, 255},
          rgbProfile},
         PixelKind::Bgra32,
         true,
         {50, 100, 200, 128, 30, 20, 10, 255}},
        {"16-bit grey, one extra sample that is not alpha",
         {1,
          1,
          16,
          2,
          PHOTOMETRIC_MINISBLACK,
          EXTRASAMPLE_UNSPECIFIED,
          kNone,
          false,
          le16({1000, 7}),
          {}},
         PixelKind::Grey16,
         false,
         le16({1000})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("k.tif");
        WriteTiffFile(path, c.content);
        ImagePtr image;
        DibPtr kept;
        ASSERT_EQ(LoadImageFromFile(image, path), S_OK);
        EXPECT_EQ(image->HasAlpha(), c.alpha);
        ASSERT_EQ(ImageToKeptDib(image, kept), S_OK);
        ASSERT_EQ(KindOf(*kept), c.kind);
        EXPECT_EQ(Bytes(kept->Row(0), kept->Row(0) + c.row0.size()), c.row0);
        EXPECT_TRUE(std::ranges::equal(kept->Profile(), c.content.profile));
        if (c.content.tiled) {
            EXPECT_EQ(Bytes(kept->Row(17), kept->Row(17) + 6 * 17), Bytes(6 * 17, 0x81))
                << "the last row, from the last row of tiles";
        }
    }
    // 4 grey pixels in a strip right after the directory: whole, and cut.
    Bytes grey = TiffStructure(false, {{0x100, 3, 4},
                                       {0x101, 3, 1},
                                       {0x102, 3, 8},
                                       {0x106, 3, 1},
                                       {0x111, 4, 8 + 2 + 12 * 8 + 4},
                                       {0x115, 3, 1},
                                       {0x116, 3, 1},
                                       {0x117, 4, 4}});
    grey.insert(grey.end(), {1, 2, 3, 4});
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(grey)), S_OK);
    grey.pop_back();
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(grey)), HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));

    // A palette TIFF is Qt's.
    QImage palette(3, 2, QImage::Format_Indexed8);
    palette.setColorTable({qRgb(1, 2, 3), qRgb(200, 100, 50)});
    palette.fill(1);
    ASSERT_TRUE(palette.save(QString::fromStdString(dir.File("p.tif")), "TIFF"));
    DibPtr dib;
    ASSERT_EQ(LoadDibFromFile(dib, dir.File("p.tif")), S_OK);
    EXPECT_EQ(Bgra(*dib, 2, 1), (std::vector<int>{50, 100, 200, 255}));
}

TEST(LoadImage, PreviewResource) {
    DibPtr dib;
    ASSERT_EQ(LoadDibFromResource(dib, 139, "IMAGE"), S_OK);
    EXPECT_EQ(dib->BitCount(), 32);
    ImagePtr image;
    EXPECT_EQ(LoadImageFromResource(image, 139, "image"), S_OK) << "types ignore case";
    EXPECT_EQ(LoadImageFromResource(image, 139, "PNG"), E_FAIL);
    DibPtr none;
    EXPECT_EQ(LoadDibFromResource(none, 138, "IMAGE"), E_FAIL);
    EXPECT_FALSE(none);
}

TEST(DibToBitmap, ViewOrCopy) {
    std::mt19937 rng(11);
    DibPtr rgba = RandomImage(5, 3, 32, rng());
    rgba->Header()->biYPelsPerMeter = 23622;
    BitmapPtr bitmap;
    ASSERT_EQ(DibToBitmap(bitmap, rgba, true), S_OK);
    EXPECT_EQ(bitmap->Dib().Bits(), rgba->Bits());
    EXPECT_EQ(DpiToPelsPerMeter(bitmap->GetVerticalResolution()), 23622);
    DibPtr rgb = RandomImage(3, 3, 24, rng());
    ASSERT_EQ(DibToBitmap(bitmap, rgb, true), S_OK);
    EXPECT_FALSE(bitmap->IsView()) << "a 24-bit image is copied even when sharing is asked";
    EXPECT_EQ(0, std::memcmp(bitmap->Dib().Bits(), rgb->Bits(), rgb->GetImageSize()));
    EXPECT_EQ(bitmap->SetResolution(0.0f, 300.0f), Gdiplus::InvalidParameter);

    EXPECT_EQ(DibToBitmap(bitmap, DibPtr(), true), E_INVALIDARG);
    EXPECT_FALSE(bitmap);
    DibPtr headerOnly(new CDib);
    ASSERT_TRUE(headerOnly->Create(2, 2, 32, 0, BI_RGB));
    EXPECT_EQ(DibToBitmap(bitmap, headerOnly, false), E_INVALIDARG);
}

}  // namespace
