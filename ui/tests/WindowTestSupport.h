// Shared by the window tests and the screenshot tool: an application object
// on the offscreen platform, a message sink that records what it is asked,
// generated scans in a temporary folder and waiting on the event loop.
#pragma once

#include <QApplication>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msg/Msg.h"
#include "tests/support/TempDir.h"

namespace qvtest {

// A QApplication on the offscreen platform (QT_QPA_PLATFORM is set first).
std::unique_ptr<QApplication> MakeOffscreenApp(int& argc, char** argv);

// Records every message; answers from the queue, or negatively when it is
// empty (IDOK for MB_OK).
class CRecordingMsg : public CMsg {
  public:
    struct Entry {
        std::string text;
        std::uint32_t type;
    };
    int ShowError(const CSimpleErr& err) override { return Show(err.message, MB_ICONERROR); }
    int Show(const std::string& text, std::uint32_t type) override;

    std::vector<Entry> shown;
    std::deque<int> answers;
    std::string Last() const { return shown.empty() ? std::string() : shown.back().text; }
};

// A scratch folder that also makes scans.
class CTempFolder : public TempDir {
  public:
    // Writes `count` generated scans "p<i>.png" (about 320 × 440 pixels, the
    // page straight enough for every setting) and returns their paths.
    std::vector<std::string> Scans(int count) const;
};

// Runs the event loop until `done` holds or `timeoutMs` have passed; the
// result of `done` at the end.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000);

}  // namespace qvtest
