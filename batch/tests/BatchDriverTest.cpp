#include "batch/BatchDriver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "batch/tests/Sync.h"
#include "image/PixelKind.h"
#include "image_io/ImageFile.h"
#include "image_io/ImageSaver.h"
#include "msg/Exception.h"
#include "msg/tests/LanguageScope.h"
#include "tests/support/ScanFiles.h"
#include "tests/support/ScanGenerator.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using qv::CBatchDriver;

namespace {

class FakeView : public qv::IBatchView {
  public:
    qv::SettingsCheck ReadSettings(AppSettings& s) override { return qv::ValidateSettings(s); }
    void FocusField(qv::SettingsField field) override { focused.push_back(field); }
    SIZE PreviewSize() const override { return SIZE{120, 160}; }
    void SetProgress(int p, int) override { processed = p; }
    void SetStatusText(const std::string& text) override { statuses.push_back(text); }
    void ShowPreview(const DibPtr&) override { ++previews; }
    void ShowResultSize(LONG width, LONG height) override { resultSize = {width, height}; }
    void ShowNotice(const std::string& text) override { notices.push_back(text); }
    void SetRunningState(bool r) override { running = r; }
    void EnableOpenFolder(bool enable) override { openFolder = enable; }
    void FlashCaption() override { ++flashes; }
    void ShowBatchSummary(const qv::BatchSummary& summary) override {
        summaries.push_back(summary);
    }
    void StartBatchTimer() override { ++timerStarts; }
    void KillBatchTimer() override {}
    std::string ShellOpen(const std::string& path) override {
        opened.push_back(path);
        return shellOpenWorks ? std::string() : std::string("no launcher");
    }
    void Quit(int exitCode) override { exitCodes.push_back(exitCode); }

    std::string Status() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::vector<qv::SettingsField> focused;
    std::vector<int> exitCodes;
    std::vector<std::string> statuses, opened, notices;
    std::vector<qv::BatchSummary> summaries;
    int processed = -1, previews = 0, flashes = 0, timerStarts = 0;
    SIZE resultSize{0, 0};
    bool running = false, openFolder = false, shellOpenWorks = true;
};

class RecordingMsg : public CMsg {
  public:
    int ShowError(const CSimpleErr& err) override {
        errors.push_back(err);
        return IDOK;
    }
    int Show(const std::string& text, std::uint32_t type) override {
        shown.emplace_back(text, type);
        return answer;
    }
    int answer = IDOK;
    std::vector<CSimpleErr> errors;
    std::vector<std::pair<std::string, std::uint32_t>> shown;
};

// Keeps what the driver records of each source (tasks from the workers'
// threads: read them once the batch has ended).
class Recorder : public qv::IBatchRecorder {
  public:
    struct Task {
        std::string source;
        int position;
        qv::FileStatus status;
    };
    void RecordTask(const CAutoTrimTask& task) override {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back({task.SourcePath(), task.FilePosition(), qv::StatusOf(task)});
    }
    void RecordSkipped(std::string_view source, std::string_view output) override {
        skipped.emplace_back(source, output);
    }
    void RecordEnd(const qv::BatchSummary& s, const AppSettings&) override {
        summary = s;
        ++ends;
    }
    void RecordRefusal(const std::string& message, std::size_t, const AppSettings&) override {
        refusals.push_back(message);
    }
    std::mutex mutex;
    std::vector<Task> tasks;
    std::vector<std::pair<std::string, std::string>> skipped;
    std::vector<std::string> refusals;
    qv::BatchSummary summary;
    int ends = 0;
};

class BatchDriverTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scan_ = new scangen::GeneratedScan(
            scangen::GenerateScan(scangen::MakeScanOptions(320, 440, 40)));
    }
    static void TearDownTestSuite() { delete scan_; }

    void SetUp() override {
        ASSERT_EQ(scan_->result, S_OK);
        fs::create_directories(dir_ / "trim");
        WritePng(scan_->emptyBed, Path("empty.png"));
        settings_.EmptyPath = {Path("empty.png")};
        settings_.AutoTrim.SpaceType = 0;  // auto, from the empty image
    }
    void TearDown() override { driver_.reset(); }

    static void WritePng(const DibPtr& dib, const std::string& path) {
        ASSERT_TRUE(scangen::WritePng(dib, path, 96)) << path;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Output(int i) const { return Path("trim/p" + std::to_string(i) + ".png"); }

    // Scans p0.png ... in the test folder; old outputs "old" for `outputs`.
    std::vector<std::string> MakeScans(int count, const std::vector<int>& outputs = {}) {
        std::vector<std::string> files;
        for (int i = 0; i < count; ++i) {
            files.push_back(Path("p" + std::to_string(i) + ".png"));
            WritePng(scan_->scan, files.back());
        }
        for (int i : outputs) {
            WriteFileBytes(Output(i), "old");
        }
        return files;
    }

    CBatchDriver& Driver(qv::BatchOptions options = {}) {
        driver_ = std::make_unique<CBatchDriver>(
            view_, settings_, options, [this](const AppSettings& s) { saved_.push_back(s); },
            &msg_);
        driver_->SetRecorder(&recorder_);
        return *driver_;
    }

    // Ticks the timer until the batch ends; false on a hang.
    static bool RunToEnd(CBatchDriver& driver) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (driver.TimerRunning() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            driver.OnBatchTimer();
        }
        return !driver.TimerRunning();
    }

    // Refused with error `id` (0: none): no timer, no worker, no task, unsaved.
    void ExpectRefused(CBatchDriver& driver, std::uint32_t id, const std::string& message = {}) {
        ASSERT_EQ(msg_.errors.size(), id == 0 ? 0u : 1u);
        if (id != 0) {
            EXPECT_EQ(msg_.errors[0].id, id);
            EXPECT_TRUE(message.empty() || msg_.errors[0].message == message)
                << msg_.errors[0].message;
        }
        msg_.errors.clear();
        EXPECT_FALSE(driver.Running());
        EXPECT_EQ(view_.timerStarts, 0);
        EXPECT_FALSE(driver.Pool().AnyWorkerRunning());
        EXPECT_EQ(driver.Pool().Queued().Size(), 0u);
        EXPECT_TRUE(saved_.empty());
    }

    static inline scangen::GeneratedScan* scan_ = nullptr;
    LanguageScope english_{Language::English};
    TempDir temp_;
    fs::path dir_ = temp_.Path();
    AppSettings settings_;
    FakeView view_;
    RecordingMsg msg_;
    std::vector<AppSettings> saved_;
    Recorder recorder_;
    std::unique_ptr<CBatchDriver> driver_;
};

TEST_F(BatchDriverTest, OneFileBatchCompletes) {
    CBatchDriver& driver = Driver();
    ASSERT_TRUE(driver.StartBatch(MakeScans(1)));
    EXPECT_TRUE(view_.running);
    ASSERT_EQ(saved_.size(), 1u);
    EXPECT_EQ(saved_[0].SubFolder.front(), "trim");

    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_TRUE(msg_.shown.empty());
    // Minutes and seconds, however long a loaded machine took.
    EXPECT_TRUE(std::regex_match(
        view_.Status(), std::regex("1 files are successfully processed - [0-9]+:[0-5][0-9]")))
        << view_.Status();
    EXPECT_EQ(view_.processed, 1);
    EXPECT_TRUE(view_.openFolder);
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.flashes, 1);
    EXPECT_TRUE(view_.exitCodes.empty());
    EXPECT_EQ(view_.previews, 1);

    DibPtr written;
    ASSERT_EQ(LoadDibFromFile(written, Output(0)), S_OK);
    EXPECT_EQ(written->Width(), view_.resultSize.cx);
    // The last task is kept, its images released.
    ASSERT_TRUE(driver.LastWritten());
    EXPECT_FALSE(driver.LastWritten()->OutputImage());
    EXPECT_FALSE(driver.LastWritten()->PreviewImage());

    driver.OpenFolder();
    EXPECT_EQ(view_.opened, std::vector<std::string>{Path("trim/")});
    view_.shellOpenWorks = false;
    driver.OpenFolder();
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_EQ(msg_.errors[0].message,
              "failed to open path\n\n" + Path("trim/") + "\n\nno launcher");
}

// A written page whose verdict asks for a look reaches the view with its
// result and the engine's reasons; a page that needs none is left out.
TEST_F(BatchDriverTest, PagesThatNeedALookAreSummarisedWithTheirReasons) {
    scangen::ScanOptions options = scangen::MakeScanOptions(320, 440, 40);
    options.bookEdge = scangen::BookEdge::Left;
    const scangen::GeneratedScan offBorder = scangen::GenerateScan(options);
    ASSERT_EQ(offBorder.result, S_OK);
    std::vector<std::string> files = MakeScans(1);
    files.push_back(Path("off.png"));
    WritePng(offBorder.scan, files.back());
    settings_.EmptyPath = {""};
    settings_.AutoTrim.SpaceType = TrimEdgesAll;
    CBatchDriver& driver = Driver();
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    ASSERT_EQ(view_.summaries.size(), 1u);
    const std::vector<qv::ReviewItem>& review = view_.summaries[0].review;
    ASSERT_EQ(review.size(), 1u);
    EXPECT_EQ(review[0].source, files[1]);
    EXPECT_EQ(review[0].output, Path("trim/off.png"));
    ASSERT_FALSE(review[0].reasons.empty());
    EXPECT_EQ(review[0].reasons[0], "page runs off the left border of the scan");
}

// A format that holds less than the results (16-bit colour in JPEG) is told
// once per batch, naming both kinds and the first such source; a format
// that holds them all tells nothing.
TEST_F(BatchDriverTest, ReducedKindsAreToldOncePerBatch) {
    DibPtr deep;
    ASSERT_EQ(ToKind(deep, scan_->scan, PixelKind::Bgr48), S_OK);
    std::vector<std::string> files;
    for (int i = 0; i < 2; ++i) {
        files.push_back(Path("deep" + std::to_string(i) + ".png"));
        WritePng(deep, files.back());
    }
    settings_.SaveType = SaveTypeJpeg;
    CBatchDriver& driver = Driver(qv::BatchOptions{true, false});
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_EQ(view_.notices, std::vector<std::string>{
                                 "The chosen format cannot hold every source's pixels: 16-bit "
                                 "colour is written as 8-bit colour (first: " +
                                 files[0] + ")"});
    EXPECT_EQ(view_.summaries.back().reduced, 2);

    view_.notices.clear();
    settings_.SaveType = SaveTypeTiff;
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(view_.notices.empty());
    EXPECT_EQ(view_.summaries.back().reduced, 0);
}

TEST(BatchDriverFormat, ElapsedTimeAndOutputPaths) {
    EXPECT_EQ(qv::FormatElapsed(59999), "0:59");
    EXPECT_EQ(qv::FormatElapsed(3600000), "60:00");

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
    settings.SaveType = SaveTypeBmp;
    ASSERT_FALSE(qv::MakeOutputPath("/s/.scan", settings, out).Failed());
    EXPECT_EQ(out, "/s/out/.scan.bmp");

    out = "unchanged";
    qv::SettingsCheck check = qv::MakeOutputPath("/scan/", settings, out);
    EXPECT_EQ(check.error.id, 40019u);
    EXPECT_EQ(check.error.message, "path is invalid\n\n/scan/");
    EXPECT_EQ(out, "unchanged");
    settings.SubFolder = {""};
    check = qv::MakeOutputPath("/scan/p.png", settings, out);
    EXPECT_EQ(check.error.id, 40018u);
    EXPECT_EQ(check.field, qv::SettingsField::SubFolder);
}

TEST_F(BatchDriverTest, CancelledOverwriteQuestionKeepsEverything) {
    const std::vector<std::string> files = MakeScans(3, {0, 2});
    msg_.answer = IDCANCEL;
    CBatchDriver& driver = Driver();
    EXPECT_FALSE(driver.StartBatch(files));
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_EQ(msg_.shown[0].second, MB_OKCANCEL | MB_ICONWARNING);
    const std::string& text = msg_.shown[0].first;
    EXPECT_TRUE(text.starts_with("2 files will be overwritten")) << text;
    EXPECT_NE(text.find(Output(0)), std::string::npos);
    EXPECT_NE(text.find(Output(2)), std::string::npos);
    EXPECT_EQ(text.find(Output(1)), std::string::npos);
    EXPECT_EQ(ReadFileBytes(Output(0)), "old");
    EXPECT_EQ(ReadFileBytes(Output(2)), "old");
    ExpectRefused(driver, 0);
}

// /yes overwrites without asking; no more workers than files.
TEST_F(BatchDriverTest, YesWithMoreThreadsThanFiles) {
    settings_.ThreadCount = 4;
    CBatchDriver& driver = Driver({.yes = true, .end = false});
    ASSERT_TRUE(driver.StartBatch(MakeScans(2, {0, 1})));
    EXPECT_EQ(driver.Pool().ThreadCount(), 2);
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_TRUE(msg_.shown.empty());
    EXPECT_TRUE(msg_.errors.empty());
    std::set<int> positions;
    for (const Recorder::Task& task : recorder_.tasks) {
        EXPECT_EQ(task.status, qv::FileStatus::Ok);
        positions.insert(task.position);
    }
    EXPECT_EQ(positions, (std::set<int>{0, 1}));
    EXPECT_EQ(recorder_.ends, 1);
    for (int i : {0, 1}) {
        DibPtr written;
        EXPECT_EQ(LoadDibFromFile(written, Output(i)), S_OK);
    }
    EXPECT_TRUE(view_.Status().starts_with("2 files are successfully processed - "));
}

// Old outputs are replaced only by new ones: the failed file and the one
// never reached keep theirs.
TEST_F(BatchDriverTest, CorruptImageEndsBatchUnderEnd) {
    std::vector<std::string> files = MakeScans(3, {1, 2});
    WriteFileBytes(files[1], "this is not an image");
    CBatchDriver& driver = Driver({.yes = true, .end = true});
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_EQ(view_.Status(), "process is terminated");
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_EQ(msg_.shown[0].second & MB_ICONMASK, MB_ICONERROR);
    EXPECT_TRUE(msg_.shown[0].first.starts_with("failed to read image - "));
    EXPECT_NE(msg_.shown[0].first.find(files[1]), std::string::npos) << msg_.shown[0].first;
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.flashes, 0);
    EXPECT_EQ(view_.exitCodes, std::vector<int>{1});
    EXPECT_TRUE(driver.Pool().IsClosing());
    EXPECT_TRUE(fs::exists(Output(0)));
    EXPECT_EQ(ReadFileBytes(Output(1)), "old");
    EXPECT_EQ(ReadFileBytes(Output(2)), "old");
}

// The first source decodes beside the empty image; the first task gets what
// it would have loaded itself: a first file that is no image fails the batch
// with the task's own message.
TEST_F(BatchDriverTest, FirstSourceDecodedBesideTheEmptyImage) {
    std::vector<std::string> files = MakeScans(2);
    WriteFileBytes(files[0], "this is not an image");
    CBatchDriver& driver = Driver({.yes = true});
    ASSERT_TRUE(driver.StartBatch(files));
    ASSERT_TRUE(RunToEnd(driver));
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_TRUE(msg_.shown[0].first.starts_with("failed to read image - "));
    EXPECT_NE(msg_.shown[0].first.find(files[0]), std::string::npos) << msg_.shown[0].first;
    EXPECT_FALSE(fs::exists(Output(0)));
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
    testsync::Gate reached, release;
};

// Stop while no task runs: the cancelled files never report, yet the batch
// ends, as terminated without a message box.
TEST_F(BatchDriverTest, StopWithoutFailureEndsTheBatch) {
    GatedDriver driver(view_, settings_, qv::BatchOptions{.yes = false, .end = true}, {}, &msg_);
    ASSERT_TRUE(driver.StartBatch(MakeScans(4)));
    ASSERT_TRUE(driver.reached.WaitOpen());
    driver.OnBatchTimer();  // the first result is in, its worker still runs
    EXPECT_TRUE(view_.Status().starts_with("2 / 4 processing")) << view_.Status();
    driver.Stop();
    EXPECT_TRUE(driver.Running());
    driver.release.Open();
    ASSERT_TRUE(RunToEnd(driver));
    EXPECT_EQ(view_.Status(), "process is terminated");
    EXPECT_TRUE(msg_.shown.empty());
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_FALSE(view_.running);
    EXPECT_EQ(view_.processed, 1);
    EXPECT_EQ(view_.exitCodes, std::vector<int>{1});
    EXPECT_TRUE(fs::exists(Output(0)));
    EXPECT_FALSE(fs::exists(Output(3)));
}

// No output may be one of the batch's own inputs, whatever the path
// spelling: refused before any file is deleted.
TEST_F(BatchDriverTest, NeverWritesOverItsOwnInputs) {
    const std::vector<std::string> files = MakeScans(2);
    fs::create_directory_symlink(dir_, dir_ / "link");
    struct Case {
        const char* subFolder;
        std::function<std::vector<std::string>()> setUp;  // none: the scans
        std::string refused;
    };
    const std::vector<Case> cases = {
        {"link", {}, Path("link/p0.png")},
        {"trim",
         [&] {  // another source is this file's output
             WritePng(scan_->scan, Output(1));
             return std::vector<std::string>{files[1], Output(1)};
         },
         Output(1)},
        {"trim",
         [&] {  // the empty image is an output
             WritePng(scan_->emptyBed, Output(0));
             settings_.EmptyPath = {Output(0)};
             return std::vector<std::string>{files[0]};
         },
         Output(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refused);
        settings_.SubFolder = {c.subFolder};
        const std::vector<std::string> sources = c.setUp ? c.setUp() : files;
        std::vector<std::string> before;
        for (const std::string& s : sources) {
            before.push_back(ReadFileBytes(s));
        }
        CBatchDriver& driver = Driver({.yes = true, .end = false});
        EXPECT_FALSE(driver.StartBatch(sources));
        ExpectRefused(driver, 40019, "path is invalid\n\n" + c.refused);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(ReadFileBytes(sources[i]), before[i]);
        }
    }
}

TEST_F(BatchDriverTest, RefusedStarts) {
    const std::vector<std::string> files = MakeScans(1);
    CBatchDriver& driver = Driver();

    // Settings: shown, then the control focused; the global record untouched.
    settings_.EmptyPath = {""};
    EXPECT_FALSE(driver.StartBatch(files));
    ExpectRefused(driver, 40035);
    EXPECT_EQ(view_.focused, std::vector<qv::SettingsField>{qv::SettingsField::TrimEdges});
    EXPECT_EQ(settings_.EmptyPath, HistoryList{""});

    settings_.EmptyPath = {Path("nothing.png")};
    EXPECT_FALSE(driver.StartBatch(files));
    ExpectRefused(driver, 40016);

    WriteFileBytes(Path("bad-empty.png"), "junk");
    settings_.EmptyPath = {Path("bad-empty.png")};
    EXPECT_FALSE(driver.StartBatch(files));
    ExpectRefused(driver, 40017,
                  "failed to load empty-path - not an image file\n\n" + Path("bad-empty.png"));

    // A folder where an output goes: refused, nothing touched.
    settings_.EmptyPath = {Path("empty.png")};
    fs::create_directories(Output(0));
    EXPECT_FALSE(driver.StartBatch(files));
    ExpectRefused(driver, 40020, "failed to delete a file\n\n" + Output(0));
    EXPECT_TRUE(fs::is_directory(Output(0)));
    fs::remove(Output(0));

    // What would keep a result from being saved refuses the batch before any
    // page is made: a folder that cannot be made, a name too long for the
    // file system (the output of a source without extension grows by 4),
    // a source path too long to be looked at.
    WriteFileBytes(Path("file"), "no folder");
    settings_.SubFolder = {"file/trim"};
    EXPECT_FALSE(driver.StartBatch(files));
    ExpectRefused(driver, 40403,
                  "the output folder cannot be written - The system cannot find the path "
                  "specified.\n\n" +
                      Path("file/trim/"));
    settings_.SubFolder = {"trim"};
    const std::string longName = Path(std::string(253, 'n'));
    fs::copy_file(files[0], longName);
    EXPECT_FALSE(driver.StartBatch({longName}));
    ExpectRefused(driver, 40404,
                  "the result cannot be written under this name - The filename or extension is "
                  "too long.\n\n" +
                      Path("trim/" + std::string(253, 'n') + ".png"));
    std::string deep = Path("");
    while (deep.size() < 5000) {
        deep += "d/../";
    }
    EXPECT_FALSE(driver.StartBatch({deep + "p0.png"}));
    ASSERT_EQ(msg_.errors.size(), 1u);
    EXPECT_TRUE(msg_.errors[0].message.starts_with(
        "failed to read image - The filename or extension is too long.\n\n" + Path("d/../")));
    ExpectRefused(driver, 40022);

    // A save that fails is a warning: the batch runs all the same.
    CBatchDriver failing(
        view_, settings_, {},
        [](const AppSettings&) { throw my::CException(40007, "failed to save settings"); }, &msg_);
    ASSERT_TRUE(failing.StartBatch(files));
    ASSERT_TRUE(RunToEnd(failing));
    EXPECT_TRUE(msg_.errors.empty());
    EXPECT_EQ(msg_.shown, (std::vector<std::pair<std::string, std::uint32_t>>{
                              {"failed to save settings", MB_OK | MB_ICONWARNING}}));
    EXPECT_TRUE(fs::exists(Output(0)));
}

// Under /end the command line's batch quits with its exit code; without it
// the window stays.
TEST_F(BatchDriverTest, CommandLineStartUnderEnd) {
    const std::vector<std::string> missing{Path("missing.png")};
    struct Case {
        bool end;
        std::vector<std::string> files;
        std::vector<int> exitCodes;
    };
    for (const Case& c :
         {Case{true, MakeScans(1), {0}}, Case{true, {}, {0}}, Case{true, missing, {1}},
          Case{false, {}, {}}, Case{false, missing, {}}}) {
        view_.exitCodes.clear();
        CBatchDriver& driver = Driver({.yes = false, .end = c.end});
        driver.StartFromCommandLine(c.files);
        ASSERT_TRUE(RunToEnd(driver));
        EXPECT_EQ(view_.exitCodes, c.exitCodes) << c.end << " " << c.files.size();
        EXPECT_EQ(msg_.errors.size(), c.files == missing ? 1u : 0u);
        msg_.errors.clear();
    }
}

}  // namespace
