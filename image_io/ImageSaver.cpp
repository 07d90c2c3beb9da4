#include "image_io/ImageSaver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <new>
#include <string_view>

#include "image_io/Encoders.h"

namespace Gdiplus {

const GUID EncoderQuality = {
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};
const GUID EncoderCompression = {
    0xE09D739D, 0xCCD4, 0x44EE, {0x8E, 0xBA, 0x3F, 0xBF, 0x8B, 0xE4, 0xFC, 0x58}};

int CEncodeParams::AddParameter(const GUID& guid, std::uint32_t valueType, std::uint32_t value) {
    try {
        m_entries.push_back(EncoderParameter{guid, 1, valueType, value});
        return static_cast<int>(m_entries.size() - 1);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

const EncoderParameter* CEncodeParams::Find(const GUID& guid) const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (it->Guid == guid) {
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace Gdiplus

namespace {

constexpr HRESULT kNoMemory = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);

// The value of a parameter of the saver, or `fallback` when it has none.
std::uint32_t ParameterValue(const Gdiplus::CEncodeParams& params, const Gdiplus::GUID& guid,
                             std::uint32_t fallback) {
    const Gdiplus::EncoderParameter* p = params.Find(guid);
    if (p == nullptr || p->Type != Gdiplus::EncoderParameterValueTypeLong ||
        p->NumberOfValues != 1) {
        return fallback;
    }
    return p->Value;
}

// Temporary files are named "." + the output's file name (cut to at most
// kMaxNameBytes) + "." + kSuffixLength characters of kSuffixChars.
constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kSuffixLength = 8;
constexpr std::string_view kSuffixChars = "abcdefghijklmnopqrstuvwxyz0123456789";

// The folder part of a path, up to and including its last '/' ("" for none).
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The temporary name for the output file name `name` without its random
// suffix: "." + name, cut to kMaxNameBytes between UTF-8 characters, + ".";
// "" for an empty name.
std::string TemporaryName(std::string name) {
    if (name.empty()) {
        return {};
    }
    if (name.size() > kMaxNameBytes) {
        std::size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return "." + name + ".";
}

// The longest file name the file system of `folder` takes (255 where it
// cannot be told); a folder that does not exist yet is asked through its
// nearest parent that does.
std::size_t NameMax(std::string folder) {
    for (;;) {
        errno = 0;
        const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
        if (max > 0) {
            return static_cast<std::size_t>(max);
        }
        if (errno != ENOENT || folder.empty()) {
            return 255;
        }
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        const std::size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    }
}

// Has the system write the folder's entries to the disk, so that a file
// renamed into it stays there after a power cut.
void SyncFolder(const std::string& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// Whether a file name has the form of our temporary files, for an output of
// one of the formats we write.
bool IsTemporaryName(std::string_view name) {
    if (name.size() < 1 + 5 + 1 + kSuffixLength || name.front() != '.' ||
        name[name.size() - kSuffixLength - 1] != '.') {
        return false;
    }
    const std::string_view suffix = name.substr(name.size() - kSuffixLength);
    if (suffix.find_first_not_of(kSuffixChars) != std::string_view::npos) {
        return false;
    }
    const std::string_view output = name.substr(1, name.size() - kSuffixLength - 2);
    for (const OutputFormat& format : OutputFormats()) {
        const std::string_view extension = format.extension;
        if (output.size() > extension.size() + 1 && output.ends_with(extension) &&
            output[output.size() - extension.size() - 1] == '.') {
            return true;
        }
    }
    return output.size() >= kMaxNameBytes - 3;  // a name cut to fit
}

// A file in the output's folder that stands in for the output until it is
// complete; removed on every path that does not rename it into place.
class TemporaryFile {
  public:
    ~TemporaryFile() {
        if (m_file != nullptr) {
            std::fclose(m_file);
        }
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }

    // Creates ".<name>.<random>" beside `target` with the permissions a new
    // file would get (those of `target` when it exists). 0, or the errno of
    // the failure.
    int Create(const std::string& target) {
        const std::size_t slash = target.rfind('/');
        const std::string folder = FolderOf(target);
        const std::string name = TemporaryName(target.substr(slash + 1));
        if (name.empty()) {
            return EINVAL;
        }
        static std::atomic<std::uint64_t> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::uint64_t seed =
                static_cast<std::uint64_t>(
                    std::chrono::steady_clock::now().time_since_epoch().count()) ^
                (static_cast<std::uint64_t>(::getpid()) << 32) ^
                (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
            std::string path = folder + name + Suffix(seed);
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST) {
                    continue;
                }
                return errno;
            }
            m_path = std::move(path);
            struct stat existing {};
            if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
                ::fchmod(fd, existing.st_mode & 07777);
            }
            m_file = ::fdopen(fd, "wb");
            if (m_file == nullptr) {
                const int err = errno;
                ::close(fd);
                return err;
            }
            return 0;
        }
        return EEXIST;
    }

    std::FILE* File() const { return m_file; }

    // Why writing failed when it did: `errnoAfter` (the errno right after
    // the failing writer returned) when the stream saw a write error,
    // else 0.
    int WriteError(int errnoAfter) const {
        return std::ferror(m_file) != 0 ? (errnoAfter != 0 ? errnoAfter : EIO) : 0;
    }

    // Flushes the file, has the system write it to the disk and closes it:
    // 0 only when every byte is on the disk, else the errno of the failure.
    int Close() {
        int err = 0;
        if (std::fflush(m_file) != 0 || std::ferror(m_file) != 0) {
            err = errno != 0 ? errno : EIO;
        } else if (::fsync(::fileno(m_file)) != 0) {
            err = errno;
        }
        if (std::fclose(m_file) != 0 && err == 0) {
            err = errno;
        }
        m_file = nullptr;
        return err;
    }

    // 0, or the errno of the failure.
    int RenameTo(const std::string& target) {
        if (::rename(m_path.c_str(), target.c_str()) != 0) {
            return errno;
        }
        m_path.clear();
        return 0;
    }

  private:
    static std::string Suffix(std::uint64_t seed) {
        std::string suffix;
        for (std::size_t i = 0; i < kSuffixLength; ++i) {
            suffix += kSuffixChars[seed % kSuffixChars.size()];
            seed /= kSuffixChars.size();
        }
        return suffix;
    }

    std::FILE* m_file = nullptr;
    std::string m_path;
};

}  // namespace

KindRows::KindRows(const CDib& image, PixelKind kind)
    : m_image(image), m_from(KindOf(image)), m_to(kind), m_ok(false) {
    if (!m_from || !image.IsValid() || image.Width() <= 0 || image.Height() <= 0) {
        return;
    }
    if (*m_from == kind) {
        m_ok = true;
        return;
    }
    if (kind == PixelKind::Bitonal || (InfoOf(*m_from).colour && !InfoOf(kind).colour)) {
        return;
    }
    try {
        m_buffer.resize(CDib::CalcStride(image.Width(), InfoOf(kind).bitCount));
        m_ok = true;
    } catch (const std::bad_alloc&) {
    }
}

const BYTE* KindRows::Row(LONG y) {
    if (*m_from == m_to) {
        return m_image.Row(y);
    }
    ConvertRow(*m_from, m_image.Row(y), m_to, m_buffer.data(), m_image.Width());
    return m_buffer.data();
}

std::span<const BYTE> ProfileToWrite(const CDib& image, PixelKind kind) {
    const std::span<const BYTE> profile = image.Profile();
    return ProfileFitsKind(profile, kind) ? profile : std::span<const BYTE>();
}

HRESULT SetEncoder(Gdiplus::CImageSaver& saver, const std::string& mimeType) {
    for (const OutputFormat& format : OutputFormats()) {
        if (mimeType == format.mimeType) {
            saver.encoderClsid = format.encoder;
            return S_OK;
        }
    }
    return E_FAIL;
}

std::optional<PixelKind> KindSavedAs(const Gdiplus::CImageSaver& saver, PixelKind kind) {
    const OutputFormat* format = OutputFormatByEncoder(saver.encoderClsid);
    return format ? KindToWrite(kind, format->kinds) : std::nullopt;
}

HRESULT Save(const Gdiplus::CImageSaver& saver, const BitmapPtr& bitmap, const std::string& path) {
    if (!bitmap || !bitmap->Dib().IsValid()) {
        return E_INVALIDARG;
    }
    const CDib& image = bitmap->Dib();
    const OutputFormat* format = OutputFormatByEncoder(saver.encoderClsid);
    const std::optional<PixelKind> kind = KindOf(image);
    const std::optional<PixelKind> written =
        format && kind ? KindToWrite(*kind, format->kinds) : std::nullopt;
    if (!written) {
        return E_FAIL;
    }
    const WriteSettings settings{
        *written, bitmap->GetHorizontalResolution(), bitmap->GetVerticalResolution(),
        static_cast<int>(std::min<std::uint32_t>(
            ParameterValue(saver.params, Gdiplus::EncoderQuality, format->defaultOption), 100)),
        ParameterValue(saver.params, Gdiplus::EncoderCompression, format->defaultOption)};
    try {
        TemporaryFile temporary;
        if (const int err = temporary.Create(path); err != 0) {
            return HResultFromErrno(err);
        }
        errno = 0;
        if (!format->writer(temporary.File(), image, settings)) {
            const int encodeErrno = errno;
            const int err = temporary.WriteError(encodeErrno);
            // A writer that fails without a write error ran out of memory
            // (the allocators say so in errno) or refused the image.
            return err != 0 ? HResultFromErrno(err) : encodeErrno == ENOMEM ? kNoMemory : E_FAIL;
        }
        if (const int err = temporary.Close(); err != 0) {
            return HResultFromErrno(err);
        }
        if (const int err = temporary.RenameTo(path); err != 0) {
            return HResultFromErrno(err);
        }
        // The result is in place; syncing its folder only makes it last.
        SyncFolder(FolderOf(path));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CheckSaveTarget(const std::string& path) {
    // The output's name and its temporary one must fit the file system's
    // limits, or the page would be made only to fail when it is saved.
    const std::string folder = FolderOf(path);
    const std::size_t name = path.size() - folder.size();
    const std::size_t longest =
        std::max(name, TemporaryName(path.substr(folder.size())).size() + kSuffixLength);
    if (longest > NameMax(folder) || folder.size() + longest >= PATH_MAX) {
        return HResultFromErrno(ENAMETOOLONG);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? S_FALSE : HResultFromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return HResultFromErrno(EISDIR);
    }
    return S_ISREG(info.st_mode) ? S_OK : E_ACCESSDENIED;
}

HRESULT CheckSaveFolder(const std::string& folder) {
    // The nearest part of the path that exists must be a folder we may
    // write into: the folder itself, or the one its missing parts are made in.
    std::string existing = folder.empty() ? "." : folder;
    struct stat info {};
    while (::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            return HResultFromErrno(errno);
        }
        while (existing.size() > 1 && existing.back() == '/') {
            existing.pop_back();
        }
        const std::size_t slash = existing.rfind('/');
        existing = slash == std::string::npos ? "." : existing.substr(0, slash + 1);
    }
    if (!S_ISDIR(info.st_mode)) {
        return HResultFromErrno(ENOTDIR);
    }
    return ::access(existing.c_str(), W_OK | X_OK) == 0 ? S_OK : HResultFromErrno(errno);
}

int RemoveStaleTemporaryFiles(const std::string& folder, std::chrono::seconds age) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(age.count());
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name)) {
            continue;
        }
        const std::string path = prefix + entry->d_name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_mtime < before &&
            ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

HRESULT SetFormatSaver(SaverPtr& slot, std::int32_t saveType, std::int32_t quality,
                       std::uint32_t compression) {
    const OutputFormat& format = OutputFormatOf(saveType);
    try {
        slot.reset(new Gdiplus::CImageSaver);
    } catch (const std::bad_alloc&) {
        slot.reset();
        return E_OUTOFMEMORY;
    }
    slot->encoderClsid = format.encoder;
    int added = 0;
    switch (format.option) {
        case FormatOption::None:
            break;
        case FormatOption::Quality:
            added = slot->params.AddParameter(
                Gdiplus::EncoderQuality, Gdiplus::EncoderParameterValueTypeLong,
                static_cast<std::uint32_t>(std::clamp(quality, 0, 100)));
            break;
        case FormatOption::Compression: {
            const bool known = std::any_of(
                format.choices.begin(), format.choices.end(),
                [compression](const FormatChoice& c) { return c.value == compression; });
            added = slot->params.AddParameter(Gdiplus::EncoderCompression,
                                              Gdiplus::EncoderParameterValueTypeLong,
                                              known ? compression : format.defaultOption);
            break;
        }
    }
    if (added < 0) {
        slot.reset();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
