// AppSettings: the processing settings around the pipeline's parameters,
// copied by value (lists included) so a batch works on its own copy.
//
// The record itself never fails and accepts any value; limits are enforced
// where values enter (dialog, command line, settings store).
//
// Valid ranges. The settings store never writes a value outside its range
// (the value it holds stays), and replaces one it reads by the default
// (KeepWithinRange); the batch refuses such values (SettingsValidation):
//   SaveType          0..3
//   JpegQuality       0..100
//   ThreadCount       1..99 (a larger stored value is read as 99)
//   EdgeType          0..9                   (AutoTrimParams)
//   SpaceType         0..15                  (AutoTrimParams)
//   output size       with FlagOutputSize set, OutputCx and OutputCy at least
//                     1 (the flag and both sizes count as one value)
//   MedianCount,      0..MaxMedianCount (10) (AutoTrimParams)
//   SmallMedianCount
//   SubFolder         every entry a plain subfolder name (IsPlainSubFolderName)
// Any value is valid for SizeToOutputAdd, the other Flags bits, Trim, the
// window placement and the EmptyPath entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/BitmapTypes.h"
#include "msg/MessageIds.h"
#include "trim/AutoTrimParams.h"

// Most recent entry first.
using HistoryList = std::vector<std::string>;

// Values of AppSettings::SaveType (the output formats' table,
// image_io/OutputFormats.h, holds every fact of each); any other value is
// saved as PNG.
enum SaveFormat : LONG {
    SaveTypeBmp = 0,
    SaveTypePng = 1,
    SaveTypeJpeg = 2,
    SaveTypeTiff = 3,
};

// A JPEG quality preset offered beside the quality box, with its caption's
// string id.
struct JpegQualityPreset {
    LONG quality;
    std::uint32_t stringId;
};

inline constexpr std::array<JpegQualityPreset, 5> kJpegQualityPresets{{
    {0, kStrJpegLowest},
    {30, kStrJpegLow},
    {50, kStrJpegMiddle},
    {80, kStrJpegHigh},
    {100, kStrJpegHighest},
}};

// The list choices of the dialog (it also accepts other numbers typed in).
inline constexpr std::array<LONG, 11> kSizeToOutputAddChoices{0,   -2,  -4,  -6,  -8, -10,
                                                              -12, -14, -16, -18, -20};
inline constexpr std::array<LONG, 10> kThreadCountChoices{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Last placement of the main window, in screen coordinates.
struct WindowPlacement {
    bool Maximized = false;
    RECT Rect{0, 0, 0, 0};
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

struct AppSettings {
    static constexpr std::size_t MaxHistory = 16;
    static constexpr LONG MinJpegQuality = 0;
    static constexpr LONG MaxJpegQuality = 100;
    static constexpr LONG MinThreadCount = 1;
    static constexpr LONG MaxStoredThreadCount = 99;  // cap of a value read from the store
    static constexpr std::string_view DefaultSubFolder = "trim";

    HistoryList EmptyPath;  // empty list or empty first entry: no empty image
    HistoryList SubFolder{std::string(DefaultSubFolder)};  // empty list reads as "trim"
    LONG SaveType = SaveTypePng;                           // a SaveFormat value
    LONG JpegQuality = 80;                                 // valid 0..100
    // TIFF compression of results above 1 bit: the TIFF Compression tag's
    // value, 8 Deflate or 5 LZW; any other value is saved as Deflate.
    LONG TiffCompression = 8;
    LONG SizeToOutputAdd = -2;  // pixels added to a preview size copied into Output
    LONG ThreadCount = 1;       // worker threads, at least 1
    WindowPlacement Window;
    AutoTrimParams AutoTrim;

    // The first EmptyPath entry, or "" when the list is empty.
    std::string EmptyImagePath() const;
    // The first SubFolder entry, or "trim" when the list is empty.
    std::string SubFolderName() const;
    // The extension of SaveType's format: "bmp", "png", "jpg" or "tif" for
    // SaveType 0..3; "png" for any other value.
    std::string_view Extension() const;
    // A /format value: a format's keyword, optionally followed by ',' and
    // its option (the JPEG quality as digits, jpg,85; a TIFF compression,
    // tif,lzw or tif,deflate); keywords in any ASCII case. Sets SaveType
    // and the option's field (JpegQuality, saturated to 2147483647;
    // TiffCompression) and returns true; false, nothing changed, for any
    // other value.
    bool ApplyFormatOption(std::string_view value);
    // The /format value of SaveType and its option, as ApplyFormatOption
    // reads it: "png", "bmp", "jpg,80", "tif,deflate".
    std::string FormatOptionValue() const;

    // Removes every entry equal to `text` (exact, case-sensitive), puts `text`
    // first and drops the oldest entries beyond MaxHistory. `text` may refer
    // to an entry of `list`.
    static void AddToHistory(HistoryList& list, std::string_view text);

    // `count` limited to MinThreadCount..MaxStoredThreadCount.
    static LONG ClampThreadCount(LONG count);

    // Whether `name` names a folder below the one it is joined to: not
    // empty, relative (no leading '/'), and no part between '/' is "." or
    // "..". Empty parts ("a//b", "a/") are harmless.
    static bool IsPlainSubFolderName(std::string_view name);

    // The `/reset` rule: "" first in EmptyPath (no empty image) and "trim"
    // first in SubFolder, both by the history rule; SaveType, JpegQuality,
    // TiffCompression, SizeToOutputAdd, ThreadCount and the whole AutoTrim
    // back to their defaults. The older history entries and Window stay.
    void ResetToDefaults();
};

// A run of ASCII digits as a number; one too large for 32 bits is
// 2147483647 (how numbers in option values and typed numbers are read).
std::int32_t Int32FromDigits(std::string_view digits);

// `wanted` with every value outside its valid range (see above) taken from
// `fallback` instead, and the SubFolder entries that are no plain subfolder
// names left out. `fallback` is meant to be within range. `replaced`, when
// given, receives the number of values taken from `fallback` or left out.
AppSettings KeepWithinRange(const AppSettings& wanted, const AppSettings& fallback,
                            int* replaced = nullptr);
