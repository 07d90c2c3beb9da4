// The formats results are written in: one row per format, the one place
// that knows them. The saver reads a row's encoder, writer, kinds and
// option; the settings record its stored number, extension, /format
// keywords and option; the window its name and option.
//
// A new format is a new row here (and its writer); a new kind of option
// also a field of the settings record that stores its value.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

#include "image/Dib.h"
#include "image/PixelKind.h"

namespace Gdiplus {

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;

}  // namespace Gdiplus

// What a writer is told besides the image.
struct WriteSettings {
    // The kind to write: one the format holds (KindToWrite of the image's
    // kind); the writer converts the image's rows (ConvertRow) as needed.
    PixelKind kind;
    double dpiX;  // dots per inch
    double dpiY;
    int quality;                // FormatOption::Quality: 0 to 100
    std::uint32_t compression;  // FormatOption::Compression: a choice's value
};

// Writes one whole file to an open stdio stream and returns false on any
// failure, including short writes. Prints, throws and closes nothing; the
// caller checks the final flush and close.
using FormatWriter = bool (*)(std::FILE* file, const CDib& image, const WriteSettings& settings);

// The option that may follow a format's keyword after a comma.
enum class FormatOption {
    None,
    Quality,      // digits: 0 to 100 (jpg,85)
    Compression,  // one of the format's choices (tif,lzw)
};

struct FormatChoice {
    std::string_view keyword;  // ASCII case ignored
    std::uint32_t value;
    std::string_view caption;  // the window's
};

struct OutputFormat {
    std::int32_t saveType;                     // AppSettings::SaveType, as stored
    std::string_view name;                     // "PNG": the window's caption
    std::string_view extension;                // of the results, without '.'
    std::array<std::string_view, 2> keywords;  // /format values, ASCII case ignored
    std::string_view mimeType;                 // SetEncoder's name
    Gdiplus::CLSID encoder;                    // the saver's class id
    FormatWriter writer;
    PixelKindSet kinds;  // the kinds its files hold
    FormatOption option;
    std::uint32_t defaultOption;            // the option's value when none is given
    std::span<const FormatChoice> choices;  // FormatOption::Compression
};

// Every format, in the window's order (BMP, PNG, TIFF, JPEG).
std::span<const OutputFormat> OutputFormats();
// The format stored as `saveType`; PNG for any value no format has.
const OutputFormat& OutputFormatOf(std::int32_t saveType);
// The format one of whose keywords `keyword` is, or null.
const OutputFormat* OutputFormatByKeyword(std::string_view keyword);
// The format with this encoder class id, or null.
const OutputFormat* OutputFormatByEncoder(const Gdiplus::CLSID& encoder);
// The value of the choice `keyword` names among `format`'s, or nothing.
std::optional<std::uint32_t> FormatChoiceValue(const OutputFormat& format,
                                               std::string_view keyword);
