#include "trim/TaskFiles.h"

#include <algorithm>

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"

void PrepareTaskCodecs() {
    PrepareImageCodecs();
}

HRESULT LoadImageFile(DibPtr& image, const std::string& path) {
    return LoadDibFromFile(image, path);
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

HRESULT CheckOutputTarget(const std::string& path) {
    return CheckSaveTarget(path);
}

HRESULT CheckOutputFolder(const std::string& folder) {
    return CheckSaveFolder(folder);
}

int RemoveStaleSaves(const std::string& folder, std::chrono::seconds age) {
    return RemoveStaleTemporaryFiles(folder, age);
}
