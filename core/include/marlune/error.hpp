// Errors of the document reader: one value type, returned up to the entry
// point and rendered once by display_text.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

namespace marlune {

// Broad classes of I/O failure; each has a fixed lower-case description.
enum class IoErrorKind {
    NotFound,
    PermissionDenied,
    InvalidInput,
    InvalidData,
    UnexpectedEof,
    OutOfMemory,
    Other,
};

std::string_view io_error_kind_description(IoErrorKind kind) noexcept;

// The value of a failed file-system, container or inflate operation.
class IoErrorInfo {
public:
    // An operating-system error number, described with strerror_r.
    static IoErrorInfo from_os(std::int32_t errnum);
    // A constant message, such as the NUL-in-path refusal. Only string
    // literals are taken: the message is kept as a view.
    template <std::size_t N>
    static IoErrorInfo fixed(IoErrorKind kind, const char (&message)[N]) {
        return IoErrorInfo(kind, Fixed{std::string_view(message, N - 1)});
    }
    // Just a kind; its text is the kind's description.
    static IoErrorInfo from_kind(IoErrorKind kind);
    // A message produced by a library (the container reader or zlib).
    static IoErrorInfo nested(IoErrorKind kind, std::string message);

    IoErrorKind kind() const noexcept { return kind_; }
    // The OS error number, or 0 for the other forms.
    std::int32_t os_error() const noexcept;
    std::string text() const;

private:
    struct Os { std::int32_t errnum; };
    struct Fixed { std::string_view message; };
    struct KindOnly {};
    struct Nested { std::string message; };

    template <class Form>
    IoErrorInfo(IoErrorKind kind, Form form) : kind_(kind), form_(std::in_place_type<Form>, std::move(form)) {}

    IoErrorKind kind_;
    std::variant<Os, Fixed, KindOnly, Nested> form_;
};

// The description of an OS error number: strerror_r into a 128-byte buffer,
// invalid UTF-8 replaced by U+FFFD.
std::string os_error_description(std::int32_t errnum);

// Replaces every ill-formed UTF-8 sequence with U+FFFD.
std::string repair_utf8(std::string_view bytes);

enum class HwpErrorKind { Io, InvalidSignature, PasswordProtected, CompoundFile, Parse, Package, Distribution, Hwp3 };

class HwpError {
public:
    static HwpError io(IoErrorInfo info) { return HwpError(HwpErrorKind::Io, std::move(info)); }
    static HwpError invalid_signature() { return HwpError(HwpErrorKind::InvalidSignature, std::monostate{}); }
    static HwpError password_protected() { return HwpError(HwpErrorKind::PasswordProtected, std::monostate{}); }
    static HwpError compound_file(std::string message) {
        return HwpError(HwpErrorKind::CompoundFile, std::move(message));
    }
    static HwpError parse(std::string message) { return HwpError(HwpErrorKind::Parse, std::move(message)); }
    // A zip package (HWPX) that cannot be read: its directory, an entry, a limit.
    static HwpError package(std::string message) { return HwpError(HwpErrorKind::Package, std::move(message)); }
    // A distribution document whose encrypted body cannot be read.
    static HwpError distribution(std::string message) {
        return HwpError(HwpErrorKind::Distribution, std::move(message));
    }
    // A file in the 1990s format (signature "HWP Document File V3.00").
    static HwpError hwp3() { return HwpError(HwpErrorKind::Hwp3, std::monostate{}); }

    HwpErrorKind kind() const noexcept { return kind_; }
    // The I/O information of an Io error, or null for the other kinds.
    const IoErrorInfo* io_info() const noexcept { return std::get_if<IoErrorInfo>(&payload_); }
    // The message of a CompoundFile, Parse, Package or Distribution error, or empty.
    std::string_view message() const noexcept;

private:
    HwpError(HwpErrorKind kind, std::variant<std::monostate, IoErrorInfo, std::string> payload)
        : kind_(kind), payload_(std::move(payload)) {}

    HwpErrorKind kind_;
    std::variant<std::monostate, IoErrorInfo, std::string> payload_;
};

// The fixed message of an error, as a Python caller sees it.
std::string display_text(const HwpError& error);

template <class T>
using Result = std::expected<T, HwpError>;

}  // namespace marlune
