// Owned bytes: a growable buffer without zero-filling, and a stream's bytes
// held either as a view of the file or as a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

namespace marlune {

// The bytes of a file, a stream or an inflated section. It grows without
// zero-filling (every byte is written right after) and through realloc, which
// moves a large buffer's pages instead of copying them, so an inflated
// section that doubles its way to tens of megabytes is not copied each time.
class ByteBuffer {
public:
    ByteBuffer() noexcept = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    ByteBuffer& operator=(ByteBuffer&& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        return *this;
    }
    ~ByteBuffer() { std::free(data_); }

    // Makes the buffer size bytes long, keeping its first bytes; new bytes
    // are uninitialised. False, with the buffer unchanged, when memory cannot
    // be had.
    [[nodiscard]] bool resize(std::size_t size) noexcept {
        if (size == 0) {
            std::free(std::exchange(data_, nullptr));
            size_ = 0;
            return true;
        }
        void* grown = std::realloc(data_, size);
        if (grown == nullptr) return false;
        data_ = static_cast<std::uint8_t*>(grown);
        size_ = size;
        return true;
    }

    // A copy of bytes; false when memory cannot be had.
    [[nodiscard]] bool assign(std::span<const std::uint8_t> bytes) noexcept {
        if (!resize(bytes.size())) return false;
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
        return true;
    }

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::uint8_t* begin() noexcept { return data_; }
    std::uint8_t* end() noexcept { return data_ + size_; }
    const std::uint8_t* begin() const noexcept { return data_; }
    const std::uint8_t* end() const noexcept { return data_ + size_; }

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A stream's bytes: a view into the file's bytes when its sectors lie in one
// run (as writers store most streams), else a copy of its chain. The view
// is valid while the document is open.
class StreamBytes {
public:
    explicit StreamBytes(std::span<const std::uint8_t> view) noexcept : view_(view) {}
    explicit StreamBytes(ByteBuffer copy) noexcept : copy_(std::move(copy)) {}

    std::span<const std::uint8_t> bytes() const noexcept {
        return copy_.empty() ? view_ : std::span<const std::uint8_t>(copy_.data(), copy_.size());
    }

private:
    std::span<const std::uint8_t> view_;
    ByteBuffer copy_;
};

}  // namespace marlune
