#include "image_io/ImageFile.h"

#include <gtest/gtest.h>

#include <tiffio.h>
#include <QImage>

#include <random>

#include "TestFiles.h"
#include "image_io/ImageSaver.h"

namespace {

constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

StreamPtr StreamOf(const Bytes& bytes) {
    return CMemoryStream::Copy(bytes.data(), bytes.size());
}

// Pixel (x, y) of a 32-bit CDib as blue, green, red, alpha.
const BYTE* Px(const CDib& dib, LONG x, LONG y) {
    return dib.Row(y) + 4 * x;
}

TEST(ReadFileToStream, ErrorsAreSystemCodes) {
    TempDir dir;
    StreamPtr stream;
    EXPECT_EQ(ReadFileToStream(stream, dir.File("missing.png")), MakeHResult(0x80070002u));
    EXPECT_EQ(ReadFileToStream(stream, dir.File("no/such/folder.png")), MakeHResult(0x80070002u));
    WriteBytes(dir.File("plain"), {1, 2, 3});
    EXPECT_EQ(ReadFileToStream(stream, dir.File("plain/below.png")), MakeHResult(0x80070003u))
        << "a file used as a folder";
    EXPECT_EQ(ReadFileToStream(stream, dir.Path()), MakeHResult(0x8007010Bu));
    EXPECT_FALSE(stream) << "untouched on failure";
}

TEST(ReadFileToStream, ReadsTheWholeFile) {
    TempDir dir;
    Bytes bytes(100000);
    std::mt19937 rng(7);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    WriteBytes(dir.File("data.bin"), bytes);
    StreamPtr stream;
    ASSERT_EQ(ReadFileToStream(stream, dir.File("data.bin")), S_OK);
    ASSERT_EQ(stream->Size(), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), stream->Data()));

    WriteBytes(dir.File("empty.png"), {});
    ASSERT_EQ(ReadFileToStream(stream, dir.File("empty.png")), S_OK);
    EXPECT_EQ(stream->Size(), 0u);
}

TEST(LoadImage, FailuresGiveTheirCodes) {
    TempDir dir;
    ImagePtr image;
    WriteBytes(dir.File("notes.png"), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    EXPECT_EQ(LoadImageFromFile(image, dir.File("notes.png")), E_NOTIMPL);
    WriteBytes(dir.File("empty.png"), {});
    EXPECT_EQ(LoadImageFromFile(image, dir.File("empty.png")), E_NOTIMPL);
    EXPECT_EQ(LoadImageFromFile(image, dir.File("missing.png")), MakeHResult(0x80070002u));
    EXPECT_EQ(LoadImageFromStream(image, StreamPtr()), E_FAIL);
    EXPECT_FALSE(image);

    DibPtr dib;
    EXPECT_EQ(ImageToDib(ImagePtr(), dib, 7), kNoMemory);
    EXPECT_EQ(LoadDibFromFile(dib, dir.File("notes.png")), E_NOTIMPL);
    EXPECT_FALSE(dib);
}

// A header that declares 100000 × 100000 pixels (40 GB decoded) must be
// refused before any pixel memory is taken.
TEST(LoadImage, HugeDeclaredSizeIsRefused) {
    Bytes png = PngHeader(100000, 100000, 8, 6);
    const Bytes idat = PngChunk("IDAT", {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF});
    png.insert(png.end(), idat.begin(), idat.end());
    ImagePtr image;
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(png)), kNoMemory);
    EXPECT_FALSE(image);

    // Just within the cap in one direction, far beyond it in area.
    png = PngHeader(1000000, 300, 8, 2);
    png.insert(png.end(), idat.begin(), idat.end());
    EXPECT_EQ(LoadImageFromStream(image, StreamOf(png)), kNoMemory);
}

TEST(LoadImage, PngWithoutResolutionCountsAs96Dpi) {
    QImage q(3, 2, QImage::Format_RGB32);
    q.fill(qRgb(10, 20, 30));
    TempDir dir;
    // Qt writes a pHYs chunk of its own; cut it out.
    ASSERT_TRUE(q.save(QString::fromStdString(dir.File("q.png")), "PNG"));
    Bytes bytes = ReadBytes(dir.File("q.png"));
    const Bytes tag = {'p', 'H', 'Y', 's'};
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    ASSERT_NE(at, bytes.end());
    bytes.erase(at - 4, at + 4 + 9 + 4);
    ImagePtr image;
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(bytes)), S_OK);
    EXPECT_EQ(image->GetHorizontalResolution(), 96.0f);
    DibPtr dib;
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    EXPECT_EQ(dib->Header()->biXPelsPerMeter, 3780);
    EXPECT_EQ(dib->Header()->biYPelsPerMeter, 3780);
    EXPECT_FALSE(image->HasAlpha());
    const BYTE* p = Px(*dib, 2, 1);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{30, 20, 10, 255}));
}

// Grey, palette and 16-bit sources all become opaque 32-bit pixels.
TEST(LoadImage, GreyPaletteAndDeepFormatsBecomeOpaque32Bit) {
    TempDir dir;
    ImagePtr image;
    DibPtr dib;

    QImage grey(5, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            grey.scanLine(y)[x] = static_cast<uchar>(x * 50 + y);
        }
    }
    ASSERT_TRUE(grey.save(QString::fromStdString(dir.File("grey.png")), "PNG"));
    ASSERT_EQ(LoadDibFromFile(dib, dir.File("grey.png")), S_OK);
    ASSERT_EQ(dib->BitCount(), 32);
    const BYTE* p = Px(*dib, 4, 2);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{202, 202, 202, 255}));

    QImage palette(4, 2, QImage::Format_Indexed8);
    palette.setColorTable({qRgb(255, 0, 0), qRgb(0, 128, 255)});
    palette.fill(0);
    palette.setPixel(3, 1, 1);
    ASSERT_TRUE(palette.save(QString::fromStdString(dir.File("palette.png")), "PNG"));
    ASSERT_EQ(LoadImageFromFile(image, dir.File("palette.png")), S_OK);
    EXPECT_FALSE(image->HasAlpha());
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    p = Px(*dib, 3, 1);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{255, 128, 0, 255}));

    // A one-pixel palette GIF.
    const Bytes gif = {'G', 'I',  'F',  '8',  '9', 'a', 1, 0,   1, 0, 0x80, 0,
                       0,   0xFF, 0xFF, 0xFF, 0,   0,   0, ',', 0, 0, 0,    0,
                       1,   0,    1,    0,    0,   2,   2, 'D', 1, 0, ';'};
    ASSERT_EQ(LoadImageFromStream(image, StreamOf(gif)), S_OK);
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    EXPECT_EQ(dib->Width(), 1);
    EXPECT_EQ(Px(*dib, 0, 0)[3], 255);

    // 16 bits per sample, taller than one conversion band.
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
        p = Px(*dib, 6, y);
        EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}),
                  (std::vector<int>{255 - y, y, 180, 255}))
            << "row " << y;
    }
}

TEST(LoadImage, TransparencyIsKeptAndFlagged) {
    QImage q(2, 2, QImage::Format_ARGB32);
    q.setPixel(0, 0, qRgba(200, 100, 50, 0));
    q.setPixel(1, 0, qRgba(200, 100, 50, 128));
    q.setPixel(0, 1, qRgba(1, 2, 3, 255));
    q.setPixel(1, 1, qRgba(9, 8, 7, 77));
    TempDir dir;
    ASSERT_TRUE(q.save(QString::fromStdString(dir.File("alpha.png")), "PNG"));
    ImagePtr image;
    ASSERT_EQ(LoadImageFromFile(image, dir.File("alpha.png")), S_OK);
    EXPECT_EQ(image->GetFlags() & Gdiplus::ImageFlagsHasAlpha, Gdiplus::ImageFlagsHasAlpha);
    DibPtr dib;
    ASSERT_EQ(ImageToDib(image, dib, 7), S_OK);
    const BYTE* p = Px(*dib, 1, 0);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{50, 100, 200, 128}))
        << "not premultiplied";
    p = Px(*dib, 1, 1);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{7, 8, 9, 77}));
    EXPECT_EQ(Px(*dib, 0, 0)[3], 0);
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
    DibPtr dib;
    ASSERT_EQ(LoadDibFromFile(dib, dir.File("a.tif")), S_OK);
    const BYTE* p = Px(*dib, 0, 0);
    EXPECT_EQ(p[3], 128);
    EXPECT_NEAR(p[2], 200, 2);
    EXPECT_NEAR(p[0], 50, 2);
    p = Px(*dib, 1, 0);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{30, 20, 10, 255}));
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

// Broken files are refused or decoded, never a crash.
TEST(LoadImage, CorruptedFilesAreSafe) {
    std::mt19937 rng(4242);
    DibPtr source = RandomDib(9, 7, 24, rng);
    BitmapPtr bitmap;
    ASSERT_EQ(DibToBitmap(bitmap, source, false), S_OK);
    TempDir dir;
    const char* mimes[] = {"image/png", "image/jpeg", "image/tiff", "image/bmp"};
    for (const char* mime : mimes) {
        Gdiplus::CImageSaver saver;
        ASSERT_EQ(SetEncoder(saver, mime), S_OK);
        ASSERT_EQ(Save(saver, bitmap, dir.File("f")), S_OK);
        const Bytes good = ReadBytes(dir.File("f"));
        for (int round = 0; round < 60; ++round) {
            Bytes bytes = good;
            for (int i = 0; i < 3; ++i) {
                bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
            }
            const std::size_t cut = rng() % (bytes.size() / 2);
            bytes.erase(bytes.end() - static_cast<std::ptrdiff_t>(cut), bytes.end());
            ImagePtr image;
            const HRESULT hr = LoadImageFromStream(image, StreamOf(bytes));
            EXPECT_TRUE(hr == S_OK || hr == E_NOTIMPL || hr == kNoMemory) << std::hex << hr;
            DibPtr dib;
            if (hr == S_OK) {
                EXPECT_EQ(ImageToDib(image, dib, 7), S_OK);
            }
        }
    }
}

TEST(DibToBitmap, ViewOrCopy) {
    std::mt19937 rng(11);
    DibPtr rgba = RandomDib(5, 3, 32, rng);
    rgba->Header()->biXPelsPerMeter = 11811;
    rgba->Header()->biYPelsPerMeter = 23622;
    BitmapPtr bitmap;
    ASSERT_EQ(DibToBitmap(bitmap, rgba, true), S_OK);
    EXPECT_EQ(bitmap->Dib().Bits(), rgba->Bits());
    EXPECT_EQ(DpiToPelsPerMeter(bitmap->GetVerticalResolution()), 23622);

    ASSERT_EQ(DibToBitmap(bitmap, rgba, false), S_OK);
    EXPECT_NE(bitmap->Dib().Bits(), rgba->Bits());
    EXPECT_EQ(0, std::memcmp(bitmap->Dib().Bits(), rgba->Bits(), rgba->GetImageSize()));

    DibPtr rgb = RandomDib(3, 3, 24, rng);
    ASSERT_EQ(DibToBitmap(bitmap, rgb, true), S_OK);
    EXPECT_FALSE(bitmap->IsView()) << "a 24-bit image is copied even when sharing is asked";
    EXPECT_EQ(0, std::memcmp(bitmap->Dib().Bits(), rgb->Bits(), rgb->GetImageSize()));
    EXPECT_EQ(bitmap->GetHorizontalResolution(), 96.0f);

    EXPECT_EQ(bitmap->SetResolution(0.0f, 300.0f), Gdiplus::InvalidParameter);
    EXPECT_EQ(bitmap->GetHorizontalResolution(), 96.0f);
    EXPECT_EQ(bitmap->SetResolution(300.0f, 150.0f), Gdiplus::Ok);
    EXPECT_EQ(bitmap->GetVerticalResolution(), 150.0f);

    EXPECT_EQ(DibToBitmap(bitmap, DibPtr(), true), E_INVALIDARG);
    EXPECT_FALSE(bitmap);
    DibPtr headerOnly(new CDib);
    ASSERT_TRUE(headerOnly->Create(2, 2, 32, 0, BI_RGB));
    EXPECT_EQ(DibToBitmap(bitmap, headerOnly, false), E_INVALIDARG);
}

}  // namespace
