#include "trim/TaskFiles.h"

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
    return SetFormatSaver(task.Saver(), settings.SaveType, settings.JpegQuality,
                          static_cast<std::uint32_t>(settings.TiffCompression));
}
