#include "cmdline/FileList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "cmdline/CommandLineParserUtil.h"
#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"
#include "msg/Result.h"
#include "msg/SystemErrorText.h"

namespace {

[[noreturn]] void ThrowUnreadable(const std::string& list, int error) {
    const std::string reason = SystemErrorText(static_cast<std::uint32_t>(HResultFromErrno(error)));
    throw my::CException(kMsgFileListUnreadable, Formatted(kMsgFileListUnreadable, reason, list));
}

}  // namespace

void ReadFileList(const std::string& list, bool nulSeparated, CPathList& files) {
    const bool standardInput = list == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ThrowUnreadable(list, errno);
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned) {
                ::close(fd);
            }
        }
    } closer{fd, !standardInput};

    // Relative entries are joined to the directory of the moment, asked for once.
    std::string currentDirectory;
    bool haveDirectory = false;
    const auto add = [&](std::string_view entry) {
        if (entry.empty()) {
            return;
        }
        if (entry.front() != '/' && !haveDirectory) {
            currentDirectory = CCommandLineParserUtil::CurrentDirectory();
            haveDirectory = true;
        }
        files.Add(CCommandLineParserUtil::ToFullPath(entry, currentDirectory));
    };

    const char delimiter = nulSeparated ? '\0' : '\n';
    std::vector<char> buffer(std::size_t{1} << 16);
    std::string partial;  // an entry that runs over the end of a block
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowUnreadable(list, errno);
        }
        if (n == 0) {
            break;
        }
        std::string_view block(buffer.data(), static_cast<std::size_t>(n));
        for (std::size_t end; (end = block.find(delimiter)) != std::string_view::npos;
             block.remove_prefix(end + 1)) {
            if (partial.empty()) {
                add(block.substr(0, end));
            } else {
                partial.append(block.substr(0, end));
                add(partial);
                partial.clear();
            }
        }
        partial.append(block);
    }
    add(partial);
}
