#include "hwp/document.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>

#include "container/byte_reader.hpp"
#include "container/compound_file.hpp"

namespace marlune {

bool starts_like_package(std::span<const std::uint8_t> bytes) noexcept {
    // A zip package (HWPX) starts with a local file header.
    constexpr std::uint8_t kZipMagic[4] = {'P', 'K', 3, 4};
    return bytes.size() >= sizeof kZipMagic && std::memcmp(bytes.data(), kZipMagic, sizeof kZipMagic) == 0;
}

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

HwpError os_error(int errnum) { return HwpError::io(IoErrorInfo::from_os(errnum)); }

// An open file and what fstat says of it.
struct OpenFile {
    UniqueFd fd;
    struct stat st{};
};

Result<OpenFile> open_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::fixed(IoErrorKind::InvalidInput, "file name contained an unexpected NUL byte")));
    }
    const std::string c_path(path);
    int raw_fd;
    do raw_fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
    while (raw_fd < 0 && errno == EINTR);
    if (raw_fd < 0) return std::unexpected(os_error(errno));
    OpenFile file{UniqueFd(raw_fd)};
    if (::fstat(raw_fd, &file.st) != 0) return std::unexpected(os_error(errno));
    if (S_ISDIR(file.st.st_mode)) return std::unexpected(os_error(EISDIR));
    return file;
}

// Reads the whole file. A file that is not a regular one (a pipe, a device)
// is read to its end only while it still looks like a compound file or a zip
// package, so that an endless device cannot exhaust memory.
Result<ByteBuffer> read_whole_file(int fd, const struct stat& st) {
    const bool regular = S_ISREG(st.st_mode);
    // One byte beyond the size the file has now: reading it tells the end
    // of the file without growing the buffer.
    std::size_t capacity = regular && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536;
    ByteBuffer bytes;
    if (!bytes.resize(capacity)) return std::unexpected(os_error(ENOMEM));
    std::size_t filled = 0;
    for (;;) {
        if (filled == capacity) {
            capacity *= 2;
            if (!bytes.resize(capacity)) return std::unexpected(os_error(ENOMEM));
        }
        ssize_t n;
        do n = ::read(fd, bytes.data() + filled, capacity - filled);
        while (n < 0 && errno == EINTR);
        if (n < 0) return std::unexpected(os_error(errno));
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
        const std::span<const std::uint8_t> read(bytes.data(), filled);
        if (!regular && filled >= sizeof COMPOUND_FILE_MAGIC && !starts_like_compound_file(read) &&
            !starts_like_package(read)) {
            break;
        }
    }
    if (!bytes.resize(filled)) return std::unexpected(os_error(ENOMEM));
    return bytes;
}

}  // namespace

// A private read-only mapping of a whole regular file; the reader touches
// only the pages it reads (pictures a conversion never opens stay on disk).
class MappedFile {
public:
    MappedFile() noexcept = default;
    MappedFile(MappedFile&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    MappedFile& operator=(MappedFile&&) = delete;
    ~MappedFile() {
        if (data_ != nullptr) ::munmap(data_, size_);
    }

    // Maps the file, or yields an empty mapping when it cannot be mapped.
    static MappedFile map(int fd, std::size_t size) noexcept {
        MappedFile file;
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED) return file;
        file.data_ = data;
        file.size_ = size;
        return file;
    }

    bool empty() const noexcept { return data_ == nullptr; }
    std::span<const std::uint8_t> bytes() const noexcept { return {static_cast<const std::uint8_t*>(data_), size_}; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

// The open container: the file's bytes, mapped or read into memory (the
// file descriptor is closed once they are), and the reader over them. The
// reader views the bytes, which a move of either owner leaves in place;
// members are released in reverse order: reader, then bytes.
struct Document::Container {
    ByteBuffer bytes;
    MappedFile mapping;
    CompoundFile file;
};

Document::Document(std::unique_ptr<Container> container) noexcept : container_(std::move(container)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Result<ByteBuffer> read_file(std::string_view path) {
    auto file = open_file(path);
    if (!file) return std::unexpected(std::move(file.error()));
    return read_whole_file(file->fd.get(), file->st);
}

// Regular files from this size up are mapped rather than read. Measured on
// the corpora (open, read the header and every section): below 64 KiB one
// read() costs less than mapping and unmapping (about half); from 64 KiB
// mapping costs a third to a tenth of reading, since pictures and other
// streams a conversion never opens are not copied.
constexpr std::size_t MIN_MAPPED_FILE_BYTES = 64 * 1024;

namespace {

// Smaller files, other kinds of file and files that cannot be mapped are
// read whole. A file that another process cuts short while it is mapped
// faults on the pages past its new end.
// With accept_package, a zip package's or an HWP 3.x file's bytes come back
// instead of the compound file's error.
Result<std::variant<Document, PackageBytes>> open_any(std::string_view path, bool accept_package) {
    auto file = open_file(path);
    if (!file) return std::unexpected(std::move(file.error()));
    if (S_ISREG(file->st.st_mode) && static_cast<std::uint64_t>(file->st.st_size) >= MIN_MAPPED_FILE_BYTES) {
        MappedFile mapping = MappedFile::map(file->fd.get(), static_cast<std::size_t>(file->st.st_size));
        if (!mapping.empty()) {
            file->fd = UniqueFd();
            if (accept_package && (starts_like_package(mapping.bytes()) || starts_like_hwp3(mapping.bytes()))) {
                return PackageBytes(std::make_unique<MappedFile>(std::move(mapping)));
            }
            auto reader = CompoundFile::open(mapping.bytes());
            if (!reader) return std::unexpected(std::move(reader.error()));
            return Document(
                std::make_unique<Document::Container>(ByteBuffer(), std::move(mapping), std::move(*reader)));
        }
    }
    auto bytes = read_whole_file(file->fd.get(), file->st);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    file->fd = UniqueFd();
    if (accept_package && (starts_like_package(*bytes) || starts_like_hwp3(*bytes))) {
        return PackageBytes(std::move(*bytes));
    }
    auto document = open_document_from_buffer(std::move(*bytes));
    if (!document) return std::unexpected(std::move(document.error()));
    return std::move(*document);
}

}  // namespace

Result<Document> open_document(std::string_view path) {
    auto opened = open_any(path, false);
    if (!opened) return std::unexpected(std::move(opened.error()));
    return std::move(std::get<Document>(*opened));
}

Result<std::variant<Document, PackageBytes>> open_document_or_package(std::string_view path) {
    return open_any(path, true);
}

PackageBytes::PackageBytes(ByteBuffer bytes) noexcept : buffer_(std::move(bytes)), view_(buffer_.data(), buffer_.size()) {}
PackageBytes::PackageBytes(std::unique_ptr<MappedFile> mapping) noexcept
    : mapping_(std::move(mapping)), view_(mapping_->bytes()) {}
PackageBytes::PackageBytes(PackageBytes&&) noexcept = default;
PackageBytes& PackageBytes::operator=(PackageBytes&&) noexcept = default;
PackageBytes::~PackageBytes() = default;

Result<Document> open_document_from_buffer(ByteBuffer bytes) {
    auto file = CompoundFile::open(bytes);
    if (!file) return std::unexpected(std::move(file.error()));
    return Document(std::make_unique<Document::Container>(std::move(bytes), MappedFile(), std::move(*file)));
}

Result<Document> open_document_from_memory(std::span<const std::uint8_t> bytes) {
    ByteBuffer copy;
    if (!copy.assign(bytes)) return std::unexpected(os_error(ENOMEM));
    return open_document_from_buffer(std::move(copy));
}

Result<ByteBuffer> Document::read_stream(std::string_view path) const { return container_->file.read_stream(path); }

Result<StreamBytes> Document::stream_bytes(std::string_view path) const { return container_->file.stream_bytes(path); }

std::vector<std::string> Document::list_storage(std::string_view path) const {
    return container_->file.list_storage(path);
}

Result<FileInfo> read_file_info(const Document& document) {
    static constexpr std::string_view kSignature = "HWP Document File";
    constexpr std::size_t kMinimumHeader = 40;
    constexpr std::size_t kVersionOffset = 32;
    constexpr std::size_t kPropertiesOffset = 36;

    auto header = document.read_stream("/FileHeader");
    if (!header) return std::unexpected(std::move(header.error()));
    const std::span<const std::uint8_t> bytes(*header);
    if (bytes.size() < kSignature.size() ||
        std::memcmp(bytes.data(), kSignature.data(), kSignature.size()) != 0) {
        return std::unexpected(HwpError::invalid_signature());
    }
    if (bytes.size() < kMinimumHeader) return std::unexpected(HwpError::parse("FileHeader too short"));
    FileInfo info;
    info.version = read_u32_at(bytes, kVersionOffset).value_or(0);
    info.properties = read_u32_at(bytes, kPropertiesOffset).value_or(0);
    if ((info.properties & 0x2) != 0) return std::unexpected(HwpError::password_protected());
    info.compressed = (info.properties & 0x1) != 0;
    return info;
}

Result<bool> read_file_header(const Document& document) {
    auto info = read_file_info(document);
    if (!info) return std::unexpected(std::move(info.error()));
    return info->compressed;
}

std::string section_stream_name(std::uint32_t index) { return "/BodyText/Section" + std::to_string(index); }

Result<ByteBuffer> read_section_stream(const Document& document, std::string_view name,
                                                      bool compressed) {
    return read_stream_until(document, name, compressed, nullptr);
}

Result<ByteBuffer> read_stream_until(const Document& document, std::string_view name, bool compressed,
                                     const InflateEnough& enough) {
    if (!compressed) return document.read_stream(name);
    auto stored = document.stream_bytes(name);
    if (!stored) return std::unexpected(std::move(stored.error()));
    return enough ? inflate_raw_until(stored->bytes(), enough) : inflate_raw(stored->bytes());
}

}  // namespace marlune
