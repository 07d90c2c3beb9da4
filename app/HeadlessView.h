// The batch view of a /hide run: no window; the batch timer is a QTimer of
// the event loop and Quit ends the loop with the exit code. An interrupt
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) stops the batch the way the Stop button
// does. Given a progress line, it passes the batch's start, progress and
// summary on to it. Page warnings are shown through its message sink, as
// warnings (one line of text and the file); notices go to standard error.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "batch/BatchView.h"
#include "msg/Msg.h"

namespace qv {

class CTerminalProgress;

class CHeadlessView : public QObject, public CHeadlessBatchView {
  public:
    explicit CHeadlessView(std::function<void()> onTimer, std::function<void()> onInterrupt);
    ~CHeadlessView() override;

    void StartBatchTimer() override;
    void KillBatchTimer() override;
    // Ends the event loop with `exitCode` once control returns to it.
    void Quit(int exitCode) override;

    // `progress` (may be null: none) must outlive the view.
    void SetProgressLine(CTerminalProgress* progress) { m_progress = progress; }
    // The sink page warnings go to (null: none); must outlive the view.
    void SetMessageSink(CMsg* sink) { m_msg = sink; }
    void ShowPageWarning(const std::string& text) override;
    void SetRunningState(bool running) override;
    void SetProgress(int processed, int total) override;
    void ShowBatchSummary(const BatchSummary& summary) override;
    // On standard error, clear of the progress line.
    void ShowNotice(const std::string& text) override;

  private:
    void Tick();

    QTimer m_timer;
    std::function<void()> m_onTimer;
    std::function<void()> m_onInterrupt;
    bool m_interruptHandled = false;
    CTerminalProgress* m_progress = nullptr;
    CMsg* m_msg = nullptr;
};

}  // namespace qv
