// Inside image_io only: the first directory of a TIFF structure (a TIFF
// file, or the EXIF block of a JPEG) read from untrusted bytes. Every read
// is bounds-checked; an entry that does not fit in the bytes ends the
// directory. The memory check before decoding asks libtiff instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "image_io/ByteView.h"
#include "image_io/Decoding.h"

struct tiff;  // libtiff's TIFF

// The structure read in the byte order its header names ("II" little-endian,
// "MM" big-endian), or nothing when `raw` does not start with a TIFF header.
std::optional<ByteView> TiffStructureOf(const ByteView& raw);

// Offsets of the first directory's 12-byte entries, in file order. The
// entry's tag is its first 16-bit value.
std::vector<std::size_t> FirstTiffDirectory(const ByteView& tiff);

// The first value of a SHORT, LONG or RATIONAL entry, read from the entry
// itself or, when its values take more than four bytes, from the offset it
// holds. Nothing for other types, an entry without values, a zero
// denominator or values outside the bytes.
std::optional<double> TiffNumber(const ByteView& tiff, std::size_t entry);

// Whether the undecoded samples a TIFF file's first image declares keep
// `limits.maxBytes`: libtiff's reader holds a whole strip or tile of them
// (of every plane, when the samples are stored plane by plane), which may be
// many times the decoded 32-bit pixels. The sizes are libtiff's own, read
// with libtiff from the same bytes, so that a directory libtiff reads
// differently from a simple walk (a repeated or mistyped entry) cannot slip
// past. Files that are not TIFF, or that libtiff cannot open, pass: their
// decoder judges them.
bool TiffSamplesWithinLimits(const std::uint8_t* data, std::size_t size,
                             const DecodeLimits& limits);

// libtiff reading the TIFF file held in `data` (which must outlive the
// object), none of its allocations above `maxAlloc` bytes; closed with the
// object. Get() is null when libtiff does not take the bytes.
class CTiffInMemory {
  public:
    CTiffInMemory(const std::uint8_t* data, std::size_t size, std::uint64_t maxAlloc);
    ~CTiffInMemory();
    CTiffInMemory(const CTiffInMemory&) = delete;
    CTiffInMemory& operator=(const CTiffInMemory&) = delete;
    tiff* Get() const { return m_tiff; }

    struct MemoryFile;

  private:
    std::unique_ptr<MemoryFile> m_file;
    tiff* m_tiff = nullptr;
};
