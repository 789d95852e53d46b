#include "marlune/error.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace marlune {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text (which may not
// be the buffer), the XSI one returns 0 and fills the buffer.
[[maybe_unused]] const char* strerror_result(int rc, const char* buffer) { return rc == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of s, or 0 when the
// first byte starts no valid sequence; *maximal is then the length of its
// longest valid prefix (at least 1), which one U+FFFD replaces.
std::size_t utf8_sequence_length(std::string_view s, std::size_t* maximal) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    *maximal = 1;
    if (b0 < 0x80) return 1;
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < need; ++k) {
        if (k >= s.size()) return 0;
        const auto b = static_cast<unsigned char>(s[k]);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) return 0;
        *maximal = k + 1;
    }
    return need;
}

}  // namespace

std::string_view io_error_kind_description(IoErrorKind kind) noexcept {
    switch (kind) {
        case IoErrorKind::NotFound: return "entity not found";
        case IoErrorKind::PermissionDenied: return "permission denied";
        case IoErrorKind::InvalidInput: return "invalid input parameter";
        case IoErrorKind::InvalidData: return "invalid data";
        case IoErrorKind::UnexpectedEof: return "unexpected end of file";
        case IoErrorKind::OutOfMemory: return "out of memory";
        case IoErrorKind::Other: break;
    }
    return "other error";
}

std::string repair_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t maximal = 1;
        const std::size_t len = utf8_sequence_length(bytes.substr(pos), &maximal);
        if (len == 0) {
            out += kReplacement;
            pos += maximal;
        } else {
            out.append(bytes.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

std::string os_error_description(std::int32_t errnum) {
    std::array<char, 128> buffer{};
    const char* text = strerror_result(strerror_r(errnum, buffer.data(), buffer.size()), buffer.data());
    if (text == nullptr) return "Unknown error " + std::to_string(errnum);
    return repair_utf8(std::string_view(text, strnlen(text, text == buffer.data() ? buffer.size() : 4096)));
}

IoErrorInfo IoErrorInfo::from_os(std::int32_t errnum) {
    IoErrorKind kind = IoErrorKind::Other;
    if (errnum == ENOENT) kind = IoErrorKind::NotFound;
    else if (errnum == EACCES || errnum == EPERM) kind = IoErrorKind::PermissionDenied;
    else if (errnum == ENOMEM) kind = IoErrorKind::OutOfMemory;
    return IoErrorInfo(kind, Os{errnum});
}

IoErrorInfo IoErrorInfo::from_kind(IoErrorKind kind) { return IoErrorInfo(kind, KindOnly{}); }

IoErrorInfo IoErrorInfo::nested(IoErrorKind kind, std::string message) {
    return IoErrorInfo(kind, Nested{std::move(message)});
}

std::int32_t IoErrorInfo::os_error() const noexcept {
    const auto* os = std::get_if<Os>(&form_);
    return os != nullptr ? os->errnum : 0;
}

std::string IoErrorInfo::text() const {
    if (const auto* os = std::get_if<Os>(&form_)) {
        return os_error_description(os->errnum) + " (os error " + std::to_string(os->errnum) + ")";
    }
    if (const auto* fixed = std::get_if<Fixed>(&form_)) return std::string(fixed->message);
    if (const auto* nested = std::get_if<Nested>(&form_)) return nested->message;
    return std::string(io_error_kind_description(kind_));
}

std::string_view HwpError::message() const noexcept {
    const auto* message = std::get_if<std::string>(&payload_);
    return message != nullptr ? std::string_view(*message) : std::string_view();
}

std::string display_text(const HwpError& error) {
    switch (error.kind()) {
        case HwpErrorKind::Io: return "IO error: " + error.io_info()->text();
        case HwpErrorKind::InvalidSignature: return "Invalid HWP signature";
        case HwpErrorKind::PasswordProtected: return "Password-protected HWP files are not supported";
        case HwpErrorKind::CompoundFile: return "Compound file error: " + std::string(error.message());
        case HwpErrorKind::Package: return "Package error: " + std::string(error.message());
        case HwpErrorKind::Distribution: return "distribution document: " + std::string(error.message());
        case HwpErrorKind::Hwp3: return "HWP 3.0 documents are not supported";
        case HwpErrorKind::Parse: break;
    }
    return "Parse error: " + std::string(error.message());
}

}  // namespace marlune
