// Picture names from stored bytes: one component, clean UTF-8, at most 100
// bytes cut between characters, never empty, unique ignoring ASCII case.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "faithful/picture_names.hpp"

namespace marlune {
namespace {

bool is_utf8(std::string_view text) {
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead >= 0x80 && lead < 0xC2) || text.size() - k < length) return false;
        for (std::size_t i = 1; i < length; ++i) {
            if ((static_cast<unsigned char>(text[k + i]) & 0xC0) != 0x80) return false;
        }
        k += length;
    }
    return true;
}

TEST(PictureNames, StoredBytesBecomeOneCleanFileName) {
    struct Case {
        std::string_view stored;
        std::string_view name;
    };
    const Case cases[] = {
        {"BIN0001.png", "BIN0001.png"},
        {"a\xFF" "b.png", "a_b.png"},
        {"\xED\xA0\x80.png", "___.png"},
        {"a\xC2\x85" "b\x7F.png", "ab.png"},
        {"C:\\사진\\꽃.jpg", "꽃.jpg"},
        {"", "image-7"},
        {"....", "image-7"},
        {"dir/ .gif", "image-7.gif"},
        {"x.eeeeeeeeeeeeeeeeeeee", "x.eeeeeeeeeeeeeeeeeeee"},
    };
    for (const Case& c : cases) EXPECT_EQ(safe_picture_name(c.stored, 7), c.name) << c.stored;
}

TEST(PictureNames, LongNamesKeepTheirExtensionAndStayApart) {
    std::string stem;
    for (int k = 0; k < 150; ++k) stem += "가";
    const std::string one = safe_picture_name(stem + "1.jpeg", 1), two = safe_picture_name(stem + "2.jpeg", 1);
    for (const std::string& name : {one, two}) {
        EXPECT_LE(name.size(), kLongestPictureName);
        EXPECT_TRUE(name.ends_with(".jpeg")) << name;
        EXPECT_TRUE(is_utf8(name)) << name;
    }
    EXPECT_NE(one, two);
    const std::string long_extension = safe_picture_name(std::string(300, 'a') + "." + std::string(40, 'e'), 1);
    EXPECT_LE(long_extension.size(), kLongestPictureName);
}

TEST(PictureNames, TheNamerGivesEachStoredNameOneUniqueName) {
    PictureNamer namer;
    EXPECT_EQ(namer.name("BinData/a.png"), "a.png");
    EXPECT_EQ(namer.name("Other/A.PNG"), "A-2.PNG");
    EXPECT_EQ(namer.name("BinData/a.png"), "a.png");
    EXPECT_EQ(namer.name("a-2.png"), "a-2-2.png");
    std::string stem(98, 'b');
    EXPECT_EQ(namer.name(stem + ".x"), stem + ".x");
    const std::string second = namer.name("dir/" + stem + ".x");
    EXPECT_EQ(second, std::string(96, 'b') + "-2.x");
}

}  // namespace
}  // namespace marlune
