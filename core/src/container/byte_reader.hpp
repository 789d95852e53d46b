// The one bounds-checked little-endian reader that every read of record
// payloads and stream bytes goes through. A read that would pass the end
// yields nothing and leaves the position where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace marlune {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    std::size_t position() const noexcept { return pos_; }
    std::size_t size() const noexcept { return bytes_.size(); }
    std::size_t remaining() const noexcept { return bytes_.size() - pos_; }
    bool has(std::size_t count) const noexcept { return count <= remaining(); }
    // The unread bytes, as a view (the position does not move).
    std::span<const std::uint8_t> rest() const noexcept { return bytes_.subspan(pos_); }

    bool skip(std::size_t count) noexcept {
        if (!has(count)) return false;
        pos_ += count;
        return true;
    }

    std::optional<std::uint8_t> u8() noexcept {
        if (!has(1)) return std::nullopt;
        return bytes_[pos_++];
    }

    std::optional<std::uint16_t> u16() noexcept {
        if (!has(2)) return std::nullopt;
        const auto value = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return value;
    }

    // The next u16 without moving past it.
    std::optional<std::uint16_t> peek_u16() const noexcept {
        if (!has(2)) return std::nullopt;
        return static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    }

    std::optional<std::uint32_t> u32() noexcept {
        if (!has(4)) return std::nullopt;
        const std::uint32_t value = std::uint32_t{bytes_[pos_]} | (std::uint32_t{bytes_[pos_ + 1]} << 8) |
                                    (std::uint32_t{bytes_[pos_ + 2]} << 16) |
                                    (std::uint32_t{bytes_[pos_ + 3]} << 24);
        pos_ += 4;
        return value;
    }

    std::optional<std::uint64_t> u64() noexcept {
        if (!has(8)) return std::nullopt;
        const auto low = u32();
        const auto high = u32();
        return std::uint64_t{*low} | (std::uint64_t{*high} << 32);
    }

    // The next count bytes, as a view into the input.
    std::optional<std::span<const std::uint8_t>> bytes(std::size_t count) noexcept {
        if (!has(count)) return std::nullopt;
        auto view = bytes_.subspan(pos_, count);
        pos_ += count;
        return view;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Reads at a fixed offset without a cursor: nothing when out of bounds.
inline std::optional<std::uint16_t> read_u16_at(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    if (offset > bytes.size()) return std::nullopt;
    return ByteReader(bytes.subspan(offset)).u16();
}

inline std::optional<std::uint32_t> read_u32_at(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    if (offset > bytes.size()) return std::nullopt;
    return ByteReader(bytes.subspan(offset)).u32();
}

inline std::optional<std::uint64_t> read_u64_at(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    if (offset > bytes.size()) return std::nullopt;
    return ByteReader(bytes.subspan(offset)).u64();
}

}  // namespace marlune
