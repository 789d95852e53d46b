// The Compound File Binary reader (MS-CFB, versions 3 and 4, 512- and
// 4096-byte sectors) over a file's bytes held in memory: header checks, the
// DIFAT, FAT and mini FAT chains, the directory tree, and streams by path.
// Opening fails only for damage to the header, the allocation tables or the
// directory chain; an entry with a bad size, start or chain is unreadable on
// its own and its siblings stay reachable.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "container/byte_buffer.hpp"
#include "marlune/error.hpp"

namespace marlune {

// The eight bytes every compound file starts with.
inline constexpr std::uint8_t COMPOUND_FILE_MAGIC[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

inline bool starts_like_compound_file(std::span<const std::uint8_t> bytes) noexcept {
    return bytes.size() >= sizeof COMPOUND_FILE_MAGIC &&
           std::memcmp(bytes.data(), COMPOUND_FILE_MAGIC, sizeof COMPOUND_FILE_MAGIC) == 0;
}

class CompoundFile {
public:
    // Reads the header, the allocation tables and the directory of a file
    // whose bytes must outlive the reader (it keeps a view of them).
    static Result<CompoundFile> open(std::span<const std::uint8_t> bytes);

    // The whole stream at an absolute path such as "/BodyText/Section0".
    Result<ByteBuffer> read_stream(std::string_view path) const;
    // The same stream, as a view of the file's bytes when its sectors lie
    // in one run, else a copy.
    Result<StreamBytes> stream_bytes(std::string_view path) const;

    // The names of a storage's streams and storages in directory order;
    // empty when path is not a storage.
    std::vector<std::string> list_storage(std::string_view path) const;

    struct Entry {
        std::uint64_t size = 0;
        std::uint32_t left = 0, right = 0, child = 0, start = 0;
        std::uint8_t type = 0;  // 0 unused, 1 storage, 2 stream, 5 root
        std::uint8_t name_units = 0;
        std::array<char16_t, 32> name{};

        std::u16string_view name_view() const noexcept { return {name.data(), name_units}; }
    };

private:
    CompoundFile() = default;
    Result<void> read_allocation_tables();
    Result<void> read_directory();
    void read_mini_tables();
    Entry read_entry(std::size_t offset) const;

    std::size_t sector_size() const noexcept { return std::size_t{1} << sector_shift_; }
    std::size_t sector_offset(std::uint32_t id) const noexcept { return (std::size_t{id} + 1) << sector_shift_; }
    // count bytes at offset, or nothing when they pass the end of the file.
    std::optional<std::span<const std::uint8_t>> slice(std::size_t offset, std::size_t count) const;
    // The bytes of a sector; the file's last sector may be short.
    std::span<const std::uint8_t> sector(std::uint32_t id) const;
    std::uint32_t find_child(std::uint32_t storage, std::u16string_view name) const;
    std::uint32_t locate(std::string_view path) const;
    bool copy_chain(const Entry& entry, ByteBuffer& out) const;
    Result<const Entry*> find_stream(std::string_view path) const;
    Result<ByteBuffer> copy_stream(const Entry& entry, std::string_view path) const;
    std::optional<std::span<const std::uint8_t>> contiguous_bytes(const Entry& entry) const;

    std::span<const std::uint8_t> bytes_;
    unsigned sector_shift_ = 9;
    std::uint32_t sector_count_ = 0;     // sectors that begin inside the file
    std::uint32_t mini_cutoff_ = 4096;   // streams shorter than this live in the mini stream
    std::vector<std::uint32_t> fat_;         // next sector, one entry per existing sector
    std::vector<std::uint32_t> mini_fat_;    // next mini sector
    std::vector<std::uint32_t> mini_stream_sectors_;  // the root entry's chain
    std::vector<Entry> entries_;
};

}  // namespace marlune
