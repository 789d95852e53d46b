// The HWPX reader's entry: the package opened, its index, header and
// sections read part by part into one document tree, then master pages,
// pictures' bytes and metadata.
#include "hwpx/hwpx_tree.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

#include "container/media_type.hpp"
#include "container/private_use.hpp"
#include "hwpx/package.hpp"
#include "hwpx/section_walk.hpp"

namespace marlune {

namespace {

constexpr std::string_view kDefaultHeaderPath = "Contents/header.xml";
constexpr std::string_view kOctetStream = "application/octet-stream";
// Outline levels past this are written at the deepest Markdown heading.
constexpr std::uint32_t kDeepestHeading = 6;

// Header text is inflated this much at a time while a paragraph shape is looked for.
constexpr std::size_t kHeaderPieceBytes = 4096;
// Numbering and bullet ids index the document's lists directly; ids past
// this (no real header comes near) are left out.
constexpr std::uint32_t kMaxListIds = 1024;
constexpr std::uint32_t kMaxNumberingLevels = 10;
// Character shape ids past this are read as plain.
constexpr std::uint32_t kMaxCharShapes = 1U << 16;

// The value of an attribute in one start tag ("<hh:paraPr id=\"3\" ...>"), or
// empty.
std::string_view tag_attribute(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
        const std::size_t quote = at + name.size() + 1;
        if (at == 0 || tag[at - 1] != ' ' || quote >= tag.size() || tag[quote - 1] != '=') continue;
        if (tag[quote] != '"' && tag[quote] != '\'') continue;
        const std::size_t end = tag.find(tag[quote], quote + 1);
        if (end != std::string_view::npos) return tag.substr(quote + 1, end - quote - 1);
    }
    return {};
}

std::optional<std::uint32_t> decimal(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The start tag that encloses position `at`: from the last '<' before it
// to the next '>'.
std::string_view tag_around(std::string_view xml, std::size_t at) {
    const std::size_t open = xml.rfind('<', at);
    const std::size_t close = xml.find('>', at);
    if (open == std::string_view::npos || close == std::string_view::npos) return {};
    return xml.substr(open, close - open);
}

// The first `needle` in xml at or after `from`, found by memchr through its
// byte at `key` (not its last): a capital letter, which a header holds far fewer of than
// the '<', '"' or lower-case letters a needle starts with.
std::size_t find_by_key(std::string_view xml, std::size_t from, std::string_view needle, std::size_t key) {
    for (std::size_t at = from + key; at < xml.size(); ++at) {
        const void* found = std::memchr(xml.data() + at, needle[key], xml.size() - at);
        if (found == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const char*>(found) - xml.data());
        const std::size_t start = at - key;
        if (xml.size() - start < needle.size() || xml[at + 1] != needle[key + 1]) continue;
        if (xml.compare(start, needle.size(), needle) == 0) return start;
    }
    return std::string_view::npos;
}

// The last `needle` in xml at or after `from`, found front to back with
// find_bytes (a string view's rfind compares at every byte, and a header is
// long).
std::size_t find_last(std::string_view xml, std::string_view needle, std::size_t from) noexcept {
    std::size_t last = std::string_view::npos;
    for (std::size_t at = find_bytes(xml, needle, from); at != std::string_view::npos;
         at = find_bytes(xml, needle, at + 1)) {
        last = at;
    }
    return last;
}

// Whether the tag around position `at` is an end tag ("</hh:paraProperties>").
bool is_end_tag(std::string_view xml, std::size_t at) {
    const std::size_t open = xml.rfind('<', at);
    return open != std::string_view::npos && open + 1 < xml.size() && xml[open + 1] == '/';
}

std::uint32_t attribute_u32(pugi::xml_node node, const char* name) {
    return decimal(node.attribute(name).value()).value_or(UINT32_MAX);
}

// The emphasis an hh:charPr gives: hh:bold, hh:italic, hh:strikeout of a
// shape other than NONE, hh:supscript, hh:subscript.
std::uint8_t char_shape_emphasis(pugi::xml_node shape) {
    std::uint8_t bits = 0;
    for (pugi::xml_node item : shape.children()) {
        const std::string_view name = local_name(item);
        if (name == "bold") bits |= tree::emphasis::Bold;
        else if (name == "italic") bits |= tree::emphasis::Italic;
        else if (name == "supscript") bits |= tree::emphasis::Superscript;
        else if (name == "subscript") bits |= tree::emphasis::Subscript;
        else if (name == "strikeout" && std::string_view(item.attribute("shape").value()) != "NONE" &&
                 *item.attribute("shape").value() != '\0') {
            bits |= tree::emphasis::Strike;
        }
    }
    return bits;
}

// A numbering's levels from its paraHead elements (level 1-based, the
// format as the element's text); an unknown format is written in digits.
tree::Numbering read_numbering(pugi::xml_node numbering) {
    tree::Numbering out;
    for (pugi::xml_node head : numbering.children()) {
        if (local_name(head) != "paraHead") continue;
        const std::uint32_t level = attribute_u32(head, "level");
        if (level == 0 || level > kMaxNumberingLevels) continue;
        if (out.levels.size() < level) out.levels.resize(level);
        tree::NumberingLevel& entry = out.levels[level - 1];
        entry.format = head.text().get();
        entry.start = decimal(head.attribute("start").value()).value_or(1);
        entry.shape = number_shape_named(head.attribute("numFormat").value());
    }
    return out;
}

// The header part, opened on first use and shared by its readers (the
// paragraph shapes, the symbol fonts): each pulls it as far as it needs,
// and what one has pulled serves the other.
class HeaderPart {
public:
    HeaderPart(ZipArchive& zip, const PackageIndex& index) : zip_(zip), index_(index) {}

    // The header's stream; null when it is missing or cannot be read.
    EntryStream* stream() {
        if (!opened_) {
            opened_ = true;
            const ManifestItem* item = index_.item("header");
            const ZipEntry* entry =
                find_item_entry(zip_, item != nullptr ? std::string_view(item->href) : kDefaultHeaderPath);
            if (entry == nullptr) entry = zip_.find(kDefaultHeaderPath);
            if (entry == nullptr) return nullptr;
            if (auto opened = zip_.stream(*entry)) stream_ = std::move(*opened);
        }
        return stream_.get();
    }

private:
    ZipArchive& zip_;
    const PackageIndex& index_;
    std::unique_ptr<EntryStream> stream_;
    bool opened_ = false;
};

// The heading of each paragraph shape: its outline level (1..6) and the
// number or bullet it draws, read from the header as paragraphs ask for it.
// The header is mostly fonts, borders and character shapes, and is larger
// than the sections in most documents: it is inflated only as far as the
// shapes the paragraphs name (at most to the end of the paragraph shapes),
// and scanned for each shape's heading element instead of parsed (it stands
// in its paraPr, directly or inside an hp:switch branch). The first paraPr
// of an id decides it. The numberings and bullets, which come just before
// the paragraph shapes, are parsed once the first shape is met.
class ParagraphShapes {
public:
    ParagraphShapes(HeaderPart& header, tree::Document& document) : header_(header), document_(document) {}

    // The emphasis of a character shape: the character shapes come before
    // the paragraph shapes and are read with the numberings.
    std::uint8_t emphasis(std::uint32_t char_id) {
        while (!lists_read_ && read_more()) {
        }
        return char_id < char_emphasis_.size() ? char_emphasis_[char_id] : 0;
    }

    ParagraphHeading heading(std::uint32_t shape_id) {
        for (;;) {
            if (const auto known = headings_.find(shape_id); known != headings_.end()) return known->second;
            if (!read_more()) return {};
        }
    }

private:
    // Inflates the next piece and settles the paraPr elements it completes;
    // false once the paragraph shapes are all read.
    bool read_more() {
        EntryStream* stream = finished_ ? nullptr : header_.stream();
        if (stream == nullptr) {
            finished_ = true;
            return false;
        }
        const bool more = stream->pull(kHeaderPieceBytes);
        const std::string_view xml = stream->text();
        // Each "paraPr" is a shape's start tag ("paraPr "), which ends the
        // shape before it, or the end of the list ("</hh:paraProperties>").
        constexpr std::string_view kMark = "paraPr";
        constexpr std::string_view kListEnd = "paraProperties>";
        // Where the next search starts: before a mark cut by the end of
        // what has come out so far.
        std::size_t resume = xml.size() - std::min(xml.size(), kMark.size() - 1);
        for (std::size_t at = find_by_key(xml, scanned_, kMark, 4); at != std::string_view::npos;
             at = find_by_key(xml, at + 1, kMark, 4)) {
            if (more && xml.size() - at < kListEnd.size()) {
                resume = at;  // the rest of the mark is yet to come
                break;
            }
            const std::string_view rest = xml.substr(at);
            if (rest.starts_with(kListEnd) && is_end_tag(xml, at)) {
                if (!lists_read_) read_lists(xml.substr(0, at));
                settle(xml, at);
                finished_ = true;
                return true;
            }
            if (rest.size() > kMark.size() && rest[kMark.size()] == ' ') {
                if (!lists_read_) read_lists(xml.substr(0, at));
                settle(xml, at);
                shape_at_ = at;
            }
        }
        scanned_ = std::max(scanned_, resume);
        if (!more) {
            // The header ended without the list's end: its last shape counts
            // only when the whole header came out intact.
            if (stream->complete()) settle(xml, xml.size());
            if (!lists_read_) read_lists(xml);
            finished_ = true;
        }
        return true;
    }

    // The shape whose start tag is at shape_at_, ending at `end`.
    void settle(std::string_view xml, std::size_t end) {
        if (shape_at_ == std::string_view::npos) return;
        const auto id = decimal(tag_attribute(tag_around(xml, shape_at_), "id"));
        if (!id) return;
        constexpr std::string_view kHeading = "heading ";
        ParagraphHeading heading;
        const std::string_view shape = xml.substr(shape_at_, end - shape_at_);
        for (std::size_t at = find_bytes(shape, kHeading); at != std::string_view::npos;
             at = find_bytes(shape, kHeading, at + 1)) {
            if (at == 0 || (shape[at - 1] != ':' && shape[at - 1] != '<')) continue;
            const std::string_view tag = tag_around(shape, at);
            const std::string_view type = tag_attribute(tag, "type");
            const std::uint32_t level = std::min<std::uint32_t>(decimal(tag_attribute(tag, "level")).value_or(0), 9);
            heading.head.level = static_cast<std::uint8_t>(level);
            if (type == "OUTLINE") {
                heading.level = static_cast<std::uint8_t>(std::min(level + 1, kDeepestHeading));
                heading.head.kind = tree::ParagraphHead::Kind::Outline;
            } else if (type == "NUMBER" || type == "BULLET") {
                heading.head.kind = type == "NUMBER" ? tree::ParagraphHead::Kind::Number : tree::ParagraphHead::Kind::Bullet;
                heading.head.id = decimal(tag_attribute(tag, "idRef")).value_or(UINT32_MAX);
            }
            break;
        }
        headings_.emplace(*id, heading);
    }

    // The numberings and bullets before the paragraph shapes, parsed as one
    // fragment; each stored under its own id.
    void read_lists(std::string_view xml) {
        lists_read_ = true;
        read_char_shapes(xml);
        const std::size_t first = std::min(find_bytes(xml, "numberings"), find_bytes(xml, "bullets"));
        const std::size_t open = first == std::string_view::npos ? first : xml.rfind('<', first);
        // Past the later of the two lists' end tags (each after its list's
        // name, so after `first`).
        std::size_t end = std::string_view::npos;
        for (const std::string_view list : {"numberings>", "bullets>"}) {
            const std::size_t at = first == std::string_view::npos ? first : find_last(xml, list, first);
            if (at == std::string_view::npos || !is_end_tag(xml, at)) continue;
            if (end == std::string_view::npos || at + list.size() > end) end = at + list.size();
        }
        if (open == std::string_view::npos || end == std::string_view::npos || end <= first) return;
        pugi::xml_document fragment;
        if (!fragment.load_buffer(xml.data() + open, end - open, pugi::parse_default | pugi::parse_fragment)) return;
        for (pugi::xml_node list : fragment.children()) {
            for (pugi::xml_node item : list.children()) {
                const std::uint32_t id = attribute_u32(item, "id");
                if (id >= kMaxListIds) continue;
                if (local_name(item) == "numbering") {
                    if (document_.numberings.size() <= id) document_.numberings.resize(std::size_t{id} + 1);
                    document_.numberings[id] = read_numbering(item);
                } else if (local_name(item) == "bullet") {
                    if (document_.bullets.size() <= id) document_.bullets.resize(std::size_t{id} + 1);
                    document_.bullets[id] = item.attribute("char").value();
                }
            }
        }
    }

    // The character shapes' emphasis from the charProperties list, parsed
    // as one fragment.
    void read_char_shapes(std::string_view xml) {
        const std::size_t first = find_bytes(xml, "charProperties");
        const std::size_t close = first == std::string_view::npos ? first : find_last(xml, "charProperties>", first);
        if (first == std::string_view::npos || close == std::string_view::npos || close <= first ||
            !is_end_tag(xml, close)) {
            return;
        }
        const std::size_t open = xml.rfind('<', first);
        if (open == std::string_view::npos) return;
        const std::size_t end = close + std::string_view("charProperties>").size();
        pugi::xml_document fragment;
        if (!fragment.load_buffer(xml.data() + open, end - open, pugi::parse_default | pugi::parse_fragment)) return;
        for (pugi::xml_node shape : fragment.first_child().children()) {
            const std::uint32_t id = attribute_u32(shape, "id");
            if (id >= kMaxCharShapes) continue;
            if (char_emphasis_.size() <= id) char_emphasis_.resize(std::size_t{id} + 1, 0);
            char_emphasis_[id] = char_shape_emphasis(shape);
        }
    }

    HeaderPart& header_;
    tree::Document& document_;  // takes the numberings and bullets
    std::vector<std::uint8_t> char_emphasis_;  // by character shape id
    std::unordered_map<std::uint32_t, ParagraphHeading> headings_;  // by shape id
    std::size_t scanned_ = 0;                               // where the search for the next mark resumes
    std::size_t shape_at_ = std::string_view::npos;         // the start tag of the shape being read
    bool finished_ = false;
    bool lists_read_ = false;
};

// The extension of a path's last component.
// The symbol fonts of the character shapes, read from the header when the
// first run asks. The faces lead the header: when none is a symbol font
// (nearly every document) nothing past them is inflated; otherwise the
// character shapes that follow them are read too.
class CharShapeFonts {
public:
    explicit CharShapeFonts(HeaderPart& header) : header_(header) {}

    RunFonts fonts(std::uint32_t shape_id) {
        if (!read_) read();
        const auto found = fonts_.find(shape_id);
        return found == fonts_.end() ? RunFonts{} : found->second;
    }

private:
    // The languages of the face lists and of fontRef's attributes.
    static constexpr std::array<std::string_view, FACE_LANGUAGES> kLanguages{
        "hangul", "latin", "hanja", "japanese", "other", "symbol", "user"};

    static std::size_t language(std::string_view name) noexcept {
        for (std::size_t k = 0; k < kLanguages.size(); ++k) {
            if (name.size() == kLanguages[k].size() &&
                std::equal(name.begin(), name.end(), kLanguages[k].begin(),
                           [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; })) {
                return k;
            }
        }
        return kLanguages.size();
    }

    // Where the end tag of a list ("</hh:fontfaces>", given as
    // "fontfaces>") stands in xml, or npos.
    static std::size_t end_tag(std::string_view xml, std::string_view name, std::size_t from = 0) {
        for (std::size_t at = find_bytes(xml, name, from); at != std::string_view::npos;
             at = find_bytes(xml, name, at + 1)) {
            if (is_end_tag(xml, at)) return at;
        }
        return std::string_view::npos;
    }

    // Inflates until the end tag of a list has come out, or the part ends;
    // returns where it stands (the end of the text when it never came).
    static std::size_t pull_past(EntryStream& stream, std::string_view name) {
        std::size_t scanned = 0;
        for (;;) {
            const std::size_t at = end_tag(stream.text(), name, scanned);
            if (at != std::string_view::npos) return at;
            scanned = stream.text().size() - std::min(stream.text().size(), name.size());
            if (!stream.pull(kHeaderPieceBytes)) return stream.text().size();
        }
    }

    // Calls each(tag, local name) for every start tag in xml.
    template <class Each>
    static void for_each_tag(std::string_view xml, Each each) {
        for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
            const std::string_view tag = tag_around(xml, at + 1);
            if (tag.size() < 2 || tag[1] == '/' || tag[1] == '?' || tag[1] == '!') continue;
            std::string_view name = tag.substr(1, tag.find_first_of(" \t\r\n/") - 1);
            if (const std::size_t colon = name.find(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
            each(tag, name);
        }
    }

    void read() {
        read_ = true;
        EntryStream* stream = header_.stream();
        if (stream == nullptr) return;
        const std::size_t faces_end = pull_past(*stream, "fontfaces>");
        std::array<std::unordered_map<std::uint32_t, SymbolFont>, FACE_LANGUAGES> faces;
        bool symbols = false;
        std::size_t list = FACE_LANGUAGES;
        for_each_tag(stream->text().substr(0, faces_end), [&](std::string_view tag, std::string_view name) {
            if (name == "fontface") list = language(tag_attribute(tag, "lang"));
            if (name != "font" || list >= FACE_LANGUAGES) return;
            const SymbolFont font = symbol_font(tag_attribute(tag, "face"));
            const auto id = decimal(tag_attribute(tag, "id"));
            if (font == SymbolFont::None || !id) return;
            faces[list].emplace(*id, font);
            symbols = true;
        });
        if (!symbols) return;
        const std::size_t shapes_end = pull_past(*stream, "charProperties>");
        std::optional<std::uint32_t> shape;
        for_each_tag(stream->text().substr(faces_end, shapes_end - std::min(faces_end, shapes_end)), [&](std::string_view tag, std::string_view name) {
            if (name == "charPr") shape = decimal(tag_attribute(tag, "id"));
            if (name != "fontRef" || !shape) return;
            const auto face = [&](std::size_t list_index) {
                const auto id = decimal(tag_attribute(tag, kLanguages[list_index]));
                if (!id) return SymbolFont::None;
                const auto found = faces[list_index].find(*id);
                return found == faces[list_index].end() ? SymbolFont::None : found->second;
            };
            const RunFonts fonts = run_fonts(face);
            if (fonts.any()) fonts_.emplace(*shape, fonts);
            shape.reset();
        });
    }

    HeaderPart& header_;
    std::unordered_map<std::uint32_t, RunFonts> fonts_;  // shapes with a symbol font
    bool read_ = false;
};

std::string_view extension_of(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find_first_of("/\\", dot) != std::string_view::npos) return {};
    return path.substr(dot + 1);
}

// Where a package keeps its binary items.
constexpr std::string_view kBinDataFolder = "BinData/";

// Pictures by binary item id: the item's path in the package, and, when
// asked, each item's bytes once. A missing or damaged item keeps its name
// without data; an item outside BinData/ that the package does not hold is
// a file the picture links to.
class PictureItems {
public:
    PictureItems(ZipArchive& zip, const PackageIndex& index, tree::Document& document, bool collect)
        : zip_(zip), index_(index), document_(document), collect_(collect) {}

    // The item's path in the package (the renderer's safe name is made
    // from it), or the file outside the package the picture links to.
    void name(std::string_view id, tree::Image& image) {
        const ManifestItem* item = index_.item(id);
        if (item == nullptr) return;
        if (!item->href.starts_with(kBinDataFolder) && find_item_entry(zip_, item->href) == nullptr) {
            image.linked_path = item->href;
            return;
        }
        if (collect_ && collected_.insert(item->href).second) collect(*item);
        image.name = item->href;
    }

private:
    void collect(const ManifestItem& item) {
        const ZipEntry* entry = find_item_entry(zip_, item.href);
        if (entry == nullptr) return;
        auto bytes = zip_.read(*entry);
        if (!bytes) return;
        std::string_view media_type = sniff_media_type(*bytes, extension_of(item.href));
        if (media_type == kOctetStream && !item.media_type.empty()) media_type = item.media_type;
        document_.images.push_back(tree::BinaryItem{
            item.href, std::string(media_type), std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size())});
    }

    ZipArchive& zip_;
    const PackageIndex& index_;
    tree::Document& document_;
    bool collect_;
    std::set<std::string> collected_;
};

// The master pages a section's definition names (hp:secPr > hp:masterPage).
void collect_master_pages(pugi::xml_node section, std::vector<std::string>& ids) {
    for (pugi::xml_node paragraph : section.children()) {
        for (pugi::xml_node run : paragraph.children()) {
            const pugi::xml_node definition = child_named(run, "secPr");
            for (pugi::xml_node page : definition.children()) {
                if (local_name(page) == "masterPage") ids.emplace_back(page.attribute("idRef").value());
            }
        }
        break;  // the definition sits in the section's first paragraph
    }
}

// Master-page text goes with the footers, each page once.
void walk_master_pages(ZipArchive& zip, const PackageIndex& index, const std::vector<std::string>& ids,
                       SectionWalker& walker, tree::Document& document) {
    std::set<std::string_view> seen;
    for (const std::string& id : ids) {
        const ManifestItem* item = index.item(id);
        if (item == nullptr || !seen.insert(id).second) continue;
        const ZipEntry* entry = find_item_entry(zip, item->href);
        if (entry == nullptr) continue;
        // Read a run at a time, as sections are; a malformed page is left out.
        auto runs = read_xml_runs(zip, *entry);
        if (!runs) continue;
        std::vector<tree::Block> blocks;
        for (;;) {
            auto run = runs->next();
            if (!run) blocks.clear();
            if (!run || !*run) break;
            walker.walk_list(*run, *runs, blocks);
        }
        if (!blocks.empty()) document.footers.push_back(std::move(blocks));
    }
}

}  // namespace

Result<tree::Document> build_hwpx_tree(std::span<const std::uint8_t> bytes, const ConvertOptions& options) {
    auto zip = ZipArchive::open(bytes);
    if (!zip) return std::unexpected(std::move(zip.error()));
    if (auto checked = check_package(*zip); !checked) return std::unexpected(std::move(checked.error()));

    tree::Document document;
    PackageIndex index = read_package_index(*zip, options.metadata);
    HeaderPart header(*zip, index);
    ParagraphShapes shapes(header, document);
    PictureItems pictures(*zip, index, document, options.collect_images);
    std::function<std::uint8_t(std::uint32_t)> emphasis;
    if (options.emphasis) emphasis = [&shapes](std::uint32_t char_id) { return shapes.emphasis(char_id); };
    CharShapeFonts fonts(header);
    SectionWalker walker(document, WalkSetup{[&shapes](std::uint32_t shape_id) { return shapes.heading(shape_id); },
                                             std::move(emphasis),
                                             [&pictures](std::string_view id, tree::Image& image) {
                                                 pictures.name(id, image);
                                             },
                                             [&fonts](std::uint32_t shape_id) { return fonts.fonts(shape_id); },
                                             options.placeholders});

    std::vector<std::string> master_pages;
    for (const std::string& path : section_paths(*zip, index)) {
        // A section is parsed a run of paragraphs at a time: a whole DOM
        // would cost several times the section's bytes.
        auto runs = read_xml_runs(*zip, *zip->find(path));
        if (!runs) return std::unexpected(std::move(runs.error()));
        if (runs->root_name() != "sec") continue;
        walker.begin_section();
        for (bool first = true;; first = false) {
            auto run = runs->next();
            if (!run) return std::unexpected(std::move(run.error()));
            if (!*run) break;
            walker.walk_run(*run, *runs);
            if (first && options.headers) collect_master_pages(*run, master_pages);
        }
        ++document.metadata.sections;
    }
    if (options.headers) walk_master_pages(*zip, index, master_pages, walker, document);

    const std::uint32_t sections = document.metadata.sections;
    document.metadata = std::move(index.metadata);
    document.metadata.sections = sections;
    document.metadata.format = "hwpx";
    document.metadata.version = read_package_version(*zip);
    return document;
}

std::size_t set_hwpx_run_bytes(std::size_t bytes) noexcept { return set_xml_run_bytes(bytes); }

}  // namespace marlune
