#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/RegistryFile.h"
#include "settings/SettingsStore.h"
#include "tests/support/TempDir.h"

namespace {

bool SetX(CRegistryStore& store, std::uint32_t value) {
    return store.CurrentUser().CreateKey("Software\\T")->SetDword("X", value);
}

TEST(RegistryFile, UpdateCreatesFoldersMergesAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.File("a/b/store.reg");
    CRegistryStore missing;
    const RegistryFileStatus status = ReadRegistryFile(path, missing);
    EXPECT_EQ(status.state, RegistryFileStatus::State::Missing);
    EXPECT_FALSE(status.NeedsKeepingAside());
    EXPECT_FALSE(std::filesystem::exists(dir.File("a"))) << "reading writes nothing";

    ASSERT_EQ(UpdateRegistryFile(path, [](CRegistryStore& s) { return SetX(s, 1); }).error, S_OK);
    ::chmod(path.c_str(), 0640);
    const RegistryUpdateResult second = UpdateRegistryFile(path, [](CRegistryStore& s) {
        // The fresh read under the lock sees what the first update wrote.
        std::uint32_t x = 0;
        EXPECT_TRUE(s.CurrentUser().OpenKey("Software\\T")->QueryDword("X", x));
        EXPECT_EQ(x, 1u);
        return s.CurrentUser().CreateKey("Software\\U")->SetDword("Y", 2);
    });
    EXPECT_EQ(second.error, S_OK);
    EXPECT_TRUE(second.keptAside.empty());

    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FolderEntries(dir.File("a/b")),
              (std::vector<std::string>{"store.reg", "store.reg.lock"}));
    const std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\T]"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\U]"), std::string::npos);
}

TEST(RegistryFile, FailedUpdatesLeaveTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir.File("store.reg");
    ASSERT_EQ(UpdateRegistryFile(path, [](CRegistryStore& s) { return SetX(s, 1); }).error, S_OK);
    const std::string before = ReadFileBytes(path);

    EXPECT_EQ(UpdateRegistryFile(path, [](CRegistryStore& s) { return SetX(s, 2) && false; }).error,
              E_FAIL);
    EXPECT_EQ(ReadFileBytes(path), before);

    // A parent that is a file, and a store path that is a folder.
    EXPECT_EQ(
        UpdateRegistryFile(path + "/x.reg", [](CRegistryStore& s) { return SetX(s, 2); }).error,
        HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    std::filesystem::create_directory(dir.File("folder.reg"));
    CRegistryStore store;
    EXPECT_EQ(ReadRegistryFile(dir.File("folder.reg"), store).error,
              HRESULT_FROM_WIN32(ERROR_DIRECTORY));
    EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(RegistryFile, SymbolicLinkStaysAndItsTargetIsReplaced) {
    TempDir dir;
    const std::string target = dir.File("real.reg");
    const std::string link = dir.File("link.reg");
    ASSERT_EQ(UpdateRegistryFile(target, [](CRegistryStore& s) { return SetX(s, 1); }).error, S_OK);
    std::filesystem::create_symlink(target, link);
    ASSERT_EQ(UpdateRegistryFile(link, [](CRegistryStore& s) { return SetX(s, 5); }).error, S_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(ReadFileBytes(target).find("\"X\"=dword:00000005"), std::string::npos);
}

// Another program holding the lock is waited for only so long: an update
// then gives up without touching the file, a read reads without the lock.
TEST(RegistryFile, HeldLockIsWaitedForOnlySoLong) {
    TempDir dir;
    const std::string path = dir.File("store.reg");
    ASSERT_EQ(UpdateRegistryFile(path, [](CRegistryStore& s) { return SetX(s, 1); }).error, S_OK);
    const std::string before = ReadFileBytes(path);
    const int held = ::open((path + ".lock").c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const RegistryUpdateResult update = UpdateRegistryFile(
        path, [](CRegistryStore& s) { return SetX(s, 2); }, std::chrono::milliseconds(100));
    EXPECT_TRUE(update.lockTimedOut);
    EXPECT_EQ(update.error, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(ReadFileBytes(path), before);
    SettingsSaveResult saved;  // the run goes on without saving
    EXPECT_TRUE(SaveSettings(AppSettings{}, path, &saved, std::chrono::milliseconds(50)));
    EXPECT_TRUE(saved.lockTimedOut);
    EXPECT_EQ(ReadFileBytes(path), before);
    CRegistryStore store;
    EXPECT_EQ(ReadRegistryFile(path, store, std::chrono::milliseconds(50)).state,
              RegistryFileStatus::State::Read);
    std::uint32_t x = 0;
    EXPECT_TRUE(store.CurrentUser().OpenKey("Software\\T")->QueryDword("X", x));
    EXPECT_EQ(x, 1u);
    ::close(held);
}

// Read-modify-write under the lock: increments from two processes are never
// lost.
TEST(RegistryFile, ConcurrentUpdatesAreSerialised) {
    TempDir dir;
    const std::string path = dir.File("counter.reg");
    constexpr int kPerProcess = 150;
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int i = 0; i < kPerProcess; ++i) {
                const RegistryUpdateResult r = UpdateRegistryFile(path, [](CRegistryStore& s) {
                    std::uint32_t x = 0;
                    RegKey* key = s.CurrentUser().CreateKey("Software\\T");
                    key->QueryDword("X", x);
                    return key->SetDword("X", x + 1);
                });
                failures += r.error == S_OK && r.keptAside.empty() ? 0 : 1;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_NE(ReadFileBytes(path).find("\"X\"=dword:0000012c"), std::string::npos)
        << "2 x " << kPerProcess << " increments";
}

}  // namespace
