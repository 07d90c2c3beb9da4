#include "image_io/MemoryStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

}  // namespace

boost::shared_ptr<const CMemoryStream> CMemoryStream::Copy(const void* data, std::size_t size) {
    try {
        boost::shared_ptr<CMemoryStream> stream(new CMemoryStream);
        stream->m_owned = MakeWorkBlock(size == 0 ? 1 : size);
        if (!stream->m_owned) {
            return {};
        }
        if (size != 0) {
            std::memcpy(stream->m_owned.get(), data, size);
        }
        stream->m_data = stream->m_owned.get();
        stream->m_size = size;
        return stream;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

boost::shared_ptr<const CMemoryStream> CMemoryStream::View(const void* data, std::size_t size) {
    try {
        boost::shared_ptr<CMemoryStream> stream(new CMemoryStream);
        stream->m_data = static_cast<const std::uint8_t*>(data);
        stream->m_size = size;
        return stream;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

HRESULT ReadFileToStream(StreamPtr& stream, const std::string& path) {
    // O_NONBLOCK keeps open() from waiting for a writer when the path names
    // a pipe; it has no effect on regular files.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) {
        return HResultFromErrno(errno);
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return HResultFromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return HResultFromErrno(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return HResultFromErrno(EINVAL);
    }
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) >= (std::uint64_t{1} << 32)) {
        return kNoMemory;
    }
    const auto size = static_cast<std::size_t>(info.st_size);

    boost::shared_ptr<CMemoryStream> result;
    try {
        result.reset(new CMemoryStream);
        // Left uninitialised: the read fills it.
        result->m_owned = MakeWorkBlock(size == 0 ? 1 : size);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (!result->m_owned) {
        return kNoMemory;
    }

    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(file.Get(), result->m_owned.get() + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return HResultFromErrno(errno);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    result->m_data = result->m_owned.get();
    result->m_size = done;
    stream = result;
    return S_OK;
}
