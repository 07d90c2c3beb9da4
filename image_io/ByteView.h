// Inside image_io only: bounds-checked reads from untrusted file bytes.
// Every accessor fails (an empty optional, false, an empty view) instead of
// reading past the end; integers are big- or little-endian as chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

class ByteView {
  public:
    ByteView(const std::uint8_t* data, std::size_t size, bool bigEndian = true)
        : m_data(data), m_size(size), m_bigEndian(bigEndian) {}

    std::size_t Size() const { return m_size; }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= m_size && count <= m_size - offset;
    }
    const std::uint8_t* At(std::size_t offset) const { return m_data + offset; }
    bool Matches(std::size_t offset, const char* text, std::size_t count) const {
        return Has(offset, count) && std::memcmp(m_data + offset, text, count) == 0;
    }
    std::optional<std::uint8_t> U8(std::size_t offset) const {
        if (!Has(offset, 1)) {
            return std::nullopt;
        }
        return m_data[offset];
    }
    std::optional<std::uint16_t> U16(std::size_t offset) const {
        if (!Has(offset, 2)) {
            return std::nullopt;
        }
        const std::uint8_t* p = m_data + offset;
        return static_cast<std::uint16_t>(m_bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
    }
    std::optional<std::uint32_t> U32(std::size_t offset) const {
        if (!Has(offset, 4)) {
            return std::nullopt;
        }
        const std::uint8_t* p = m_data + offset;
        if (m_bigEndian) {
            return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                   (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
        }
        return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
    }
    ByteView Sub(std::size_t offset, std::size_t count, bool bigEndian) const {
        if (!Has(offset, count)) {
            return ByteView(m_data, 0, bigEndian);
        }
        return ByteView(m_data + offset, count, bigEndian);
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    bool m_bigEndian;
};
