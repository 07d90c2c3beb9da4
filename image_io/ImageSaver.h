// Writing a Gdiplus::Bitmap to a BMP, PNG, TIFF or JPEG file.
//
// A saver (Gdiplus::CImageSaver) names an encoder by class id and carries
// its parameters. The encoders take 32-bit (blue, green, red, alpha), 24-bit
// and 8-bit grey-ramp images (BMP also any other 8-bit palette) and write
// the bitmap's resolution:
//  - BMP: BITMAPFILEHEADER + 40-byte BITMAPINFOHEADER, the rows bottom-up
//    as stored, biX/YPelsPerMeter from the resolution;
//  - PNG: RGBA, RGB or grey, 8 bits per sample, pHYs in pixels per metre,
//    the Average filter, deflated at libdeflate's fastest level;
//  - TIFF: RGBA (unassociated alpha), RGB or grey, deflate with the
//    horizontal predictor, X/YResolution in inches as given;
//  - JPEG: colour or grey (the alpha byte is dropped), JFIF density in dots
//    per inch rounded to a whole number (the format has no fractions),
//    quality from the EncoderQuality parameter (75 when absent).
#pragma once

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "image_io/PlatformImage.h"
#include "msg/Result.h"

namespace Gdiplus {

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using CLSID = GUID;

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
// "image/jpeg" or "image/tiff". E_FAIL when none matches.
HRESULT SetEncoder(Gdiplus::CImageSaver& saver, const std::string& mimeType);

// Writes the bitmap to `path` (UTF-8) with the saver's encoder, parameters
// and the bitmap's resolution. The file is written under a temporary name
// in the same folder, written to the disk (fsync) and renamed over `path`
// only once it is complete and closed, so an existing file at `path` is
// replaced whole or not at all, and no partial file is ever left behind;
// the folder is then written to the disk too, so that the result survives
// a power cut. Results: S_OK; E_INVALIDARG for an empty bitmap pointer or
// an image without pixels; E_FAIL when the saver has no encoder or the
// encoder does not take the image's depth; when creating, writing, syncing,
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

// Saver factories: each puts a new saver into `slot`, then sets the
// format's encoder; when that fails the slot is emptied and the failure
// returned. SetJpegSaver adds EncoderQuality (value type Long) = quality
// (0 to 100); if the parameter cannot be added it returns E_NOTIMPL and
// keeps the saver.
HRESULT SetBmpSaver(SaverPtr& slot);
HRESULT SetPngSaver(SaverPtr& slot);
HRESULT SetJpegSaver(SaverPtr& slot, std::uint32_t quality);
HRESULT SetTiffSaver(SaverPtr& slot);
