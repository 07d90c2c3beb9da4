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

    // 0 or the errno of the failure.
    int Lock(const std::string& path, bool exclusive, bool create) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (m_fd < 0 && !create) {
            m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        }
        if (m_fd < 0) {
            return errno;
        }
        while (::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                return errno;
            }
        }
        return 0;
    }

  private:
    int m_fd = -1;
};

// A store path that is a symbolic link is written through to its target.
std::string ResolvePath(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

std::string ParentDir(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
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

// 0, or the errno of the failure. Only regular files are read: a FIFO or a
// device named by mistake must neither block nor be swallowed whole.
int ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno;
    }
    int err = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        err = EINVAL;
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

RegistryFileStatus ReadRegistryFile(const std::string& path, CRegistryStore& store) {
    const std::string resolved = ResolvePath(path);
    CFileLock lock;
    // Without a usable lock file (a read-only folder) the read still goes
    // ahead: writers replace the file by rename, so a reader never sees a
    // half-written one.
    struct stat st;
    if (::stat(ParentDir(resolved).c_str(), &st) == 0) {
        (void)lock.Lock(resolved + ".lock", false, true);
    }
    return ReadInto(resolved, store);
}

RegistryUpdateResult UpdateRegistryFile(const std::string& path,
                                        const std::function<bool(CRegistryStore&)>& edit) {
    RegistryUpdateResult result;
    if (path.empty()) {
        result.error = HResultFromErrno(ENOENT);
        return result;
    }
    const std::string resolved = ResolvePath(path);
    const std::string dir = ParentDir(resolved);
    int err = MakeDirs(dir);
    CFileLock lock;
    if (err == 0) {
        err = lock.Lock(resolved + ".lock", true, true);
    }
    if (err != 0) {
        result.error = HResultFromErrno(err);
        return result;
    }

    CRegistryStore store;
    result.read = ReadInto(resolved, store);
    if (!edit(store)) {
        result.error = E_FAIL;
        return result;
    }

    std::string tempPath;
    err = WriteTemporary(resolved, store.Format(), tempPath);
    if (err == 0 && result.read.NeedsKeepingAside()) {
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
