#include "tests/support/ScanFiles.h"

#include <cstring>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"

namespace scangen {
namespace {

bool WriteWith(const SaverPtr& saver, const DibPtr& dib, const std::string& path, float dpi,
               bool withAlpha) {
    if (!dib || !saver) {
        return false;
    }
    DibPtr pixels = dib;
    if (!withAlpha && KindOf(*dib) == PixelKind::Bgra32 && FAILED(RemoveAlpha(pixels, *dib))) {
        return false;
    }
    BitmapPtr bitmap;
    if (FAILED(DibToBitmap(bitmap, pixels, true))) {
        return false;
    }
    bitmap->SetResolution(dpi, dpi);
    return SUCCEEDED(Save(*saver, bitmap, path));
}

}  // namespace

DibPtr ScanAsKind(const CDib& scan, PixelKind kind, std::span<const BYTE> profile) {
    const DibPtr out = NewDib(scan.Width(), scan.Height(), kind, profile);
    if (!out || scan.BitCount() != 32) {
        return {};
    }
    const PixelKindInfo& info = InfoOf(kind);
    for (LONG y = 0; y < scan.Height(); ++y) {
        const BYTE* in = scan.Row(y);
        BYTE* row = out->Row(y);
        std::memset(row, 0, out->Stride());
        for (LONG x = 0; x < scan.Width(); ++x) {
            const BYTE* p = in + 4 * x;
            if (kind == PixelKind::Bitonal) {
                row[x / 8] |= p[1] >= 128 ? static_cast<BYTE>(0x80u >> (x % 8)) : 0;
                continue;
            }
            const BYTE samples[4] = {p[info.colour ? 0 : 1], p[1], p[2], 255};
            for (int c = 0; c < info.channels; ++c) {
                const BYTE v = samples[info.alpha && c == info.channels - 1 ? 3 : c];
                if (info.sampleBits == 8) {
                    row[info.channels * x + c] = v;
                } else {
                    const auto low = static_cast<BYTE>((x * 7 + y * 13 + c) & 0xFF);
                    const std::uint16_t wide = static_cast<std::uint16_t>(v << 8 | low);
                    std::memcpy(row + 2 * (info.channels * x + c), &wide, 2);
                }
            }
        }
    }
    return out;
}

bool WriteImage(const DibPtr& dib, const std::string& path, float dpi, const char* keyword,
                std::uint32_t option) {
    const OutputFormat* format = OutputFormatByKeyword(keyword);
    SaverPtr saver;
    return format != nullptr &&
           SUCCEEDED(SetFormatSaver(saver, format->saveType, static_cast<std::int32_t>(option),
                                    option)) &&
           WriteWith(saver, dib, path, dpi, true);
}

bool WritePng(const DibPtr& dib, const std::string& path, float dpi, bool withAlpha) {
    SaverPtr saver;
    return SUCCEEDED(SetFormatSaver(saver, OutputFormatByKeyword("png")->saveType, 0, 0)) &&
           WriteWith(saver, dib, path, dpi, withAlpha);
}

bool WriteJpeg(const DibPtr& dib, const std::string& path, float dpi, std::uint32_t quality) {
    SaverPtr saver;
    return SUCCEEDED(SetFormatSaver(saver, OutputFormatByKeyword("jpg")->saveType,
                                    static_cast<std::int32_t>(quality), 0)) &&
           WriteWith(saver, dib, path, dpi, false);
}

}  // namespace scangen
