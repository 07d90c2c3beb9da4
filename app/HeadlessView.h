// The batch view of a /hide run: no window; the batch timer is a QTimer of
// the event loop and Quit ends the loop with the exit code. An interrupt
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) stops the batch the way the Stop button
// does.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "batch/BatchView.h"

namespace qv {

class CHeadlessView : public QObject, public CHeadlessBatchView {
  public:
    explicit CHeadlessView(std::function<void()> onTimer, std::function<void()> onInterrupt);
    ~CHeadlessView() override;

    void StartBatchTimer() override;
    void KillBatchTimer() override;
    // Ends the event loop with `exitCode` once control returns to it.
    void Quit(int exitCode) override;

  private:
    void Tick();

    QTimer m_timer;
    std::function<void()> m_onTimer;
    std::function<void()> m_onInterrupt;
    bool m_interruptHandled = false;
};

}  // namespace qv
