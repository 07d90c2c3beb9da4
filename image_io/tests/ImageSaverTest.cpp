#include "image_io/ImageSaver.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <QImage>
#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <random>

#include "TestFiles.h"
#include "image_io/Encoders.h"
#include "image_io/ImageFile.h"
#include "image_io/PngReader.h"
#include "tests/support/ScanGenerator.h"

namespace {

using K = PixelKind;

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
    EXPECT_EQ(SaverFor("jpg", 142)->params.Find(Gdiplus::EncoderQuality)->Value, 100u);
    EXPECT_EQ(SaverFor("tif", 0, 5)->params.Find(Gdiplus::EncoderCompression)->Value, 5u);
    EXPECT_EQ(SaverFor("tif", 0, 7)->params.Find(Gdiplus::EncoderCompression)->Value, 8u)
        << "no TIFF compression of ours: Deflate";
    SaverPtr unknown;
    ASSERT_EQ(SetFormatSaver(unknown, 17, 0, 0), S_OK);
    EXPECT_EQ(unknown->encoderClsid, SaverFor("png")->encoderClsid) << "unknown types save PNG";

    TempDir dir;
    const SaverPtr png = SaverFor("png");
    EXPECT_EQ(Save(*png, BitmapPtr(), dir.File("a.png")), E_INVALIDARG);
    const BitmapPtr bitmap = BitmapOf(RandomKindImage(4, 4, K::Bgra32, 3), 300, 300);
    EXPECT_EQ(Save(Gdiplus::CImageSaver(), bitmap, dir.File("a.png")), E_FAIL) << "no encoder";
    // Images of no pixel kind: 5-5-5 colour, an 8-bit colour palette.
    EXPECT_EQ(Save(*png, BitmapOf(BlankImage(4, 4, 16), 96, 96), dir.File("a.png")), E_FAIL);
    const DibPtr coloured = BlankImage(2, 2, 8);
    coloured->ColorTable()[0] = RGBQUAD{0, 0, 255, 255};
    EXPECT_EQ(Save(*png, BitmapOf(coloured, 96, 96), dir.File("a.png")), E_FAIL);
    EXPECT_TRUE(dir.Entries().empty());
}

// A row of the raster in a TIFF file's order: red before blue, 1 bit white
// is zero.
Bytes TiffOrder(const BYTE* row, PixelKind kind, LONG width) {
    const PixelKindInfo& info = InfoOf(kind);
    const std::size_t sample = info.sampleBits / 8;
    Bytes out(row, row + (std::size_t{info.bitCount} * width + 7) / 8);
    if (kind == K::Bitonal) {
        for (BYTE& b : out) {
            b = static_cast<BYTE>(~b);
        }
        out.back() &= static_cast<BYTE>(0xFF00u >> (width % 8 == 0 ? 8 : width % 8));
    }
    for (LONG x = 0; info.colour && x < width; ++x) {
        std::swap_ranges(&out[sample * info.channels * x],
                         &out[sample * info.channels * x + sample],
                         &out[sample * (info.channels * x + 2)]);
    }
    return out;
}

// Each kind through each format: the kind the format holds is written (the
// kind itself, or the nearest it holds), with the profile and the
// resolution; the file reads back as that kind, with the same pixels where
// the format is lossless, by the program, by the codec library on its own
// and by Qt.
TEST(ImageSaver, EveryKindRoundTripsThroughEveryFormat) {
    // Qt's colour management takes the test profiles for what they are not.
    QLoggingCategory::setFilterRules("qt.gui.icc=false");
    struct Format {
        const char* keyword;
        std::uint32_t compression;
        std::array<K, 9> written;  // for each kind in PixelKind order
    };
    constexpr std::array<K, 9> kSame = {K::Bitonal, K::Grey8,       K::GreyAlpha8,
                                        K::Grey16,  K::GreyAlpha16, K::Bgr24,
                                        K::Bgra32,  K::Bgr48,       K::Bgra64};
    const Format formats[] = {
        {"png", 0, kSame},
        {"tif", 8, kSame},
        {"tif", 5, kSame},
        {"bmp",
         0,
         {K::Bitonal, K::Grey8, K::Bgra32, K::Grey8, K::Bgra32, K::Bgr24, K::Bgra32, K::Bgr24,
          K::Bgra32}},
        {"jpg",
         0,
         {K::Grey8, K::Grey8, K::Grey8, K::Grey8, K::Grey8, K::Bgr24, K::Bgr24, K::Bgr24,
          K::Bgr24}},
    };
    // PNG colour type and depth of each kind.
    constexpr std::pair<int, int> kPng[] = {{0, 1}, {0, 8}, {4, 8},  {0, 16}, {4, 16},
                                            {2, 8}, {6, 8}, {2, 16}, {6, 16}};
    constexpr LONG kWidth = 13, kHeight = 70;  // padded rows; more than one band of rows
    const float dpiX = 299.5f, dpiY = 600.0f;
    TempDir dir;
    for (const Format& format : formats) {
        const std::string name = format.keyword;
        const SaverPtr saver = SaverFor(format.keyword, 90, format.compression);
        for (std::size_t k = 0; k < kSame.size(); ++k) {
            const K kind = kSame[k], written = format.written[k];
            const PixelKindInfo& info = InfoOf(written);
            SCOPED_TRACE(testing::Message() << name << " " << format.compression << ", kind " << k);
            // The first kind's profile is a large one (a printer's or a
            // device link's), beyond a metadata chunk's usual size.
            const Bytes profile =
                IccProfile(InfoOf(kind).colour ? "RGB " : "GRAY", k == 0 ? 1500000 : 37 + k);
            const DibPtr dib = RandomKindImage(kWidth, kHeight, kind, 100 + k, profile);
            const std::string path = dir.File("out." + name);
            ASSERT_EQ(Save(*saver, BitmapOf(dib, dpiX, dpiY), path), S_OK);
            EXPECT_EQ(KindSavedAs(*saver, kind), written);
            const Bytes keptProfile = name == "bmp" ? Bytes() : profile;
            // What the file should hold, row by row, in the raster's order.
            std::vector<Bytes> expected;
            for (LONG y = 0; y < kHeight; ++y) {
                Bytes row(CDib::CalcStride(kWidth, 64));
                ASSERT_TRUE(ConvertRow(kind, dib->Row(y), written, row.data(), kWidth));
                row.resize((std::size_t{info.bitCount} * kWidth + 7) / 8);
                if (written == K::Bitonal) {
                    row.back() &= static_cast<BYTE>(0xFF00u >> (kWidth % 8));
                }
                expected.push_back(row);
            }
            const bool lossless = name != "jpg";
            // Alpha that Qt's TIFF reader premultiplies, or that BMP readers
            // ignore, is left out of the pixels compared.
            const bool alphaRead = info.alpha && name != "bmp";

            // The program.
            ImagePtr image;
            DibPtr loaded;
            ASSERT_EQ(LoadImageFromFile(image, path), S_OK);
            ASSERT_EQ(ImageToKeptDib(image, loaded), S_OK);
            const K loadedKind = written == K::Bgr24 ? K::Bgra32 : written;
            ASSERT_EQ(KindOf(*loaded), loadedKind);
            EXPECT_EQ(image->HasAlpha(), alphaRead);
            EXPECT_EQ(Bytes(loaded->Profile().begin(), loaded->Profile().end()), keptProfile);
            const float wholeX = name == "jpg" ? std::round(dpiX) : dpiX;
            EXPECT_EQ(loaded->Header()->biXPelsPerMeter, DpiToPelsPerMeter(wholeX));
            EXPECT_EQ(loaded->Header()->biYPelsPerMeter, DpiToPelsPerMeter(dpiY));
            for (LONG y = 0; lossless && y < kHeight; ++y) {
                Bytes want(loaded->Stride()), got(loaded->Stride());
                const K compared = alphaRead ? loadedKind : WithoutAlpha(loadedKind);
                ConvertRow(written, expected[y].data(), compared, want.data(), kWidth);
                ConvertRow(loadedKind, loaded->Row(y), compared, got.data(), kWidth);
                ASSERT_EQ(got, want) << "row " << y;
            }

            // The codec library on its own.
            if (name == "png") {
                const PngFile png = ReadPngFile(path);
                ASSERT_TRUE(png.ok);
                EXPECT_EQ(std::pair(png.colourType, png.bitDepth), kPng[k]);
                EXPECT_EQ(png.profile, profile);
                EXPECT_EQ(png.pixelsPerMetreX, static_cast<std::uint32_t>(DpiToPelsPerMeter(dpiX)));
                EXPECT_EQ(png.rows, expected);
            } else if (name == "tif") {
                const TiffFields t = ReadTiffFields(path);
                ASSERT_TRUE(t.ok);
                EXPECT_EQ(t.bitsPerSample, info.sampleBits);
                EXPECT_EQ(t.samplesPerPixel, info.channels);
                EXPECT_EQ(t.photometric, written == K::Bitonal ? 0 : info.colour ? 2 : 1);
                EXPECT_EQ(t.compression, written == K::Bitonal ? 4u : format.compression);
                EXPECT_EQ(t.extraSample, info.alpha ? 2 : 0) << "unassociated alpha";
                EXPECT_EQ(t.profile, profile);
                EXPECT_EQ(t.xResolution, dpiX);
                EXPECT_EQ(t.resolutionUnit, 2);
                Bytes samples;
                for (LONG y = 0; y < kHeight; ++y) {
                    const Bytes row = TiffOrder(expected[y].data(), written, kWidth);
                    samples.insert(samples.end(), row.begin(), row.end());
                }
                EXPECT_EQ(t.samples, samples);
            } else if (name == "jpg") {
                const JpegHeader j = ReadJpegHeader(path);
                ASSERT_TRUE(j.ok);
                EXPECT_EQ(j.components, info.channels);
                EXPECT_EQ(j.profile, profile);
                EXPECT_EQ(j.densityUnit, 1);
                EXPECT_EQ(j.densityX, 300);
            }

            // Qt (whose TIFF reader flattens grey with alpha to 8 bits
            // without alpha: only the size and resolution are checked).
            const bool qtReads = lossless && !(name == "tif" && !info.colour && info.alpha);
            QImage q;
            ASSERT_TRUE(q.load(QString::fromStdString(path)));
            ASSERT_EQ(q.size(), QSize(kWidth, kHeight));
            EXPECT_EQ(q.dotsPerMeterY(), DpiToPelsPerMeter(dpiY));
            for (LONG y = 0; qtReads && y < kHeight; ++y) {
                std::uint16_t wide[4 * kWidth];
                ConvertRow(written, expected[y].data(), K::Bgra64, reinterpret_cast<BYTE*>(wide),
                           kWidth);
                for (LONG x = 0; x < kWidth; ++x) {
                    const QRgba64 c = q.pixelColor(x, y).rgba64();
                    const std::uint16_t* w = wide + 4 * x;
                    if (alphaRead) {
                        ASSERT_EQ(c.alpha(), w[3]) << x << ", " << y;
                    }
                    if (!alphaRead || w[3] == 65535) {
                        ASSERT_EQ((std::array{c.blue(), c.green(), c.red()}),
                                  (std::array{w[0], w[1], w[2]}))
                            << x << ", " << y;
                    }
                }
            }
        }
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
        ASSERT_TRUE(out != nullptr && writer(out, *page, WriteSettings{K::Bgr24, 150, 150, 0, 0}));
        sizes[i++] = std::ftell(out);
        std::fclose(out);
    }
    EXPECT_LE(sizes[0], sizes[1] * 115 / 100) << sizes[0] << " against " << sizes[1];
}

TEST(ImageSaver, JpegHonoursQuality) {
    TempDir dir;
    DibPtr dib = RandomKindImage(64, 48, K::Bgr24, 9);
    for (LONG y = 0; y < 48; ++y) {
        for (LONG x = 0; x < 64; ++x) {  // smooth colour, so the error is small
            dib->Row(y)[3 * x] = static_cast<BYTE>(x * 4);
            dib->Row(y)[3 * x + 1] = static_cast<BYTE>(y * 5);
            dib->Row(y)[3 * x + 2] = 130;
        }
    }
    ASSERT_EQ(Save(*SaverFor("jpg", 10), BitmapOf(dib, 300, 300), dir.File("low.jpg")), S_OK);
    ASSERT_EQ(Save(*SaverFor("jpg", 95), BitmapOf(dib, 300, 300), dir.File("high.jpg")), S_OK);
    EXPECT_LT(ReadBytes(dir.File("low.jpg")).size(), ReadBytes(dir.File("high.jpg")).size());
    DibPtr loaded;
    ASSERT_EQ(LoadDibFromFile(loaded, dir.File("high.jpg")), S_OK);
    for (LONG i = 0; i < 64 * 48; ++i) {
        const BYTE* in = dib->Row(i / 64) + 3 * (i % 64);
        const BYTE* out = loaded->Row(i / 64) + 4 * (i % 64);
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
    for (const OutputFormat& format : OutputFormats()) {
        SCOPED_TRACE(format.name);
        WriteFileBytes(path, previous);
        ::chmod(path.c_str(), 0640);
        const SaverPtr saver = SaverFor(format.keywords[0].data());
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
    const SaverPtr jpeg = SaverFor("jpg");
    EXPECT_EQ(Save(*jpeg, BitmapOf(RandomImage(65501, 1, 32, rng()), 96, 96), path), E_FAIL);
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"result.out"});

    const SaverPtr png = SaverFor("png");
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

}  // namespace
