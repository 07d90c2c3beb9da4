// The image files around a batch's tasks, for the batch driver, which uses
// no codec itself: the empty image, the saver of the chosen format, and the
// checks and clean-up of output paths. Each keeps the contract of the
// image_io function it uses (ImageFile.h, ImageSaver.h).
#pragma once

#include <chrono>
#include <string>

#include "image/Dib.h"
#include "image/MemoryBudget.h"
#include "msg/Result.h"
#include "trim/AppSettings.h"
#include "trim/AutoTrimTask.h"

// Loads the codecs on the calling thread (PrepareImageCodecs): the batch
// calls it on its own thread, which lives to the end of the process, before
// any task or preload starts.
void PrepareTaskCodecs();

// The image at `path`, decoded as the pipeline decodes its sources
// (LoadDibFromFile).
HRESULT LoadImageFile(DibPtr& image, const std::string& path);

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

// Whether a new output can replace what is at `path` (CheckSaveTarget):
// S_FALSE when nothing is there, S_OK for a replaceable file, else why not.
HRESULT CheckOutputTarget(const std::string& path);
// Whether outputs can be written into `folder` (CheckSaveFolder).
HRESULT CheckOutputFolder(const std::string& folder);

// Removes the temporary files of saves older than `age` from `folder`
// (RemoveStaleTemporaryFiles); the number removed.
int RemoveStaleSaves(const std::string& folder, std::chrono::seconds age);
