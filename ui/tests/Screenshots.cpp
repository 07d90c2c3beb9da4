// Writes PNG screenshots of the main window (idle; after a batch with pages
// to look at), the review list and the about box, in English and Japanese,
// into the folder named by the first argument (default: screenshots), each
// name ending in the scale factor ("main-idle-ja-2.png"). Runs on the
// offscreen platform at the QT_SCALE_FACTOR it is started with; the
// Japanese ones in Noto Sans CJK JP (fontconfig would take VL Gothic where
// both are installed; the layout tests check both).
#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/StringTable.h"
#include "ui/AboutDlg.h"
#include "ui/BatchPanel.h"
#include "ui/MainDlg.h"
#include "ui/QtTranslations.h"
#include "ui/ReviewDlg.h"
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
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    QDir().mkpath(folder);
    const qvtest::CTempFolder scans;
    const std::vector<std::string> files = scans.Scans(3);
    bool ok = true;
    const QFont base = QApplication::font();
    for (const auto& [language, suffix] :
         {std::pair{Language::English, "en"}, std::pair{Language::Japanese, "ja"}}) {
        SetUiLanguage(language);
        qv::InstallQtTranslations(language);
        QFont font = base;
        if (language == Language::Japanese) {
            font.setFamily(QStringLiteral("Noto Sans CJK JP"));
        }
        QApplication::setFont(font);
        const auto name = [&](const char* what) {
            return folder + QStringLiteral("/%1-%2-%3.png").arg(what, suffix, scale);
        };
        qvtest::CRecordingMsg msg;
        AppSettings settings;
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
        // Two of the pages as the engine would list them.
        qv::BatchSummary summary;
        const std::string right = Formatted(kMsgReasonEdgeNotFound, ResString(kStrSideRight));
        const std::string top = Formatted(kMsgReasonEdgeNotFound, ResString(kStrSideTop));
        summary.review = {{files[0], scans / "trim/p0.png", {right}},
                          {files[2], scans / "trim/p2.png", {top, right}}};
        dialog.ShowBatchSummary(summary);
        ok = Save(dialog, name("main-after-batch")) && ok;
        dialog.Panel().ShowReviewList();
        ok = Save(*dialog.Panel().ReviewList(), name("review")) && ok;

        qv::CAboutDlg about(&dialog, env.about, {}, msg);
        about.show();
        ok = Save(about, name("about")) && ok;
        for (const auto& entry : msg.shown) {
            std::printf("message: %s\n", entry.text.c_str());
        }
    }
    return ok ? 0 : 1;
}
