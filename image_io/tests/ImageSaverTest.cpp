#include "image_io/ImageSaver.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <QImage>

#include <algorithm>
#include <csignal>
#include <random>

#include "TestFiles.h"
#include "image_io/Encoders.h"
#include "image_io/ImageFile.h"
#include "image_io/PngReader.h"
#include "tests/support/ScanGenerator.h"

namespace {

struct Format {
    const char* mime;
    HRESULT (*factory)(SaverPtr&);
};

const Format kFormats[] = {
    {"image/png", SetPngSaver},
    {"image/tiff", SetTiffSaver},
    {"image/bmp", SetBmpSaver},
    {"image/jpeg", [](SaverPtr& slot) { return SetJpegSaver(slot, 90); }},
};

BitmapPtr BitmapOf(const DibPtr& dib, float dpiX, float dpiY) {
    BitmapPtr bitmap;
    EXPECT_EQ(DibToBitmap(bitmap, dib, false), S_OK);
    EXPECT_EQ(bitmap->SetResolution(dpiX, dpiY), Gdiplus::Ok);
    return bitmap;
}

TEST(ImageSaver, EncoderLookupAndRefusals) {
    Gdiplus::CImageSaver saver;
    EXPECT_EQ(SetEncoder(saver, "IMAGE/JPEG"), E_FAIL);
    EXPECT_EQ(SetEncoder(saver, "image/gif"), E_FAIL);
    EXPECT_EQ(saver.encoderClsid, Gdiplus::CLSID{}) << "untouched on failure";
    SaverPtr jpeg;
    ASSERT_EQ(SetJpegSaver(jpeg, 42), S_OK);
    EXPECT_EQ(jpeg->params.Find(Gdiplus::EncoderQuality)->Value, 42u);

    TempDir dir;
    SaverPtr png;
    ASSERT_EQ(SetPngSaver(png), S_OK);
    EXPECT_EQ(Save(*png, BitmapPtr(), dir.File("a.png")), E_INVALIDARG);
    std::mt19937 rng(3);
    const BitmapPtr bitmap = BitmapOf(RandomImage(4, 4, 32, rng()), 300, 300);
    EXPECT_EQ(Save(Gdiplus::CImageSaver(), bitmap, dir.File("a.png")), E_FAIL) << "no encoder";
    EXPECT_EQ(Save(*png, BitmapOf(BlankImage(4, 4, 16), 96, 96), dir.File("a.png")), E_FAIL);
    EXPECT_TRUE(dir.Entries().empty());
}

// The written files carry the resolution, as read by the codec libraries
// or Qt, and load back to the same pixels per metre.
TEST(ImageSaver, ResolutionRoundTrip) {
    TempDir dir;
    std::mt19937 rng(300);
    const DibPtr dib = RandomImage(9, 5, 24, rng());
    for (const auto& [dpiX, dpiY] : {std::pair{300.0f, 300.0f}, std::pair{300.0f, 600.0f}}) {
        SCOPED_TRACE(testing::Message() << dpiX << " x " << dpiY);
        const BitmapPtr bitmap = BitmapOf(dib, dpiX, dpiY);
        for (const Format& f : kFormats) {
            SCOPED_TRACE(f.mime);
            SaverPtr saver;
            ASSERT_EQ(f.factory(saver), S_OK);
            const std::string path = dir.File("out");
            ASSERT_EQ(Save(*saver, bitmap, path), S_OK);
            const std::string mime = f.mime;
            if (mime == "image/tiff") {
                const TiffFields t = ReadTiffFields(path);
                ASSERT_TRUE(t.ok);
                EXPECT_EQ(t.resolutionUnit, 2);
                EXPECT_EQ(t.xResolution, dpiX);
                EXPECT_EQ(t.yResolution, dpiY);
            } else if (mime == "image/jpeg") {
                const JpegHeader j = ReadJpegHeader(path);
                ASSERT_TRUE(j.ok);
                EXPECT_TRUE(j.jfif);
                EXPECT_EQ(j.densityUnit, 1);
                EXPECT_EQ(j.densityX, static_cast<int>(dpiX));
                EXPECT_EQ(j.densityY, static_cast<int>(dpiY));
            } else {  // Qt reads pHYs only when its unit is the metre
                const QImage q(QString::fromStdString(path), mime == "image/png" ? "PNG" : "BMP");
                ASSERT_FALSE(q.isNull());
                EXPECT_EQ(q.dotsPerMeterX(), DpiToPelsPerMeter(dpiX));
                EXPECT_EQ(q.dotsPerMeterY(), DpiToPelsPerMeter(dpiY));
            }
            DibPtr loaded;
            ASSERT_EQ(LoadDibFromFile(loaded, path), S_OK);
            EXPECT_EQ(loaded->Header()->biXPelsPerMeter, DpiToPelsPerMeter(dpiX));
            EXPECT_EQ(loaded->Header()->biYPelsPerMeter, DpiToPelsPerMeter(dpiY));
        }
    }

    // 11811 pixels per metre (299.9994 dpi) survives PNG and is rounded to
    // whole dots per inch in JPEG.
    const float dpi = static_cast<float>(PelsPerMeterToDpi(11811));
    SaverPtr saver;
    ASSERT_EQ(SetPngSaver(saver), S_OK);
    ASSERT_EQ(Save(*saver, BitmapOf(dib, dpi, dpi), dir.File("a.png")), S_OK);
    EXPECT_EQ(QImage(QString::fromStdString(dir.File("a.png"))).dotsPerMeterX(), 11811);
    ASSERT_EQ(SetJpegSaver(saver, 75), S_OK);
    ASSERT_EQ(Save(*saver, BitmapOf(dib, dpi, dpi), dir.File("a.jpg")), S_OK);
    EXPECT_EQ(ReadJpegHeader(dir.File("a.jpg")).densityX, 300);
}

// Lossless formats give back exactly the pixels written, for widths whose
// rows need padding. PNG files are ordinary ones: libpng (its own reader, not
// the program's decoding) and Qt read back the pixels and the resolution too.
TEST(ImageSaver, LosslessPixelRoundTrip) {
    TempDir dir;
    std::mt19937 rng(20240611);
    constexpr LONG kRows = 9;
    for (const std::string mime : {"image/png", "image/tiff", "image/bmp"}) {
        for (WORD bits : {WORD{24}, WORD{32}, WORD{8}}) {
            for (LONG width : {1, 6, 7, 301}) {
                SCOPED_TRACE(testing::Message() << mime << " " << bits << " bits, width " << width);
                const DibPtr dib = RandomImage(width, kRows, bits, rng());
                for (LONG i = 0; bits == 32 && mime == "image/tiff" && i < kRows * width; ++i) {
                    // The decoder premultiplies TIFF alpha: opaque pixels
                    // come back exactly; the file's samples are checked below.
                    dib->Row(i / width)[4 * (i % width) + 3] = 255;
                }
                Gdiplus::CImageSaver saver;
                ASSERT_EQ(SetEncoder(saver, mime), S_OK);
                const std::string path = dir.File("px");
                ASSERT_EQ(Save(saver, BitmapOf(dib, 299.5f, 600), path), S_OK);
                const Bytes file = ReadBytes(path);
                DibPtr loaded, libpng;
                QImage qt;
                ASSERT_EQ(LoadDibFromFile(loaded, path), S_OK);
                ASSERT_EQ(loaded->Width(), width);
                ASSERT_EQ(loaded->Height(), kRows);
                const bool png = mime == "image/png";
                if (png) {
                    bool alpha = false;
                    ASSERT_EQ(ReadPngReference(libpng, alpha, file.data(), file.size(),
                                               {1u << 30, 65535}),
                              S_OK);
                    EXPECT_EQ(alpha, bits == 32);
                    ASSERT_TRUE(qt.loadFromData(file.data(), static_cast<int>(file.size()), "PNG"));
                    qt.convertTo(QImage::Format_ARGB32);
                    EXPECT_EQ(qt.dotsPerMeterX(), 11791);
                    EXPECT_EQ(qt.dotsPerMeterY(), 23622);
                }
                const bool bmpAlpha = bits == 32 && mime == "image/bmp";
                for (LONG i = 0; i < kRows * width; ++i) {
                    const LONG x = i % width, y = i / width;
                    const BYTE* in = dib->Row(y) + bits / 8 * x;
                    const std::vector<int> want =
                        bits == 8 ? std::vector<int>{in[0], in[0], in[0], 255}
                                  : std::vector<int>{in[0], in[1], in[2],
                                                     bits == 32 && !bmpAlpha ? in[3] : 255};
                    ASSERT_EQ(Bgra(*loaded, x, y), want) << "at " << x << ", " << y;
                    if (png) {
                        ASSERT_EQ(Bgra(*libpng, x, y), want) << "libpng";
                        const QRgb q = qt.pixel(x, y);
                        ASSERT_EQ((std::vector<int>{qBlue(q), qGreen(q), qRed(q), qAlpha(q)}), want)
                            << "Qt";
                    }
                }
                if (bmpAlpha) {
                    // Readers ignore the fourth byte of a 32-bit BMP, but the
                    // file holds it: rows bottom-up right after the headers.
                    ASSERT_EQ(file.size(), 54 + dib->GetImageSize());
                    EXPECT_EQ(0, std::memcmp(file.data() + 54, dib->Bits(), dib->GetImageSize()));
                }
            }
        }
    }

    // TIFF alpha is stored unassociated, as written.
    const DibPtr dib = RandomImage(7, 3, 32, rng());
    Gdiplus::CImageSaver saver;
    ASSERT_EQ(SetEncoder(saver, "image/tiff"), S_OK);
    ASSERT_EQ(Save(saver, BitmapOf(dib, 300, 300), dir.File("a.tif")), S_OK);
    const TiffFields t = ReadTiffFields(dir.File("a.tif"));
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.samplesPerPixel, 4);
    EXPECT_EQ(t.extraSample, 2) << "unassociated alpha";
    for (LONG i = 0; i < 21; ++i) {
        const BYTE* in = dib->Row(i / 7) + 4 * (i % 7);
        ASSERT_EQ(Four(t.samples.data() + 4 * i), (std::vector<int>{in[2], in[1], in[0], in[3]}));
    }
}

// On a scan, PNG files stay within 15 % of the size the reference encoder
// (zlib level 1, Up filter, run-length strategy) gives.
TEST(ImageSaver, PngSizeNearTheReferenceEncoder) {
    TempDir dir;
    const scangen::GeneratedScan scan =
        scangen::GenerateScan(scangen::MakeScanOptions(1240, 1754, 150));
    DibPtr page;
    ASSERT_EQ(RemoveAlpha(page, *scan.scan), S_OK);
    long sizes[2] = {};
    int i = 0;
    for (const auto writer : {WritePng, WritePngReference}) {
        std::FILE* out = std::fopen(dir.File("page.png").c_str(), "wb");
        ASSERT_TRUE(out != nullptr && writer(out, *page, 150, 150));
        sizes[i++] = std::ftell(out);
        std::fclose(out);
    }
    EXPECT_LE(sizes[0], sizes[1] * 115 / 100) << sizes[0] << " against " << sizes[1];
}

TEST(ImageSaver, JpegDropsAlphaAndHonoursQuality) {
    TempDir dir;
    std::mt19937 rng(9);
    const DibPtr dib = RandomImage(64, 48, 32, rng());  // random alpha
    for (LONG y = 0; y < 48; ++y) {
        for (LONG x = 0; x < 64; ++x) {  // smooth colour, so the error is small
            dib->Row(y)[4 * x] = static_cast<BYTE>(x * 4);
            dib->Row(y)[4 * x + 1] = static_cast<BYTE>(y * 5);
            dib->Row(y)[4 * x + 2] = 130;
        }
    }
    SaverPtr low, high;
    ASSERT_EQ(SetJpegSaver(low, 10), S_OK);
    ASSERT_EQ(SetJpegSaver(high, 95), S_OK);
    ASSERT_EQ(Save(*low, BitmapOf(dib, 300, 300), dir.File("low.jpg")), S_OK);
    ASSERT_EQ(Save(*high, BitmapOf(dib, 300, 300), dir.File("high.jpg")), S_OK);
    EXPECT_LT(ReadBytes(dir.File("low.jpg")).size(), ReadBytes(dir.File("high.jpg")).size());
    EXPECT_EQ(ReadJpegHeader(dir.File("high.jpg")).components, 3);
    DibPtr loaded;
    ASSERT_EQ(LoadDibFromFile(loaded, dir.File("high.jpg")), S_OK);
    for (LONG i = 0; i < 64 * 48; ++i) {
        const BYTE* in = dib->Row(i / 64) + 4 * (i % 64);
        const BYTE* out = loaded->Row(i / 64) + 4 * (i % 64);
        ASSERT_EQ(out[3], 255);
        ASSERT_LE(std::max({std::abs(out[0] - in[0]), std::abs(out[1] - in[1]),
                            std::abs(out[2] - in[2])}),
                  12)
            << "at " << i;
    }
}

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

  private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

// A save that fails midway leaves the existing output as it was and no
// temporary file behind; a save that succeeds replaces it whole.
TEST(ImageSaver, SaveReplacesAtomically) {
    TempDir dir;
    std::mt19937 rng(77);
    const BitmapPtr big = BitmapOf(RandomImage(300, 200, 32, rng()), 300, 300);
    const std::string path = dir.File("result.out");
    const std::string previous = "old";
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.mime);
        WriteFileBytes(path, previous);
        ::chmod(path.c_str(), 0640);
        SaverPtr saver;
        ASSERT_EQ(f.factory(saver), S_OK);
        {
            const FileSizeLimit limit(4096);
            EXPECT_EQ(Save(*saver, big, path), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
        }
        EXPECT_EQ(ReadFileBytes(path), previous);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"result.out"});

        ASSERT_EQ(Save(*saver, big, path), S_OK);
        EXPECT_GT(ReadFileBytes(path).size(), 4096u);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"result.out"});
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u) << "the replaced file's permissions stay";
    }
    // The encoder itself refuses (JPEG rows hold at most 65500 pixels): the
    // save fails, the old file stays, nothing is left beside it.
    const std::string before = ReadFileBytes(path);
    SaverPtr jpeg;
    ASSERT_EQ(SetJpegSaver(jpeg, 90), S_OK);
    EXPECT_EQ(Save(*jpeg, BitmapOf(RandomImage(65501, 1, 32, rng()), 96, 96), path), E_FAIL);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"result.out"});

    SaverPtr png;
    ASSERT_EQ(SetPngSaver(png), S_OK);
    // Each failure of the file system says why.
    EXPECT_EQ(Save(*png, big, dir.File("missing/folder/a.png")),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(::mkdir(dir.File("taken").c_str(), 0755), 0);  // a folder in the way
    EXPECT_EQ(Save(*png, big, dir.File("taken")), HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_EQ(Save(*png, big, dir.File(std::string(256, 'n'))),
              HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(Save(*png, big, ""), E_INVALIDARG);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"result.out", "taken"}));
}

TEST(ImageSaver, GreyImagesStayGrey) {
    TempDir dir;
    std::mt19937 rng(8);
    const BitmapPtr bitmap = BitmapOf(RandomImage(5, 4, 8, rng()), 150, 150);
    SaverPtr saver;
    ASSERT_EQ(SetJpegSaver(saver, 80), S_OK);
    ASSERT_EQ(Save(*saver, bitmap, dir.File("g.jpg")), S_OK);
    EXPECT_EQ(ReadJpegHeader(dir.File("g.jpg")).components, 1);
    ASSERT_EQ(SetTiffSaver(saver), S_OK);
    ASSERT_EQ(Save(*saver, bitmap, dir.File("g.tif")), S_OK);
    EXPECT_EQ(ReadTiffFields(dir.File("g.tif")).samplesPerPixel, 1);

    // A palette that is not the grey ramp is not written as grey.
    DibPtr coloured(new CDib);
    ASSERT_TRUE(coloured->Create(2, 2, 8, 0, BI_RGB) && coloured->AllocateBits());
    coloured->ClearBits();
    coloured->ColorTable()[0] = RGBQUAD{0, 0, 255, 255};
    ASSERT_EQ(SetPngSaver(saver), S_OK);
    EXPECT_EQ(Save(*saver, BitmapOf(coloured, 96, 96), dir.File("c.png")), E_FAIL);
}

}  // namespace
