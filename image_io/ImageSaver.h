// Writing a Gdiplus::Bitmap to a file of one of the output formats
// (OutputFormats.h: BMP, PNG, TIFF, JPEG).
//
// A saver (Gdiplus::CImageSaver) names an encoder by class id and carries
// its parameters. The encoders take an image of any pixel kind (PixelKind.h)
// and write the kind their format holds (KindToWrite: the image's own where
// the format has it; 16 bits become 8 and alpha is dropped where it has
// not), with the bitmap's resolution and, in PNG, TIFF and JPEG, the
// image's ICC profile:
//  - BMP: BITMAPFILEHEADER + 40-byte BITMAPINFOHEADER, 1 bit (black and
//    white), 8 (the grey ramp), 24 or 32 bits (alpha), the rows bottom-up,
//    biX/YPelsPerMeter from the resolution;
//  - PNG: grey or colour, with or without alpha, 1, 8 or 16 bits a sample,
//    pHYs in pixels per metre, iCCP, the Average filter, deflated at
//    libdeflate's fastest level;
//  - TIFF: the same kinds (alpha unassociated), 1 bit as Group 4, the others
//    with the horizontal predictor and Deflate or LZW (EncoderCompression,
//    Deflate when absent), X/YResolution in inches as given, the profile
//    tag;
//  - JPEG: grey or colour, 8 bits, JFIF density in dots per inch rounded to
//    a whole number (the format has no fractions), the profile in APP2
//    markers, quality from the EncoderQuality parameter (75 when absent).
#pragma once

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/PixelKind.h"
#include "image_io/OutputFormats.h"
#include "image_io/PlatformImage.h"
#include "msg/Result.h"

namespace Gdiplus {

enum EncoderParameterValueType : std::uint32_t {
    EncoderParameterValueTypeByte = 1,
    EncoderParameterValueTypeASCII = 2,
    EncoderParameterValueTypeShort = 3,
    EncoderParameterValueTypeLong = 4,
    EncoderParameterValueTypeRational = 5,
    EncoderParameterValueTypeLongRange = 6,
    EncoderParameterValueTypeUndefined = 7,
    EncoderParameterValueTypeRationalRange = 8,
};

// JPEG quality, 0 to 100, value type Long.
extern const GUID EncoderQuality;
// TIFF compression of images above 1 bit, value type Long: the TIFF
// Compression tag's value of one of the format's choices (5 LZW, 8
// Deflate).
extern const GUID EncoderCompression;

// One encoder parameter with a single 32-bit value.
struct EncoderParameter {
    GUID Guid;
    std::uint32_t NumberOfValues;
    std::uint32_t Type;
    std::uint32_t Value;
};

class CEncodeParams {
  public:
    // Appends a parameter; its index, or -1 when memory is short.
    int AddParameter(const GUID& guid, std::uint32_t valueType, std::uint32_t value);
    std::size_t Count() const { return m_entries.size(); }
    const EncoderParameter& operator[](std::size_t index) const { return m_entries[index]; }
    // The last parameter with this GUID, or null.
    const EncoderParameter* Find(const GUID& guid) const;

  private:
    std::vector<EncoderParameter> m_entries;
};

class CImageSaver {
  public:
    CLSID encoderClsid{};  // all zero until SetEncoder succeeds
    CEncodeParams params;
};

}  // namespace Gdiplus

using SaverPtr = boost::shared_ptr<Gdiplus::CImageSaver>;

// Copies into the saver the class id of the encoder whose MIME type equals
// `mimeType` exactly (case-sensitive): "image/bmp", "image/png",
// "image/jpeg" or "image/tiff" (OutputFormats.h). E_FAIL when none matches.
HRESULT SetEncoder(Gdiplus::CImageSaver& saver, const std::string& mimeType);

// The pixel kind Save writes an image of `kind` as with this saver
// (KindToWrite of its format's kinds); nothing when the saver has no
// encoder.
std::optional<PixelKind> KindSavedAs(const Gdiplus::CImageSaver& saver, PixelKind kind);

// Writes the bitmap to `path` (UTF-8) with the saver's encoder, parameters
// and the bitmap's resolution. The file is written under a temporary name
// in the same folder, written to the disk (fsync) and renamed over `path`
// only once it is complete and closed, so an existing file at `path` is
// replaced whole or not at all, and no partial file is ever left behind;
// the folder is then written to the disk too, so that the result survives
// a power cut. Results: S_OK; E_INVALIDARG for an empty bitmap pointer or
// an image without pixels; E_FAIL when the saver has no encoder or the
// image is of no pixel kind; when creating, writing, syncing,
// closing or renaming the file fails, the system's reason as
// HResultFromErrno (0x80070070 a full disk, 0x800700DF a file larger than
// the process may write, 0x800700CE a name too long, 0x80070005 no
// permission ...); 0x80070008 when memory is short.
HRESULT Save(const Gdiplus::CImageSaver& saver, const BitmapPtr& bitmap, const std::string& path);

// Whether Save can put a new file at `path` in place of what is there now,
// checked without touching anything: S_FALSE when nothing is there; S_OK for
// a regular file (or a link to one); otherwise the reason as an HRESULT:
// 0x800700CE when the name or its temporary name is longer than the file
// system takes or the path longer than PATH_MAX, 0x8007010B for a folder,
// 0x80070005 for a device, pipe or socket in its place. Whether its folder
// can be written is CheckSaveFolder's.
HRESULT CheckSaveTarget(const std::string& path);

// Whether Save can write into `folder` (made first where it does not
// exist): S_OK when the folder, or the nearest of its parents that exists,
// is a folder we may write to; otherwise the reason as HResultFromErrno
// (0x80070005 no permission, 0x80070013 a read-only file system,
// 0x80070003 a file in the way).
HRESULT CheckSaveFolder(const std::string& folder);

// Removes from `folder` the temporary files that Save names like its
// outputs (".p001.png.k3x9a0qz") and that were last written more than `age`
// ago: left by a run that was killed while it saved. Anything else, and
// fresh ones (a save running now), stay. The number removed.
int RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds age);

// The saver of the format stored as `saveType` (OutputFormatOf: PNG for an
// unknown value) into `slot`, with the format's option as its encoder
// parameter: `quality` (clamped to 0 to 100) for a format with
// FormatOption::Quality, `compression` for one with
// FormatOption::Compression (the format's default when it is none of its
// choices' values). E_OUTOFMEMORY, the slot empty, when memory is short.
HRESULT SetFormatSaver(SaverPtr& slot, std::int32_t saveType, std::int32_t quality,
                       std::uint32_t compression);
