// The compound-file reader's directory: listing a storage, finding names as
// the directory compares them, trees that are unsorted or loop. The damage
// cases of whole documents are in tests/python/test_container.py.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "container/compound_file.hpp"
#include "record_builders.hpp"

namespace marlune {
namespace {

using test_records::Bytes;
using test_records::put_u16;
using test_records::put_u32;

constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr std::uint32_t kEnd = 0xFFFFFFFE;

struct TestEntry {
    std::u16string name;
    std::uint32_t left = kNone, right = kNone, child = kNone;
    std::uint8_t type = 2;
};

// A version 3 file: the FAT first, then the directory, then entry k's
// stream (4 bytes: k, 0, 0, 0) in its own sector. The mini stream cutoff is
// 0, so every stream lives in ordinary sectors. Entry 0 is the root.
Bytes compound_file(const std::vector<TestEntry>& entries) {
    const auto directory_sectors = static_cast<std::uint32_t>((entries.size() + 3) / 4);
    const auto data_sectors = directory_sectors + static_cast<std::uint32_t>(entries.size() - 1);
    const std::uint32_t fat_sectors = (data_sectors + 127) / 127;  // the FAT covers itself too
    const std::uint32_t first_stream = fat_sectors + directory_sectors;
    Bytes out(512, 0);
    const std::uint8_t magic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(magic), std::end(magic), out.begin());
    const auto set_u16 = [&](std::size_t at, std::uint16_t v) { out[at] = v & 0xFF, out[at + 1] = v >> 8; };
    const auto set_u32 = [&](std::size_t at, std::uint32_t v) {
        set_u16(at, static_cast<std::uint16_t>(v & 0xFFFF)), set_u16(at + 2, static_cast<std::uint16_t>(v >> 16));
    };
    set_u16(24, 0x3E), set_u16(26, 3), set_u16(28, 0xFFFE), set_u16(30, 9), set_u16(32, 6);
    set_u32(44, fat_sectors), set_u32(48, fat_sectors), set_u32(56, 0), set_u32(60, kEnd), set_u32(68, kEnd);
    for (std::uint32_t k = 0; k < 109; ++k) set_u32(76 + 4 * k, k < fat_sectors ? k : kNone);

    Bytes fat;
    for (std::uint32_t s = 0; s < fat_sectors; ++s) put_u32(fat, 0xFFFFFFFD);
    for (std::uint32_t s = 1; s <= directory_sectors; ++s) {
        put_u32(fat, s == directory_sectors ? kEnd : fat_sectors + s);
    }
    for (std::size_t k = 1; k < entries.size(); ++k) put_u32(fat, kEnd);
    fat.resize(512 * fat_sectors, 0xFF);
    out.insert(out.end(), fat.begin(), fat.end());

    for (std::size_t k = 0; k < directory_sectors * 4; ++k) {
        Bytes entry(128, 0);
        if (k < entries.size()) {
            const TestEntry& e = entries[k];
            Bytes name;
            test_records::put_utf16(name, e.name);
            std::copy(name.begin(), name.end(), entry.begin());
            entry[64] = static_cast<std::uint8_t>(name.size() + 2);
            entry[66] = k == 0 ? 5 : e.type;
            Bytes links;
            put_u32(links, e.left), put_u32(links, e.right), put_u32(links, e.child);
            std::copy(links.begin(), links.end(), entry.begin() + 68);
            Bytes place;
            put_u32(place, k == 0 || e.type != 2 ? kEnd : first_stream + static_cast<std::uint32_t>(k) - 1);
            put_u32(place, k == 0 || e.type != 2 ? 0 : 4), put_u32(place, 0);
            std::copy(place.begin(), place.end(), entry.begin() + 116);
        }
        out.insert(out.end(), entry.begin(), entry.end());
    }
    for (std::size_t k = 1; k < entries.size(); ++k) {
        Bytes sector(512, 0);
        sector[0] = static_cast<std::uint8_t>(k);
        out.insert(out.end(), sector.begin(), sector.end());
    }
    return out;
}

struct DirectoryCase {
    const char* name;
    std::vector<TestEntry> entries;
    const char* storage;
    std::vector<std::string> listed;
    // Paths that must read as the stream of the given entry.
    std::vector<std::pair<std::string, int>> found;
};

const std::vector<DirectoryCase> kDirectoryCases{
    {"a sorted tree lists in order and finds every name in any case",
     {{u"Root Entry", kNone, kNone, 2}, {u"b", kNone, kNone}, {u"BB", 1, 3}, {u"CCC"}},
     "/",
     {"b", "BB", "CCC"},
     {{"/b", 1}, {"/B", 1}, {"/bb", 2}, {"/ccc", 3}, {"CCC", 3}}},
    {"an unsorted tree is listed in tree order and still found",
     {{u"Root Entry", kNone, kNone, 2}, {u"Zed", kNone, kNone}, {u"A", 1, 3}, {u"Long name"}},
     "/",
     {"Zed", "A", "Long name"},
     {{"/Zed", 1}, {"/A", 2}, {"/Long name", 3}}},
    {"Korean names round-trip through UTF-8",
     {{u"Root Entry", kNone, kNone, 1}, {u"\uBCF8\uBB38", kNone, 2}, {u"\uADF8\uB9BC"}},
     "/",
     {"본문", "그림"},
     {{"/본문", 1}, {"/그림", 2}}},
    {"a storage's children, by path",
     {{u"Root Entry", kNone, kNone, 1}, {u"BinData", kNone, kNone, 2, 1}, {u"BIN0001.png", kNone, 3}, {u"BIN0002.png"}},
     "/BinData",
     {"BIN0001.png", "BIN0002.png"},
     {{"/BinData/BIN0002.png", 3}, {"/bindata/bin0001.PNG", 2}}},
    {"sibling links that loop or leave the directory end the walk",
     {{u"Root Entry", kNone, kNone, 1}, {u"A", 1, 2}, {u"B", 99, 1}},
     "/",
     {"A", "B"},
     {{"/A", 1}, {"/B", 2}}},
    {"a stream is not a storage", {{u"Root Entry", kNone, kNone, 1}, {u"A"}}, "/A", {}, {}},
    {"a missing storage lists nothing", {{u"Root Entry", kNone, kNone, 1}, {u"A"}}, "/B", {}, {}},
};

TEST(CompoundFile, DirectoryListsAndFindsNames) {
    for (const DirectoryCase& c : kDirectoryCases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = compound_file(c.entries);
        auto file = CompoundFile::open(bytes);
        ASSERT_TRUE(file.has_value()) << display_text(file.error());
        EXPECT_EQ(file->list_storage(c.storage), c.listed);
        for (const auto& [path, entry] : c.found) {
            SCOPED_TRACE(path);
            auto stream = file->read_stream(path);
            ASSERT_TRUE(stream.has_value()) << display_text(stream.error());
            ASSERT_EQ(stream->size(), 4u);
            EXPECT_EQ((*stream).data()[0], entry);
        }
    }
}

}  // namespace
}  // namespace marlune
