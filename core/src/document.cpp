#include "marlune/document.hpp"

#include <fcntl.h>
#include <gsf/gsf-infile-impl.h>
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>
#include <mutex>
#include <new>

#include "byte_reader.hpp"

namespace marlune {

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

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

// The eight bytes every compound file starts with.
constexpr std::uint8_t kCfbMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The four bytes a zip package (HWPX) starts with: a local file header.
constexpr std::uint8_t kZipMagic[4] = {'P', 'K', 3, 4};

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
        if (!regular && filled >= sizeof kCfbMagic && std::memcmp(bytes.data(), kCfbMagic, sizeof kCfbMagic) != 0 &&
            std::memcmp(bytes.data(), kZipMagic, sizeof kZipMagic) != 0) {
            break;
        }
    }
    if (!bytes.resize(filled)) return std::unexpected(os_error(ENOMEM));
    return bytes;
}

void discard_log_message(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// libgsf reports damaged containers through GLib warnings and assertion
// messages on standard error and then goes on; the failure reaches the caller
// as an error value instead, so its log domains are silenced once.
void silence_container_logs() {
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr auto kLevels =
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:utils", "libgsf:input"}) {
            g_log_set_handler(domain, kLevels, discard_log_message, nullptr);
        }
    });
}

std::string error_message(const GError* error, std::string fallback) {
    if (error != nullptr && error->message != nullptr && error->message[0] != '\0') return error->message;
    return fallback;
}

}  // namespace

// The open container: the file's bytes and the libgsf reader over them
// (the file itself is closed once read). Members are released in reverse
// order: reader, then bytes.
struct Document::Container {
    ByteBuffer bytes;
    GObjectPtr<GsfInfile> infile;
};

Document::Document(std::unique_ptr<Container> container) noexcept : container_(std::move(container)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

// The root directory entry has no siblings in a sound compound file. libgsf
// reads the entries a root's sibling links lead to as further roots and
// then drops them without freeing them, so a damaged file would leak memory
// on every open; those entries are unreachable anyway, and the links are
// cleared in our copy of the file before the container reads it.
void clear_root_siblings(ByteBuffer& bytes) noexcept {
    constexpr std::size_t kSectorShiftOffset = 30;
    constexpr std::size_t kFirstDirectorySectorOffset = 48;
    constexpr std::size_t kSiblingLinksOffset = 68;  // left, then right sibling id
    constexpr std::size_t kSiblingLinksBytes = 8;
    const std::span<const std::uint8_t> view(bytes);
    if (view.size() < sizeof kCfbMagic || std::memcmp(view.data(), kCfbMagic, sizeof kCfbMagic) != 0) return;
    const auto shift = read_u16_at(view, kSectorShiftOffset);
    const auto first = read_u32_at(view, kFirstDirectorySectorOffset);
    if (!shift || !first || (*shift != 9 && *shift != 12)) return;
    const std::uint64_t entry = (std::uint64_t{*first} + 1) << *shift;
    if (entry + kSiblingLinksOffset + kSiblingLinksBytes > bytes.size()) return;
    std::fill_n(bytes.begin() + entry + kSiblingLinksOffset, kSiblingLinksBytes, 0xFF);
}

// Opens the compound file over the bytes the container holds.
Result<Document> open_container(std::unique_ptr<Document::Container> container) {
    clear_root_siblings(container->bytes);
    GObjectPtr<GsfInput> input(
        gsf_input_memory_new(container->bytes.data(), static_cast<gsf_off_t>(container->bytes.size()), FALSE));
    if (!input) return std::unexpected(HwpError::compound_file("cannot read the file as a compound file"));
    GError* raw_error = nullptr;
    container->infile.reset(gsf_infile_msole_new(input.get(), &raw_error));
    GErrorPtr error(raw_error);
    if (!container->infile) {
        return std::unexpected(HwpError::compound_file(error_message(error.get(), "not a compound file")));
    }
    return Document(std::move(container));
}

Result<ByteBuffer> read_file(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::fixed(IoErrorKind::InvalidInput, "file name contained an unexpected NUL byte")));
    }
    const std::string c_path(path);
    int raw_fd;
    do raw_fd = ::open(c_path.c_str(), O_RDONLY | O_CLOEXEC);
    while (raw_fd < 0 && errno == EINTR);
    if (raw_fd < 0) return std::unexpected(os_error(errno));
    const UniqueFd fd(raw_fd);
    struct stat st{};
    if (::fstat(raw_fd, &st) != 0) return std::unexpected(os_error(errno));
    if (S_ISDIR(st.st_mode)) return std::unexpected(os_error(EISDIR));
    return read_whole_file(raw_fd, st);
}

Result<Document> open_document(std::string_view path) {
    silence_container_logs();
    auto bytes = read_file(path);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return open_document_from_buffer(std::move(*bytes));
}

Result<Document> open_document_from_buffer(ByteBuffer bytes) {
    silence_container_logs();
    auto container = std::make_unique<Document::Container>();
    container->bytes = std::move(bytes);
    return open_container(std::move(container));
}

Result<Document> open_document_from_memory(std::span<const std::uint8_t> bytes) {
    ByteBuffer copy;
    if (!copy.assign(bytes)) return std::unexpected(os_error(ENOMEM));
    return open_document_from_buffer(std::move(copy));
}

Result<ByteBuffer> Document::read_stream(std::string_view path) const {
    GObjectPtr<GsfInput> current;
    GsfInfile* storage = container_->infile.get();
    std::string_view rest = path;
    while (!rest.empty()) {
        if (rest.front() == '/') {
            rest.remove_prefix(1);
            continue;
        }
        const std::size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (storage == nullptr) return std::unexpected(HwpError::compound_file("stream not found: " + std::string(path)));

        // The class's own lookup reports why an entry that exists cannot be
        // opened (a broken sector chain, say) where the public call stays silent.
        GError* raw_error = nullptr;
        auto* klass = reinterpret_cast<GsfInfileClass*>(G_OBJECT_GET_CLASS(storage));
        GsfInput* child = klass->child_by_name != nullptr ? klass->child_by_name(storage, name.c_str(), &raw_error)
                                                          : gsf_infile_child_by_name(storage, name.c_str());
        GErrorPtr error(raw_error);
        if (child == nullptr) {
            return std::unexpected(
                HwpError::compound_file(error_message(error.get(), "stream not found: " + std::string(path))));
        }
        current.reset(child);
        storage = GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0 ? GSF_INFILE(child) : nullptr;
    }
    if (!current || storage != nullptr) {
        return std::unexpected(HwpError::compound_file("not a stream: " + std::string(path)));
    }

    const gsf_off_t size = gsf_input_size(current.get());
    // A stream cannot hold more than the file it is stored in.
    if (size < 0 || static_cast<std::uint64_t>(size) > container_->bytes.size()) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::nested(IoErrorKind::InvalidData, "stream larger than its file: " + std::string(path))));
    }
    ByteBuffer data;
    if (!data.resize(static_cast<std::size_t>(size))) return std::unexpected(os_error(ENOMEM));
    if (size > 0 && gsf_input_read(current.get(), static_cast<std::size_t>(size), data.data()) == nullptr) {
        return std::unexpected(HwpError::io(
            IoErrorInfo::nested(IoErrorKind::UnexpectedEof, "failed to read stream " + std::string(path))));
    }
    return data;
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

namespace {

struct InflateStream {
    z_stream z{};
    bool ready = false;
    ~InflateStream() {
        if (ready) inflateEnd(&z);
    }
};

HwpError inflate_error(std::string_view text) {
    return HwpError::parse("압축 해제 실패: " + std::string(text));
}

}  // namespace

Result<ByteBuffer> inflate_raw(std::span<const std::uint8_t> input) {
    static const std::string kCorrupt = "corrupt deflate stream";
    static const std::string kOutOfMemory = "out of memory";
    ByteBuffer out;
    if (input.empty()) return out;

    InflateStream stream;
    const int init = inflateInit2(&stream.z, -MAX_WBITS);
    if (init != Z_OK) return std::unexpected(inflate_error(init == Z_MEM_ERROR ? kOutOfMemory : kCorrupt));
    stream.ready = true;

    // Room for one byte past the limit tells a bomb from a section that
    // inflates to exactly the limit.
    constexpr std::size_t kCapacityLimit = MAX_SECTION_BYTES + 1;
    std::size_t produced = 0;
    std::size_t consumed = 0;
    if (!out.resize(std::min<std::size_t>(std::max<std::size_t>(input.size() * 4, 65536), kCapacityLimit))) {
        return std::unexpected(inflate_error(kOutOfMemory));
    }
    for (;;) {
        if (stream.z.avail_in == 0 && consumed < input.size()) {
            const std::size_t piece = std::min(INFLATE_CHUNK_BYTES, input.size() - consumed);
            stream.z.next_in = const_cast<Bytef*>(input.data() + consumed);
            stream.z.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        if (produced == out.size()) {
            if (out.size() >= kCapacityLimit) {
                return std::unexpected(inflate_error("inflated section exceeds 256 MiB"));
            }
            if (!out.resize(std::min(out.size() * 2, kCapacityLimit))) {
                return std::unexpected(inflate_error(kOutOfMemory));
            }
        }
        stream.z.next_out = out.data() + produced;
        stream.z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, UINT32_MAX));
        const uInt before = stream.z.avail_out;
        const int rc = inflate(&stream.z, Z_NO_FLUSH);
        produced += before - stream.z.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_MEM_ERROR) return std::unexpected(inflate_error(kOutOfMemory));
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
            return std::unexpected(inflate_error(kCorrupt));
        }
        // Input that runs out before the final block ends the data once
        // everything decodable has been written out.
        if (stream.z.avail_in == 0 && consumed == input.size() && stream.z.avail_out > 0) break;
    }
    if (produced > MAX_SECTION_BYTES) return std::unexpected(inflate_error("inflated section exceeds 256 MiB"));
    if (!out.resize(produced)) return std::unexpected(inflate_error(kOutOfMemory));
    return out;
}

Result<ByteBuffer> read_section_stream(const Document& document, std::string_view name,
                                                      bool compressed) {
    auto stored = document.read_stream(name);
    if (!stored || !compressed) return stored;
    return inflate_raw(*stored);
}

}  // namespace marlune
