// The package parts around the sections: mimetype and encryption manifest,
// the content index with its metadata, the spine, version.xml.
#include "hwpx/package.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <set>

namespace marlune {

namespace {

constexpr std::string_view kMimetypePath = "mimetype";
constexpr std::string_view kMimetypePrefix = "application/hwp";
constexpr std::string_view kEncryptionManifestPath = "META-INF/manifest.xml";
constexpr std::string_view kContentIndexPath = "Contents/content.hpf";
constexpr std::string_view kVersionPath = "version.xml";
constexpr std::string_view kSectionPrefix = "Contents/section";
constexpr std::string_view kXmlSuffix = ".xml";

bool contains(const ByteBuffer& bytes, std::string_view needle) {
    const std::string_view haystack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return haystack.find(needle) != std::string_view::npos;
}

// The text of an element, or nothing when empty.
std::optional<std::string> element_text(pugi::xml_node node) {
    const std::string_view text = node.text().get();
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

void read_metadata(pugi::xml_node metadata, tree::Metadata& out) {
    for (pugi::xml_node node : metadata.children()) {
        const std::string_view name = local_name(node);
        if (name == "title") {
            out.title = element_text(node);
            continue;
        }
        if (name != "meta") continue;
        const std::string_view key = node.attribute("name").value();
        if (key == "creator") out.author = element_text(node);
        else if (key == "subject") out.subject = element_text(node);
        else if (key == "description") out.comments = element_text(node);
        else if (key == "keyword") out.keywords = element_text(node);
        else if (key == "lastsaveby") out.last_saved_by = element_text(node);
        else if (key == "CreatedDate") out.created = parse_iso_time(node.text().get());
        else if (key == "ModifiedDate") out.modified = parse_iso_time(node.text().get());
    }
}

// The N of "Contents/section<N>.xml", or nothing for any other name.
std::optional<std::uint32_t> section_number(std::string_view name) {
    if (!name.starts_with(kSectionPrefix) || !name.ends_with(kXmlSuffix)) return std::nullopt;
    const std::string_view digits = name.substr(kSectionPrefix.size(), name.size() - kSectionPrefix.size() - 4);
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return number;
}

// Reads digits of a fixed count at text[at]; nothing when any is missing.
std::optional<int> fixed_digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t k = at; k < at + count; ++k) {
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
        value = value * 10 + (text[k] - '0');
    }
    return value;
}

}  // namespace

const ManifestItem* PackageIndex::item(std::string_view id) const noexcept {
    const auto it = std::find_if(items.begin(), items.end(), [id](const ManifestItem& i) { return i.id == id; });
    return it != items.end() ? &*it : nullptr;
}

Result<void> check_package(ZipArchive& zip) {
    if (const ZipEntry* manifest = zip.find(kEncryptionManifestPath)) {
        auto bytes = zip.read(*manifest);
        if (bytes && contains(*bytes, "encryption-data")) return std::unexpected(HwpError::password_protected());
    }
    bool hwpx = zip.find(kContentIndexPath) != nullptr;
    if (const ZipEntry* mimetype = zip.find(kMimetypePath); mimetype != nullptr && !hwpx) {
        auto bytes = zip.read(*mimetype);
        hwpx = bytes && contains(*bytes, kMimetypePrefix);
    }
    for (const ZipEntry& entry : zip.entries()) hwpx = hwpx || section_number(entry.name).has_value();
    if (!hwpx) return std::unexpected(HwpError::package("not an HWPX package (no content index or sections)"));
    return {};
}

PackageIndex read_package_index(ZipArchive& zip, bool with_metadata) {
    PackageIndex index;
    const ZipEntry* entry = zip.find(kContentIndexPath);
    if (entry == nullptr) return index;
    auto part = read_xml_part(zip, *entry);
    if (!part) return index;
    index.found = true;
    const pugi::xml_node package = (*part)->root();
    if (with_metadata) read_metadata(child_named(package, "metadata"), index.metadata);
    for (pugi::xml_node item : child_named(package, "manifest").children()) {
        if (local_name(item) != "item") continue;
        index.items.push_back({item.attribute("id").value(), item.attribute("href").value(),
                               item.attribute("media-type").value()});
        std::replace(index.items.back().href.begin(), index.items.back().href.end(), '\\', '/');
    }
    for (pugi::xml_node ref : child_named(package, "spine").children()) {
        if (local_name(ref) == "itemref") index.spine.emplace_back(ref.attribute("idref").value());
    }
    return index;
}

const ZipEntry* find_item_entry(const ZipArchive& zip, std::string_view href) {
    if (href.empty()) return nullptr;
    if (const ZipEntry* entry = zip.find(href)) return entry;
    return zip.find("Contents/" + std::string(href));
}

std::vector<std::string> section_paths(const ZipArchive& zip, const PackageIndex& index) {
    std::vector<std::string> paths;
    std::set<std::string_view> seen;  // a spine naming a part twice reads it once
    for (const std::string& id : index.spine) {
        const ManifestItem* item = index.item(id);
        // The spine also lists the header part and scripts; sections are the other XML parts.
        if (item == nullptr || !item->href.ends_with(kXmlSuffix) || item->href.ends_with("header.xml")) continue;
        const ZipEntry* entry = find_item_entry(zip, item->href);
        if (entry != nullptr && seen.insert(entry->name).second) paths.push_back(entry->name);
    }
    if (!paths.empty()) return paths;
    std::vector<std::pair<std::uint32_t, std::string_view>> numbered;
    for (const ZipEntry& entry : zip.entries()) {
        if (auto number = section_number(entry.name)) numbered.emplace_back(*number, entry.name);
    }
    std::sort(numbered.begin(), numbered.end());
    for (const auto& [number, name] : numbered) paths.emplace_back(name);
    return paths;
}

std::string read_package_version(ZipArchive& zip) {
    const ZipEntry* entry = zip.find(kVersionPath);
    if (entry == nullptr) return {};
    auto part = read_xml_part(zip, *entry);
    if (!part) return {};
    const pugi::xml_node root = (*part)->root();
    std::string version;
    for (const char* key : {"major", "minor", "micro", "buildNumber"}) {
        if (!version.empty()) version += '.';
        version += std::to_string(root.attribute(key).as_uint());
    }
    return version;
}

Result<std::unique_ptr<XmlPart>> read_xml_part(ZipArchive& zip, const ZipEntry& entry) {
    auto bytes = zip.read(entry);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return XmlPart::parse(std::move(*bytes), entry.name);
}

Result<XmlRuns> read_xml_runs(ZipArchive& zip, const ZipEntry& entry) {
    auto bytes = zip.read(entry);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return XmlRuns::open(std::move(*bytes), entry.name);
}

std::optional<std::int64_t> parse_iso_time(std::string_view text) noexcept {
    const auto year = fixed_digits(text, 0, 4), month = fixed_digits(text, 5, 2), day = fixed_digits(text, 8, 2);
    const auto hour = fixed_digits(text, 11, 2), minute = fixed_digits(text, 14, 2),
               second = fixed_digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                           std::chrono::day(unsigned(*day))};
    if (!date.ok()) return std::nullopt;
    std::int64_t seconds = std::chrono::sys_days(date).time_since_epoch().count() * std::int64_t{86400} +
                           *hour * 3600 + *minute * 60 + *second;
    std::int64_t micros = 0;
    std::size_t at = 19;
    if (at < text.size() && text[at] == '.') {
        std::int64_t scale = 100000;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10) {
            micros += (text[at] - '0') * scale;
        }
    }
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const auto offset_hours = fixed_digits(text, at + 1, 2), offset_minutes = fixed_digits(text, at + 4, 2);
        if (offset_hours && offset_minutes) {
            const std::int64_t offset = *offset_hours * 3600 + *offset_minutes * 60;
            seconds += text[at] == '+' ? -offset : offset;
        }
    }
    return seconds * 1000000 + micros;
}

}  // namespace marlune
