// What the batch driver needs of image_io beyond its plain functions: the
// memory budget's reservation for the batch's empty image, and the saver of
// the chosen format for each task.
#pragma once

#include <string>

#include "image/Dib.h"
#include "image/MemoryBudget.h"
#include "msg/Result.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"

// Reserves, as a lasting reservation of the process's memory budget and
// without waiting, what loading the image at `path` needs (ImageMemoryNeed,
// into `need`): the batch holds it for its empty image, which every task
// shares. S_OK; S_FALSE (nothing reserved) when the need cannot be told or
// does not fit now; HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY) when it
// exceeds what the budget can give.
HRESULT ReserveImageMemory(CMemoryReservation& memory, const std::string& path,
                           std::uint64_t& need);

// Message 40400 for an image at `path` that needs `need` bytes, more than
// the process's memory budget can give.
std::string ImageBeyondBudgetText(std::uint64_t need, const std::string& path);

// Gives the task the saver of settings.SaveType (PNG for any unknown value)
// with its format's option: JpegQuality clamped to 0..100, TiffCompression
// (Deflate for an unknown value). The failure of the saver factory, the
// task's saver then empty.
HRESULT SetTaskSaver(CAutoTrimTask& task, const AppSettings& settings);
