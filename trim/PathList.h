// CPathList: the source paths of a batch, in order, held compactly: a
// million paths of 60 bytes take about 70 MB.
//
// The paths lie back to back, each ended by a NUL, in blocks of 1 MiB (a
// longer path gets a block of its own), with one 8-byte locator per path, so
// that the list grows without copying what it holds. A path never contains
// a NUL (POSIX names cannot); one that does is cut there. Paths are bytes:
// no encoding is assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CPathList {
  public:
    CPathList() = default;
    // For the short lists of the window and of tests.
    CPathList(const std::vector<std::string>& paths);  // NOLINT: implicit on purpose
    CPathList(std::initializer_list<std::string_view> paths);
    CPathList(const CPathList& other);
    CPathList& operator=(const CPathList& other);
    CPathList(CPathList&&) noexcept = default;
    CPathList& operator=(CPathList&&) noexcept = default;

    void Add(std::string_view path);

    std::size_t size() const { return m_locators.size(); }
    bool empty() const { return m_locators.empty(); }
    // The path at `index` (< size()); valid as long as the list lives.
    std::string_view operator[](std::size_t index) const;
    std::string_view front() const { return (*this)[0]; }

    std::vector<std::string> ToVector() const;

    class Iterator {
      public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        Iterator(const CPathList* list, std::size_t index) : m_list(list), m_index(index) {}
        std::string_view operator*() const { return (*m_list)[m_index]; }
        Iterator& operator++() {
            ++m_index;
            return *this;
        }
        bool operator==(const Iterator& other) const { return m_index == other.m_index; }

      private:
        const CPathList* m_list;
        std::size_t m_index;
    };
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size()); }

  private:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };
    std::vector<Block> m_blocks;
    // Block index in the high 24 bits, offset in the block in the low 40.
    std::vector<std::uint64_t> m_locators;
};
