// Every caption of the main window, the review list and the about box fits
// its control, in English and Japanese, with each of the fonts Debian users
// have (Noto Sans CJK JP, VL Gothic, DejaVu Sans). Run once per scale factor
// (QT_SCALE_FACTOR is read when the application starts: ctest runs this
// program at 1, 1.5 and 2).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QRegularExpression>

#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/StringTable.h"
#include "ui/AboutDlg.h"
#include "ui/BatchPanel.h"
#include "ui/Controls.h"
#include "ui/MainDlg.h"
#include "ui/ReviewDlg.h"
#include "ui/tests/WindowTestSupport.h"

namespace {

using namespace qv;

// Checks every visible control of `window`: inside the window, at least as
// large as its content asks, and, for a label, its text no wider than the
// label; `controls` is how many have a caption (or a list) to check.
void ExpectCaptionsFit(QWidget& window, const std::string& where, int controls) {
    window.show();
    QApplication::processEvents();
    int checked = 0;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window) || w->window() != &window) {
            continue;
        }
        const QRect r(w->mapTo(&window, QPoint(0, 0)), w->size());
        EXPECT_TRUE(window.rect().contains(r)) << where << ": " << w->metaObject()->className();
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            caption = label->text();
            if (caption.isEmpty()) {
                continue;
            }
            QString shown = caption;
            shown.remove(QRegularExpression(QStringLiteral("&(?=[^&])")));
            const int width = label->fontMetrics().horizontalAdvance(shown);
            EXPECT_LE(width, label->contentsRect().width())
                << where << ": label \"" << caption.toStdString() << "\"";
            EXPECT_GE(label->height(), label->fontMetrics().height()) << where;
            ++checked;
        } else if (qobject_cast<QAbstractButton*>(w) != nullptr ||
                   qobject_cast<QGroupBox*>(w) != nullptr ||
                   (qobject_cast<QComboBox*>(w) != nullptr &&
                    !qobject_cast<QComboBox*>(w)->isEditable())) {
            // Their size hints hold the caption (or the longest item) with the
            // style's margins, indicator and frame.
            const QSize needed = w->minimumSizeHint().expandedTo(
                qobject_cast<QGroupBox*>(w) != nullptr ? QSize() : w->sizeHint());
            EXPECT_GE(w->width(), needed.width())
                << where << ": " << w->metaObject()->className() << " \""
                << w->property("text").toString().toStdString()
                << w->property("title").toString().toStdString() << "\"";
            EXPECT_GE(w->height(), needed.height()) << where;
            ++checked;
        }
    }
    EXPECT_EQ(checked, controls) << where;
}

TEST(Layout, EveryCaptionFitsInBothLanguagesWithEachFont) {
    const QFont base = QApplication::font();
    for (const char* family : {"Noto Sans CJK JP", "VL Gothic", "DejaVu Sans"}) {
        ASSERT_TRUE(QFontDatabase::hasFamily(family))
            << family << " is not installed (fonts-noto-cjk, fonts-vlgothic, fonts-dejavu-core)";
        QFont font = base;
        font.setFamily(family);
        QApplication::setFont(font);
        for (const Language language : {Language::English, Language::Japanese}) {
            SetUiLanguage(language);
            const std::string where = std::string(family) +
                                      (language == Language::English ? ", English" : ", Japanese") +
                                      ", scale " + qgetenv("QT_SCALE_FACTOR").toStdString();
            qvtest::CRecordingMsg msg;
            AppSettings settings;
            MainDlgEnv env;
            env.msg = &msg;
            env.quit = [](int) {};
            CMainDlg dialog(settings, env);
            // The status and the Review button as after a batch with pages to
            // look at.
            dialog.SetStatusText(Formatted(kMsgFilesProcessed, 120) + " - 12:34");
            BatchSummary summary;
            summary.review = {{"/scans/p001.png",
                               "/scans/trim/p001.png",
                               {Formatted(kMsgReasonEdgeNotFound, ResString(kStrSideRight))}}};
            dialog.ShowBatchSummary(summary);
            EXPECT_GE(dialog.width(), CDialogUnits(dialog.font()).Size(423, 301).width());
            ExpectCaptionsFit(dialog, where + ", main window", 38);

            CAboutDlg about(&dialog, AboutInfo{"Quorvel", {1, 2, 9, 0}, ""}, {}, msg);
            ExpectCaptionsFit(about, where + ", about box", 6);
            CReviewDlg review(&dialog, summary.review, {}, msg);
            ExpectCaptionsFit(review, where + ", review list", 2);
        }
    }
    QApplication::setFont(base);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::unique_ptr<QApplication> app = qvtest::MakeOffscreenApp(argc, argv);
    return RUN_ALL_TESTS();
}
