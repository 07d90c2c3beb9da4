#include "trim/TaskFiles.h"

#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"

void PrepareTaskCodecs() {
    PrepareImageCodecs();
}

HRESULT LoadImageFile(DibPtr& image, const std::string& path) {
    return LoadDibFromFile(image, path);
}

HRESULT SetTaskSaver(CAutoTrimTask& task, const AppSettings& settings) {
    return SetFormatSaver(task.Saver(), settings.SaveType, settings.JpegQuality,
                          static_cast<std::uint32_t>(settings.TiffCompression));
}

HRESULT CheckOutputTarget(const std::string& path) {
    return CheckSaveTarget(path);
}

int RemoveStaleSaves(const std::string& folder, std::chrono::seconds age) {
    return RemoveStaleTemporaryFiles(folder, age);
}
