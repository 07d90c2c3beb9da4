#include "ui/MessageBoxMsg.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>

#include "msg/StringTable.h"

namespace {

struct Seen {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Answers the next message box with `button` (closes it when NoButton) and
// records what it showed.
void Answer(Seen& seen, QMessageBox::StandardButton button) {
    QTimer::singleShot(0, [&seen, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = static_cast<int>(box->buttons().size());
        if (button == QMessageBox::NoButton) {
            box->reject();
        } else {
            box->button(button)->click();
        }
    });
}

TEST(MessageBoxMsg, ButtonsIconsCaptionsAndAnswers) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "ui_tests";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    SetUiLanguage(Language::English);
    CMessageBoxMsg sink;
    Seen seen;

    Answer(seen, QMessageBox::Ok);
    EXPECT_EQ(sink.ShowError(CSimpleErr(40015, "Path not found\n\n/x")), IDOK);
    EXPECT_EQ(seen.caption, "Error");
    EXPECT_EQ(seen.text, "Path not found\n\n/x");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, 1);

    Answer(seen, QMessageBox::Cancel);
    EXPECT_EQ(sink.Show("overwrite?", MB_OKCANCEL | MB_ICONWARNING), IDCANCEL);
    EXPECT_EQ(seen.caption, "Query");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, 2);

    // Closing the box without a button is the negative answer.
    Answer(seen, QMessageBox::NoButton);
    EXPECT_EQ(sink.Show("continue?", MB_YESNO), IDNO);

    Answer(seen, QMessageBox::Retry);
    EXPECT_EQ(sink.Show("again?", MB_CANCELTRYCONTINUE), IDTRYAGAIN);
    ResetUiLanguage();
}

// Set but unreachable: no server listens on display 97 or on wayland-9.
TEST(MessageBoxMsg, DisplayDetectionNeedsAReachableDisplay) {
    unsetenv("QT_QPA_PLATFORM");
    setenv("DISPLAY", ":97", 1);
    EXPECT_FALSE(DisplayAvailable());
    setenv("WAYLAND_DISPLAY", "wayland-9", 1);
    EXPECT_FALSE(DisplayAvailable());
    EXPECT_FALSE(MessageBoxesVisible());
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace
