// The parts of an HWPX package: the encryption check, the content index
// (Contents/content.hpf: manifest items, spine, metadata), the section parts
// in reading order and the format version.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "container/xml_part.hpp"
#include "container/zip_archive.hpp"
#include "marlune/tree.hpp"

namespace marlune {

struct ManifestItem {
    std::string id;
    std::string href;        // the entry's path in the package
    std::string media_type;
};

struct PackageIndex {
    std::vector<ManifestItem> items;
    std::vector<std::string> spine;  // item ids in reading order
    tree::Metadata metadata;         // what content.hpf says; sections and version filled later
    bool found = false;              // content.hpf was present and well formed

    // The item of that id, or null.
    const ManifestItem* item(std::string_view id) const noexcept;
};

// Refuses what is not an HWPX package or is encrypted; a missing content
// index is not an error (the section parts are then found by name).
Result<void> check_package(ZipArchive& zip);

// The content index; empty when content.hpf is missing or damaged. The
// metadata is read only when asked for.
PackageIndex read_package_index(ZipArchive& zip, bool with_metadata);

// The section parts in reading order: the spine's, or Contents/section<N>.xml
// in number order when the spine names none.
std::vector<std::string> section_paths(const ZipArchive& zip, const PackageIndex& index);

// The entry an item's href names (relative to the package root, or to
// Contents/ as some writers have it), or null.
const ZipEntry* find_item_entry(const ZipArchive& zip, std::string_view href);

// "major.minor.micro.build" from version.xml, or empty.
std::string read_package_version(ZipArchive& zip);

// The entry inflated and parsed.
Result<std::unique_ptr<XmlPart>> read_xml_part(ZipArchive& zip, const ZipEntry& entry);

// The entry inflated, to be parsed a run of its root's children at a time.
Result<XmlRuns> read_xml_runs(ZipArchive& zip, const ZipEntry& entry);

// "2023-09-25T04:54:53Z" (optionally with fractions and an offset) as
// microseconds since the Unix epoch, UTC.
std::optional<std::int64_t> parse_iso_time(std::string_view text) noexcept;

}  // namespace marlune
