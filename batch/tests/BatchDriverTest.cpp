#include "batch/BatchDriver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "batch/tests/Sync.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"

namespace fs = std::filesystem;
using qv::CBatchDriver;

namespace {

class FakeView : public qv::IBatchView {
  public:
    qv::SettingsCheck ReadSettings(AppSettings& settings) override {
        return qv::ValidateSettings(settings);
    }
    void FocusControl(int id) override { focused.push_back(id); }
    SIZE PreviewSize() const override { return SIZE{120, 160}; }
    void SetProgress(int p, int t) override {
        processed = p;
        total = t;
    }
    void SetStatusText(const std::string& text) override { statuses.push_back(text); }
    void ShowPreview(const DibPtr& image) override {
        ++previews;
        preview = image;
    }
    void ShowResultSize(LONG width, LONG height) override { resultSize = {width, height}; }
    void SetRunningState(bool r) override { running = r; }
    void EnableOpenFolder(bool enable) override { openFolder = enable; }
    void FlashCaption() override { ++flashes; }
    void StartBatchTimer() override { ++timerStarts; }
    void KillBatchTimer() override { ++timerKills; }
    bool ShellOpen(const std::string& path) override {
        opened.push_back(path);
        return shellOpenWorks;
    }
    void Quit(int exitCode) override { exitCodes.push_back(exitCode); }

    std::string Status() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::vector<int> focused;
    int processed = -1;
    int total = -1;
    std::vector<std::string> statuses;
    int previews = 0;
    DibPtr preview;
    SIZE resultSize{0, 0};
    bool running = false;
    bool openFolder = false;
    int flashes = 0;
    int timerStarts = 0;
    int timerKills = 0;
    bool shellOpenWorks = true;
    std::vector<std::string> opened;
    std::vector<int> exitCodes;
};

class RecordingMsg : public CMsg {
  public:
    struct Shown {
        std::string text;
        std::uint32_t type;
    };
    int ShowError(const CSimpleErr& err) override {
        errors.push_back(err);
        return IDOK;
    }
    int Show(const std::string& text, std::uint32_t type) override {
        shown.push_back({text, type});
        return answer;
    }
    int answer = IDOK;
    std::vector<CSimpleErr> errors;
    std::vector<Shown> shown;
};

void WritePng(const DibPtr& dib, const std::string& path) {
    ASSERT_TRUE(scangen::WritePng(dib, path, 96)) << path;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class BatchDriverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const scangen::GeneratedScan generated =
            scangen::GenerateScan(scangen::MakeScanOptions(320, 440, 40));
        ASSERT_EQ(generated.result, S_OK);
        scan_ = new scangen::GeneratedScan(generated);
    }
    static void TearDownTestSuite() {
        delete scan_;
        scan_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(scan_, nullptr);
        dir_ = fs::temp_directory_path() /
               ("qv-batch-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        WritePng(scan_->emptyBed, Path("empty.png"));
        settings_.EmptyPath = {Path("empty.png")};
        settings_.AutoTrim.SpaceType = 0;  // auto, from the empty image
    }
    void TearDown() override {
        driver_.reset();
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Output(const std::string& base) const { return Path("trim/" + base + ".png"); }

    // Scans named p0.png ... in the test folder.
    std::vector<std::string> MakeScans(int count) {
        std::vector<std::string> files;
        for (int i = 0; i < count; ++i) {
            files.push_back(Path("p" + std::to_string(i) + ".png"));
            WritePng(scan_->scan, files.back());
        }
        return files;
    }
    // Old outputs with the given content.
    void MakeOutputs(const std::vector<int>& indices, const std::string& content = "old") {
        fs::create_directories(dir_ / "trim");
        for (int i : indices) {
            WriteText(Output("p" + std::to_string(i)), content);
        }
    }

    CBatchDriver& Driver(qv::BatchOptions options = {}) {
        driver_ = std::make_unique<CBatchDriver>(
            view_, settings_, options, [this](const AppSettings& s) { saved_.push_back(s); },
            &msg_);
        return *driver_;
    }

    // Ticks the timer until the batch ends; false if it does not within a
    // generous limit (a hang).
    static bool RunToEnd(CBatchDriver& driver) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (driver.TimerRunning() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            driver.OnBatchTimer();
        }
        return !driver.TimerRunning();
    }

    // Nothing started: no timer, no worker, no queued task, settings unsaved.
    void ExpectNotStarted(CBatchDriver& driver) {
        EXPECT_FALSE(driver.Running());
        EXPECT_EQ(view_.timerStarts, 0);
        EXPECT_FALSE(driver.Pool().AnyWorkerRunning());
        EXPECT_EQ(driver.Pool().Queued().Size(), 0u);
        EXPECT_TRUE(saved_.empty());
    }

    static inline scangen::GeneratedScan* scan_ = nullptr;
    LanguageScope english_{Language::English};
    fs::path dir_;
    AppSettings settings_;
    FakeView view_;
    RecordingMsg msg_;
    std::vector<AppSettings> saved_;
    std::unique_ptr<CBatchDriver> driver_;
};

TEST_F(BatchDriverTest, OneFileBatchCompletes) {
    const std::vector<std::string> files = MakeScans(1);
    CBatchDriver& driver = Driver();
    ASSERT_TRUE(driver.StartBatch(files));
    EXPECT_TRUE(view_.running);
    EXPECT_TRUE(driver.TimerRunning());
    ASSERT_EQ(saved_.size(), 1u);
    EXPECT_EQ(saved_[0].SubFolder.front(), "trim");
    EXPECT_EQ(settings_.EmptyPath.front(), Path("empty.png"));

    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_TRUE(msg_.shown.empty());
    const std::string done = "1 files are successfully processed - 0:0";
    EXPECT_EQ(view_.Status().substr(0, done.size()), done);
    ASSERT_EQ(view_.Status().size(), done.size() + 1);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(view_.Status().back())));
    EXPECT_TRUE(StartsWith(view_.statuses[0], "1 / 1 processing")) << view_.statuses[0];
    EXPECT_EQ(view_.processed, 1);
    EXPECT_EQ(view_.total, 1);
    EXPECT_TRUE(view_.openFolder);
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.flashes, 1);
    EXPECT_TRUE(view_.exitCodes.empty());
    EXPECT_EQ(view_.previews, 1);

    DibPtr written;
    ASSERT_EQ(LoadDibFromFile(written, Output("p0")), S_OK);
    EXPECT_EQ(written->Width(), view_.resultSize.cx);
    // The finished list keeps the task, its images released.
    const std::vector<AutoTrimTaskPtr> finished = driver.FinishedTasks();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_FALSE(finished[0]->OutputImage());
    EXPECT_FALSE(finished[0]->PreviewImage());

    driver.OpenFolder();
    EXPECT_EQ(view_.opened, std::vector<std::string>{Path("trim/")});
    view_.shellOpenWorks = false;
    driver.OpenFolder();
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_EQ(msg_.errors[0].id, 40014u);
}

TEST(BatchDriverFormat, ElapsedAsMinutesAndSeconds) {
    EXPECT_EQ(qv::FormatElapsed(7000), "0:07");
    EXPECT_EQ(qv::FormatElapsed(59999), "0:59");
    EXPECT_EQ(qv::FormatElapsed(3600000), "60:00");
}

TEST(BatchDriverFormat, OutputPaths) {
    LanguageScope english(Language::English);
    AppSettings settings;
    std::string out;
    settings.SaveType = SaveTypeJpeg;
    ASSERT_FALSE(qv::MakeOutputPath("/scan/p001.tif", settings, out).Failed());
    EXPECT_EQ(out, "/scan/trim/p001.jpg");

    settings.SaveType = 7;  // unknown: PNG
    settings.SubFolder = {"out/"};
    ASSERT_FALSE(qv::MakeOutputPath("/scan/a\\b.x.tif", settings, out).Failed());
    EXPECT_EQ(out, "/scan/out/a\\b.x.png");
    settings.SubFolder = {"trim"};
    settings.SaveType = SaveTypeTiff;
    ASSERT_FALSE(qv::MakeOutputPath("/p", settings, out).Failed());
    EXPECT_EQ(out, "/trim/p.tif");
    settings.SaveType = SaveTypeBmp;
    ASSERT_FALSE(qv::MakeOutputPath("/s/.scan", settings, out).Failed());
    EXPECT_EQ(out, "/s/trim/.scan.bmp");

    out = "unchanged";
    qv::SettingsCheck check = qv::MakeOutputPath("/scan/", settings, out);
    EXPECT_EQ(check.error.id, 40019u);
    EXPECT_EQ(check.error.message, "path is invalid\n\n/scan/");
    EXPECT_EQ(out, "unchanged");
    settings.SubFolder = {""};
    check = qv::MakeOutputPath("/scan/p.png", settings, out);
    EXPECT_EQ(check.error.id, 40018u);
    EXPECT_EQ(check.control, 148);
}

TEST_F(BatchDriverTest, MissingPathRefusesBeforeAnythingIsDeleted) {
    std::vector<std::string> files = MakeScans(5);
    fs::remove(files[2]);
    MakeOutputs({0, 1});
    CBatchDriver& driver = Driver();
    EXPECT_FALSE(driver.StartBatch(files));
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_EQ(msg_.errors[0].id, 40015u);
    EXPECT_EQ(msg_.errors[0].message, "Path not found\n\n" + files[2]);
    EXPECT_EQ(ReadAll(Output("p0")), "old");
    EXPECT_EQ(ReadAll(Output("p1")), "old");
    ExpectNotStarted(driver);

    // A folder is refused the same way.
    msg_.errors.clear();
    files[2] = dir_.string();
    EXPECT_FALSE(driver.StartBatch(files));
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_EQ(msg_.errors[0].message, "Path not found\n\n" + dir_.string());
}

TEST_F(BatchDriverTest, CancelledOverwriteQuestionKeepsEverything) {
    const std::vector<std::string> files = MakeScans(5);
    MakeOutputs({0, 2, 4});
    msg_.answer = IDCANCEL;
    CBatchDriver& driver = Driver();
    EXPECT_FALSE(driver.StartBatch(files));
    EXPECT_TRUE(msg_.errors.empty());
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_EQ(msg_.shown[0].type, MB_OKCANCEL | MB_ICONWARNING);
    const std::string& text = msg_.shown[0].text;
    EXPECT_TRUE(StartsWith(text, "3 files will be overwritten")) << text;
    for (int i : {0, 2, 4}) {
        EXPECT_NE(text.find(Output("p" + std::to_string(i))), std::string::npos);
        EXPECT_EQ(ReadAll(Output("p" + std::to_string(i))), "old");
    }
    for (int i : {1, 3}) {
        EXPECT_EQ(text.find(Output("p" + std::to_string(i))), std::string::npos);
    }
    ExpectNotStarted(driver);
}

// /yes overwrites without asking; more workers than files.
TEST_F(BatchDriverTest, YesWithMoreThreadsThanFiles) {
    settings_.ThreadCount = 4;
    const std::vector<std::string> files = MakeScans(2);
    MakeOutputs({0, 1});
    CBatchDriver& driver = Driver({.yes = true, .end = false});
    ASSERT_TRUE(driver.StartBatch(files));
    EXPECT_EQ(driver.Pool().ThreadCount(), 4);
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(msg_.shown.empty());
    EXPECT_TRUE(msg_.errors.empty());
    const std::vector<AutoTrimTaskPtr> finished = driver.FinishedTasks();
    ASSERT_EQ(finished.size(), 2u);
    std::set<int> positions;
    for (const AutoTrimTaskPtr& task : finished) {
        EXPECT_EQ(task->ResultId(), 0u) << task->MessageText();
        positions.insert(task->FilePosition());
    }
    EXPECT_EQ(positions, (std::set<int>{0, 1}));
    for (int i : {0, 1}) {
        DibPtr written;
        EXPECT_EQ(LoadDibFromFile(written, Output("p" + std::to_string(i))), S_OK);
    }
    EXPECT_EQ(view_.processed, 2);
    EXPECT_TRUE(StartsWith(view_.Status(), "2 files are successfully processed - "));
}

TEST_F(BatchDriverTest, CorruptImageEndsBatchUnderEnd) {
    std::vector<std::string> files = MakeScans(3);
    WriteText(files[1], "this is not an image");
    CBatchDriver& driver = Driver({.yes = false, .end = true});
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_EQ(view_.Status(), "process is terminated");
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_EQ(msg_.shown[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_TRUE(StartsWith(msg_.shown[0].text, "failed to read image - ")) << msg_.shown[0].text;
    EXPECT_NE(msg_.shown[0].text.find(files[1]), std::string::npos);
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.flashes, 0);
    EXPECT_EQ(view_.exitCodes, std::vector<int>{1});
    EXPECT_TRUE(driver.Pool().IsClosing());
    EXPECT_TRUE(driver.FinishedTasks().empty());
    EXPECT_FALSE(fs::exists(Output("p1")));
    EXPECT_TRUE(fs::exists(Output("p0")));
}

// Holds the worker inside its first report until the test lets it go.
class GatedDriver : public CBatchDriver {
  public:
    using CBatchDriver::CBatchDriver;
    // The worker may still wait at the gate: free it before the gates go.
    ~GatedDriver() override {
        release.Open();
        Pool().Shutdown(kInfinite);
    }
    void OnTaskFinished(boost::shared_ptr<CAutoTrimTask> task) override {
        CBatchDriver::OnTaskFinished(std::move(task));
        if (!first.exchange(true)) {
            reached.Open();
            release.WaitOpen();
        }
    }
    std::atomic<bool> first{false};
    testsync::Gate reached;
    testsync::Gate release;
};

// Stop while no task runs: the cancelled files never report, no task
// fails; the batch still ends, as terminated without a message box.
TEST_F(BatchDriverTest, StopWithoutFailureEndsTheBatch) {
    const std::vector<std::string> files = MakeScans(4);
    GatedDriver driver(view_, settings_, qv::BatchOptions{.yes = false, .end = true}, {}, &msg_);
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(driver.reached.WaitOpen());
    driver.Stop();
    EXPECT_TRUE(driver.Running());
    driver.release.Open();
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_EQ(view_.Status(), "process is terminated");
    EXPECT_TRUE(msg_.shown.empty());
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_FALSE(driver.Running());
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.processed, 1);
    EXPECT_EQ(view_.exitCodes, std::vector<int>{1});
    EXPECT_TRUE(fs::exists(Output("p0")));
    EXPECT_FALSE(fs::exists(Output("p3")));
}

// No output may be one of the batch's own inputs, whatever the path
// spelling: refused with 40019 before any file is deleted.
TEST_F(BatchDriverTest, NeverWritesOverItsOwnInputs) {
    const std::vector<std::string> files = MakeScans(2);
    const std::string original = ReadAll(files[0]);
    fs::create_directory_symlink(dir_, dir_ / "link");
    fs::create_directories(dir_ / "trim");
    // Each case names the subfolder, optionally changes the inputs and gives
    // the sources and the refused output.
    struct Case {
        const char* subFolder;
        std::function<std::vector<std::string>()> setUp;  // none: the scans
        std::string refused;
    };
    const std::vector<Case> cases = {
        {".", {}, Path("./p0.png")},
        {"link", {}, Path("link/p0.png")},
        {"new/..", {}, Path("new/../p0.png")},  // through a missing folder
        {"trim",
         [&] {  // another source is this file's output
             WritePng(scan_->scan, Output("p1"));
             return std::vector<std::string>{files[1], Output("p1")};
         },
         Output("p1")},
        {"trim",
         [&] {  // the empty image is an output
             WritePng(scan_->emptyBed, Output("p0"));
             settings_.EmptyPath = {Output("p0")};
             return std::vector<std::string>{files[0]};
         },
         Output("p0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        msg_.errors.clear();
        settings_.SubFolder = {c.subFolder};
        const std::vector<std::string> sources = c.setUp ? c.setUp() : files;
        std::vector<std::string> before;
        for (const std::string& s : sources) {
            before.push_back(ReadAll(s));
        }
        CBatchDriver& driver = Driver({.yes = true, .end = false});
        EXPECT_FALSE(driver.StartBatch(sources));
        ASSERT_EQ(msg_.errors.size(), 1u);
        EXPECT_EQ(msg_.errors[0].id, 40019u);
        EXPECT_EQ(msg_.errors[0].message, "path is invalid\n\n" + c.refused);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(ReadAll(sources[i]), before[i]);
        }
        ExpectNotStarted(driver);
    }
    EXPECT_EQ(ReadAll(files[0]), original);
}

TEST_F(BatchDriverTest, RefusedStarts) {
    const std::vector<std::string> files = MakeScans(1);
    CBatchDriver& driver = Driver();

    // Settings: shown, then the control focused; the global record untouched.
    settings_.EmptyPath = {""};
    EXPECT_FALSE(driver.StartBatch(files));
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_EQ(msg_.errors[0].id, 40035u);
    EXPECT_EQ(view_.focused, std::vector<int>{147});
    EXPECT_EQ(settings_.EmptyPath, HistoryList{""});

    settings_.EmptyPath = {Path("nothing.png")};
    EXPECT_FALSE(driver.StartBatch(files));
    EXPECT_EQ(msg_.errors.back().id, 40016u);

    WriteText(Path("bad-empty.png"), "junk");
    settings_.EmptyPath = {Path("bad-empty.png")};
    EXPECT_FALSE(driver.StartBatch(files));
    EXPECT_EQ(msg_.errors.back().id, 40017u);
    ExpectNotStarted(driver);

    // A failed save: its record is shown and nothing starts.
    settings_.EmptyPath = {Path("empty.png")};
    CBatchDriver failing(
        view_, settings_, {},
        [](const AppSettings&) { throw my::CException(40007, "failed to save settings"); }, &msg_);
    EXPECT_FALSE(failing.StartBatch(files));
    EXPECT_EQ(msg_.errors.back().id, 40007u);
    EXPECT_FALSE(failing.Running());
    EXPECT_EQ(view_.timerStarts, 0);
}

TEST_F(BatchDriverTest, CommandLineStartUnderEnd) {
    {
        CBatchDriver& driver = Driver({.yes = false, .end = true});
        driver.StartFromCommandLine(MakeScans(1));
        ASSERT_TRUE(RunToEnd(driver));
        EXPECT_EQ(view_.exitCodes, std::vector<int>{0});
    }
    {
        view_.exitCodes.clear();
        CBatchDriver& driver = Driver({.yes = false, .end = true});
        driver.StartFromCommandLine({});
        EXPECT_EQ(view_.exitCodes, std::vector<int>{0});
    }
    {
        view_.exitCodes.clear();
        CBatchDriver& driver = Driver({.yes = false, .end = true});
        driver.StartFromCommandLine({Path("missing.png")});
        EXPECT_EQ(view_.exitCodes, std::vector<int>{1});
        EXPECT_EQ(msg_.errors.back().id, 40015u);
    }
    {
        view_.exitCodes.clear();
        CBatchDriver& driver = Driver();
        driver.StartFromCommandLine({});
        driver.StartFromCommandLine({Path("missing.png")});
        EXPECT_TRUE(view_.exitCodes.empty());
    }
}

}  // namespace
