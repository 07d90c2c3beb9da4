#include "image_io/TiffStructure.h"

namespace {

enum TiffType : std::uint16_t {
    kShort = 3,
    kLong = 4,
    kRational = 5,
};

constexpr std::uint16_t kTagImageWidth = 0x0100;
constexpr std::uint16_t kTagImageLength = 0x0101;
constexpr std::uint16_t kTagBitsPerSample = 0x0102;
constexpr std::uint16_t kTagSamplesPerPixel = 0x0115;

constexpr std::uint64_t kMaxBitsPerPixel = 128;

}  // namespace

std::optional<ByteView> TiffStructureOf(const ByteView& raw) {
    if (raw.Matches(0, "II\x2A\x00", 4)) {
        return raw.Sub(0, raw.Size(), false);
    }
    if (raw.Matches(0, "MM\x00\x2A", 4)) {
        return raw.Sub(0, raw.Size(), true);
    }
    return std::nullopt;
}

std::vector<std::size_t> FirstTiffDirectory(const ByteView& tiff) {
    std::vector<std::size_t> entries;
    const auto ifd = tiff.U32(4);
    const auto count = ifd ? tiff.U16(*ifd) : std::nullopt;
    if (!count) {
        return entries;
    }
    for (std::size_t i = 0; i < *count; ++i) {
        const std::size_t entry = std::size_t{*ifd} + 2 + 12 * i;
        if (!tiff.Has(entry, 12)) {
            break;
        }
        entries.push_back(entry);
    }
    return entries;
}

std::optional<double> TiffNumber(const ByteView& tiff, std::size_t entry) {
    const auto type = tiff.U16(entry + 2);
    const auto count = tiff.U32(entry + 4);
    if (!type || !count || *count < 1) {
        return std::nullopt;
    }
    std::uint64_t valueSize;
    switch (*type) {
        case kShort:
            valueSize = 2;
            break;
        case kLong:
            valueSize = 4;
            break;
        case kRational:
            valueSize = 8;
            break;
        default:
            return std::nullopt;
    }
    std::size_t at = entry + 8;
    if (valueSize * *count > 4) {
        const auto offset = tiff.U32(entry + 8);
        if (!offset) {
            return std::nullopt;
        }
        at = *offset;
    }
    if (*type == kShort) {
        const auto v = tiff.U16(at);
        return v ? std::optional<double>(*v) : std::nullopt;
    }
    if (*type == kLong) {
        const auto v = tiff.U32(at);
        return v ? std::optional<double>(*v) : std::nullopt;
    }
    const auto num = tiff.U32(at);
    const auto den = tiff.U32(at + 4);
    if (!num || !den || *den == 0) {
        return std::nullopt;
    }
    return static_cast<double>(*num) / static_cast<double>(*den);
}

bool TiffSamplesWithinLimits(const std::uint8_t* data, std::size_t size,
                             const DecodeLimits& limits) {
    const auto tiff = TiffStructureOf(ByteView(data, size));
    if (!tiff) {
        return true;
    }
    std::optional<double> width, height;
    double samples = 1, bits = 1;
    for (const std::size_t entry : FirstTiffDirectory(*tiff)) {
        const auto value = TiffNumber(*tiff, entry);
        switch (*tiff->U16(entry)) {
            case kTagImageWidth:
                width = value;
                break;
            case kTagImageLength:
                height = value;
                break;
            case kTagBitsPerSample:
                bits = value.value_or(bits);
                break;
            case kTagSamplesPerPixel:
                samples = value.value_or(samples);
                break;
            default:
                break;
        }
    }
    if (!width || !height) {
        return true;
    }
    // Every value here is below 2^32: the row's size is exact in 64 bits
    // once the pixel is known to be at most 128 bits; the image's is
    // compared by division.
    const auto pixelBits = static_cast<std::uint64_t>(samples) * static_cast<std::uint64_t>(bits);
    if (pixelBits > kMaxBitsPerPixel) {
        return false;
    }
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(*width) * pixelBits + 7) / 8;
    const auto rows = static_cast<std::uint64_t>(*height);
    return rows == 0 || rowBytes <= limits.maxBytes / rows;
}
