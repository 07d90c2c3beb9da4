#include "settings/RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

// Holds an flock until it goes out of scope (closing the descriptor drops it).
class CFileLock {
  public:
    CFileLock() = default;
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;
    ~CFileLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    // 0; ETIMEDOUT when another holder kept the lock for all of `wait`; or
    // the errno of the failure.
    int Lock(const std::string& path, bool exclusive, bool create, std::chrono::milliseconds wait) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (m_fd < 0 && !create) {
            m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        }
        if (m_fd < 0) {
            return errno;
        }
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (::flock(m_fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK) {
                return errno;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return ETIMEDOUT;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }

  private:
    int m_fd = -1;
};

std::string ParentDir(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A store path that is a symbolic link (or a chain of them) is read and
// written through to its target, also one that does not exist yet.
std::string ResolvePath(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            break;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            break;
        }
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : ParentDir(current) + "/" + target;
    }
    return current;
}

enum class PathKind { Missing, Regular, CharacterDevice, Other };

// What the (resolved) path names; for Other, `err` tells why it is left
// alone. A path that cannot be looked at counts as regular: reading it
// reports the failure.
PathKind Classify(const std::string& path, int& err) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Regular;
    }
    if (S_ISREG(st.st_mode)) {
        return PathKind::Regular;
    }
    if (S_ISCHR(st.st_mode)) {
        return PathKind::CharacterDevice;
    }
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return PathKind::Other;
}

int MakeDirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            const std::string part = dir.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return errno;
            }
        }
    }
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) {
        return errno;
    }
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Not a regular file (ReadWholeFile).
constexpr int kNotRegular = -1;

// 0, kNotRegular, or the errno of the failure. Only regular files are read:
// a FIFO or a device put in the file's place must neither block nor be
// swallowed whole.
int ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno;
    }
    int err = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (!S_ISREG(st.st_mode)) {
        err = kNotRegular;
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxRegistryFileBytes) {
        err = EFBIG;
    }
    char buffer[65536];
    while (err == 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno != EINTR) {
                err = errno;
            }
        } else if (got == 0) {
            break;
        } else if (text.size() + static_cast<std::size_t>(got) > kMaxRegistryFileBytes) {
            err = EFBIG;
        } else {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return err;
}

RegistryFileStatus ReadInto(const std::string& path, CRegistryStore& store) {
    RegistryFileStatus status;
    std::string text;
    const int err = ReadWholeFile(path, text);
    if (err == ENOENT || err == ENOTDIR) {
        return status;
    }
    if (err == kNotRegular) {
        status.state = RegistryFileStatus::State::NotRegular;
        status.error = HResultFromErrno(EINVAL);
        return status;
    }
    if (err == EFBIG) {
        status.state = RegistryFileStatus::State::TooLarge;
        status.error = HResultFromErrno(err);
        return status;
    }
    if (err != 0) {
        status.state = RegistryFileStatus::State::Unreadable;
        status.error = HResultFromErrno(err);
        return status;
    }
    status.parse = store.Parse(text);
    status.state =
        status.parse.Clean() ? RegistryFileStatus::State::Read : RegistryFileStatus::State::Damaged;
    return status;
}

int WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

// Writes text to a new temporary file beside path and flushes it to disk.
int WriteTemporary(const std::string& path, const std::string& text, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    tempPath = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int err = 0;
    struct stat old;
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fchmod(fd, old.st_mode & 07777) != 0) {
        err = errno;
    }
    if (err == 0) {
        err = WriteAll(fd, text);
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(tempPath.c_str());
    }
    return err;
}

// Gives the file at path a second name; when the file system has no hard
// links it is renamed instead (the caller replaces it right after).
int KeepAside(const std::string& path, std::string& asidePath) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + ".corrupt-" + stamp;
    for (int n = 1; n <= 1000; ++n) {
        asidePath = n == 1 ? base : base + "-" + std::to_string(n);
        if (::link(path.c_str(), asidePath.c_str()) == 0) {
            return 0;
        }
        if (errno == EEXIST) {
            continue;
        }
        // No hard link possible (file system, a directory in the way): rename,
        // which overwrites silently, so check the name first (the exclusive
        // lock keeps other copies of the program out meanwhile).
        struct stat st;
        if (::lstat(asidePath.c_str(), &st) == 0) {
            continue;
        }
        if (::rename(path.c_str(), asidePath.c_str()) == 0) {
            return 0;
        }
        return errno;
    }
    asidePath.clear();
    return EEXIST;
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // The new file is in place either way; this only hastens durability.
        (void)::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

RegistryFileStatus ReadRegistryFile(const std::string& path, CRegistryStore& store,
                                    std::chrono::milliseconds lockWait) {
    const std::string resolved = ResolvePath(path);
    RegistryFileStatus status;
    int err = 0;
    switch (Classify(resolved, err)) {
        case PathKind::CharacterDevice:
            status.state = RegistryFileStatus::State::Off;
            return status;
        case PathKind::Other:
            status.state = RegistryFileStatus::State::NotRegular;
            status.error = HResultFromErrno(err);
            return status;
        default:
            break;
    }
    CFileLock lock;
    // Without a usable lock file (a read-only folder), or when another
    // program keeps the lock too long, the read still goes ahead: writers
    // replace the file by rename, so a reader never sees a half-written one.
    struct stat st;
    if (::stat(ParentDir(resolved).c_str(), &st) == 0) {
        (void)lock.Lock(resolved + ".lock", false, true, lockWait);
    }
    return ReadInto(resolved, store);
}

RegistryUpdateResult UpdateRegistryFile(const std::string& path,
                                        const std::function<bool(CRegistryStore&)>& edit,
                                        std::chrono::milliseconds lockWait, const bool* keepAside) {
    RegistryUpdateResult result;
    if (path.empty()) {
        result.error = HResultFromErrno(ENOENT);
        return result;
    }
    const std::string resolved = ResolvePath(path);
    int err = 0;
    switch (Classify(resolved, err)) {
        case PathKind::CharacterDevice: {
            // Writing to it means discarding: done, without touching it.
            result.read.state = RegistryFileStatus::State::Off;
            CRegistryStore discarded;
            result.error = edit(discarded) ? S_OK : E_FAIL;
            return result;
        }
        case PathKind::Other:
            result.read.state = RegistryFileStatus::State::NotRegular;
            result.error = result.read.error = HResultFromErrno(err);
            return result;
        default:
            break;
    }
    const std::string dir = ParentDir(resolved);
    err = MakeDirs(dir);
    CFileLock lock;
    if (err == 0) {
        err = lock.Lock(resolved + ".lock", true, true, lockWait);
        result.lockTimedOut = err == ETIMEDOUT;
    }
    if (err != 0) {
        result.error = HResultFromErrno(err);
        return result;
    }

    // Read again under the lock: a pipe or device that took the file's
    // place meanwhile is left alone too.
    CRegistryStore store;
    result.read = ReadInto(resolved, store);
    if (result.read.state == RegistryFileStatus::State::NotRegular) {
        result.error = result.read.error;
        return result;
    }
    if (!edit(store)) {
        result.error = E_FAIL;
        return result;
    }

    std::string tempPath;
    err = WriteTemporary(resolved, store.Format(), tempPath);
    const bool damaged =
        keepAside != nullptr && *keepAside && result.read.state == RegistryFileStatus::State::Read;
    if (err == 0 && (result.read.NeedsKeepingAside() || damaged)) {
        err = KeepAside(resolved, result.keptAside);
        if (err != 0) {
            result.keptAside.clear();
            ::unlink(tempPath.c_str());
        }
    }
    if (err == 0 && ::rename(tempPath.c_str(), resolved.c_str()) != 0) {
        err = errno;
        ::unlink(tempPath.c_str());
    }
    if (err != 0) {
        result.error = HResultFromErrno(err);
        return result;
    }
    SyncDirectory(dir);
    return result;
}
