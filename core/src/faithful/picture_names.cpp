// Picture names made safe file names: one component, clean UTF-8, bounded
// length, never empty, unique within the document.
#include "faithful/picture_names.hpp"

#include <span>
#include <variant>

namespace marlune {

namespace {

// An extension longer than this is taken as part of the name.
constexpr std::size_t kLongestExtension = 16;

bool is_trimmed(char c) noexcept { return c == '.' || c == ' '; }

// The length of the well-formed UTF-8 sequence at text[k], 0 when it is
// ill-formed (a stray or missing continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF).
std::size_t sequence_length(std::string_view text, std::size_t k, char32_t& point) noexcept {
    const auto lead = static_cast<std::uint8_t>(text[k]);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead >= 0xF5 || text.size() - k < length) return 0;
    point = lead & (0x7FU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[k + i]);
        if ((next & 0xC0) != 0x80) return 0;
        point = (point << 6) | (next & 0x3FU);
    }
    constexpr char32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000)) return 0;
    return length;
}

// The last path component with control characters (C0, DEL, C1) dropped and
// ill-formed bytes as '_'.
std::string clean_component(std::string_view stored) {
    const std::size_t slash = stored.find_last_of("/\\");
    const std::string_view component = slash == std::string_view::npos ? stored : stored.substr(slash + 1);
    std::string out;
    out.reserve(component.size());
    for (std::size_t k = 0; k < component.size();) {
        char32_t point = 0;
        const std::size_t length = sequence_length(component, k, point);
        if (length == 0) {
            out.push_back('_');
            ++k;
            continue;
        }
        if (point >= 0x20 && point != 0x7F && (point < 0x80 || point > 0x9F)) out.append(component.substr(k, length));
        k += length;
    }
    return out;
}

// A name's stem and extension (without its dot; empty when there is none
// or it is too long to be one).
struct NameParts {
    std::string_view stem;
    std::string_view extension;
};

NameParts split_name(std::string_view name) noexcept {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 > kLongestExtension) return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

// FNV-1a over the stored name: shortened names of different stored names
// stay apart.
std::uint32_t name_hash(std::string_view text) noexcept {
    std::uint32_t hash = 2166136261U;
    for (const char c : text) hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619U;
    return hash;
}

std::string hex8(std::uint32_t value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(8, '0');
    for (std::size_t i = 8; i-- > 0; value >>= 4) out[i] = kHex[value & 0xF];
    return out;
}

// At most `bytes` bytes of the stem, cut before a UTF-8 sequence.
std::string_view cut_stem(std::string_view stem, std::size_t bytes) noexcept {
    if (stem.size() <= bytes) return stem;
    while (bytes > 0 && (static_cast<std::uint8_t>(stem[bytes]) & 0xC0) == 0x80) --bytes;
    return stem.substr(0, bytes);
}

// stem + tail + "." + extension in at most kLongestPictureName bytes, the
// stem cut to make room.
std::string compose(std::string_view stem, std::string_view tail, std::string_view extension) {
    const std::size_t fixed = tail.size() + (extension.empty() ? 0 : extension.size() + 1);
    std::string out(cut_stem(stem, kLongestPictureName - fixed));
    out += tail;
    if (!extension.empty()) {
        out.push_back('.');
        out += extension;
    }
    return out;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Visits every picture of a block list, tables' captions and cells included.
struct PictureVisitor {
    PictureNamer& namer;

    void blocks(std::span<tree::Block> items) {
        for (tree::Block& block : items) std::visit(*this, block.node);
    }

    void operator()(tree::Paragraph&) {}
    void operator()(tree::Equation&) {}

    void operator()(tree::Table& table) {
        blocks(table.caption);
        for (tree::Cell& cell : table.cells) blocks(cell.blocks);
    }

    void operator()(tree::Image& image) {
        if (!image.name.empty()) image.name = namer.name(image.name);
    }
};

}  // namespace

std::string safe_picture_name(std::string_view stored, std::uint32_t number) {
    const std::string cleaned = clean_component(stored);
    std::string_view name = cleaned;
    while (!name.empty() && is_trimmed(name.back())) name.remove_suffix(1);
    auto [stem, extension] = split_name(name);
    while (!stem.empty() && is_trimmed(stem.front())) stem.remove_prefix(1);
    if (stem.empty()) return compose("image-" + std::to_string(number), "", extension);
    if (stem.size() + (extension.empty() ? 0 : extension.size() + 1) <= kLongestPictureName) {
        return compose(stem, "", extension);
    }
    return compose(stem, "-" + hex8(name_hash(stored)), extension);
}

const std::string& PictureNamer::name(std::string_view stored) {
    const std::string key(stored);
    if (const auto known = given_.find(key); known != given_.end()) return known->second;
    const std::string base = safe_picture_name(stored, static_cast<std::uint32_t>(given_.size() + 1));
    std::string candidate = base;
    for (std::uint32_t copy = 2; !taken_.insert(ascii_lower(candidate)).second; ++copy) {
        const NameParts parts = split_name(base);
        candidate = compose(parts.stem, "-" + std::to_string(copy), parts.extension);
    }
    return given_.emplace(key, std::move(candidate)).first->second;
}

void name_pictures(tree::Document& document) {
    PictureNamer namer;
    PictureVisitor visitor{namer};
    visitor.blocks(document.body);
    for (tree::Note& note : document.notes) visitor.blocks(note.blocks);
    for (auto& list : document.headers) visitor.blocks(list);
    for (auto& list : document.footers) visitor.blocks(list);
    for (tree::BinaryItem& item : document.images) item.name = namer.name(item.name);
}

}  // namespace marlune
