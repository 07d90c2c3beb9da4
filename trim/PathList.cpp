#include "trim/PathList.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kOffsetBits = 40;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;
constexpr std::uint64_t kMaxBlocks = std::uint64_t{1} << (64 - kOffsetBits);

}  // namespace

CPathList::CPathList(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        Add(path);
    }
}

CPathList::CPathList(std::initializer_list<std::string_view> paths) {
    for (const std::string_view path : paths) {
        Add(path);
    }
}

CPathList::CPathList(const CPathList& other) {
    for (const std::string_view path : other) {
        Add(path);
    }
}

CPathList& CPathList::operator=(const CPathList& other) {
    if (this != &other) {
        CPathList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CPathList::Add(std::string_view path) {
    path = path.substr(0, path.find('\0'));
    const std::size_t needed = path.size() + 1;
    if (m_blocks.empty() || m_blocks.back().capacity - m_blocks.back().used < needed) {
        if (m_blocks.size() >= kMaxBlocks) {
            throw std::length_error("CPathList too long");
        }
        Block block;
        block.capacity = std::max(kBlockSize, needed);
        block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
        m_blocks.push_back(std::move(block));
    }
    Block& block = m_blocks.back();
    std::memcpy(block.bytes.get() + block.used, path.data(), path.size());
    block.bytes[block.used + path.size()] = '\0';
    m_locators.push_back((std::uint64_t{m_blocks.size() - 1} << kOffsetBits) | block.used);
    block.used += needed;
}

std::string_view CPathList::operator[](std::size_t index) const {
    const std::uint64_t locator = m_locators[index];
    return std::string_view(m_blocks[locator >> kOffsetBits].bytes.get() + (locator & kOffsetMask));
}

std::vector<std::string> CPathList::ToVector() const {
    std::vector<std::string> paths;
    paths.reserve(size());
    for (const std::string_view path : *this) {
        paths.emplace_back(path);
    }
    return paths;
}
