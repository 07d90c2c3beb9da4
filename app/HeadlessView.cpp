#include "app/HeadlessView.h"

#include <QCoreApplication>
#include <atomic>
#include <csignal>

#include "app/TerminalProgress.h"
#include "msg/GlobalMsg.h"

namespace qv {

namespace {

std::atomic<bool> g_interrupted{false};

// Each stops the batch the same way: a closed terminal (SIGHUP) or a quit
// key (SIGQUIT) must not cut a save short and leave its temporary file.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void OnInterruptSignal(int) {
    g_interrupted.store(true);
}

}  // namespace

CHeadlessView::CHeadlessView(std::function<void()> onTimer, std::function<void()> onInterrupt)
    : m_onTimer(std::move(onTimer)), m_onInterrupt(std::move(onInterrupt)) {
    m_timer.setInterval(200);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
    // Interrupts only raise a flag; the timer turns it into a stop request,
    // so a running save still ends with a whole file or none.
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) {
        sigaction(signal, &action, nullptr);
    }
}

CHeadlessView::~CHeadlessView() {
    for (const int signal : kStopSignals) {
        std::signal(signal, SIG_DFL);
    }
}

void CHeadlessView::StartBatchTimer() {
    m_timer.start();
}

void CHeadlessView::KillBatchTimer() {
    m_timer.stop();
}

void CHeadlessView::Quit(int exitCode) {
    m_timer.stop();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [exitCode] { QCoreApplication::exit(exitCode); },
        Qt::QueuedConnection);
}

void CHeadlessView::SetRunningState(bool running) {
    if (m_progress != nullptr && running) {
        m_progress->Start();
    }
}

void CHeadlessView::SetProgress(int processed, int total) {
    if (m_progress != nullptr) {
        m_progress->Update(processed, total);
    }
}

void CHeadlessView::ShowPageWarning(const std::string& text) {
    if (m_msg != nullptr) {
        m_msg->Show(text, MB_OK | MB_ICONWARNING);
    }
}

void CHeadlessView::ShowBatchSummary(const BatchSummary& summary) {
    if (m_progress == nullptr) {
        return;
    }
    // A file stopped by the interrupt ends the batch as failed; the line
    // tells what the user did instead.
    BatchSummary shown = summary;
    if (m_interruptHandled) {
        shown.end = BatchSummary::End::Stopped;
    }
    m_progress->Finish(shown);
}

void CHeadlessView::ShowNotice(const std::string& text) {
    // Through the progress line, which it must not break, when there is one.
    CMsg& sink = m_progress != nullptr ? static_cast<CMsg&>(*m_progress) : GlobalMsg();
    sink.Show(text, MB_OK | MB_ICONWARNING);
}

void CHeadlessView::Tick() {
    if (g_interrupted.load() && !m_interruptHandled) {
        m_interruptHandled = true;
        m_onInterrupt();
    }
    m_onTimer();
}

}  // namespace qv
