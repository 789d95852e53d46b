// Media types told from a file's first bytes or from its extension.
#include "container/media_type.hpp"

#include <algorithm>
#include <array>

#include "container/byte_reader.hpp"

namespace marlune {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kOctetStream = "application/octet-stream";

// An XML document names its root element within this many bytes, past the
// declaration and comments, when it is an SVG picture.
constexpr std::size_t kSvgRootWindow = 1024;

std::string_view as_text(std::span<const std::uint8_t> data) noexcept {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

bool starts_with(std::span<const std::uint8_t> data, std::string_view magic) noexcept {
    return as_text(data).starts_with(magic);
}

// A metafile without the placeable header: type 1 (memory) or 2 (disk), a
// header of 9 words, version 0x0100 or 0x0300.
bool is_plain_wmf(std::span<const std::uint8_t> data) noexcept {
    const auto type = read_u16_at(data, 0);
    const auto header_words = read_u16_at(data, 2);
    const auto version = read_u16_at(data, 4);
    return type && header_words && version && (*type == 1 || *type == 2) && *header_words == 9 &&
           (*version == 0x0100 || *version == 0x0300);
}

// A bitmap: "BM", then after the 14-byte file header one of the sizes the
// bitmap header versions have (core, info, v2 to v5), so that text starting
// with "BM" is not taken for one.
bool is_bmp(std::span<const std::uint8_t> data) noexcept {
    if (!starts_with(data, "BM")) return false;
    switch (read_u32_at(data, 14).value_or(0)) {
        case 12: case 40: case 52: case 56: case 64: case 108: case 124: return true;
        default: return false;
    }
}

// An enhanced metafile: record type 1 (the header) with " EMF" at offset 40.
bool is_emf(std::span<const std::uint8_t> data) noexcept {
    constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
    return read_u32_at(data, 0) == 1u && read_u32_at(data, 40) == kEmfSignature;
}

// SVG: "<svg" first, or an XML document whose root element is svg.
bool is_svg(std::span<const std::uint8_t> data) noexcept {
    std::string_view text = as_text(data.first(std::min(data.size(), kSvgRootWindow)));
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    text.remove_prefix(std::min(text.find_first_not_of(" \t\r\n"), text.size()));
    if (text.starts_with("<svg")) return true;
    return text.starts_with("<?xml") && text.find("<svg") != std::string_view::npos;
}

struct Magic {
    std::string_view bytes;
    std::string_view media_type;
};

constexpr std::array kMagics{
    Magic{"\x89PNG\r\n\x1A\n"sv, "image/png"},
    Magic{"\xFF\xD8\xFF"sv, "image/jpeg"},
    Magic{"GIF87a"sv, "image/gif"},
    Magic{"GIF89a"sv, "image/gif"},
    Magic{"II*\0"sv, "image/tiff"},
    Magic{"MM\0*"sv, "image/tiff"},
    Magic{"\xD7\xCD\xC6\x9A"sv, "image/wmf"},  // placeable metafile header
    Magic{"%PDF-"sv, "application/pdf"},
};

bool equals_ignoring_case(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

struct ExtensionType {
    std::string_view extension;
    std::string_view media_type;
};

constexpr std::array kExtensions{
    ExtensionType{"jpg", "image/jpeg"}, ExtensionType{"jpeg", "image/jpeg"}, ExtensionType{"png", "image/png"},
    ExtensionType{"gif", "image/gif"},  ExtensionType{"bmp", "image/bmp"},   ExtensionType{"tif", "image/tiff"},
    ExtensionType{"tiff", "image/tiff"}, ExtensionType{"wmf", "image/wmf"},  ExtensionType{"emf", "image/emf"},
    ExtensionType{"svg", "image/svg+xml"}, ExtensionType{"webp", "image/webp"},
};

std::string_view media_type_by_extension(std::string_view extension) noexcept {
    for (const ExtensionType& known : kExtensions) {
        if (equals_ignoring_case(extension, known.extension)) return known.media_type;
    }
    return {};
}

}  // namespace

std::string_view media_type_by_magic(std::span<const std::uint8_t> data) noexcept {
    for (const Magic& magic : kMagics) {
        if (starts_with(data, magic.bytes)) return magic.media_type;
    }
    if (starts_with(data, "RIFF") && data.size() >= 12 && as_text(data.subspan(8, 4)) == "WEBP") return "image/webp";
    if (is_bmp(data)) return "image/bmp";
    if (is_emf(data)) return "image/emf";
    if (is_plain_wmf(data)) return "image/wmf";
    if (is_svg(data)) return "image/svg+xml";
    return {};
}

std::string_view sniff_media_type(std::span<const std::uint8_t> data, std::string_view extension) noexcept {
    if (const auto by_magic = media_type_by_magic(data); !by_magic.empty()) return by_magic;
    if (const auto by_extension = media_type_by_extension(extension); !by_extension.empty()) return by_extension;
    return kOctetStream;
}

}  // namespace marlune
