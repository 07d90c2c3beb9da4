// Reading image files into CDib, and handing a CDib to the encoders.
//
// Any format the platform's decoders read is accepted (PNG, JPEG, TIFF, BMP,
// GIF, WebP and others). A decoded image is kept in the pixel kind of its
// file (PixelKind.h: 1-bit, grey, 16-bit, with or without alpha; colour with
// 8 bits a sample always as Bgra32), with the file's ICC profile, for the
// result; the analyses get the same 32-bit bottom-up CDib from every file:
// blue, green, red, alpha, not premultiplied, alpha 255 where the file has
// none. The file's own resolution travels in biXPelsPerMeter and
// biYPelsPerMeter (see Resolution.h; 96 dpi when the file records none).
//
// Operations that produce a result take the output pointer first and set it
// only on success; on failure it is left as it was. Nothing throws. No
// application object and no display is needed. Safe to call from several
// threads at once on different objects.
#pragma once

#include <cstdint>
#include <string>

#include "image/Dib.h"
#include "image_io/MemoryStream.h"
#include "image_io/PlatformImage.h"
#include "msg/Result.h"

// Largest image the loader decodes, as bytes of 32-bit pixels (width ×
// height × 4) and as bytes of the pixels of its own kind (DecodedImageBytes;
// only 16-bit colour takes more): 1 GiB, about 268 million pixels, 134
// million of 16-bit colour with alpha. A 600 dpi A3 page (7016 × 9921)
// needs 278 MB, 418 MB in 16-bit colour. And the largest width and the
// largest height, in pixels. Larger images are refused with 0x80070008
// before their pixels are decoded whenever the format declares its size up
// front (every format we decode ourselves, and the formats whose header Qt
// reads first).
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr std::uint64_t kMaxDecodedImageBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kMaxDecodedImageSide = 65535;
#else
// A fuzzing run decodes thousands of files a second: the same checks with
// limits that keep each decode small.
constexpr std::uint64_t kMaxDecodedImageBytes = std::uint64_t{64} << 20;
constexpr std::uint32_t kMaxDecodedImageSide = 16384;
#endif

// Decodes the stream into a new platform image. PNG and JPEG files, and TIFF
// files of the kinds ReadTiff takes, are decoded by our own code straight
// into a CDib of their kind; other files through Qt (kept as their kind
// where Qt's is one of ours, else as 8-bit colour, with the ICC profile Qt
// reports).
// A file that ends before its image does, or whose image data is corrupt,
// fails: PNG, JPEG, BMP and GIF files are checked for both (BMP and GIF from
// their structure, for a file that ends early), other formats as far as
// their Qt decoder reports it. Results: S_OK; E_FAIL for an empty stream
// pointer or when the image object cannot be made; E_NOT_IMAGE_FILE when
// the bytes cannot be decoded (not an image, unknown format, corrupt data);
// 0x80070026 (ERROR_HANDLE_EOF) when the file ends before its image does;
// 0x80070008 when the image exceeds the limits above or its pixels cannot be
// allocated. Memory beyond the decoded image itself stays small: row buffers
// and the like, libjpeg's working memory (see JpegReader.h).
HRESULT LoadImageFromStream(ImagePtr& image, const StreamPtr& stream);
// ReadFileToStream, then LoadImageFromStream; the results of both.
HRESULT LoadImageFromFile(ImagePtr& image, const std::string& path);

// What loading the image file at `path` and processing its image hold at
// most, in bytes, judged before any of it is read: the file's bytes, the
// decoded image and as much again (the decoder's buffers while it decodes,
// the pipeline's working images after; 4 bytes a pixel, more for 16-bit
// samples), from the size and sample depth its header declares (PNG, JPEG and extended WebP read
// here, other formats asked of their Qt reader). What a memory budget reserves before the file is
// decoded (MemoryBudget.h). S_OK; S_FALSE with the file's bytes alone when
// the file declares no size (not an image, or a format that tells it only
// when decoded: the decoder's own limits then apply); the error of opening
// or sizing the file otherwise (bytes 0).
HRESULT ImageMemoryNeed(const std::string& path, std::uint64_t& bytes);
// Loads and sets up the decoders and encoders now, on the calling thread,
// which must live to the end of the process (the codec plugins belong to
// the thread that loads them). Loading and saving do it themselves when
// nobody did; call it before other threads load or save.
void PrepareImageCodecs();
// An image compiled into the program, found by numeric name and type
// (the type compared without regard to ASCII case), e.g. 139, "IMAGE".
// E_FAIL when there is no such resource; else as LoadImageFromStream.
HRESULT LoadImageFromResource(ImagePtr& image, std::uint32_t name, const std::string& type);

// The platform image as a new CDib of its file's pixel kind (PixelKind.h),
// with the file's ICC profile embedded (a version-5 header) when it
// describes the kind's colour space, and biX/YPelsPerMeter =
// DpiToPelsPerMeter of the image's resolution. The image's decoded pixels
// are handed over or used up on the way, so that they and the CDib are not
// both held in full; a second call decodes the file again. 0x80070008 with
// `dib` untouched when the image pointer is empty or memory is short.
HRESULT ImageToKeptDib(const ImagePtr& image, DibPtr& dib);
// ImageToKeptDib, then the image as a 32-bit CDib (ToKind Bgra32: rows
// bottom-up, blue, green, red, alpha not premultiplied, alpha 255 where
// the image has none) with the same resolution, its pixels copied one to
// one. Results as ImageToKeptDib.
HRESULT ImageToDib(const ImagePtr& image, DibPtr& dib);
// LoadImageFromFile, then ImageToDib.
HRESULT LoadDibFromFile(DibPtr& dib, const std::string& path);
// LoadImageFromResource, then ImageToDib.
HRESULT LoadDibFromResource(DibPtr& dib, std::uint32_t name, const std::string& type);

// Hands a CDib to the encoders. With `share` and a 32- or 8-bit image the
// bitmap is a view of the CDib's own pixels (and keeps the CDib alive);
// otherwise (no sharing, or another depth) it is an independent copy of the
// whole header block and pixels. The bitmap's resolution starts as the
// CDib's pixels per metre in dots per inch, 96 where they are 0. Results:
// S_OK; E_INVALIDARG for an empty pointer or an image without header or
// bits; 0x80070008 when the copy cannot be made. `bitmap` is reset to
// empty on failure.
HRESULT DibToBitmap(BitmapPtr& bitmap, const DibPtr& dib, bool share);
