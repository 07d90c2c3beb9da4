#include "image_io/TiffStructure.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "image_io/ImageIoSetup.h"

namespace {

enum TiffType : std::uint16_t {
    kShort = 3,
    kLong = 4,
    kRational = 5,
};

}  // namespace

struct CTiffInMemory::MemoryFile {
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t position;
};

namespace {

// The bytes of a file held in memory, as libtiff reads them.
using MemoryFile = CTiffInMemory::MemoryFile;

tmsize_t ReadMemory(thandle_t handle, void* out, tmsize_t count) {
    auto* file = static_cast<MemoryFile*>(handle);
    const std::uint64_t left = file->size - std::min(file->position, file->size);
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max<tmsize_t>(count, 0), left));
    if (n > 0) {
        std::memcpy(out, file->data + file->position, n);
    }
    file->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteNothing(thandle_t /*handle*/, void* /*data*/, tmsize_t /*count*/) {
    return -1;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    const std::uint64_t base = whence == SEEK_CUR   ? file->position
                               : whence == SEEK_END ? file->size
                                                    : 0;
    if (offset > std::numeric_limits<std::uint64_t>::max() - base) {
        return static_cast<toff_t>(-1);
    }
    file->position = base + offset;
    return file->position;
}

int CloseNothing(thandle_t /*handle*/) {
    return 0;
}

toff_t MemorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->size;
}

int MapNothing(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) {
    return 0;
}

void UnmapNothing(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

}  // namespace

CTiffInMemory::CTiffInMemory(const std::uint8_t* data, std::size_t size, std::uint64_t maxAlloc)
    : m_file(new MemoryFile{data, size, 0}) {
    EnsureImageIoSetUp();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(std::min<std::uint64_t>(
                     maxAlloc, static_cast<std::uint64_t>(std::numeric_limits<tmsize_t>::max()))));
    m_tiff = TIFFClientOpenExt("source", "rm", static_cast<thandle_t>(m_file.get()), ReadMemory,
                               WriteNothing, SeekMemory, CloseNothing, MemorySize, MapNothing,
                               UnmapNothing, options);
    TIFFOpenOptionsFree(options);
}

CTiffInMemory::~CTiffInMemory() {
    if (m_tiff != nullptr) {
        TIFFClose(m_tiff);
    }
}

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
    if (!TiffStructureOf(ByteView(data, size))) {
        return true;
    }
    const CTiffInMemory file(data, size, limits.maxBytes);
    TIFF* tiff = file.Get();
    if (tiff == nullptr) {
        return true;
    }
    // The RGBA reader takes one strip (or tile) of every plane at once; a
    // stripped image's strips never hold more rows than the image.
    std::uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const std::uint64_t block = TIFFIsTiled(tiff) ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff);
    const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
    return planes == 0 || block <= limits.maxBytes / planes;
}
