#include "trim/TaskFiles.h"

#include <algorithm>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"

HRESULT ReserveImageMemory(CMemoryReservation& memory, const std::string& path,
                           std::uint64_t& need) {
    need = 0;
    if (ImageMemoryNeed(path, need) != S_OK) {
        return S_FALSE;
    }
    return ProcessMemoryBudget().TryReserve(memory, need, true);
}

std::string ImageBeyondBudgetText(std::uint64_t need, const std::string& path) {
    // Rounded apart, so that the figures never read as equal.
    constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
    return Formatted(kMsgImageBeyondBudget, std::to_string((need + kMiB - 1) / kMiB),
                     std::to_string(ProcessMemoryBudget().Available() / kMiB), path);
}

HRESULT SetTaskSaver(CAutoTrimTask& task, const AppSettings& settings) {
    SaverPtr& slot = task.Saver();
    switch (settings.SaveType) {
        case SaveTypeBmp:
            return SetBmpSaver(slot);
        case SaveTypeJpeg:
            return SetJpegSaver(slot, static_cast<std::uint32_t>(std::clamp<LONG>(
                                          settings.JpegQuality, AppSettings::MinJpegQuality,
                                          AppSettings::MaxJpegQuality)));
        case SaveTypeTiff:
            return SetTiffSaver(slot);
        default:
            return SetPngSaver(slot);
    }
}
