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
    EXPECT_EQ(ImageToDib(ImagePtr(), dib, 7), kNoMemory);
    EXPECT_EQ(LoadDibFromFile(dib, dir.File("notes.png")), E_NOT_IMAGE_FILE);
    EXPECT_FALSE(dib);

    // A preload gives what LoadImageFromFile gives, and the memory reserved
    // for it, once; a second Take decodes again; one dropped untaken just
    // ends, and gives its memory back.
    std::mt19937 rng(3);
    BitmapPtr bitmap;
    SaverPtr saver;
    ASSERT_EQ(DibToBitmap(bitmap, RandomImage(9, 4, 24, rng()), true), S_OK);
    ASSERT_EQ(SetPngSaver(saver), S_OK);
    ASSERT_EQ(Save(*saver, bitmap, dir.File("a.png")), S_OK);
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
    for (const auto& [name, factory] :
         {std::pair{"a.png", &SetPngSaver}, std::pair{"a.bmp", &SetBmpSaver},
          std::pair{"a.tif", &SetTiffSaver}}) {
        ASSERT_EQ(factory(saver), S_OK);
        ASSERT_EQ(Save(*saver, bitmap, dir.File(name)), S_OK);
        EXPECT_EQ(ImageMemoryNeed(dir.File(name), need), S_OK) << name;
        EXPECT_EQ(need, std::filesystem::file_size(dir.File(name)) + 9 * 4 * 8) << name;
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
            ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
            for (const auto& [x, y] : {std::pair{0, 0}, {16, 8}}) {
                const std::vector<int> p = Bgra(*dib, x, y);
                for (int i = 0; i < 4; ++i) {
                    EXPECT_NEAR(p[i], c.bgra[i], 2) << c.sample.size() << " samples, " << i;
                }
            }
        }
    }
}

// Palette and 16-bit sources become opaque 32-bit pixels.
TEST(LoadImage, PaletteAndDeepFormatsBecomeOpaque32Bit) {
    ImagePtr image;
    DibPtr dib;
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(kGif)), S_OK);
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    ASSERT_EQ(dib->BitCount(), 32);
    EXPECT_EQ(Bgra(*dib, 0, 0)[3], 255);

    // 16 bits per sample, taller than one conversion band.
    TempDir dir;
    QImage deep(7, 130, QImage::Format_RGBX64);
    for (int y = 0; y < deep.height(); ++y) {
        for (int x = 0; x < deep.width(); ++x) {
            deep.setPixelColor(x, y, QColor(x * 30, y, 255 - y));
        }
    }
    ASSERT_TRUE(deep.save(QString::fromStdString(dir.File("deep.png")), "PNG"));
    ASSERT_EQ(LoadDibFromFile(dib, dir.File("deep.png")), S_OK);
    ASSERT_EQ(dib->Height(), 130);
    for (LONG y : {0, 63, 64, 129}) {
        EXPECT_EQ(Bgra(*dib, 6, y), (std::vector<int>{255 - y, y, 180, 255})) << "row " << y;
    }
}

// The decoder hands back a TIFF with alpha premultiplied; the loader undoes
// it (within the rounding that premultiplication costs).
TEST(LoadImage, TiffAlphaComesOutUnpremultiplied) {
    TempDir dir;
    TIFF* t = TIFFOpen(dir.File("a.tif").c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 2);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    std::uint8_t row[8] = {200, 100, 50, 128, 10, 20, 30, 255};
    TIFFWriteScanline(t, row, 0, 0);
    TIFFClose(t);
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, dir.File("a.tif")), S_OK);
    EXPECT_EQ(image->GetFlags() & Gdiplus::ImageFlagsHasAlpha, Gdiplus::ImageFlagsHasAlpha);
    DibPtr dib;
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    const std::vector<int> p = Bgra(*dib, 0, 0);
    EXPECT_EQ(p[3], 128);
    EXPECT_NEAR(p[2], 200, 2);
    EXPECT_NEAR(p[0], 50, 2);
    EXPECT_EQ(Bgra(*dib, 1, 0), (std::vector<int>{30, 20, 10, 255}));
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
