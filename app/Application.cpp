#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <boost/make_shared.hpp>
#include <iostream>
#include <memory>

#include "app/AppInfo.h"
#include "app/HeadlessView.h"
#include "app/StartupCommands.h"
#include "batch/BatchDriver.h"
#include "cmdline/CommandLineParser.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "settings/SettingsStore.h"
#include "ui/MessageBoxMsg.h"

namespace {

// The process-wide settings record and command-line parser.
AppSettings& Settings() {
    static AppSettings settings;
    return settings;
}

// Qt keeps references to argc and argv for the application's lifetime.
int g_argc = 1;
char g_name[] = "quorvel";
char* g_argv[] = {g_name, nullptr};

// The message-box sink of a visible run: creates the application object on
// first use, so a run that never shows a box never needs a display.
class CLazyMessageBoxMsg : public CMsg {
  public:
    int ShowError(const CSimpleErr& err) override { return Show(err.message, MB_ICONERROR); }
    int Show(const std::string& text, std::uint32_t type) override {
        if (QCoreApplication::instance() == nullptr) {
            m_app = std::make_unique<QApplication>(g_argc, g_argv);
        }
        return CMessageBoxMsg().Show(text, type);
    }

  private:
    std::unique_ptr<QApplication> m_app;
};

void SaveSettingsShowingErrors(const AppSettings& settings) {
    CSimpleErr err;
    InvokeGuarded(err, [&] { SaveSettingsAndWarn(settings); });
    if (err.Failed()) {
        qv::GlobalMsg().ShowError(err);
    }
}

int RunHidden(qv::CCommandLineParser& parser) {
    QCoreApplication app(g_argc, g_argv);
    qv::CBatchDriver* driverPtr = nullptr;
    qv::CHeadlessView view([&] { driverPtr->OnBatchTimer(); }, [&] { driverPtr->Stop(); });
    // A hidden run always ends by itself.
    qv::CBatchDriver driver(
        view, Settings(), qv::BatchOptions{parser.Yes(), true},
        [](const AppSettings& s) { SaveSettingsAndWarn(s); }, &qv::GlobalMsg());
    driverPtr = &driver;
    driver.StartFromCommandLine(parser.Files());
    const int exitCode = app.exec();
    driver.Close();
    SaveSettingsShowingErrors(Settings());
    return exitCode;
}

}  // namespace

int RunApplication(int argc, char** argv) {
    AppInfo().Load();
    qv::CMsg& msg = qv::GlobalMsg();
    // A visible run shows its messages in boxes when it can; without a
    // display they go to standard error.
    if (DisplayAvailable()) {
        msg.SetMessageBoxSink(boost::make_shared<CLazyMessageBoxMsg>());
    }

    qv::CCommandLineParser parser(Settings());
    std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    qv::CCommandInit init(msg, Settings(), parser, std::move(words));
    ExecuteCommand(init, true, false);
    if (!init.Continue()) {
        return 1;
    }
    qv::CCommandInitConsole console(msg);
    ExecuteCommand(console, true, false);

    if (parser.Hide()) {
        return RunHidden(parser);
    }
    std::cerr << AppInfo().displayName
              << ": the window is not available in this build; run with /hide to process files "
                 "without it.\n";
    return 1;
}
