// CImagePreload: an image file read and decoded on a thread of its own, so
// that it decodes while its owner does other work (a batch decodes its
// first source while it loads the empty image, trim/AutoTrimTask.h).
//
// The decode has no effect but its result: it writes nothing and reports
// nothing. It holds the memory reserved for it (MemoryBudget.h) until the
// result is taken. The result goes to the first Take; should no thread be
// had, Take decodes on the caller's thread instead. Destroying a preload
// that was not taken waits for its decode to end and drops the result and
// the reservation.
#pragma once

#include <future>
#include <string>
#include <utility>

#include "image/MemoryBudget.h"
#include "image_io/PlatformImage.h"
#include "msg/Result.h"

class CImagePreload {
  public:
    // Starts LoadImageFromFile(path) on a new thread; `memory` is what the
    // caller reserved for that decode.
    CImagePreload(std::string path, CMemoryReservation memory);
    ~CImagePreload();
    CImagePreload(const CImagePreload&) = delete;
    CImagePreload& operator=(const CImagePreload&) = delete;

    // Waits for the decode and hands over its result, as LoadImageFromFile
    // gives it (`image` is set on success only), and the reservation, into
    // `memory`. A second call decodes the file again, with no reservation.
    HRESULT Take(ImagePtr& image, CMemoryReservation& memory);

  private:
    std::string m_path;
    CMemoryReservation m_memory;
    std::future<std::pair<HRESULT, ImagePtr>> m_result;
};
