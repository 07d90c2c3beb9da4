#include "image_io/OutputFormats.h"

#include <algorithm>

#include "image_io/Encoders.h"

namespace {

using K = PixelKind;

// The TIFF Compression tag's values.
constexpr std::uint32_t kTiffLzw = 5;
constexpr std::uint32_t kTiffDeflate = 8;
constexpr FormatChoice kTiffCompressions[] = {{"deflate", kTiffDeflate, "Deflate"},
                                              {"lzw", kTiffLzw, "LZW"}};
constexpr std::uint32_t kDefaultJpegQuality = 75;
constexpr PixelKindSet kEveryKind = {K::Bitonal, K::Grey8,       K::GreyAlpha8,
                                     K::Grey16,  K::GreyAlpha16, K::Bgr24,
                                     K::Bgra32,  K::Bgr48,       K::Bgra64};

// The class ids are the platform imaging library's ids of these encoders,
// so stored savers stay comparable.
constexpr OutputFormat kFormats[] = {
    {.saveType = 0,
     .name = "BMP",
     .extension = "bmp",
     .keywords = {"bmp", ""},
     .mimeType = "image/bmp",
     .encoder = {0x557CF400, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}},
     .writer = WriteBmp,
     .kinds = {K::Bitonal, K::Grey8, K::Bgr24, K::Bgra32},
     .option = FormatOption::None,
     .defaultOption = 0,
     .choices = {}},
    {.saveType = 1,
     .name = "PNG",
     .extension = "png",
     .keywords = {"png", ""},
     .mimeType = "image/png",
     .encoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}},
     .writer = WritePng,
     .kinds = kEveryKind,
     .option = FormatOption::None,
     .defaultOption = 0,
     .choices = {}},
    {.saveType = 3,
     .name = "TIFF",
     .extension = "tif",
     .keywords = {"tif", "tiff"},
     .mimeType = "image/tiff",
     .encoder = {0x557CF405, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}},
     .writer = WriteTiff,
     .kinds = kEveryKind,
     .option = FormatOption::Compression,
     .defaultOption = kTiffDeflate,
     .choices = kTiffCompressions},
    {.saveType = 2,
     .name = "JPEG",
     .extension = "jpg",
     .keywords = {"jpg", "jpeg"},
     .mimeType = "image/jpeg",
     .encoder = {0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}},
     .writer = WriteJpeg,
     .kinds = {K::Grey8, K::Bgr24},
     .option = FormatOption::Quality,
     .defaultOption = kDefaultJpegQuality,
     .choices = {}},
};
constexpr std::size_t kPng = 1;

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

}  // namespace

std::span<const OutputFormat> OutputFormats() {
    return kFormats;
}

const OutputFormat& OutputFormatOf(std::int32_t saveType) {
    for (const OutputFormat& format : kFormats) {
        if (format.saveType == saveType) {
            return format;
        }
    }
    return kFormats[kPng];
}

const OutputFormat* OutputFormatByKeyword(std::string_view keyword) {
    for (const OutputFormat& format : kFormats) {
        for (const std::string_view k : format.keywords) {
            if (!k.empty() && SameIgnoringAsciiCase(k, keyword)) {
                return &format;
            }
        }
    }
    return nullptr;
}

const OutputFormat* OutputFormatByEncoder(const Gdiplus::CLSID& encoder) {
    for (const OutputFormat& format : kFormats) {
        if (format.encoder == encoder) {
            return &format;
        }
    }
    return nullptr;
}

std::optional<std::uint32_t> FormatChoiceValue(const OutputFormat& format,
                                               std::string_view keyword) {
    for (const FormatChoice& choice : format.choices) {
        if (SameIgnoringAsciiCase(choice.keyword, keyword)) {
            return choice.value;
        }
    }
    return std::nullopt;
}
