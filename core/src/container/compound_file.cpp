// The Compound File Binary reader: a 512-byte header, sectors of 512 or 4096
// bytes after it (sector n at (n + 1) * sector size), a FAT that links them
// into chains (its own sectors listed by the DIFAT: 109 ids in the header,
// the rest in a chain of DIFAT sectors), a directory of 128-byte entries in
// one chain, and small streams in 64-byte mini sectors inside the root
// entry's stream, linked by the mini FAT.
#include "container/compound_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "container/byte_reader.hpp"
#include "container/utf8.hpp"

namespace marlune {

namespace {

constexpr std::size_t kHeaderBytes = 512;
constexpr std::size_t kEntryBytes = 128;
constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr unsigned kMiniSectorShift = 6;  // 64-byte mini sectors
constexpr std::size_t kHeaderDifatEntries = 109;

// Header fields.
constexpr std::size_t kByteOrderOffset = 28;
constexpr std::size_t kSectorShiftOffset = 30;
constexpr std::size_t kMiniSectorShiftOffset = 32;
constexpr std::size_t kFatCountOffset = 44;
constexpr std::size_t kDirectoryStartOffset = 48;
constexpr std::size_t kMiniCutoffOffset = 56;
constexpr std::size_t kMiniFatStartOffset = 60;
constexpr std::size_t kDifatStartOffset = 68;
constexpr std::size_t kHeaderDifatOffset = 76;

// Directory entry fields.
constexpr std::size_t kNameLengthOffset = 64;  // in bytes, with the closing NUL
constexpr std::size_t kTypeOffset = 66;
constexpr std::size_t kLeftOffset = 68;
constexpr std::size_t kRightOffset = 72;
constexpr std::size_t kChildOffset = 76;
constexpr std::size_t kStartOffset = 116;
constexpr std::size_t kSizeOffset = 120;
constexpr std::size_t kMaxNameUnits = 32;

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
// Sector ids from here up are markers (DIFAT, FAT, end of chain, free).
constexpr std::uint32_t kFirstMarker = 0xFFFFFFFB;

constexpr std::uint8_t kUnused = 0;
constexpr std::uint8_t kStorage = 1;
constexpr std::uint8_t kStream = 2;
constexpr std::uint8_t kRoot = 5;
constexpr std::uint32_t kRootId = 0;

HwpError container_error(const char* text) { return HwpError::compound_file(text); }

// The sector ids of a chain, first to last, and whether it ended soundly (at
// ENDOFCHAIN or after max_length ids) rather than at a bad link.
struct Chain {
    std::vector<std::uint32_t> ids;
    bool complete = false;
};

// Follows a chain from start with next(id). Every id must be below id_count
// and come once (a visited bitmap), so no chain is walked longer than the
// ids that exist; the walk also ends after max_length ids.
template <class Next>
Chain follow_chain(std::uint32_t start, std::size_t id_count, std::size_t max_length, Next next) {
    Chain chain;
    chain.ids.reserve(std::min(max_length, id_count));
    std::vector<bool> visited(id_count);
    std::uint32_t id = start;
    while (chain.ids.size() < max_length) {
        if (id == kEndOfChain) break;
        if (id >= id_count || visited[id]) return chain;
        visited[id] = true;
        chain.ids.push_back(id);
        id = next(id);
    }
    chain.complete = true;
    return chain;
}

std::size_t ceil_div(std::uint64_t value, std::size_t unit) {
    return static_cast<std::size_t>((value + unit - 1) / unit);
}

// Upper case as the directory orders names: ASCII and Latin-1 letters.
char16_t upper(char16_t unit) noexcept {
    if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) {
        return static_cast<char16_t>(unit - 0x20);
    }
    return unit;
}

// Sibling order: shorter names first, then unit by unit in upper case.
int compare_names(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = upper(a[i]);
        const char16_t y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// A path segment as UTF-16; bytes that are not UTF-8 become U+FFFD.
std::u16string to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto unit = static_cast<unsigned char>(text[i + k]);
            valid = (unit & 0xC0) == 0x80;
            c = (c << 6) | (unit & 0x3F);
        }
        if (!valid || c > 0x10FFFF) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return out;
}

// A directory name as UTF-8; a lone surrogate becomes U+FFFD.
std::string to_utf8(std::u16string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char32_t c = name[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        append_utf8(out, c);
    }
    return out;
}

}  // namespace

Result<CompoundFile> CompoundFile::open(std::span<const std::uint8_t> bytes) {
    if (!starts_like_compound_file(bytes)) return std::unexpected(container_error("not a compound file"));
    if (bytes.size() < kHeaderBytes) return std::unexpected(container_error("header cut short"));
    if (read_u16_at(bytes, kByteOrderOffset) != kByteOrderMark) {
        return std::unexpected(container_error("bad byte order"));
    }
    const auto shift = read_u16_at(bytes, kSectorShiftOffset).value_or(0);
    if (shift != 9 && shift != 12) return std::unexpected(container_error("bad sector size"));
    if (read_u16_at(bytes, kMiniSectorShiftOffset) != kMiniSectorShift) {
        return std::unexpected(container_error("bad mini sector size"));
    }

    CompoundFile file;
    file.bytes_ = bytes;
    file.sector_shift_ = shift;
    // Sectors that begin inside the file; the last may be cut short.
    const std::size_t sector_bytes = file.sector_size();
    const std::size_t sectors = bytes.size() > sector_bytes ? ceil_div(bytes.size() - sector_bytes, sector_bytes) : 0;
    file.sector_count_ = static_cast<std::uint32_t>(std::min<std::size_t>(sectors, kFirstMarker));
    file.mini_cutoff_ = read_u32_at(bytes, kMiniCutoffOffset).value_or(0);
    if (auto read = file.read_allocation_tables(); !read) return std::unexpected(std::move(read.error()));
    if (auto read = file.read_directory(); !read) return std::unexpected(std::move(read.error()));
    file.read_mini_tables();
    return file;
}

std::optional<std::span<const std::uint8_t>> CompoundFile::slice(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size()) return std::nullopt;
    return ByteReader(bytes_.subspan(offset)).bytes(count);
}

std::span<const std::uint8_t> CompoundFile::sector(std::uint32_t id) const {
    const std::size_t offset = sector_offset(id);
    if (offset >= bytes_.size()) return {};
    return bytes_.subspan(offset, std::min(sector_size(), bytes_.size() - offset));
}

// The FAT: its sector ids from the header and the DIFAT chain, then one
// next-sector entry per sector of the file (entries for sectors past the
// end are dropped; sectors no FAT sector covers are free).
Result<void> CompoundFile::read_allocation_tables() {
    const std::uint32_t fat_count = read_u32_at(bytes_, kFatCountOffset).value_or(0);
    if (fat_count > sector_count_) return std::unexpected(container_error("bad FAT count"));
    std::vector<std::uint32_t> fat_sectors;
    fat_sectors.reserve(fat_count);
    ByteReader header(bytes_.subspan(kHeaderDifatOffset));
    for (std::size_t i = 0; i < std::min<std::size_t>(fat_count, kHeaderDifatEntries); ++i) {
        fat_sectors.push_back(header.u32().value_or(kFreeSector));
    }
    if (fat_count > kHeaderDifatEntries) {
        // Each DIFAT sector holds FAT sector ids, its last slot the next DIFAT sector.
        const std::size_t ids_per_sector = sector_size() / 4 - 1;
        const std::size_t needed = ceil_div(fat_count - kHeaderDifatEntries, ids_per_sector);
        const Chain difat = follow_chain(read_u32_at(bytes_, kDifatStartOffset).value_or(kEndOfChain), sector_count_,
                                         needed, [&](std::uint32_t id) {
                                             return read_u32_at(sector(id), ids_per_sector * 4).value_or(kFreeSector);
                                         });
        if (difat.ids.size() < needed) return std::unexpected(container_error("DIFAT chain broken"));
        for (const std::uint32_t id : difat.ids) {
            ByteReader reader(sector(id));
            for (std::size_t k = 0; k < ids_per_sector && fat_sectors.size() < fat_count; ++k) {
                fat_sectors.push_back(reader.u32().value_or(kFreeSector));
            }
        }
    }
    fat_.assign(sector_count_, kFreeSector);
    const std::size_t entries_per_sector = sector_size() / 4;
    for (std::size_t k = 0; k < fat_sectors.size(); ++k) {
        if (fat_sectors[k] >= sector_count_) return std::unexpected(container_error("FAT sector out of range"));
        ByteReader reader(sector(fat_sectors[k]));
        for (std::size_t index = k * entries_per_sector; index < fat_.size(); ++index) {
            const auto next = reader.u32();
            if (!next) break;
            fat_[index] = *next;
        }
    }
    return {};
}

CompoundFile::Entry CompoundFile::read_entry(std::size_t offset) const {
    Entry entry;
    entry.left = entry.right = entry.child = kNoEntry;
    const auto bytes = slice(offset, kEntryBytes);
    if (!bytes) return entry;
    const std::uint8_t type = (*bytes)[kTypeOffset];
    if (type != kStorage && type != kStream && type != kRoot) return entry;
    entry.type = type;
    entry.left = read_u32_at(*bytes, kLeftOffset).value_or(kNoEntry);
    entry.right = read_u32_at(*bytes, kRightOffset).value_or(kNoEntry);
    entry.child = read_u32_at(*bytes, kChildOffset).value_or(kNoEntry);
    entry.start = read_u32_at(*bytes, kStartOffset).value_or(kEndOfChain);
    entry.size = read_u64_at(*bytes, kSizeOffset).value_or(0);
    // Version 3 files (512-byte sectors) may leave junk in the size's high half.
    if (sector_shift_ == 9) entry.size &= 0xFFFFFFFF;
    const std::size_t declared = read_u16_at(*bytes, kNameLengthOffset).value_or(0) / 2;
    ByteReader name(*bytes);
    for (std::size_t i = 0; i < std::min(declared, kMaxNameUnits); ++i) {
        const auto unit = name.u16().value_or(0);
        if (unit == 0) break;
        entry.name[entry.name_units++] = unit;
    }
    return entry;
}

// The directory: every entry of its chain, which must end soundly; entry 0
// is the root storage.
Result<void> CompoundFile::read_directory() {
    const Chain chain = follow_chain(read_u32_at(bytes_, kDirectoryStartOffset).value_or(kEndOfChain), sector_count_,
                                     sector_count_, [&](std::uint32_t id) { return fat_[id]; });
    if (!chain.complete || chain.ids.empty()) return std::unexpected(container_error("directory chain broken"));
    const std::size_t per_sector = sector_size() / kEntryBytes;
    entries_.reserve(chain.ids.size() * per_sector);
    for (const std::uint32_t id : chain.ids) {
        for (std::size_t k = 0; k < per_sector; ++k) {
            entries_.push_back(read_entry(sector_offset(id) + k * kEntryBytes));
        }
    }
    if (entries_[kRootId].type != kRoot) return std::unexpected(container_error("no root entry"));
    return {};
}

// The mini FAT and the sectors of the mini stream. Damage here is not fatal:
// what can be followed is kept, and the small streams past it are unreadable.
void CompoundFile::read_mini_tables() {
    const auto fat_next = [&](std::uint32_t id) { return fat_[id]; };
    const Chain mini_fat = follow_chain(read_u32_at(bytes_, kMiniFatStartOffset).value_or(kEndOfChain), sector_count_,
                                        sector_count_, fat_next);
    mini_fat_.reserve(mini_fat.ids.size() * (sector_size() / 4));
    for (const std::uint32_t id : mini_fat.ids) {
        ByteReader reader(sector(id));
        while (const auto next = reader.u32()) mini_fat_.push_back(*next);
    }
    const Entry& root = entries_[kRootId];
    const std::uint64_t root_size = std::min<std::uint64_t>(root.size, bytes_.size());
    mini_stream_sectors_ = follow_chain(root.start, sector_count_, ceil_div(root_size, sector_size()), fat_next).ids;
    const std::size_t mini_sectors = mini_stream_sectors_.size() << (sector_shift_ - kMiniSectorShift);
    if (mini_fat_.size() > mini_sectors) mini_fat_.resize(mini_sectors);
}

std::uint32_t CompoundFile::find_child(std::uint32_t storage, std::u16string_view name) const {
    const std::size_t count = entries_.size();
    std::vector<bool> visited(count);
    // The siblings form a binary tree ordered by compare_names.
    for (std::uint32_t id = entries_[storage].child; id < count && !visited[id];) {
        visited[id] = true;
        const Entry& entry = entries_[id];
        const int order = compare_names(name, entry.name_view());
        if (order == 0) return entry.type != kUnused ? id : kNoEntry;
        id = order < 0 ? entry.left : entry.right;
    }
    // Some writers leave the tree unsorted: visit every sibling.
    std::fill(visited.begin(), visited.end(), false);
    std::vector<std::uint32_t> pending{entries_[storage].child};
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id >= count || visited[id]) continue;
        visited[id] = true;
        const Entry& entry = entries_[id];
        if (entry.type != kUnused && compare_names(name, entry.name_view()) == 0) return id;
        pending.push_back(entry.right);
        pending.push_back(entry.left);
    }
    return kNoEntry;
}

// The entry at path, or kNoEntry when a segment is missing or a segment
// before the last is a stream.
std::uint32_t CompoundFile::locate(std::string_view path) const {
    std::uint32_t id = kRootId;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view segment = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (segment.empty()) continue;
        if (entries_[id].type == kStream) return kNoEntry;
        id = find_child(id, to_utf16(segment));
        if (id == kNoEntry) return kNoEntry;
    }
    return id;
}

// Copies the entry's chain into out (sized to the entry): false when the
// chain ends, loops or leaves the file before out is full.
bool CompoundFile::copy_chain(const Entry& entry, ByteBuffer& out) const {
    const bool mini = entry.size < mini_cutoff_;
    const unsigned shift = mini ? kMiniSectorShift : sector_shift_;
    const std::size_t unit = std::size_t{1} << shift;
    const std::vector<std::uint32_t>& table = mini ? mini_fat_ : fat_;
    const Chain chain = follow_chain(entry.start, table.size(), ceil_div(entry.size, unit),
                                     [&](std::uint32_t id) { return table[id]; });
    if (chain.ids.size() < ceil_div(entry.size, unit)) return false;
    std::size_t filled = 0;
    for (const std::uint32_t id : chain.ids) {
        std::size_t offset = sector_offset(id);
        if (mini) {
            // Mini sector ids index 64-byte pieces of the mini stream.
            const std::size_t position = std::size_t{id} << kMiniSectorShift;
            offset = sector_offset(mini_stream_sectors_[position >> sector_shift_]) + (position & (sector_size() - 1));
        }
        const auto piece = slice(offset, std::min(unit, out.size() - filled));
        if (!piece) return false;
        std::memcpy(out.data() + filled, piece->data(), piece->size());
        filled += piece->size();
    }
    return true;
}

Result<const CompoundFile::Entry*> CompoundFile::find_stream(std::string_view path) const {
    const std::uint32_t id = locate(path);
    if (id == kNoEntry) return std::unexpected(HwpError::compound_file("stream not found: " + std::string(path)));
    const Entry& entry = entries_[id];
    if (entry.type != kStream) return std::unexpected(HwpError::compound_file("not a stream: " + std::string(path)));
    // A stream cannot hold more than the file it is stored in.
    if (entry.size > bytes_.size()) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::nested(IoErrorKind::InvalidData, "stream larger than its file: " + std::string(path))));
    }
    return &entry;
}

Result<ByteBuffer> CompoundFile::copy_stream(const Entry& entry, std::string_view path) const {
    ByteBuffer data;
    if (!data.resize(static_cast<std::size_t>(entry.size))) {
        return std::unexpected(HwpError::io(IoErrorInfo::from_os(ENOMEM)));
    }
    if (!data.empty() && !copy_chain(entry, data)) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::nested(IoErrorKind::UnexpectedEof, "failed to read stream " + std::string(path))));
    }
    return data;
}

// A regular stream whose every link points to the sector right after it
// lies in the file as one run: the same bytes copy_chain would gather.
std::optional<std::span<const std::uint8_t>> CompoundFile::contiguous_bytes(const Entry& entry) const {
    if (entry.size < mini_cutoff_ || entry.size == 0) return std::nullopt;
    const std::size_t count = ceil_div(entry.size, sector_size());
    const std::size_t first = entry.start;
    if (first >= fat_.size() || count > fat_.size() - first) return std::nullopt;
    for (std::size_t k = 0; k + 1 < count; ++k) {
        if (fat_[first + k] != first + k + 1) return std::nullopt;
    }
    return slice(sector_offset(entry.start), static_cast<std::size_t>(entry.size));
}

Result<ByteBuffer> CompoundFile::read_stream(std::string_view path) const {
    const auto entry = find_stream(path);
    if (!entry) return std::unexpected(std::move(entry.error()));
    return copy_stream(**entry, path);
}

Result<StreamBytes> CompoundFile::stream_bytes(std::string_view path) const {
    const auto entry = find_stream(path);
    if (!entry) return std::unexpected(std::move(entry.error()));
    if (const auto run = contiguous_bytes(**entry)) return StreamBytes(*run);
    auto copy = copy_stream(**entry, path);
    if (!copy) return std::unexpected(std::move(copy.error()));
    return StreamBytes(std::move(*copy));
}

std::vector<std::string> CompoundFile::list_storage(std::string_view path) const {
    std::vector<std::string> names;
    const std::uint32_t storage = locate(path);
    if (storage == kNoEntry || entries_[storage].type == kStream) return names;
    // In order: left subtree, the entry, right subtree; each id once.
    const std::size_t count = entries_.size();
    std::vector<bool> visited(count);
    std::vector<std::uint32_t> pending;
    std::uint32_t id = entries_[storage].child;
    for (;;) {
        while (id < count && !visited[id]) {
            visited[id] = true;
            pending.push_back(id);
            id = entries_[id].left;
        }
        if (pending.empty()) break;
        const Entry& entry = entries_[pending.back()];
        pending.pop_back();
        if (entry.type != kUnused) names.push_back(to_utf8(entry.name_view()));
        id = entry.right;
    }
    return names;
}

}  // namespace marlune
