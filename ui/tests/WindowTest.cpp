// The main window and the about box as real widgets on the offscreen
// platform: reading and validation, enabling, histories, placement, drops,
// a real batch with its preview, Stop, and the about box's link.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <sstream>

#include "image_io/ImageFile.h"
#include "msg/StringTable.h"
#include "ui/AboutDlg.h"
#include "ui/DecimalText.h"
#include "ui/DialogTemplates.h"
#include "ui/MainDlg.h"
#include "ui/tests/WindowTestSupport.h"

namespace {

using namespace qv;

// A main window with a recording sink, no settings file and a recorded quit.
struct Window {
    explicit Window(AppSettings initial = AppSettings(), BatchOptions options = {})
        : settings(std::move(initial)) {
        MainDlgEnv env;
        env.options = options;
        env.msg = &msg;
        env.saveSettings = [this](const AppSettings&) { ++saves; };
        env.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return openSucceeds;
        };
        env.quit = [this](int code) { exitCode = code; };
        dialog = std::make_unique<CMainDlg>(settings, std::move(env));
    }

    template <class T = QWidget>
    T* Get(int id) const {
        return qobject_cast<T*>(dialog->Control(id));
    }
    QString Text(int id) const {
        if (auto* edit = Get<QLineEdit>(id)) {
            return edit->text();
        }
        if (auto* label = Get<QLabel>(id)) {
            return label->text();
        }
        return Get<QComboBox>(id)->currentText();
    }
    void SetText(int id, const QString& text) {
        if (auto* edit = Get<QLineEdit>(id)) {
            edit->setText(text);
        } else {
            Get<QComboBox>(id)->setEditText(text);
        }
    }
    void Click(int id) { QTest::mouseClick(Get(id), Qt::LeftButton); }
    QPoint Centre(int id) const { return Get(id)->mapTo(dialog.get(), Get(id)->rect().center()); }
    bool Idle() const {
        return !dialog->Driver().Running() && Get(kCtlStopButton)->isEnabled() == false;
    }

    AppSettings settings;
    qvtest::CRecordingMsg msg;
    int saves = 0;
    std::vector<QUrl> opened;
    bool openSucceeds = true;
    int exitCode = -1;
    std::unique_ptr<CMainDlg> dialog;
};

QMimeData* Urls(const std::vector<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(QList<QUrl>(urls.begin(), urls.end()));
    return data;
}

std::vector<QUrl> Files(const std::vector<std::string>& paths) {
    std::vector<QUrl> urls;
    for (const std::string& p : paths) {
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
    }
    return urls;
}

// Drags `data` to `at` and drops it there; true when the drop was taken.
bool Drop(CMainDlg& dialog, QPoint at, QMimeData* data) {
    std::unique_ptr<QMimeData> owned(data);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    QApplication::processEvents();  // the queued half of the drop
    return drop.isAccepted();
}

AppSettings CutAllSides() {
    AppSettings s;
    s.AutoTrim.SpaceType = TrimEdgesAll;
    return s;
}

TEST(DecimalText, ReadsTheDialogsNumbers) {
    // {text, value}; kBad for text that is no number.
    constexpr LONG kBad = 12345;
    const std::pair<const char*, LONG> cases[] = {
        {"", 0},
        {"12.7", 12},
        {"-3.", -3},
        {"+5", 5},
        {"1.2.3", kBad},
        {"1e3", kBad},
        {".5", kBad},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) {
        LONG value = kBad;
        EXPECT_EQ(ReadDecimal(text, value), expected != kBad) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(MainDlg, ReadingTheControlsStopsAtTheFirstInvalidOneWithItsMessageAndControl) {
    struct Case {
        const char* name;
        std::function<void(Window&)> edit;
        std::string message;  // "" when the values are valid
        int control;
    };
    const std::vector<Case> cases = {
        {"output size ticked, width empty",
         [](Window& w) {
             w.Get<QCheckBox>(kCtlOutputSizeCheck)->setChecked(true);
             w.SetText(kCtlOutputCxEdit, "");
         },
         "Uncheck output size or input over 0", kCtlOutputCxEdit},
        // Unticked, the empty width reads 0; the next check then fails.
        {"output size not ticked, width empty",
         [](Window& w) {
             w.SetText(kCtlOutputCxEdit, "");
             w.SetText(kCtlSubFolderCombo, " ");
         },
         "subfolder's path is empty", kCtlSubFolderCombo},
        {"width not a number", [](Window& w) { w.SetText(kCtlOutputCyEdit, "1x"); },
         "failed to get a value from a editbox ID: 154", kCtlOutputCyEdit},
        {"no rotation selected",
         [](Window& w) { w.Get<QComboBox>(kCtlRotateCombo)->setCurrentIndex(-1); },
         "failed to get a value from a combobox ID: 143", kCtlRotateCombo},
        {"threads not a number", [](Window& w) { w.SetText(kCtlThreadCombo, "two"); },
         "failed to get a value from a combobox ID: 149", kCtlThreadCombo},
        {"addend not a number", [](Window& w) { w.SetText(kCtlSizeToOutputAddCombo, "-"); },
         "failed to get a value from a combobox ID: 145", kCtlSizeToOutputAddCombo},
        {"threads 12.7", [](Window& w) { w.SetText(kCtlThreadCombo, "12.7"); }, "", 0},
    };
    for (const Case& c : cases) {
        Window w(CutAllSides());
        c.edit(w);
        AppSettings read = w.settings;
        const SettingsCheck check = w.dialog->ReadSettings(read);
        EXPECT_EQ(check.error.message, c.message) << c.name;
        EXPECT_EQ(check.control, c.control) << c.name;
        if (c.message.empty()) {
            EXPECT_EQ(read.ThreadCount, 12);
        }
    }

    // Through the batch start: the message is shown and its control focused.
    Window w(CutAllSides());
    qvtest::CTempFolder folder;
    w.Get<QCheckBox>(kCtlOutputSizeCheck)->setChecked(true);
    w.SetText(kCtlOutputCxEdit, "");
    EXPECT_FALSE(w.dialog->Driver().StartBatch(folder.Scans(1)));
    EXPECT_EQ(w.msg.Last(), "Uncheck output size or input over 0");
    EXPECT_EQ(w.dialog->focusWidget(), w.Get(kCtlOutputCxEdit));

    // A typed thread count beyond what a command line may ask is capped.
    w.Get<QCheckBox>(kCtlOutputSizeCheck)->setChecked(false);
    w.SetText(kCtlThreadCombo, "150");
    AppSettings read = w.settings;
    EXPECT_FALSE(w.dialog->ReadSettings(read).Failed());
    EXPECT_EQ(read.ThreadCount, 99);
}

TEST(MainDlg, QualityPresetsFollowTheEditAndJpegEnablesThem) {
    Window w;
    w.dialog->show();
    w.Get<QRadioButton>(kCtlJpegRadio)->setChecked(true);
    auto* presets = w.Get<QComboBox>(kCtlJpegPresetCombo);
    EXPECT_EQ(presets->currentText(), "High");  // the default quality 80
    presets->setCurrentIndex(2);
    EXPECT_EQ(w.Text(kCtlJpegQualityEdit), "50");
    w.SetText(kCtlJpegQualityEdit, "55");
    EXPECT_EQ(presets->currentIndex(), -1);
    w.SetText(kCtlJpegQualityEdit, "");
    EXPECT_EQ(presets->currentText(), "Lowest (High compress)");
    EXPECT_TRUE(w.msg.shown.empty());
    // A third digit that makes 101 is refused at once.
    w.SetText(kCtlJpegQualityEdit, "10");
    QTest::keyClick(w.Get(kCtlJpegQualityEdit), Qt::Key_1);
    EXPECT_EQ(w.msg.Last(), "Jpeg quality exceeds range 0 ~ 100");
    EXPECT_EQ(w.dialog->focusWidget(), w.Get(kCtlJpegQualityEdit));

    for (const int radio : {kCtlBmpRadio, kCtlPngRadio, kCtlTiffRadio, kCtlJpegRadio}) {
        w.Get<QRadioButton>(radio)->setChecked(true);
        const bool jpeg = radio == kCtlJpegRadio;
        EXPECT_EQ(w.Get(kCtlJpegQualityEdit)->isEnabled(), jpeg) << radio;
        EXPECT_EQ(presets->isEnabled(), jpeg) << radio;
    }
}

TEST(MainDlg, PlacementIsRestoredInsideTheScreensAndSavedWhenTheWindowEnds) {
    QRect screens;
    for (const QScreen* s : QGuiApplication::screens()) {
        screens = screens.united(s->geometry());
    }
    AppSettings stored;
    const int right = screens.left() + screens.width();
    stored.Window.Rect = RECT{right - 100, 20, right + 500, 420};  // off the right edge
    Window w(stored);
    EXPECT_EQ(w.dialog->pos(), QPoint(right - 600, 20));

    w.dialog->move(30, 40);
    w.dialog->Quit(0);
    EXPECT_EQ(w.exitCode, 0);
    EXPECT_EQ(w.saves, 1);
    const QSize size = w.dialog->frameGeometry().size();
    EXPECT_EQ(w.settings.Window.Rect.left, 30);
    EXPECT_EQ(w.settings.Window.Rect.bottom, 40 + size.height());
    w.dialog.reset();
    EXPECT_EQ(w.saves, 1);  // once
}

TEST(MainDlg, HiddenWindowIgnoresTheKeyboardAndEscClosesAShownOne) {
    Window w;
    QTest::keyClick(w.dialog.get(), Qt::Key_Escape);
    QTest::keyClick(w.Get(kCtlOutputSizeCheck), Qt::Key_Space);
    EXPECT_EQ(w.exitCode, -1);
    EXPECT_FALSE(w.Get<QCheckBox>(kCtlOutputSizeCheck)->isChecked());
    w.dialog->show();
    QTest::keyClick(w.dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(w.exitCode, 0);
    EXPECT_FALSE(w.dialog->isVisible());
}

TEST(MainDlg, DropsOnTheEmptyImageBoxOrElsewhere) {
    Window w(CutAllSides());
    const QPoint onCombo = w.Centre(kCtlEmptyPathCombo);
    const QPoint elsewhere = w.Centre(kCtlPreviewFrame);
    qvtest::CTempFolder folder;
    const std::string bed = folder.Scans(1)[0];
    const std::vector<std::string> three{bed, "/none/b.png", "/none/c.png"};

    // Dragging over the combo frames it; moving off or leaving removes it.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/none/a.png")});
    QDragEnterEvent enter(onCombo, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.dialog.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    const QRect combo(w.Get(kCtlEmptyPathCombo)->mapTo(w.dialog.get(), QPoint()),
                      w.Get(kCtlEmptyPathCombo)->size());
    EXPECT_EQ(w.dialog->DropHighlight(), combo.adjusted(-2, -2, 2, 2));
    QDragMoveEvent move(elsewhere, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.dialog.get(), &move);
    EXPECT_TRUE(w.dialog->DropHighlight().isEmpty());
    QApplication::sendEvent(w.dialog.get(), &enter);
    QDragLeaveEvent leave;
    QApplication::sendEvent(w.dialog.get(), &leave);
    EXPECT_TRUE(w.dialog->DropHighlight().isEmpty());

    // One file on the combo: it becomes the empty image, nothing starts.
    EXPECT_TRUE(Drop(*w.dialog, onCombo, Urls(Files({"/none/bed.png"}))));
    EXPECT_EQ(w.Text(kCtlEmptyPathCombo), "/none/bed.png");
    EXPECT_TRUE(w.msg.shown.empty());

    // Three on the combo: the question names the first and the 2 others.
    EXPECT_TRUE(Drop(*w.dialog, onCombo, Urls(Files(three))));
    ASSERT_EQ(w.msg.shown.size(), 1u);
    EXPECT_EQ(w.msg.shown[0].type, MB_YESNO);
    EXPECT_NE(w.msg.Last().find("A first file\n\n" + bed + "\n\n is specified"), std::string::npos);
    EXPECT_NE(w.msg.Last().find("the other 2 dropped files"), std::string::npos);
    EXPECT_EQ(w.Text(kCtlEmptyPathCombo).toStdString(), bed);  // No: kept, nothing started
    EXPECT_FALSE(w.dialog->Driver().Running());
    // Yes: the batch gets the second and third (the missing second stops it).
    w.msg.answers.push_back(IDYES);
    Drop(*w.dialog, onCombo, Urls(Files(three)));
    EXPECT_EQ(w.msg.Last(), "Path not found\n\n/none/b.png");

    // Elsewhere: every file is processed, in order.
    EXPECT_TRUE(Drop(*w.dialog, elsewhere, Urls(Files({"/none/a.png", bed}))));
    EXPECT_EQ(w.msg.Last(), "Path not found\n\n/none/a.png");

    // Refused as a whole: an item that is no local file, or no URL list.
    const std::size_t before = w.msg.shown.size();
    std::vector<QUrl> mixed = Files(three);
    mixed.insert(mixed.begin() + 1, QUrl("https://kelvaro.example/scan.png"));
    EXPECT_FALSE(Drop(*w.dialog, elsewhere, Urls(mixed)));
    EXPECT_EQ(w.msg.Last(), "dropped data format is not implemented");
    auto* text = new QMimeData;
    text->setText("/none/a.png");
    EXPECT_FALSE(Drop(*w.dialog, elsewhere, text));
    EXPECT_EQ(w.msg.Last(), "failed to get dropped data");
    EXPECT_EQ(w.msg.shown.size(), before + 2);
    EXPECT_FALSE(w.dialog->Driver().Running());
}

TEST(MainDlg, BatchFromADropShowsPreviewSizeAndOffersItAsOutputSize) {
    Window w(CutAllSides());
    const DibPtr placeholder = w.dialog->Preview().Image();
    ASSERT_TRUE(placeholder);  // picture 139
    // Before any result there is no size to take.
    w.Click(kCtlUseAsOutputSizeButton);
    EXPECT_EQ(w.msg.Last(), "Image size is none. The size can be set by test prosessing");

    qvtest::CTempFolder folder;
    const std::vector<std::string> scans = folder.Scans(2);
    ASSERT_TRUE(Drop(*w.dialog, w.Centre(kCtlProgress), Urls(Files(scans))));
    EXPECT_TRUE(w.dialog->Driver().Running());
    EXPECT_TRUE(w.Get(kCtlStopButton)->isEnabled());
    EXPECT_FALSE(w.Get(kCtlEmptyPathCombo)->isEnabled());
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.Idle(); }));
    EXPECT_NE(w.Text(kCtlStatusText).toStdString().find("2 files are successfully processed - 0:0"),
              std::string::npos)
        << w.Text(kCtlStatusText).toStdString();
    EXPECT_NE(w.dialog->Preview().Image(), placeholder);
    const int width = w.Text(kCtlResultWidthEdit).toInt();
    const int height = w.Text(kCtlResultHeightEdit).toInt();
    EXPECT_GT(width, 200);
    EXPECT_GT(height, width);
    EXPECT_TRUE(w.Get(kCtlOpenFolderButton)->isEnabled());
    EXPECT_TRUE(w.msg.shown.size() == 1) << w.msg.Last();  // only the 40039 above

    w.SetText(kCtlSizeToOutputAddCombo, "x");
    w.Click(kCtlUseAsOutputSizeButton);
    EXPECT_EQ(w.msg.Last(), "failed to get a value from a editbox ID: 145");
    w.SetText(kCtlSizeToOutputAddCombo, "-2");
    w.Click(kCtlUseAsOutputSizeButton);
    EXPECT_EQ(w.Text(kCtlOutputCxEdit).toInt(), width - 2);
    EXPECT_EQ(w.Text(kCtlOutputCyEdit).toInt(), height - 2);
    EXPECT_TRUE(w.Get<QCheckBox>(kCtlOutputSizeCheck)->isChecked());

    // Open Folder hands the output folder to the desktop; its refusal is 40014.
    w.Click(kCtlOpenFolderButton);
    ASSERT_EQ(w.opened.size(), 1u);
    EXPECT_EQ(w.opened[0], QUrl::fromLocalFile(QString::fromStdString(folder / "trim/")));
    w.openSucceeds = false;
    w.Click(kCtlOpenFolderButton);
    EXPECT_EQ(w.msg.Last(), "failed to open path");
    // So is a missing empty image for Open image.
    w.SetText(kCtlEmptyPathCombo, "/none/bed.png");
    w.Click(kCtlOpenImageButton);
    EXPECT_EQ(w.opened.size(), 2u);
    EXPECT_EQ(w.msg.Last(), "failed to open path");
}

TEST(MainDlg, DropsAreRefusedWhileRunningAndStopEndsTheBatchAsTerminated) {
    AppSettings s = CutAllSides();
    Window w(s);
    qvtest::CTempFolder folder;
    const std::vector<std::string> scans = folder.Scans(40);
    ASSERT_TRUE(Drop(*w.dialog, w.Centre(kCtlProgress), Urls(Files(scans))));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.dialog->Driver().Processed() >= 1; }));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(scans[0]))});
    QDragEnterEvent enter(w.Centre(kCtlEmptyPathCombo), Qt::CopyAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(w.dialog.get(), &enter);
    EXPECT_EQ(enter.dropAction(), Qt::IgnoreAction);
    EXPECT_TRUE(w.dialog->DropHighlight().isEmpty());
    EXPECT_FALSE(Drop(*w.dialog, w.Centre(kCtlProgress), Urls(Files({scans[0]}))));
    EXPECT_EQ(w.msg.Last(), "dropped files are ignored because on execution");
    EXPECT_TRUE(w.dialog->Driver().Running());

    w.Click(kCtlStopButton);
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.Idle(); }));
    EXPECT_EQ(w.Text(kCtlStatusText), "process is terminated");
    EXPECT_TRUE(w.Get(kCtlEmptyPathCombo)->isEnabled());
    EXPECT_LT(w.dialog->Driver().Processed(), 40);
}

TEST(MainDlg, DrawsThePreviewFittedAndCentredFromAPremultipliedCopy) {
    // A 10 × 40 picture, half-transparent red, in a 100 × 60 rectangle: 15
    // × 60 centred at x 42 (the left margin gets the smaller half).
    DibPtr picture(new CDib);
    ASSERT_TRUE(picture->Create(10, 40, 32, 0, BI_RGB) && picture->AllocateBits());
    for (LONG y = 0; y < 40; ++y) {
        for (LONG x = 0; x < 10; ++x) {
            BYTE* p = picture->Row(y) + 4 * x;
            p[0] = 0, p[1] = 0, p[2] = 255, p[3] = 128;
        }
    }
    CSimpleDibWidget widget;
    const QRect box(0, 0, 100, 60);
    widget.Create(&box, true);
    widget.SetImage(picture);
    QImage canvas(100, 60, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    for (int pass = 0; pass < 2; ++pass) {
        QPainter painter(&canvas);
        widget.Draw(painter);
    }
    EXPECT_EQ(canvas.pixel(41, 30), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(57, 30), qRgb(255, 255, 255));
    // Twice over white: the copy is premultiplied afresh each time, the
    // picture itself keeps its pixels.
    const QRgb drawn = canvas.pixel(50, 30);
    EXPECT_EQ(qRed(drawn), 255);
    EXPECT_NEAR(qGreen(drawn), 255 * 127 / 255 * 127 / 255, 2);
    EXPECT_EQ(picture->Row(0)[2], 255);
    EXPECT_EQ(picture->Row(0)[3], 128);
}

TEST(AboutDlg, ShowsTheProductLineAndOpensTheLink) {
    const AboutInfo info{"Quorvel", {1, 2, 9, 0}, "Copyright (C) Kelvaro"};
    if (ArchitectureName() == "x64") {
        EXPECT_EQ(ProductLine(info), "Quorvel  1.2.9.0   x64");
    }
    std::vector<QUrl> opened;
    CAboutDlg about(nullptr, info, [&](const QUrl& url) {
        opened.push_back(url);
        return false;
    });
    about.show();
    EXPECT_EQ(qobject_cast<QLabel*>(about.Control(kCtlProductLine))->text().toStdString(),
              ProductLine(info));
    QTest::mouseClick(about.Control(kCtlHomePageLink),
                      Qt::LeftButton);  // refused: a beep, the box stays
    EXPECT_TRUE(about.isVisible());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://kelvaro.example/quorvel/"));
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_EQ(about.result(), QDialog::Rejected);

    // The main window's About button shows it modally.
    Window w;
    w.dialog->show();
    QTimer::singleShot(0, [] {
        auto* box = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->accept();
    });
    w.Click(kCtlAboutButton);
}

TEST(DesktopEntry, OffersOnlyImageTypesTheProgramReads) {
    std::ifstream file(QV_DESKTOP_ENTRY);
    ASSERT_TRUE(file);
    std::string line;
    while (std::getline(file, line) && line.rfind("MimeType=", 0) != 0) {
    }
    std::stringstream types(line.substr(9));
    const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
    int count = 0;
    for (std::string type; std::getline(types, type, ';');) {
        EXPECT_TRUE(readable.contains(QByteArray::fromStdString(type))) << type;
        ++count;
    }
    EXPECT_GE(count, 5);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::unique_ptr<QApplication> app = qvtest::MakeOffscreenApp(argc, argv);
    SetUiLanguage(Language::English);
    return RUN_ALL_TESTS();
}
