// A large XML part read a run of its root's children at a time: the runs
// together hold every child once, in order, whatever markup surrounds them;
// a malformed part is a parse error as a whole parse would make it.
#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <string_view>
#include <vector>

#include "container/xml_part.hpp"
#include "xml_nodes.hpp"

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

// The part's nodes as its runs give them (where runs part is left out),
// parsed in runs of about run_bytes; or the error text.
std::string walked(std::string_view xml, std::size_t run_bytes) {
    const std::size_t usual = set_xml_run_bytes(run_bytes);
    std::string out;
    auto runs = XmlRuns::open(buffer_of(xml), "part.xml");
    for (;;) {
        if (!runs) {
            out = display_text(runs.error());
            break;
        }
        auto run = runs->next();
        if (!run) {
            out = display_text(run.error());
            break;
        }
        if (!*run) break;
        test_support::append_nodes(*run, &*runs, out);
    }
    set_xml_run_bytes(usual);
    return out;
}

std::string repeated(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t k = 0; k < times; ++k) out += piece;
    return out;
}

const std::size_t kRunSizes[] = {1, 2, 3, 5, 8, 13, 21, 40, 64, 100, 256, 700, 4096};

// Elements larger than a run are skeletons whose rests are read as they are
// walked: whatever the run size, the walk sees the nodes of a whole parse.
TEST(XmlRuns, SkeletonsWalkAsTheWholeElement) {
    const std::string rows = repeated("<tr><tc><subList><p><t>셀 &amp; 값</t></p></subList><cellAddr c='1'/></tc></tr>", 40);
    const std::string cases[] = {
        "<s><p id='1'><run><tbl rowCnt='40'><sz/><pos/>" + rows + "</tbl></run><linesegarray/></p></s>",
        "<s><p><run>" + repeated("<t>a<tab/>b</t>\n  ", 60) + "</run></p><p/></s>",
        "<s><p><run><t>" + std::string(3000, 'x') + "</t></run></p></s>",
        "<s><p><run><t>" + std::string(3000, 'x') + " -> y></t></run></p>tail></s>",
        "<s> lead <p>" + repeated("<!-- c --><![CDATA[<x>]]><?pi x?>text&lt;<e a='&gt;'/>", 50) + "</p> trail </s>",
        "<s><a><b><c><d>" + repeated("<e>1</e>", 200) + "</d>" + repeated("<f/>", 30) + "</c></b></a></s>",
        "<s><tc><subList>" + repeated("<p><t>문단</t></p>", 100) + "</subList><cellAddr/><cellSpan/></tc></s>",
        "<s><p><marlune-rest/>" + repeated("<marlune-rest>x</marlune-rest>", 60) + "</p></s>",
        "<s><big a='" + std::string(2000, 'v') + "'/><p>" + repeated("<q/>", 500) + "</p></s>",
        "<s>" + repeated("<p><t>짧은</t></p>", 300) + "</s>",
    };
    for (const std::string& xml : cases) {
        const std::string whole = walked(xml, std::size_t{1} << 30);
        ASSERT_FALSE(whole.starts_with("Parse error")) << whole;
        for (const std::size_t run_bytes : kRunSizes) {
            const std::string skeletons = walked(xml, run_bytes);
            const auto differ = std::ranges::mismatch(skeletons, whole);
            const std::size_t at = static_cast<std::size_t>(differ.in1 - skeletons.begin());
            EXPECT_EQ(skeletons, whole) << "run bytes " << run_bytes << " of " << xml.substr(0, 60) << " differ at " << at
                                        << ": " << skeletons.substr(at >= 60 ? at - 60 : 0, 120) << " against "
                                        << whole.substr(at >= 60 ? at - 60 : 0, 120);
        }
    }
}

TEST(XmlRuns, MalformedSkeletonsAreParseErrors) {
    const std::string rows = repeated("<tr><tc>x</tc></tr>", 50);
    const std::string cases[] = {
        "<s><p><tbl>" + rows + "<tr></tbl></p></s>",
        "<s><p><tbl>" + rows + "</tr></tbl></p></s>",
        "<s><p><tbl>" + rows + "<tr a='1></tr></tbl></p></s>",
        "<s><p><tbl>" + rows + "</tbl></q></s>",
        "<s><p><tbl>" + rows + "<tr><tc>x</td></tr></tbl></p></s>",
        "<s><p><tbl>" + rows,
    };
    for (const std::string& xml : cases) {
        for (const std::size_t run_bytes : kRunSizes) {
            EXPECT_TRUE(walked(xml, run_bytes).starts_with("Parse error: malformed XML ("))
                << "run bytes " << run_bytes << " of " << xml.substr(xml.size() - 40);
        }
    }
}

// A skeleton keeps an element's first and last small children, so lookups
// by name find the properties written around its content.
TEST(XmlRuns, SkeletonsKeepTheFirstAndLastChildren) {
    const std::string xml = "<s><tc><cellSz w='9'/><subList>" + repeated("<p><t>문단</t></p>", 2000) +
                            "</subList><cellAddr colAddr='3'/><cellSpan rowSpan='2'/></tc></s>";
    const std::size_t usual = set_xml_run_bytes(4096);
    auto runs = XmlRuns::open(buffer_of(xml), "part.xml");
    ASSERT_TRUE(runs.has_value());
    auto run = runs->next();
    ASSERT_TRUE(run && *run);
    const pugi::xml_node cell = run->first_child();
    EXPECT_STREQ(child_named(cell, "cellSz").attribute("w").value(), "9");
    EXPECT_STREQ(child_named(cell, "cellAddr").attribute("colAddr").value(), "3");
    EXPECT_STREQ(child_named(cell, "cellSpan").attribute("rowSpan").value(), "2");
    std::size_t paragraphs = 0;
    for (XmlChildren children(&*runs, child_named(cell, "subList")); children.next();) ++paragraphs;
    EXPECT_EQ(paragraphs, 2000u);
    // Walked once: a second walk of the same node no longer reads the rest.
    std::size_t again = 0;
    for (XmlChildren children(&*runs, child_named(cell, "subList")); children.next();) ++again;
    EXPECT_LT(again, 2000u);
    set_xml_run_bytes(usual);
}

}  // namespace
}  // namespace marlune
