#include "cmdline/CommandLineParserUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

#include "msg/Exception.h"
#include "msg/Format.h"
#include "msg/MessageIds.h"

namespace {

// The current directory as getcwd reports it (symbolic links resolved), or
// "" when it cannot be read (removed, or not accessible).
std::string PhysicalCurrentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) {
            return buffer.data();
        }
        if (errno != ERANGE || buffer.size() >= (std::size_t{1} << 20)) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool HasDotComponent(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const auto part = path.substr(start, end - start);
        if (part == "." || part == "..") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

[[noreturn]] void ThrowNeedsColon(std::string_view name, std::string_view word) {
    throw my::CException(kMsgOptionNeedsColon, Formatted(kMsgOptionNeedsColon, name, word));
}

}  // namespace

std::string CCommandLineParserUtil::LongOptionName(std::string_view name) {
    std::string spelled = "--";
    spelled.append(name.substr(name.starts_with('/') ? 1 : 0));
    std::replace(spelled.begin(), spelled.end(), '_', '-');
    return spelled;
}

bool CCommandLineParserUtil::IsOption(std::string_view word,
                                      std::initializer_list<std::string_view> names,
                                      std::string& name) {
    for (const auto candidate : names) {
        if (word == candidate) {
            name.assign(candidate);
            return true;
        }
        if (const std::string spelled = LongOptionName(candidate); word == spelled) {
            name = spelled;
            return true;
        }
    }
    return false;
}

bool CCommandLineParserUtil::IsValueOption(std::string_view word,
                                           std::initializer_list<std::string_view> names,
                                           bool colonRequired, std::string& name,
                                           std::string& value) {
    for (const auto candidate : names) {
        const std::string spelledLong = LongOptionName(candidate);
        const bool isLong = word.starts_with(spelledLong) &&
                            (word.size() == spelledLong.size() || word[spelledLong.size()] == '=');
        if (!isLong && !word.starts_with(candidate)) {
            continue;
        }
        const std::string_view spelled = isLong ? std::string_view(spelledLong) : candidate;
        if (word.size() == spelled.size()) {
            if (colonRequired) {
                ThrowNeedsColon(spelled, word);
            }
            name.assign(spelled);
            value.clear();
            return true;
        }
        if (word[spelled.size()] != (isLong ? '=' : ':')) {
            ThrowNeedsColon(spelled, word);
        }
        name.assign(spelled);
        value.assign(word.substr(spelled.size() + 1));
        return true;
    }
    return false;
}

// The shell's logical current directory when $PWD is trustworthy (absolute,
// no "." or "..", the same folder as "."), else the physical one.
std::string CCommandLineParserUtil::CurrentDirectory() {
    const char* pwd = std::getenv("PWD");
    if (pwd != nullptr && pwd[0] == '/' && !HasDotComponent(pwd)) {
        struct stat logical {};
        struct stat here {};
        if (stat(pwd, &logical) == 0 && stat(".", &here) == 0 && logical.st_dev == here.st_dev &&
            logical.st_ino == here.st_ino) {
            return pwd;
        }
    }
    return PhysicalCurrentDirectory();
}

std::string CCommandLineParserUtil::ToFullPath(std::string_view path) {
    return ToFullPath(path, !path.empty() && path.front() != '/' ? CurrentDirectory() : "");
}

std::string CCommandLineParserUtil::ToFullPath(std::string_view path,
                                               std::string_view currentDirectory) {
    if (path.empty()) {
        return {};
    }
    std::string joined;
    if (path.front() == '/') {
        joined.assign(path);
    } else {
        if (currentDirectory.empty()) {
            return std::string(path);
        }
        joined.reserve(currentDirectory.size() + 1 + path.size());
        joined.assign(currentDirectory);
        joined += '/';
        joined += path;
    }

    std::string full;
    full.reserve(joined.size());
    std::size_t start = 0;
    while (start < joined.size()) {
        std::size_t end = joined.find('/', start);
        if (end == std::string::npos) {
            end = joined.size();
        }
        const std::string_view part(joined.data() + start, end - start);
        if (!part.empty() && part != ".") {
            full += '/';
            full += part;
        }
        start = end + 1;
    }
    if (full.empty() || joined.back() == '/') {
        full += '/';
    }
    return full;
}

bool CCommandLineParserUtil::HasPathShape(std::string_view word) {
    if (!word.starts_with('/')) {
        return false;
    }
    const auto head = word.substr(0, word.find(':'));
    return head.find('/', 1) != std::string_view::npos;
}

bool CCommandLineParserUtil::PathExists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}
