// The HWPX reader's entry: the package opened, its index, header and
// sections read part by part into one document tree, then master pages,
// pictures' bytes and metadata.
#include "hwpx/hwpx_tree.hpp"

#include <charconv>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>

#include "container/media_type.hpp"
#include "hwpx/package.hpp"
#include "hwpx/section_walk.hpp"

namespace marlune {

namespace {

constexpr std::string_view kDefaultHeaderPath = "Contents/header.xml";
constexpr std::string_view kBinDataPrefix = "BinData/";
constexpr std::string_view kOctetStream = "application/octet-stream";
// Outline levels past this are written at the deepest Markdown heading.
constexpr std::uint32_t kDeepestHeading = 6;

// Header text is inflated this much at a time while a paragraph shape is looked for.
constexpr std::size_t kHeaderPieceBytes = 4096;

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

// Whether the tag around position `at` is an end tag ("</hh:paraProperties>").
bool is_end_tag(std::string_view xml, std::size_t at) {
    const std::size_t open = xml.rfind('<', at);
    return open != std::string_view::npos && open + 1 < xml.size() && xml[open + 1] == '/';
}

// The heading level (1..6) of each paragraph shape whose heading type is
// OUTLINE, read from the header as paragraphs ask for it. The header is
// mostly fonts, borders and character shapes, and is larger than the
// sections in most documents: it is inflated only as far as the shapes the
// paragraphs name (at most to the end of the paragraph shapes), and scanned
// for the few OUTLINE headings instead of parsed (each heading element
// stands in its paraPr, directly or inside an hp:switch branch). The first
// paraPr of an id decides it.
class OutlineHeadings {
public:
    OutlineHeadings(ZipArchive& zip, const PackageIndex& index) : zip_(zip), index_(index) {}

    std::uint8_t level(std::uint32_t shape_id) {
        for (;;) {
            if (const auto known = levels_.find(shape_id); known != levels_.end()) return known->second;
            if (!read_more()) return 0;
        }
    }

private:
    // Opens the header on first use.
    bool open() {
        opened_ = true;
        const ManifestItem* item = index_.item("header");
        const ZipEntry* entry =
            find_item_entry(zip_, item != nullptr ? std::string_view(item->href) : kDefaultHeaderPath);
        if (entry == nullptr) entry = zip_.find(kDefaultHeaderPath);
        if (entry == nullptr) return false;
        auto stream = zip_.stream(*entry);
        if (!stream) return false;
        stream_ = std::move(*stream);
        return true;
    }

    // Inflates the next piece and settles the paraPr elements it completes;
    // false once the paragraph shapes are all read.
    bool read_more() {
        if (finished_ || (!opened_ && !open())) {
            finished_ = true;
            return false;
        }
        const bool more = stream_->pull(kHeaderPieceBytes);
        const std::string_view xml = stream_->text();
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
                settle(xml, at);
                finished_ = true;
                return true;
            }
            if (rest.size() > kMark.size() && rest[kMark.size()] == ' ') {
                settle(xml, at);
                shape_at_ = at;
            }
        }
        scanned_ = std::max(scanned_, resume);
        if (!more) {
            // The header ended without the list's end: its last shape counts
            // only when the whole header came out intact.
            if (stream_->complete()) settle(xml, xml.size());
            finished_ = true;
        }
        return true;
    }

    // The shape whose start tag is at shape_at_, ending at `end`.
    void settle(std::string_view xml, std::size_t end) {
        if (shape_at_ == std::string_view::npos) return;
        const auto id = decimal(tag_attribute(tag_around(xml, shape_at_), "id"));
        if (!id) return;
        constexpr std::string_view kOutline = "\"OUTLINE\"";
        std::uint8_t level = 0;
        const std::string_view shape = xml.substr(0, end);
        for (std::size_t at = find_by_key(shape, shape_at_, kOutline, 1); at != std::string_view::npos;
             at = find_by_key(shape, at + 1, kOutline, 1)) {
            const std::string_view heading = tag_around(xml, at);
            if (!heading.substr(0, heading.find(' ')).ends_with("heading")) continue;
            if (const auto depth = decimal(tag_attribute(heading, "level"))) {
                level = static_cast<std::uint8_t>(std::min(*depth + 1, kDeepestHeading));
                break;
            }
        }
        levels_.emplace(*id, level);
    }

    ZipArchive& zip_;
    const PackageIndex& index_;
    std::unique_ptr<EntryStream> stream_;
    std::unordered_map<std::uint32_t, std::uint8_t> levels_;  // shape id -> heading level, 0 for body text
    std::size_t scanned_ = 0;                               // where the search for the next mark resumes
    std::size_t shape_at_ = std::string_view::npos;         // the start tag of the shape being read
    bool opened_ = false;
    bool finished_ = false;
};

std::string_view extension_of(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

// Pictures by binary item id: the name as stored under BinData/, and, when
// asked, each item's bytes once. A missing or damaged item keeps its name
// without data.
class PictureItems {
public:
    PictureItems(ZipArchive& zip, const PackageIndex& index, tree::Document& document, bool collect)
        : zip_(zip), index_(index), document_(document), collect_(collect) {}

    std::string name(std::string_view id) {
        const ManifestItem* item = index_.item(id);
        if (item == nullptr) return {};
        std::string_view href = item->href;
        std::string name(href.starts_with(kBinDataPrefix) ? href.substr(kBinDataPrefix.size()) : href);
        if (collect_ && collected_.insert(name).second) collect(*item, name);
        return name;
    }

private:
    void collect(const ManifestItem& item, const std::string& name) {
        const ZipEntry* entry = find_item_entry(zip_, item.href);
        if (entry == nullptr) return;
        auto bytes = zip_.read(*entry);
        if (!bytes) return;
        std::string_view media_type = sniff_media_type(*bytes, extension_of(name));
        if (media_type == kOctetStream && !item.media_type.empty()) media_type = item.media_type;
        document_.images.push_back(tree::BinaryItem{
            name, std::string(media_type), std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size())});
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
        auto part = read_xml_part(zip, *entry);
        if (!part) continue;
        auto blocks = walker.walk_list((*part)->root());
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
    OutlineHeadings headings(*zip, index);
    PictureItems pictures(*zip, index, document, options.collect_images);
    SectionWalker walker(document, WalkSetup{[&headings](std::uint32_t shape_id) { return headings.level(shape_id); },
                                             [&pictures](std::string_view id) { return pictures.name(id); }});

    std::vector<std::string> master_pages;
    for (const std::string& path : section_paths(*zip, index)) {
        auto part = read_xml_part(*zip, *zip->find(path));
        if (!part) return std::unexpected(std::move(part.error()));
        const pugi::xml_node section = (*part)->root();
        if (local_name(section) != "sec") continue;
        walker.walk_section(section);
        if (options.headers) collect_master_pages(section, master_pages);
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

}  // namespace marlune
