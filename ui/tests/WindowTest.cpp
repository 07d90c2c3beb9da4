// The main window and the about box as real widgets on the offscreen
// platform: fields named and focused, enabling, keyboard, placement, drops,
// a real batch with its preview, Stop, closing during a batch, the review
// list, Qt's translations, the file filters and the about box's link.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "image_io/ImageFile.h"
#include "msg/StringTable.h"
#include "ui/AboutDlg.h"
#include "ui/BatchPanel.h"
#include "ui/Controls.h"
#include "ui/MainDlg.h"
#include "ui/QtTranslations.h"
#include "ui/ReviewDlg.h"
#include "ui/SettingsForm.h"
#include "ui/SimpleDibWidget.h"
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
            return openSucceeds ? std::string() : std::string("Unable to detect a launcher");
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

TEST(MainDlg, AFirstRunCutsAllFourSidesAndMessagesNameTheFieldByItsCaption) {
    // Without stored settings the window starts with a choice that works
    // without an empty image.
    Window first;
    EXPECT_EQ(first.Text(kCtlTrimEdgesCombo), "left, top, right, bottom");
    qvtest::CTempFolder folder;
    first.msg.answers.push_back(IDOK);
    EXPECT_TRUE(first.dialog->Driver().StartBatch(folder.Scans(1)));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return first.Idle(); }));
    EXPECT_TRUE(first.msg.shown.empty()) << first.msg.Last();

    // {field, its control, its caption in English and in Japanese}.
    struct Case {
        SettingsField field;
        int control;
        const char* english;
        const char* japanese;
    };
    const Case cases[] = {
        {SettingsField::EmptyPath, kCtlEmptyPathCombo,
         "Specify Empty-image path scanned with no manuscript",
         "原稿無しでスキャンした画像を指定してください"},
        {SettingsField::RotateEdge, kCtlRotateCombo, "Edge for automatic Rotation",
         "自動回転に使用する原稿の端"},
        {SettingsField::TrimEdges, kCtlTrimEdgesCombo, "Edges for trim", "切り取る端"},
        {SettingsField::OutputWidth, kCtlOutputCxEdit, "Output Size (width)", "出力サイズ (幅)"},
        {SettingsField::OutputHeight, kCtlOutputCyEdit, "Output Size (height)",
         "出力サイズ (高さ)"},
        {SettingsField::TrimWidth, kCtlTrimCxEdit, "Vertical", "左右"},
        {SettingsField::TrimHeight, kCtlTrimCyEdit, "Horizontal", "上下"},
        {SettingsField::SubFolder, kCtlSubFolderCombo, "Create subfolder",
         "ファイルのあるフォルダの下に子フォルダ"},
        {SettingsField::SaveType, kCtlBmpRadio, "Save image type", "保存形式"},
        {SettingsField::JpegQuality, kCtlJpegQualityEdit, "Quality", "画質"},
        {SettingsField::SizeToOutputAdd, kCtlSizeToOutputAddCombo, "number added to the size",
         "サイズに加える値"},
        {SettingsField::ThreadCount, kCtlThreadCombo, "Threads", "スレッド数"},
    };
    for (const Language language : {Language::English, Language::Japanese}) {
        SetUiLanguage(language);
        Window w(CutAllSides());
        for (const Case& c : cases) {
            EXPECT_EQ(w.dialog->Form().ControlOf(c.field), w.Get(c.control)) << c.english;
            EXPECT_EQ(w.dialog->Form().CaptionOf(c.field),
                      language == Language::English ? c.english : c.japanese);
        }
        // Through the batch start: shown with the caption, the control focused.
        w.dialog->show();
        w.SetText(kCtlThreadCombo, "two");
        EXPECT_FALSE(w.dialog->Driver().StartBatch(folder.Scans(1)));
        EXPECT_EQ(w.msg.Last(), language == Language::English
                                    ? "failed to get a value from a combobox: Threads"
                                    : "コンボボックスからの値の取得に失敗しました: スレッド数");
        EXPECT_EQ(w.dialog->focusWidget(), w.Get(kCtlThreadCombo));
    }
    SetUiLanguage(Language::English);
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
        EXPECT_EQ(w.Get(kCtlCompressionCombo)->isEnabled(), radio == kCtlTiffRadio) << radio;
    }
    // The compression choices are the table's, the stored one shown.
    auto* compression = w.Get<QComboBox>(kCtlCompressionCombo);
    EXPECT_EQ(compression->currentText(), "Deflate");
    compression->setCurrentIndex(compression->findText("LZW"));
    EXPECT_EQ(w.dialog->Form().Input().tiffCompression, 5u);
}

TEST(MainDlg, TabEntersTheFormatsOnTheChosenOneAndArrowsMoveWithinThem) {
    Window w;  // PNG chosen
    w.dialog->show();
    QApplication::setActiveWindow(w.dialog.get());
    w.Get(kCtlSubFolderCombo)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.Get(kCtlPngRadio));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), w.Get(kCtlTiffRadio));
    EXPECT_TRUE(w.Get<QRadioButton>(kCtlTiffRadio)->isChecked());
    // Out of the group and back in: on the chosen one again.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), w.Get(kCtlSubFolderCombo));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.Get(kCtlTiffRadio));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    // JPEG's quality is off; TIFF's compression is on.
    EXPECT_EQ(QApplication::focusWidget(), w.Get(kCtlCompressionCombo));
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

TEST(MainDlg, ClosingDuringABatchAsksAndYesStopsItFirst) {
    Window w(CutAllSides());
    w.dialog->show();
    qvtest::CTempFolder folder;
    ASSERT_TRUE(w.dialog->Driver().StartBatch(folder.Scans(30)));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.dialog->Driver().Processed() >= 1; }));
    QTest::keyClick(w.dialog.get(), Qt::Key_Escape);  // answered No
    ASSERT_EQ(w.msg.shown.size(), 1u);
    EXPECT_EQ(w.msg.Last(), "A batch is running. Stop it and close?");
    EXPECT_EQ(w.msg.shown[0].type, MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(w.exitCode, -1);
    EXPECT_TRUE(w.dialog->Driver().Running());

    w.msg.answers.push_back(IDYES);
    w.dialog->close();
    EXPECT_EQ(w.exitCode, 0);
    EXPECT_FALSE(w.dialog->Driver().Pool().AnyWorkerRunning());
    std::size_t written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "trim")) {
        written += entry.path().extension() == ".png";
    }
    EXPECT_LT(written, 30u);  // stopped, not run to its end

    SetUiLanguage(Language::Japanese);
    Window ja(CutAllSides());
    qvtest::CTempFolder other;
    ASSERT_TRUE(ja.dialog->Driver().StartBatch(other.Scans(2)));
    ja.dialog->close();
    EXPECT_EQ(ja.msg.Last(), "処理を実行中です。中止して閉じますか？");
    SetUiLanguage(Language::English);
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
    ASSERT_TRUE(placeholder);                                // picture 139
    EXPECT_FALSE(w.Get(kCtlOpenFolderButton)->isEnabled());  // no result yet
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
    EXPECT_TRUE(
        std::regex_match(w.Text(kCtlStatusText).toStdString(),
                         std::regex("2 files are successfully processed - [0-9]+:[0-5][0-9]")))
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
    EXPECT_EQ(w.msg.Last(), "failed to get a value from a editbox: number added to the size");
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
    EXPECT_EQ(w.msg.Last(),
              "failed to open path\n\n" + (folder / "trim/") + "\n\nUnable to detect a launcher");
    // Open image on a missing file names it, and why.
    w.SetText(kCtlEmptyPathCombo, "/none/bed.png");
    w.Click(kCtlOpenImageButton);
    EXPECT_EQ(w.opened.size(), 2u);
    EXPECT_TRUE(w.msg.Last().starts_with("failed to open path\n\n/none/bed.png\n\n"))
        << w.msg.Last();
    EXPECT_GT(w.msg.Last().size(), std::string("failed to open path\n\n/none/bed.png\n\n").size());

    // A full bar from this batch goes at the next start, also a refused one.
    auto* bar = w.Get<QProgressBar>(kCtlProgress);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(w.dialog->Driver().StartBatch({"/none/x.png"}));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(w.Get(kCtlOpenFolderButton)->isEnabled());  // the results are still there
}

// The review list, fed a batch's pages that need a look (the engine's verdict
// stands in here; the batch itself is real).
TEST(MainDlg, PagesThatNeedALookAreCountedAndListedAndOpenTheirResults) {
    Window w(CutAllSides());
    qvtest::CTempFolder folder;
    const std::vector<std::string> scans = folder.Scans(3);
    ASSERT_TRUE(w.dialog->Driver().StartBatch(scans));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.Idle(); }));
    EXPECT_FALSE(w.Get(kCtlReviewButton)->isVisibleTo(w.dialog.get()));  // none needs a look
    const std::string status = w.Text(kCtlStatusText).toStdString();

    BatchSummary summary;
    summary.review = {
        {scans[0], folder / "trim/p0.png", {"right edge not found: kept to the image border"}},
        {scans[2], folder / "trim/p2.png", {"the page touches a border", "second reason"}},
    };
    w.dialog->ShowBatchSummary(summary);
    EXPECT_EQ(w.Text(kCtlStatusText).toStdString(), status + " - pages to look at: 2");
    ASSERT_TRUE(w.Get(kCtlReviewButton)->isVisibleTo(w.dialog.get()));
    w.dialog->show();
    w.Click(kCtlReviewButton);
    CReviewDlg* list = w.dialog->Panel().ReviewList();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->List().topLevelItemCount(), 2);
    EXPECT_EQ(list->List().topLevelItem(1)->text(0).toStdString(), scans[2]);
    EXPECT_EQ(list->List().topLevelItem(1)->text(1), "the page touches a border");
    const QRect row = list->List().visualItemRect(list->List().topLevelItem(1));
    QTest::mouseClick(list->List().viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(list->List().viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_FALSE(w.opened.empty());
    EXPECT_EQ(w.opened.back(), QUrl::fromLocalFile(QString::fromStdString(folder / "trim/p2.png")));
    w.openSucceeds = false;
    list->OpenResult(0);
    EXPECT_EQ(w.msg.Last(), "failed to open path\n\n" + (folder / "trim/p0.png") +
                                "\n\nUnable to detect a launcher");

    // The next batch starts without them.
    w.msg.answers.push_back(IDOK);  // overwrite
    ASSERT_TRUE(w.dialog->Driver().StartBatch(scans));
    EXPECT_FALSE(w.Get(kCtlReviewButton)->isVisibleTo(w.dialog.get()));
    ASSERT_TRUE(qvtest::WaitUntil([&] { return w.Idle(); }));
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
    CSimpleDibWidget widget(QSize(100, 60));
    widget.SetImage(picture);
    QImage canvas(100, 60, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    for (int pass = 0; pass < 2; ++pass) {
        QPainter painter(&canvas);
        widget.Draw(painter, QRect(0, 0, 100, 60));
    }
    EXPECT_EQ(canvas.pixel(41, 30), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(57, 30), qRgb(255, 255, 255));
    // Twice over white: the cached copy is premultiplied, the picture itself
    // keeps its pixels.
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
    qvtest::CRecordingMsg msg;
    CAboutDlg about(
        nullptr, info,
        [&](const QUrl& url) {
            opened.push_back(url);
            return std::string("Unable to detect a launcher");
        },
        msg);
    about.show();
    EXPECT_EQ(qobject_cast<QLabel*>(about.Control(kCtlProductLine))->text().toStdString(),
              ProductLine(info));
    // Refused: the box says where and why, and stays.
    QTest::mouseClick(about.Control(kCtlHomePageLink), Qt::LeftButton);
    EXPECT_TRUE(about.isVisible());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://kelvaro.example/quorvel/"));
    EXPECT_EQ(
        msg.Last(),
        "failed to open path\n\nhttps://kelvaro.example/quorvel/\n\nUnable to detect a launcher");
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

// Qt's own texts and the file dialog of Select by Dialog speak the
// interface language; its filters offer the images the program reads, then
// every file.
TEST(SelectByDialog, OffersImagesThenAllFilesInTheInterfaceLanguage) {
    for (const Language language : {Language::English, Language::Japanese}) {
        SetUiLanguage(language);
        ASSERT_TRUE(InstallQtTranslations(language)) << "qt6-translations-l10n is not installed";
        const bool japanese = language == Language::Japanese;
        QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box.button(QMessageBox::Yes)->text(), japanese ? "はい(&Y)" : "&Yes");

        Window w;
        w.dialog->show();
        QStringList filters;
        QString fileNameLabel;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            fileNameLabel = dialog->labelText(QFileDialog::FileName);
            dialog->reject();
        });
        w.Click(kCtlSelectByDialogButton);
        ASSERT_EQ(filters.size(), 2);
        EXPECT_TRUE(filters[0].startsWith(japanese ? "画像 (*." : "Images (*."))
            << filters[0].toStdString();
        for (const char* type : {"*.png", "*.jpg", "*.jpeg", "*.tif", "*.tiff", "*.bmp"}) {
            EXPECT_TRUE(filters[0].contains(type)) << type;
        }
        EXPECT_EQ(filters[1], japanese ? "すべてのファイル (*)" : "All files (*)");
        EXPECT_EQ(fileNameLabel.contains("ファイル"), japanese) << fileNameLabel.toStdString();
    }
    SetUiLanguage(Language::English);
    InstallQtTranslations(Language::English);
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
