#include "image_io/ImageIoSetup.h"

#include <tiffio.h>
#include <QImageReader>
#include <QtGlobal>

#include <atomic>
#include <mutex>
#include <utility>

#include "image_io/ImageFile.h"

namespace {

thread_local int t_quietDepth = 0;
thread_local bool t_outOfMemory = false;
std::atomic<QtMessageHandler> g_previousHandler{nullptr};

void FilteringHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (t_quietDepth > 0 && type != QtFatalMsg) {
        t_outOfMemory = t_outOfMemory || message.contains(QLatin1String("out of memory")) ||
                        message.contains(QLatin1String("allocation limit"));
        return;
    }
    if (const QtMessageHandler previous = g_previousHandler.load()) {
        previous(type, context, message);
    }
}

}  // namespace

void EnsureImageIoSetUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr int kMegabytes = static_cast<int>(2 * (kMaxDecodedImageBytes >> 20));
        QImageReader::setAllocationLimit(kMegabytes);
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        g_previousHandler.store(qInstallMessageHandler(FilteringHandler));
        // Asking every plugin what it reads loads them all, on this thread.
        (void)QImageReader::supportedImageFormats();
    });
}

QuietDecoderMessages::QuietDecoderMessages() {
    ++t_quietDepth;
}

QuietDecoderMessages::~QuietDecoderMessages() {
    --t_quietDepth;
}

bool QuietDecoderMessages::OutOfMemorySaid() {
    return std::exchange(t_outOfMemory, false);
}
