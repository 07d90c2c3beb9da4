// Loading an image file held in memory, as the pipeline does after reading
// it: the decoder the bytes call for (each of our own decoders, or Qt's with
// the structure checks), the image in its own pixel kind with its profile,
// its conversion to the 32-bit image the analyses take, and the resolution
// reader. A decoder added to the loader is reached here without a change;
// its seed files go into corpus/image_load/. PNG files are decoded once more
// by libpng alone: where both decode, the pixels must be the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "image/PixelKind.h"
#include "image_io/ImageFile.h"
#include "image_io/PngReader.h"
#include "image_io/Resolution.h"

namespace {

void CompareWithLibpng(const std::uint8_t* data, std::size_t size) {
    const DecodeLimits limits{kMaxDecodedImageBytes, kMaxDecodedImageSide};
    DibPtr own, reference;
    bool ownAlpha = false, referenceAlpha = false;
    if (ReadPng(own, ownAlpha, data, size, limits) == S_OK &&
        ReadPngReference(reference, referenceAlpha, data, size, limits) == S_OK &&
        (ownAlpha != referenceAlpha || own->GetImageSize() != reference->GetImageSize() ||
         std::memcmp(own->Bits(), reference->Bits(), own->GetImageSize()) != 0)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (IsPngData(data, size)) {
        CompareWithLibpng(data, size);
    }
    FileResolution resolution;
    if (ReadFileResolution(data, size, resolution) &&
        !(resolution.dpiX > 0 && resolution.dpiX <= kMaxFileDpi && resolution.dpiY > 0 &&
          resolution.dpiY <= kMaxFileDpi)) {
        std::abort();
    }
    ImagePtr image;
    if (FAILED(LoadImageFromStream(image, CMemoryStream::Copy(data, size)))) {
        return 0;
    }
    DibPtr kept, dib;
    if (FAILED(ImageToKeptDib(image, kept))) {
        return 0;
    }
    // What every caller relies on: a pixel kind, the size the image
    // reported, within the limits, a profile only of the kind's colour
    // space; then 32 bits of the same size, every row readable.
    const std::optional<PixelKind> kind = KindOf(*kept);
    const auto width = static_cast<std::uint64_t>(kept->Width());
    const auto height = static_cast<std::uint64_t>(kept->Height());
    if (!kind || width != image->GetWidth() || height != image->GetHeight() ||
        width * height * 4 > kMaxDecodedImageBytes ||
        DecodedImageBytes(width, height, *kind) > kMaxDecodedImageBytes ||
        (!kept->Profile().empty() && !ProfileFitsKind(kept->Profile(), *kind))) {
        std::abort();
    }
    if (FAILED(ToKind(dib, kept, PixelKind::Bgra32))) {
        return 0;
    }
    kept.reset();
    if (KindOf(*dib) != PixelKind::Bgra32 || static_cast<std::uint64_t>(dib->Width()) != width ||
        static_cast<std::uint64_t>(dib->Height()) != height) {
        std::abort();
    }
    unsigned sum = 0;
    for (LONG y = 0; y < dib->Height(); y += 1 + dib->Height() / 16) {
        const BYTE* row = dib->Row(y);
        sum += row[0] + row[4 * (width - 1) + 3];
    }
    return static_cast<int>(sum & 0);
}
