// Writes PNG screenshots of the main window (idle, after a batch) and the
// about box, in English and Japanese, into the folder named by the first
// argument (default: screenshots). Runs on the offscreen platform.
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "msg/StringTable.h"
#include "ui/AboutDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/MainDlg.h"
#include "ui/tests/WindowTestSupport.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toStdString().c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<QApplication> app = qvtest::MakeOffscreenApp(argc, argv);
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(folder);
    const qvtest::CTempFolder scans;
    const std::vector<std::string> files = scans.Scans(3);
    bool ok = true;
    for (const auto& [language, suffix] :
         {std::pair{Language::English, "en"}, std::pair{Language::Japanese, "ja"}}) {
        SetUiLanguage(language);
        const auto name = [&](const char* what) {
            return folder + QStringLiteral("/%1-%2.png").arg(what, suffix);
        };
        qvtest::CRecordingMsg msg;
        AppSettings settings;
        settings.AutoTrim.SpaceType = TrimEdgesAll;
        qv::MainDlgEnv env;
        env.msg = &msg;
        env.about = qv::AboutInfo{"Quorvel", {1, 2, 9, 0}, "Copyright (C) Kelvaro"};
        env.quit = [](int) {};
        env.options.yes = true;
        qv::CMainDlg dialog(settings, env);
        dialog.show();
        ok = Save(dialog, name("main-idle")) && ok;

        dialog.AfterCreate(files);
        qvtest::WaitUntil([&] { return !dialog.Driver().Running(); });
        ok = Save(dialog, name("main-after-batch")) && ok;

        qv::CAboutDlg about(&dialog, env.about, {});
        about.show();
        ok = Save(about, name("about")) && ok;
        for (const auto& entry : msg.shown) {
            std::printf("message: %s\n", entry.text.c_str());
        }
    }
    return ok ? 0 : 1;
}
