#include "image_io/ImageFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImageReader>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>

#include "image_io/EmbeddedResources.h"
#include "image_io/FileCompleteness.h"
#include "image_io/ImageImpl.h"
#include "image_io/ImageIoSetup.h"
#include "image_io/JpegReader.h"
#include "image_io/PngReader.h"
#include "image_io/Resolution.h"
#include "image_io/TiffReader.h"
#include "image_io/TiffStructure.h"

static_assert(std::endian::native == std::endian::little,
              "QImage 32-bit pixels are read as blue, green, red, alpha bytes");

namespace {

constexpr HRESULT kNoMemory = kDecodeNoMemory;
// Rows converted at a time for formats without a direct path.
constexpr int kBandRows = 64;

constexpr DecodeLimits kLimits{kMaxDecodedImageBytes, kMaxDecodedImageSide};

// The formats decoded by our own code, straight into a CDib; every other
// format goes through Qt. A new decoder is one more line here.
struct DirectDecoder {
    bool (*recognises)(const std::uint8_t* data, std::size_t size);
    DecodeFunction decode;
};
constexpr DirectDecoder kDirectDecoders[] = {
    {IsPngData, ReadPng},
    {IsJpegData, ReadJpeg},
    {IsTiffData, ReadTiff},
};

DecodeFunction DirectDecoderFor(const CMemoryStream& stream) {
    for (const DirectDecoder& decoder : kDirectDecoders) {
        if (decoder.recognises(stream.Data(), stream.Size())) {
            return decoder.decode;
        }
    }
    return nullptr;
}

// Whether a 1-bit image's two colours are black and white, and which is
// entry 0.
bool IsBlackAndWhite(const QImage& image, bool& whiteFirst) {
    const QList<QRgb> table = image.colorTable();
    if (table.size() != 2) {
        return false;
    }
    const auto level = [](QRgb c) {
        return qAlpha(c) == 255 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c) &&
                       (qRed(c) == 0 || qRed(c) == 255)
                   ? qRed(c)
                   : -1;
    };
    whiteFirst = level(table[0]) == 255;
    return level(table[0]) >= 0 && level(table[1]) >= 0 && level(table[0]) != level(table[1]);
}

bool IsGreyTable(const QImage& image) {
    const QList<QRgb> table = image.colorTable();
    return !table.isEmpty() && std::all_of(table.begin(), table.end(), [](QRgb c) {
        return qAlpha(c) == 255 && qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
    });
}

// The kind a Qt-decoded image is kept as: its own where it is one of ours,
// else 8-bit colour.
PixelKind KindOfQtImage(const QImage& image) {
    bool whiteFirst = false;
    switch (image.format()) {
        case QImage::Format_Mono:
        case QImage::Format_MonoLSB:
            return IsBlackAndWhite(image, whiteFirst) ? PixelKind::Bitonal : PixelKind::Bgra32;
        case QImage::Format_Grayscale8:
            return PixelKind::Grey8;
        case QImage::Format_Indexed8:
            return IsGreyTable(image) ? PixelKind::Grey8 : PixelKind::Bgra32;
        case QImage::Format_Grayscale16:
            return PixelKind::Grey16;
        case QImage::Format_RGBX64:
            return PixelKind::Bgr48;
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            return PixelKind::Bgra64;
        default:
            return PixelKind::Bgra32;
    }
}

// The canvas an extended WebP file (animated ones are) declares in its VP8X
// chunk: width and height less one, 24-bit little-endian. Qt's reader
// allocates the whole canvas just to tell its size.
bool WebpCanvasSize(const std::uint8_t* data, std::size_t size, std::uint32_t& width,
                    std::uint32_t& height) {
    if (size < 30 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WEBPVP8X", 8) != 0) {
        return false;
    }
    const auto le24 = [&](int at) {
        return std::uint32_t{data[at]} | (std::uint32_t{data[at + 1]} << 8) |
               (std::uint32_t{data[at + 2]} << 16);
    };
    width = le24(24) + 1;
    height = le24(27) + 1;
    return true;
}

// Decodes through Qt, with our limits checked on the size the header
// declares before any pixel is decoded.
HRESULT DecodeWithQt(const CMemoryStream& stream, QImage& pixels) {
    const HRESULT complete = CheckFileComplete(stream.Data(), stream.Size());
    if (FAILED(complete)) {
        return complete;
    }
    std::uint32_t canvasWidth = 0, canvasHeight = 0;
    if (WebpCanvasSize(stream.Data(), stream.Size(), canvasWidth, canvasHeight) &&
        !WithinDecodeLimits(canvasWidth, canvasHeight, PixelKind::Bgra32, kLimits)) {
        return kNoMemory;
    }
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(stream.Data()),
                                               static_cast<qsizetype>(stream.Size()));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) {
        return E_FAIL;
    }
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    (void)QuietDecoderMessages::OutOfMemorySaid();
    errno = 0;
    // The declared size is judged as 32-bit pixels, the kind most files Qt
    // decodes are kept as; the decoded image's own kind is judged after.
    // The reader's pixel format is not asked before: some plugins leave it
    // unset for a file they cannot read.
    const QSize declared = reader.size();
    // A decoder tells memory that ran out only by errno (the allocator under
    // it: the WebP reader allocates its canvas when asked for the size) or
    // a message (Qt's own allocations).
    const bool outOfMemoryEarly = errno == ENOMEM;
    if ((declared.isValid() &&
         !WithinDecodeLimits(declared.width(), declared.height(), PixelKind::Bgra32, kLimits)) ||
        !TiffSamplesWithinLimits(stream.Data(), stream.Size(), kLimits)) {
        return kNoMemory;
    }
    errno = 0;
    if (!reader.read(&pixels) || pixels.isNull()) {
        const bool outOfMemory =
            outOfMemoryEarly || errno == ENOMEM || QuietDecoderMessages::OutOfMemorySaid();
        return outOfMemory ? kNoMemory : E_NOT_IMAGE_FILE;
    }
    return WithinDecodeLimits(pixels.width(), pixels.height(), KindOfQtImage(pixels), kLimits)
               ? S_OK
               : kNoMemory;
}

// Hands the memory behind rows [first, first + count) of `image` back to the
// system; they read as zeros afterwards. Only whole pages inside the rows
// go, and only while nobody else shares the pixels. Converting a decoded
// image band by band this way keeps the decoded and the converted pixels
// from both being held in full.
void ReleaseRows(QImage& image, int first, int count) {
    if (!image.isDetached()) {
        return;
    }
    static const auto kPage = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto* start = image.constBits() + static_cast<qsizetype>(first) * image.bytesPerLine();
    const auto from = (reinterpret_cast<std::uintptr_t>(start) + kPage - 1) & ~(kPage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(start) +
                     static_cast<std::uintptr_t>(count) * image.bytesPerLine()) &
                    ~(kPage - 1);
    if (from < to) {
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    }
}

// The width and height the JPEG file open as `fd` (of `size` bytes) declares
// in its frame header, found by walking the markers by their lengths (only
// what lies before the frame header is read).
bool JpegDeclaredSize(int fd, std::uint64_t size, std::uint32_t& width, std::uint32_t& height) {
    std::uint8_t b[7];
    const auto readAt = [&](std::uint64_t at, std::size_t count) {
        return at + count <= size &&
               ::pread(fd, b, count, static_cast<off_t>(at)) == static_cast<ssize_t>(count);
    };
    std::uint64_t pos = 2;
    while (readAt(pos, 2) && b[0] == 0xFF) {
        const std::uint8_t marker = b[1];
        ++pos;  // a fill byte, or the 0xFF before the marker's code
        if (marker == 0xFF) {
            continue;
        }
        ++pos;
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {
            continue;  // no length
        }
        if (marker == 0xD9 || marker == 0xDA || !readAt(pos, 2)) {
            return false;  // the image ends or its data starts before any frame header
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (!readAt(pos, 7)) {
                return false;
            }
            height = (std::uint32_t{b[3]} << 8) | b[4];
            width = (std::uint32_t{b[5]} << 8) | b[6];
            return true;
        }
        pos += (std::uint64_t{b[0]} << 8) | b[1];
    }
    return false;
}

// The width and height the image file declares, read from its header
// without decoding it.
// The width and height the file's header declares, and the bytes of one of
// its pixels as the pipeline keeps them (at least 4, a 32-bit pixel; more for
// 16-bit samples, which the output's rotation and cut keep).
bool DeclaredSize(int fd, std::uint64_t size, const std::string& path, std::uint32_t& width,
                  std::uint32_t& height, std::uint32_t& pixelBytes) {
    pixelBytes = 4;
    std::uint8_t head[30];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    const std::size_t headSize = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (IsPngData(head, headSize)) {
        // IHDR must come first: width and height at 16 and 20, big-endian.
        if (headSize < 24 || std::memcmp(head + 12, "IHDR", 4) != 0) {
            return false;
        }
        const auto be32 = [&](int at) {
            return (std::uint32_t{head[at]} << 24) | (std::uint32_t{head[at + 1]} << 16) |
                   (std::uint32_t{head[at + 2]} << 8) | head[at + 3];
        };
        width = be32(16);
        height = be32(20);
        // Bit depth at 24, colour type at 25: grey, -, colour, palette,
        // grey and alpha, -, colour and alpha.
        constexpr std::uint32_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        if (headSize >= 26 && head[24] == 16 && head[25] < 7) {
            pixelBytes = std::max<std::uint32_t>(4, 2 * kChannels[head[25]]);
        }
        return true;
    }
    if (IsJpegData(head, headSize)) {
        return JpegDeclaredSize(fd, size, width, height);
    }
    if (WebpCanvasSize(head, headSize, width, height)) {
        return true;
    }
    EnsureImageIoSetUp();
    const QuietDecoderMessages quiet;
    QImageReader reader(QString::fromStdString(path));
    reader.setDecideFormatFromContent(true);
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.isEmpty()) {
        return false;
    }
    width = static_cast<std::uint32_t>(declared.width());
    height = static_cast<std::uint32_t>(declared.height());
    switch (reader.imageFormat()) {
        case QImage::Format_RGBX64:
        case QImage::Format_RGBA64:
        case QImage::Format_RGBA64_Premultiplied:
            pixelBytes = 8;
            break;
        default:
            break;
    }
    return true;
}

float DpiFromPelsPerMeter(LONG pelsPerMeter) {
    return pelsPerMeter > 0 ? static_cast<float>(PelsPerMeterToDpi(pelsPerMeter))
                            : static_cast<float>(kDefaultDpi);
}

// --- row converters into 32-bit blue, green, red, alpha ---------------------

void CopyRowArgb32(const uchar* src, BYTE* dst, int width) {
    std::memcpy(dst, src, static_cast<std::size_t>(width) * 4);
}

void CopyRowRgb32(const uchar* src, BYTE* dst, int width) {
    const auto* s = reinterpret_cast<const std::uint32_t*>(src);
    auto* d = reinterpret_cast<std::uint32_t*>(dst);
    for (int x = 0; x < width; ++x) {
        d[x] = s[x] | 0xFF000000u;
    }
}

void CopyRowGrey8(const uchar* src, BYTE* dst, int width) {
    auto* d = reinterpret_cast<std::uint32_t*>(dst);
    for (int x = 0; x < width; ++x) {
        d[x] = 0xFF000000u | std::uint32_t{src[x]} * 0x010101u;
    }
}

void CopyRowRgb888(const uchar* src, BYTE* dst, int width) {
    for (int x = 0; x < width; ++x) {
        dst[4 * x + 0] = src[3 * x + 2];
        dst[4 * x + 1] = src[3 * x + 1];
        dst[4 * x + 2] = src[3 * x + 0];
        dst[4 * x + 3] = 255;
    }
}

void CopyRowIndexed8(const uchar* src, BYTE* dst, int width, const std::uint32_t (&table)[256]) {
    auto* d = reinterpret_cast<std::uint32_t*>(dst);
    for (int x = 0; x < width; ++x) {
        d[x] = table[src[x]];
    }
}

// --- row converters into the other kinds ---------------------------------

BYTE ReverseBits(BYTE b) {
    b = static_cast<BYTE>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<BYTE>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<BYTE>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// A black-and-white 1-bit image to 0 black, 1 white, leftmost pixel in the
// highest bit.
void CopyRowMono(const uchar* src, BYTE* dst, int width, bool lsbFirst, bool whiteFirst) {
    for (int i = 0; i < (width + 7) / 8; ++i) {
        const BYTE b = lsbFirst ? ReverseBits(src[i]) : src[i];
        dst[i] = whiteFirst ? static_cast<BYTE>(~b) : b;
    }
}

void CopyRowGreyTable(const uchar* src, BYTE* dst, int width, const QList<QRgb>& table) {
    for (int x = 0; x < width; ++x) {
        dst[x] = src[x] < table.size() ? static_cast<BYTE>(qGreen(table[src[x]])) : 0;
    }
}

// 16-bit red, green, blue, alpha (QRgba64) to blue, green, red and, with
// `alpha`, alpha.
void CopyRowRgba64(const uchar* src, BYTE* dst, int width, bool alpha) {
    const int channels = alpha ? 4 : 3;
    for (int x = 0; x < width; ++x) {
        std::uint16_t s[4];
        std::memcpy(s, src + 8 * x, 8);
        const std::uint16_t d[4] = {s[2], s[1], s[0], s[3]};
        std::memcpy(dst + 2 * channels * x, d, 2 * channels);
    }
}

// Fills every row of `dib` (same size as `image`, of a kind other than
// Bgra32) from the image, as CopyPixels does.
bool CopyKindPixels(QImage& image, CDib& dib, PixelKind kind) {
    const int width = image.width();
    const int height = image.height();
    if (image.format() == QImage::Format_RGBA64_Premultiplied) {
        image.convertTo(QImage::Format_RGBA64);
        if (image.format() != QImage::Format_RGBA64 || image.width() != width ||
            image.height() != height) {
            return false;
        }
    }
    bool whiteFirst = false;
    IsBlackAndWhite(image, whiteFirst);
    const QList<QRgb> table = image.colorTable();
    const QImage::Format format = image.format();
    for (int top = 0; top < height; top += kBandRows) {
        const int rows = std::min(kBandRows, height - top);
        for (int y = top; y < top + rows; ++y) {
            const uchar* src = image.constScanLine(y);
            BYTE* dst = dib.Row(y);
            switch (kind) {
                case PixelKind::Bitonal:
                    CopyRowMono(src, dst, width, format == QImage::Format_MonoLSB, whiteFirst);
                    break;
                case PixelKind::Grey8:
                    if (format == QImage::Format_Indexed8) {
                        CopyRowGreyTable(src, dst, width, table);
                    } else {
                        std::memcpy(dst, src, static_cast<std::size_t>(width));
                    }
                    break;
                case PixelKind::Grey16:
                    std::memcpy(dst, src, std::size_t{2} * width);
                    break;
                default:
                    CopyRowRgba64(src, dst, width, kind == PixelKind::Bgra64);
                    break;
            }
        }
        ReleaseRows(image, top, rows);
    }
    ClearRowPadding(dib);
    return true;
}

// Fills every row of `dib` (same size as `image`) from the image, a band
// at a time, releasing each band of `image` once it is converted: the image
// is used up. False when a conversion runs out of memory.
bool CopyPixels(QImage& image, CDib& dib) {
    const int width = image.width();
    const int height = image.height();
    if (image.depth() == 32 && image.format() != QImage::Format_ARGB32 &&
        image.format() != QImage::Format_RGB32) {
        // Premultiplied and byte-ordered 32-bit formats convert in place.
        image.convertTo(QImage::Format_ARGB32);
        if (image.format() != QImage::Format_ARGB32 || image.width() != width ||
            image.height() != height) {
            return false;
        }
    }
    void (*copyRow)(const uchar*, BYTE*, int) = nullptr;
    switch (image.format()) {
        case QImage::Format_ARGB32:
            copyRow = CopyRowArgb32;
            break;
        case QImage::Format_RGB32:
            copyRow = CopyRowRgb32;
            break;
        case QImage::Format_Grayscale8:
            copyRow = CopyRowGrey8;
            break;
        case QImage::Format_RGB888:
            copyRow = CopyRowRgb888;
            break;
        default:
            break;
    }
    const bool indexed = image.format() == QImage::Format_Indexed8;
    std::uint32_t table[256];
    if (indexed) {
        // Indices beyond the table read as opaque black.
        std::fill(std::begin(table), std::end(table), 0xFF000000u);
        const QList<QRgb> colours = image.colorTable();
        const auto n = std::min<qsizetype>(colours.size(), 256);
        for (qsizetype i = 0; i < n; ++i) {
            table[i] = colours[i];
        }
    }
    for (int top = 0; top < height; top += kBandRows) {
        const int rows = std::min(kBandRows, height - top);
        if (indexed) {
            for (int y = top; y < top + rows; ++y) {
                CopyRowIndexed8(image.constScanLine(y), dib.Row(y), width, table);
            }
        } else if (copyRow != nullptr) {
            for (int y = top; y < top + rows; ++y) {
                copyRow(image.constScanLine(y), dib.Row(y), width);
            }
        } else {
            // Other depths (1-bit, 16-bit, 64-bit ...) go through a band of
            // 32 bits, so that no second full-size image is needed.
            const QImage band =
                image.copy(0, top, width, rows).convertToFormat(QImage::Format_ARGB32);
            if (band.isNull() || band.format() != QImage::Format_ARGB32) {
                return false;
            }
            for (int y = 0; y < rows; ++y) {
                CopyRowArgb32(band.constScanLine(y), dib.Row(top + y), width);
            }
        }
        ReleaseRows(image, top, rows);
    }
    return true;
}

}  // namespace

namespace Gdiplus {

Image::Image(std::unique_ptr<Impl> impl, std::uint32_t width, std::uint32_t height,
             std::uint32_t flags, float dpiX, float dpiY)
    : m_impl(std::move(impl)),
      m_width(width),
      m_height(height),
      m_flags(flags),
      m_dpiX(dpiX),
      m_dpiY(dpiY) {}

Image::~Image() = default;

Bitmap::Bitmap(DibPtr dib, bool shared, float dpiX, float dpiY)
    : m_dib(std::move(dib)), m_shared(shared), m_dpiX(dpiX), m_dpiY(dpiY) {}

Status Bitmap::SetResolution(float dpiX, float dpiY) {
    if (!std::isfinite(dpiX) || !std::isfinite(dpiY) || dpiX <= 0 || dpiY <= 0) {
        return InvalidParameter;
    }
    m_dpiX = dpiX;
    m_dpiY = dpiY;
    return Ok;
}

}  // namespace Gdiplus

bool WithinDecodeLimits(std::uint64_t width, std::uint64_t height, PixelKind kind,
                        const DecodeLimits& limits) {
    return width > 0 && height > 0 && width <= limits.maxSide && height <= limits.maxSide &&
           width * height * 4 <= limits.maxBytes &&
           DecodedImageBytes(width, height, kind) <= limits.maxBytes;
}

HRESULT LoadImageFromStream(ImagePtr& image, const StreamPtr& stream) {
    if (!stream) {
        return E_FAIL;
    }
    EnsureImageIoSetUp();
    const QuietDecoderMessages quiet;
    try {
        auto impl = std::make_unique<Gdiplus::Image::Impl>();
        impl->source = stream;
        impl->decode = DirectDecoderFor(*stream);
        std::uint32_t width, height;
        bool hasAlpha = false;
        if (impl->decode != nullptr) {
            // Straight into the CDib: the decoded pixels exist once.
            const HRESULT hr =
                impl->decode(impl->dib, hasAlpha, stream->Data(), stream->Size(), kLimits);
            if (FAILED(hr)) {
                return hr;
            }
            if (hr == kDecodeElsewhere) {
                impl->decode = nullptr;
            }
        }
        if (impl->decode != nullptr) {
            width = static_cast<std::uint32_t>(impl->dib->Width());
            height = static_cast<std::uint32_t>(impl->dib->Height());
        } else {
            const HRESULT hr = DecodeWithQt(*stream, impl->pixels);
            if (FAILED(hr)) {
                return hr;
            }
            hasAlpha = impl->pixels.hasAlphaChannel();
            width = static_cast<std::uint32_t>(impl->pixels.width());
            height = static_cast<std::uint32_t>(impl->pixels.height());
        }
        FileResolution resolution;
        ReadFileResolution(stream->Data(), stream->Size(), resolution);
        image.reset(new Gdiplus::Image(
            std::move(impl), width, height, hasAlpha ? Gdiplus::ImageFlagsHasAlpha : 0,
            static_cast<float>(resolution.dpiX), static_cast<float>(resolution.dpiY)));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ImageMemoryNeed(const std::string& path, std::uint64_t& bytes) {
    bytes = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return HResultFromErrno(errno);
    }
    struct stat info {};
    HRESULT hr = S_FALSE;
    if (::fstat(fd, &info) != 0) {
        hr = HResultFromErrno(errno);
    } else if (S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uint64_t>(info.st_size);
        std::uint32_t width = 0, height = 0, pixelBytes = 4;
        bytes = size;
        if (DeclaredSize(fd, size, path, width, height, pixelBytes)) {
            // The decoded image, and as much again.
            bytes += 2 * std::uint64_t{pixelBytes} * width * height;
            hr = S_OK;
        }
    }
    ::close(fd);
    return hr;
}

void PrepareImageCodecs() {
    EnsureImageIoSetUp();
}

HRESULT LoadImageFromFile(ImagePtr& image, const std::string& path) {
    StreamPtr stream;
    const HRESULT hr = ReadFileToStream(stream, path);
    if (FAILED(hr)) {
        return hr;
    }
    return LoadImageFromStream(image, stream);
}

HRESULT LoadImageFromResource(ImagePtr& image, std::uint32_t name, const std::string& type) {
    const EmbeddedResource* resource = FindEmbeddedResource(name, type);
    if (resource == nullptr || resource->size == 0) {
        return E_FAIL;
    }
    const StreamPtr stream = CMemoryStream::View(resource->data, resource->size);
    if (!stream) {
        return E_FAIL;
    }
    return LoadImageFromStream(image, stream);
}

HRESULT ImageToKeptDib(const ImagePtr& image, DibPtr& dib) {
    if (!image) {
        return kNoMemory;
    }
    const QuietDecoderMessages quiet;
    try {
        // The decoded pixels are handed over (direct decoders) or used up
        // (Qt's, converted band by band); a later call decodes again.
        Gdiplus::Image::Impl& impl = image->GetImpl();
        DibPtr out;
        if (impl.decode != nullptr) {
            if (impl.dib) {
                out.swap(impl.dib);
            } else {
                bool hasAlpha = false;
                if (impl.decode(out, hasAlpha, impl.source->Data(), impl.source->Size(), kLimits) !=
                    S_OK) {
                    return kNoMemory;
                }
            }
        } else {
            QImage pixels;
            pixels.swap(impl.pixels);
            if (pixels.isNull() && FAILED(DecodeWithQt(*impl.source, pixels))) {
                return kNoMemory;
            }
            const PixelKind kind = KindOfQtImage(pixels);
            const QByteArray icc = pixels.colorSpace().iccProfile();
            const std::span<const BYTE> profile(reinterpret_cast<const BYTE*>(icc.constData()),
                                                static_cast<std::size_t>(icc.size()));
            out = NewDib(pixels.width(), pixels.height(), kind,
                         ProfileFitsKind(profile, kind) ? profile : std::span<const BYTE>());
            if (!out || !(kind == PixelKind::Bgra32 ? CopyPixels(pixels, *out)
                                                    : CopyKindPixels(pixels, *out, kind))) {
                return kNoMemory;
            }
        }
        BITMAPINFOHEADER* header = out->Header();
        header->biXPelsPerMeter = DpiToPelsPerMeter(image->GetHorizontalResolution());
        header->biYPelsPerMeter = DpiToPelsPerMeter(image->GetVerticalResolution());
        dib = out;
        return S_OK;
    } catch (...) {
        return kNoMemory;
    }
}

HRESULT ImageToDib(const ImagePtr& image, DibPtr& dib) {
    DibPtr kept;
    HRESULT hr = ImageToKeptDib(image, kept);
    if (SUCCEEDED(hr)) {
        hr = ToKind(kept, kept, PixelKind::Bgra32);
    }
    if (FAILED(hr)) {
        return kNoMemory;
    }
    dib = kept;
    return S_OK;
}

HRESULT LoadDibFromFile(DibPtr& dib, const std::string& path) {
    ImagePtr image;
    const HRESULT hr = LoadImageFromFile(image, path);
    if (FAILED(hr)) {
        return hr;
    }
    return ImageToDib(image, dib);
}

HRESULT LoadDibFromResource(DibPtr& dib, std::uint32_t name, const std::string& type) {
    ImagePtr image;
    const HRESULT hr = LoadImageFromResource(image, name, type);
    if (FAILED(hr)) {
        return hr;
    }
    return ImageToDib(image, dib);
}

HRESULT DibToBitmap(BitmapPtr& bitmap, const DibPtr& dib, bool share) {
    bitmap.reset();
    if (!dib || !dib->IsValid()) {
        return E_INVALIDARG;
    }
    const BITMAPINFOHEADER* header = dib->Header();
    const float dpiX = DpiFromPelsPerMeter(header->biXPelsPerMeter);
    const float dpiY = DpiFromPelsPerMeter(header->biYPelsPerMeter);
    try {
        const WORD bits = dib->BitCount();
        if (share && (bits == 32 || bits == 8)) {
            bitmap.reset(new Gdiplus::Bitmap(dib, true, dpiX, dpiY));
            return S_OK;
        }
        // A copy of the whole header block (colour table, profile and
        // resolution included) and of the pixels.
        DWORD profileSize = 0;
        if (header->biSize >= sizeof(BITMAPV5HEADER)) {
            const auto* v5 = reinterpret_cast<const BITMAPV5HEADER*>(header);
            if (v5->bV5CSType == PROFILE_EMBEDDED) {
                profileSize = v5->bV5ProfileSize;
            }
        }
        DibPtr copy(new CDib);
        if (!copy->CreateHeader(header->biSize, header->biWidth, header->biHeight,
                                header->biBitCount, header->biClrUsed, header->biCompression,
                                profileSize)) {
            return kNoMemory;
        }
        const std::size_t blockSize = CDib::GetHeaderBlockSize(header);
        if (CDib::GetHeaderBlockSize(copy->Header()) != blockSize) {
            return E_INVALIDARG;
        }
        std::memcpy(copy->Header(), header, blockSize);
        if (!copy->AllocateBits()) {
            return kNoMemory;
        }
        std::memcpy(copy->Bits(), dib->Bits(), dib->GetImageSize());
        bitmap.reset(new Gdiplus::Bitmap(copy, false, dpiX, dpiY));
        return S_OK;
    } catch (...) {
        return kNoMemory;
    }
}
