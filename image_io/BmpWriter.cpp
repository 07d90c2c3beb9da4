#include <algorithm>
#include <cstdint>

#include "image/PixelKind.h"
#include "image_io/Encoders.h"

namespace {

void PutU16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    PutU16(p, v & 0xFFFFu);
    PutU16(p + 2, v >> 16);
}

}  // namespace

bool WriteBmp(std::FILE* file, const CDib& image, const WriteSettings& settings) {
    const PixelKind kind = settings.kind;
    KindRows rows(image, kind);
    if (!rows.Ok() || (kind != PixelKind::Bitonal && kind != PixelKind::Grey8 &&
                       kind != PixelKind::Bgr24 && kind != PixelKind::Bgra32)) {
        return false;
    }
    // The kind's own table: black and white, or the grey ramp.
    const DibPtr layout = NewDib(1, 1, kind);
    if (!layout) {
        return false;
    }
    const WORD bitCount = InfoOf(kind).bitCount;
    const std::uint32_t entries = CDib::ColorTableEntries(layout->Header());
    const std::size_t stride = CDib::CalcStride(image.Width(), bitCount);
    const std::uint64_t imageSize =
        std::uint64_t{stride} * static_cast<std::uint64_t>(image.Height());
    const std::uint64_t offBits = 14 + 40 + 4 * std::uint64_t{entries};
    if (offBits + imageSize > 0xFFFFFFFFu) {
        return false;  // the file header cannot state the size
    }

    std::uint8_t header[14 + 40] = {};
    header[0] = 'B';
    header[1] = 'M';
    PutU32(header + 2, static_cast<std::uint32_t>(offBits + imageSize));
    PutU32(header + 10, static_cast<std::uint32_t>(offBits));
    std::uint8_t* info = header + 14;
    PutU32(info + 0, 40);
    PutU32(info + 4, static_cast<std::uint32_t>(image.Width()));
    PutU32(info + 8, static_cast<std::uint32_t>(image.Height()));
    PutU16(info + 12, 1);
    PutU16(info + 14, bitCount);
    PutU32(info + 16, BI_RGB);
    PutU32(info + 20, static_cast<std::uint32_t>(imageSize));
    PutU32(info + 24, static_cast<std::uint32_t>(DpiToPelsPerMeter(settings.dpiX)));
    PutU32(info + 28, static_cast<std::uint32_t>(DpiToPelsPerMeter(settings.dpiY)));
    PutU32(info + 32, entries);
    if (std::fwrite(header, sizeof header, 1, file) != 1) {
        return false;
    }
    if (entries != 0 &&
        std::fwrite(layout->ColorTable(), sizeof(RGBQUAD), entries, file) != entries) {
        return false;
    }
    // Rows bottom-up; the padding is written as zeros rather than whatever
    // the unused bytes of the pixel block hold.
    const std::size_t used = (static_cast<std::size_t>(image.Width()) * bitCount + 7) / 8;
    const std::uint8_t zeros[4] = {};
    for (LONG y = image.Height() - 1; y >= 0; --y) {
        if (std::fwrite(rows.Row(y), 1, used, file) != used) {
            return false;
        }
        if (stride > used && std::fwrite(zeros, 1, stride - used, file) != stride - used) {
            return false;
        }
    }
    return true;
}
