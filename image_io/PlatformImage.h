// The platform image types that stand between files and CDib.
//
// Gdiplus::Image is a decoded image file: its pixels (kept inside image_io),
// its size, its alpha flag and the resolution its file records.
// Gdiplus::Bitmap is a CDib handed to the encoders: either a view of the
// CDib's own pixels or an independent copy, with a settable resolution.
// Both are held through shared pointers (ImagePtr, BitmapPtr). Neither has a
// lock: an object is used by one thread at a time.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>

#include "image/Dib.h"

namespace Gdiplus {

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
};

// Bit of Image::GetFlags(): the decoded pixels have an alpha channel (a
// palette with a transparent entry counts).
constexpr std::uint32_t ImageFlagsHasAlpha = 2;

class Image {
  public:
    // The decoded pixels; defined inside image_io only.
    struct Impl;

    Image(std::unique_ptr<Impl> impl, std::uint32_t width, std::uint32_t height,
          std::uint32_t flags, float dpiX, float dpiY);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    std::uint32_t GetWidth() const { return m_width; }
    std::uint32_t GetHeight() const { return m_height; }
    std::uint32_t GetFlags() const { return m_flags; }
    bool HasAlpha() const { return (m_flags & ImageFlagsHasAlpha) != 0; }
    // Dots per inch from the file's header; 96 when the file records none.
    float GetHorizontalResolution() const { return m_dpiX; }
    float GetVerticalResolution() const { return m_dpiY; }

    Impl& GetImpl() { return *m_impl; }

  private:
    std::unique_ptr<Impl> m_impl;
    std::uint32_t m_width;
    std::uint32_t m_height;
    std::uint32_t m_flags;
    float m_dpiX;
    float m_dpiY;
};

class Bitmap {
  public:
    // `shared`: the bitmap is a view of `dib` (which it keeps alive);
    // otherwise `dib` is a copy that belongs to this bitmap alone.
    Bitmap(DibPtr dib, bool shared, float dpiX, float dpiY);

    std::uint32_t GetWidth() const { return static_cast<std::uint32_t>(m_dib->Width()); }
    std::uint32_t GetHeight() const { return static_cast<std::uint32_t>(m_dib->Height()); }
    bool IsView() const { return m_shared; }
    const CDib& Dib() const { return *m_dib; }
    CDib& Dib() { return *m_dib; }

    // Dots per inch written into saved files. InvalidParameter (and no
    // change) unless both values are finite and positive.
    Status SetResolution(float dpiX, float dpiY);
    float GetHorizontalResolution() const { return m_dpiX; }
    float GetVerticalResolution() const { return m_dpiY; }

  private:
    DibPtr m_dib;
    bool m_shared;
    float m_dpiX;
    float m_dpiY;
};

}  // namespace Gdiplus

using ImagePtr = boost::shared_ptr<Gdiplus::Image>;
using BitmapPtr = boost::shared_ptr<Gdiplus::Bitmap>;
