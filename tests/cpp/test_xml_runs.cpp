// A large XML part read a run of its root's children at a time: the runs
// together hold every child once, in order, whatever markup surrounds them;
// a malformed part is a parse error as a whole parse would make it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "container/xml_part.hpp"

namespace marlune {
namespace {

ByteBuffer buffer_of(std::string_view text) {
    ByteBuffer bytes;
    EXPECT_TRUE(bytes.assign({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
    return bytes;
}

// The root's name, then each run's element children as "name:text", runs
// parted by "|"; or the error text.
std::string runs_of(std::string_view xml) {
    auto runs = XmlRuns::open(buffer_of(xml), "part.xml");
    if (!runs) return display_text(runs.error());
    std::string out(runs->root_name());
    for (;;) {
        auto run = runs->next();
        if (!run) return display_text(run.error());
        if (!*run) return out;
        out += '|';
        for (pugi::xml_node child : run->children()) {
            if (child.type() != pugi::node_element) continue;
            out += local_name(child);
            out += ':';
            out += child.text().get();
            out += ' ';
        }
    }
}

TEST(XmlRuns, SmallPartsAreOneRunOfEveryChild) {
    struct Case {
        std::string_view xml;
        std::string_view runs;
    };
    const Case cases[] = {
        {"<hs:sec><hp:p>a</hp:p><hp:p>b</hp:p></hs:sec>", "sec|p:a p:b "},
        {"<?xml version=\"1.0\"?><!-- c --><!DOCTYPE s [<!ENTITY e \"x\">]><s><p>a</p></s>", "s|p:a "},
        {"\xEF\xBB\xBF<s a='>' b=\"/>\"><p q='</s>'>&lt;a&gt;</p><!-- </s> --><![CDATA[</s>]]><p/></s>",
         "s|p:<a> p: "},
        {"<s><?pi </s>?><p>a</p></s>trailing", "s|p:a "},
        {"<s/>", "s"},
        {"<s></s>", "s|"},
    };
    for (const Case& c : cases) EXPECT_EQ(runs_of(c.xml), c.runs) << c.xml;
}

TEST(XmlRuns, MalformedPartsAreParseErrors) {
    for (const std::string_view xml : {"<s><p>a</s>", "<s><p>a</p>", "<s><p a='1>", "", "just text", "</s>"}) {
        EXPECT_TRUE(runs_of(xml).starts_with("Parse error: malformed XML (")) << xml << " gave " << runs_of(xml);
    }
}

TEST(XmlRuns, LargePartsComeInRunsOfWholeChildren) {
    const std::string child = "<p n=\"1\"><r><t>" + std::string(1000, 'x') + "</t></r></p>";
    std::string xml = "<s>";
    const std::size_t count = 3 * XmlRuns::kRunBytes / child.size();
    for (std::size_t k = 0; k < count; ++k) xml += child;
    xml += "</s>";
    auto runs = XmlRuns::open(buffer_of(xml), "big.xml");
    ASSERT_TRUE(runs.has_value());
    std::size_t seen = 0;
    std::size_t run_count = 0;
    for (auto run = runs->next(); run && *run; run = runs->next()) {
        ++run_count;
        for (pugi::xml_node p : run->children()) {
            ASSERT_EQ(std::string_view(p.child("r").child("t").text().get()).size(), 1000u);
            ++seen;
        }
    }
    EXPECT_EQ(seen, count);
    EXPECT_EQ(run_count, 3u);
}

TEST(XmlRuns, PartsNotInUtf8AreParsedWhole) {
    const std::u16string text = u"\uFEFF<s><p>가</p></s>";
    ByteBuffer bytes;
    ASSERT_TRUE(bytes.assign({reinterpret_cast<const std::uint8_t*>(text.data()), text.size() * 2}));
    auto runs = XmlRuns::open(std::move(bytes), "utf16.xml");
    ASSERT_TRUE(runs.has_value());
    EXPECT_EQ(runs->root_name(), "s");
    auto run = runs->next();
    ASSERT_TRUE(run && *run);
    EXPECT_STREQ(run->child("p").text().get(), "가");
    EXPECT_FALSE(*runs->next());
}

}  // namespace
}  // namespace marlune
