#include "ui/tests/WindowTestSupport.h"

#include <unistd.h>
#include <QTest>
#include <atomic>
#include <cstdlib>

#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

namespace qvtest {

std::unique_ptr<QApplication> MakeOffscreenApp(int& argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return std::make_unique<QApplication>(argc, argv);
}

int CRecordingMsg::Show(const std::string& text, std::uint32_t type) {
    shown.push_back({text, type});
    if (answers.empty()) {
        return NegativeAnswer(type);
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

std::vector<std::string> CTempFolder::Scans(int count) const {
    scangen::ScanOptions options = scangen::MakeScanOptions(320, 440, 40);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        options.skewDegrees = (i % 3 - 1) * 1.2;
        options.seed = 10 + static_cast<std::uint32_t>(i % 4);
        const scangen::GeneratedScan scan = scangen::GenerateScan(options);
        paths.push_back(*this / ("p" + std::to_string(i) + ".png"));
        scangen::WritePng(scan.scan, paths.back(), 40);
    }
    return paths;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= timeoutMs) {
            return done();
        }
        QTest::qWait(20);
    }
    return true;
}

}  // namespace qvtest
