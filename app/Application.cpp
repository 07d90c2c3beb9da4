#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <boost/make_shared.hpp>
#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <iostream>
#include <memory>
#include <optional>

#include "app/AppInfo.h"
#include "app/HeadlessView.h"
#include "app/RunReport.h"
#include "app/StartupCommands.h"
#include "app/TerminalProgress.h"
#include "batch/BatchDriver.h"
#include "cmdline/CommandLineParser.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/TerminalText.h"
#include "settings/SettingsStore.h"
#include "ui/AppIcon.h"
#include "ui/MainDlg.h"
#include "ui/MessageBoxMsg.h"
#include "ui/QtTranslations.h"

namespace {

// The process-wide settings record and command-line parser.
AppSettings& Settings() {
    static AppSettings settings;
    return settings;
}

// Qt keeps references to argc and argv for the application's lifetime. The
// program's own arguments are never handed to Qt, so none of them is taken
// as a Qt option.
int g_argc = 1;
char g_name[] = "quorvel";
char* g_argv[] = {g_name, nullptr};

// The window side of a visible run: the application object, made when the
// first window or message box needs it, so that a run that shows none never
// opens the display.
class CGui {
  public:
    QApplication& App() {
        if (!m_app) {
            m_app = std::make_unique<QApplication>(g_argc, g_argv);
            QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
            // The run ends only through the window's quit, with its exit code.
            QApplication::setQuitOnLastWindowClosed(false);
            QApplication::setWindowIcon(qv::AppIcon());
            // Qt's own buttons and dialogs speak the interface language.
            if (!qv::InstallQtTranslations(UiLanguage())) {
                std::cerr << "Qt's translations for the interface language are not installed\n";
            }
        }
        return *m_app;
    }

  private:
    std::unique_ptr<QApplication> m_app;
};

// The message-box sink of a run whose boxes a person sees. While start-up
// runs it also writes each text to standard error, so that a terminal or a
// log shows why the program ended.
class CLazyMessageBoxMsg : public CMsg {
  public:
    explicit CLazyMessageBoxMsg(CGui& gui) : m_gui(gui) {}

    void EchoToStandardError(bool echo) { m_echo = echo; }

    int ShowError(const CSimpleErr& err) override { return Show(err.message, MB_ICONERROR); }
    int Show(const std::string& text, std::uint32_t type) override {
        if (m_echo) {
            std::cerr << EscapeForTerminal(text, LineBreaks::Keep) << '\n' << std::flush;
        }
        m_gui.App();
        return CMessageBoxMsg().Show(text, type);
    }

  private:
    CGui& m_gui;
    bool m_echo = false;
};

void SaveSettingsShowingErrors(const AppSettings& settings) {
    CSimpleErr err;
    InvokeGuarded(err, [&] { SaveSettingsAndWarn(settings); });
    if (err.Failed()) {
        qv::GlobalMsg().ShowError(err);
    }
}

// --help and --version: answered on standard output, before any settings
// are read; 1 only when the answer cannot be written.
int AnswerRequest(qv::CCommandLineParser::Request request) {
    if (request == qv::CCommandLineParser::Request::Help) {
        std::cout << EscapeForTerminal(Formatted(kMsgUsage, SettingsFilePath()), LineBreaks::Keep)
                  << '\n';
    } else {
        const auto& version = AppInfo().version;
        std::cout << "quorvel " << version[0] << '.' << version[1] << '.' << version[2] << '\n';
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

// The run report of --report, opened before the batch: a report that cannot
// be written stops the run before any file is touched (shown, false).
bool OpenReport(const qv::CCommandLineParser& parser, const qv::BatchOptions& options,
                std::optional<qv::CRunReport>& report) {
    if (parser.ReportPath().empty()) {
        return true;
    }
    CSimpleErr err;
    InvokeGuarded(err, [&] { report.emplace(parser.ReportPath(), options); });
    if (err.Failed()) {
        qv::GlobalMsg().ShowError(err);
        return false;
    }
    return true;
}

qv::BatchOptions OptionsOf(const qv::CCommandLineParser& parser) {
    return qv::BatchOptions{.yes = parser.Yes(),
                            .end = parser.End(),
                            .skipExisting = parser.SkipExisting(),
                            .strict = parser.Strict()};
}

int RunHidden(qv::CCommandLineParser& parser) {
    QCoreApplication app(g_argc, g_argv);
    // A hidden run always ends by itself; the terminal lists a few pages
    // that need a look, the report all of them.
    qv::BatchOptions options = OptionsOf(parser);
    options.end = true;
    options.reviewItems = qv::CTerminalProgress::kReviewLines;
    std::optional<qv::CRunReport> report;
    if (!OpenReport(parser, options, report)) {
        return 1;
    }
    qv::CBatchDriver* driverPtr = nullptr;
    qv::CHeadlessView view([&] { driverPtr->OnBatchTimer(); }, [&] { driverPtr->Stop(); });
    // On a terminal the progress shows on standard error; scripts and logs
    // see nothing of it.
    std::optional<qv::CTerminalProgress> progress;
    if (qv::CTerminalProgress::StandardErrorIsTerminal()) {
        progress.emplace(qv::GlobalMsg(), std::cerr,
                         [&](int task) { return driverPtr->TaskSource(task); });
        view.SetProgressLine(&*progress);
    }
    // Messages go past the progress line, which they erase first.
    CMsg* const sink = progress ? static_cast<CMsg*>(&*progress) : &qv::GlobalMsg();
    view.SetMessageSink(sink);
    qv::CBatchDriver driver(
        view, Settings(), options, [](const AppSettings& s) { SaveSettingsAndWarn(s); }, sink);
    driverPtr = &driver;
    driver.SetRecorder(report ? &*report : nullptr);
    driver.StartFromCommandLine(parser.TakeFiles());
    const int exitCode = app.exec();
    driver.Close();
    SaveSettingsShowingErrors(Settings());
    return exitCode;
}

// The window over the command line's files. Closing it ends the run with
// 0; under /end the batch's end does, with the batch's exit code. The
// window saves the settings and its placement when it goes.
int RunVisible(qv::CCommandLineParser& parser, CGui& gui) {
    if (!DisplayAvailable()) {
        std::cerr << AppInfo().displayName
                  << ": cannot open a display for the window (DISPLAY is not set or its X server "
                     "cannot be reached); use /hide to process files without a window.\n";
        return 1;
    }
    const qv::BatchOptions options = OptionsOf(parser);
    std::optional<qv::CRunReport> report;
    if (!OpenReport(parser, options, report)) {
        return 1;
    }
    QApplication& app = gui.App();
    qv::MainDlgEnv env;
    env.options = options;
    env.saveSettings = [](const AppSettings& s) { SaveSettingsAndWarn(s); };
    env.about = qv::AboutInfo{AppInfo().displayName, AppInfo().version, AppInfo().legalNotice};
    qv::CMainDlg dialog(Settings(), std::move(env));
    dialog.Driver().SetRecorder(report ? &*report : nullptr);
    dialog.show();
    dialog.AfterCreate(parser.TakeFiles());
    return app.exec();
}

}  // namespace

int RunApplication(int argc, char** argv) {
    // A file growing past the size the process may write (RLIMIT_FSIZE)
    // fails its write with EFBIG, reported like a full disk, instead of
    // ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
#if defined(__GLIBC__)
    // Blocks of 4 MiB and more (pages, files, codec buffers) come from the
    // system and go back to it when freed. Left to itself, malloc raises
    // this threshold after such a free and then keeps freed blocks of up to
    // 32 MB in each thread's own heap: with N workers the process would hold
    // about N pages' worth even while the memory budget lets one run.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
#endif
    AppInfo().Load();
    std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (const auto request = qv::CCommandLineParser::RequestOf(words);
        request != qv::CCommandLineParser::Request::Run) {
        return AnswerRequest(request);
    }
    qv::CGlobalMsg& msg = qv::GlobalMsg();
    CGui gui;
    // Boxes only where a person sees them; otherwise the headless sink
    // writes to standard error and answers negatively at once.
    boost::shared_ptr<CLazyMessageBoxMsg> boxes;
    if (MessageBoxesVisible()) {
        boxes = boost::make_shared<CLazyMessageBoxMsg>(gui);
        boxes->EchoToStandardError(true);
        msg.SetMessageBoxSink(boxes);
    }
    // The sink goes before the application object it shows boxes with.
    struct SinkRemover {
        qv::CGlobalMsg& msg;
        ~SinkRemover() { msg.SetMessageBoxSink(nullptr); }
    } removeSink{msg};

    qv::CCommandLineParser parser(Settings());
    qv::CCommandInit init(msg, Settings(), parser, std::move(words));
    ExecuteCommand(init);
    if (!init.Continue()) {
        return 1;
    }
    if (boxes) {
        boxes->EchoToStandardError(false);
    }
    qv::CCommandInitConsole console(msg);
    ExecuteCommand(console);

    if (parser.Hide()) {
        return RunHidden(parser);
    }
    return RunVisible(parser, gui);
}
