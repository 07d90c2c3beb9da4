// CMemoryStream: the whole of an image file's bytes in process memory.
//
// A file is read with a single read and closed at once, so decoding never
// touches the disk again. A stream is immutable once made and may be shared
// between owners; the bytes are released with the last owner.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/PixelMemory.h"
#include "msg/Result.h"

class CMemoryStream {
  public:
    CMemoryStream(const CMemoryStream&) = delete;
    CMemoryStream& operator=(const CMemoryStream&) = delete;

    // A copy of `size` bytes at `data`; empty when memory is short.
    static boost::shared_ptr<const CMemoryStream> Copy(const void* data, std::size_t size);
    // A view of bytes that stay valid for the whole run (bytes compiled into
    // the program); nothing is copied. Empty when memory is short.
    static boost::shared_ptr<const CMemoryStream> View(const void* data, std::size_t size);

    const std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }

  private:
    CMemoryStream() = default;
    friend HRESULT ReadFileToStream(boost::shared_ptr<const CMemoryStream>& stream,
                                    const std::string& path);

    // A page's file is tens of MB: a work block (see PixelMemory.h).
    WorkBlock m_owned;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

using StreamPtr = boost::shared_ptr<const CMemoryStream>;

// Reads the whole regular file at `path` (UTF-8) into a new stream. The
// stream is set only on success. Results:
//  - S_OK;
//  - the operating-system error as HResultFromErrno: a missing file (or
//    folder on the way) gives 0x80070002, a path through a file 0x80070003,
//    no permission 0x80070005, a folder 0x8007010B (ERROR_DIRECTORY); other
//    non-regular files (devices, pipes) give 0x80070057;
//  - 0x80070008 (HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY)) for a file of
//    4 GiB or more or when the memory cannot be had.
// A file that shrinks while being read yields the bytes that were there.
HRESULT ReadFileToStream(StreamPtr& stream, const std::string& path);
