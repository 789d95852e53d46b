// Drawing objects: pictures, text boxes and captions of gso controls, and the
// picture placeholder.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "marlune/markdown.hpp"
#include "marlune/records.hpp"
#include "record_builders.hpp"
#include "exact/shapes.hpp"

namespace marlune {
namespace {

using namespace marlune::test_records;


// A list at level holding one paragraph per text (header at level, text one below).
Records list(std::uint16_t level, std::initializer_list<std::u16string_view> texts) {
    Records records{rec(HWPTAG_LIST_HEADER, level)};
    for (const auto text : texts) {
        records.push_back(rec(HWPTAG_PARA_HEADER, level));
        records.push_back(text_record(static_cast<std::uint16_t>(level + 1), text));
    }
    return records;
}

// The gso control at level 1 and its caption list.
Records shape_start(std::initializer_list<std::u16string_view> caption = {}) {
    Records records{control(1, CTRL_SHAPE)};
    if (caption.size() > 0) records = cat({records, list(2, caption)});
    return records;
}

const Records kComponent{rec(HWPTAG_SHAPE_COMPONENT, 2)};

Records picture(std::size_t bytes) { return {rec(HWPTAG_SHAPE_COMPONENT_PICTURE, 3, Bytes(bytes, 0))}; }

// The record that follows the object in the section: a paragraph at the top.
const Records kAfter{rec(HWPTAG_PARA_HEADER, 0)};

// The block, written as kind and text, so cases compare as strings.
std::string describe(const std::optional<Block>& block) {
    if (!block) return "none";
    if (const auto* image = std::get_if<block::Image>(&*block)) return "image:" + image->caption;
    if (const auto* paragraph = std::get_if<block::Paragraph>(&*block)) return "paragraph:" + paragraph->text;
    return "other";
}

struct ShapeCase {
    std::string name;
    Records records;  // records[0] is the gso control header
    std::string expected;
    std::size_t consumed;  // counted from records[1]
};

class ConvertShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(ConvertShape, BlockAndConsumedCount) {
    const ShapeCase& c = GetParam();
    const ShapeResult result = convert_shape_object(c.records, 1, c.records[0].level);
    EXPECT_EQ(describe(result.block), c.expected);
    EXPECT_EQ(result.consumed, c.consumed);
}

// A table inside a text box, with one paragraph before it.
Records text_box_with_table() {
    return cat({shape_start(), kComponent, list(3, {u"intro"}),
                {control(4, CTRL_TABLE), rec(HWPTAG_TABLE, 5, Bytes(22, 0))}, list(5, {u"c1"}), list(5, {u" c2 "}),
                kAfter});
}

const std::vector<ShapeCase> kShapeCases{
    {"PictureWithoutCaption", cat({shape_start(), kComponent, picture(73), kAfter}), "image:", 2},
    {"PictureWithCaption", cat({shape_start({u"a", u"b"}), kComponent, picture(80), kAfter}), "image:a b", 7},
    {"CaptionPartsTrimmedBlankDropped",
     cat({shape_start({u" a ", u" \u3000", u"b "}), kComponent, picture(73), kAfter}), "image:a b", 9},
    {"ShortPictureRecordIsNoPicture", cat({shape_start(), kComponent, picture(72), kAfter}), "none", 2},
    {"ShortPictureWithCaptionGivesCaption", cat({shape_start({u"cap"}), kComponent, picture(72), kAfter}),
     "paragraph:cap", 5},
    {"LaterShortPictureClearsMark", cat({shape_start(), kComponent, picture(73), picture(72), kAfter}), "none", 3},
    {"LaterPictureSetsMark", cat({shape_start(), kComponent, picture(72), picture(73), kAfter}), "image:", 3},
    {"TextBoxLinesJoinedByLineFeed", cat({shape_start(), kComponent, list(3, {u" a", u"  ", u"b "}), kAfter}),
     "paragraph:a\nb", 8},
    {"PictureWinsOverText", cat({shape_start({u"cap"}), kComponent, list(3, {u"t"}), picture(73), kAfter}),
     "image:cap", 8},
    {"TextWinsOverCaption", cat({shape_start({u"cap"}), kComponent, list(3, {u"t"}), kAfter}), "paragraph:t", 7},
    {"CaptionOnlyShape", cat({shape_start({u"cap"}), kComponent, {rec(99, 3)}, kAfter}), "paragraph:cap", 5},
    {"BareLineGivesNothing", cat({shape_start(), kComponent, {rec(99, 3)}, kAfter}), "none", 2},
    {"NoShapeComponent", cat({shape_start({u"cap"}), kAfter, kComponent, picture(73)}), "none", 3},
    {"ShapeComponentAtWrongLevel",
     cat({shape_start({u"cap"}), {rec(HWPTAG_SHAPE_COMPONENT, 3)}, picture(73), kAfter}), "none", 5},
    {"RecordsEndBeforeShapeComponent", shape_start({u"cap"}), "none", 3},
    {"RecordsEndInsideShape", cat({shape_start(), kComponent, picture(73)}), "image:", 2},
    {"TableInTextBoxCellsAreLines", text_box_with_table(), "paragraph:intro\nc1\nc2", 12},
    {"NestedShapeTextCollected",
     cat({shape_start(), kComponent, {control(3, CTRL_SHAPE), rec(HWPTAG_SHAPE_COMPONENT, 4)}, list(5, {u"inner"}),
          kAfter}),
     "paragraph:inner", 6},
    {"DeeperControlLevel",
     {control(3, CTRL_SHAPE), rec(HWPTAG_SHAPE_COMPONENT, 4), text_record(6, u"x"), rec(HWPTAG_PARA_HEADER, 3)},
     "paragraph:x", 2},
};

INSTANTIATE_TEST_SUITE_P(Shapes, ConvertShape, testing::ValuesIn(kShapeCases),
                         [](const auto& info) { return info.param.name; });

struct JoinCase {
    std::string name;
    std::vector<std::string> parts;
    char separator;
    std::string expected;
};

class Join : public testing::TestWithParam<JoinCase> {};

TEST_P(Join, SeparatorBetweenNeighbours) {
    EXPECT_EQ(join(GetParam().parts, GetParam().separator), GetParam().expected);
}

const std::vector<JoinCase> kJoinCases{
    {"Empty", {}, ' ', ""},
    {"One", {"a"}, ' ', "a"},
    {"Spaces", {"a", "b", "c"}, ' ', "a b c"},
    {"EmptyPartKeepsBothSeparators", {"a", "", "b"}, '\n', "a\n\nb"},
};

INSTANTIATE_TEST_SUITE_P(Shapes, Join, testing::ValuesIn(kJoinCases),
                         [](const auto& info) { return info.param.name; });

struct ImageCase {
    std::string name;
    std::string caption;
    std::string expected;
};

class RenderImage : public testing::TestWithParam<ImageCase> {};

TEST_P(RenderImage, AppendsPlaceholder) {
    std::string out = "x";
    render_image(out, block::Image{GetParam().caption});
    EXPECT_EQ(out, "x" + GetParam().expected);
}

const std::vector<ImageCase> kImageCases{
    {"WithoutCaption", "", "[\xEC\x9D\xB4\xEB\xAF\xB8\xEC\xA7\x80]\n\n"},
    {"WithCaption", "a b", "[이미지: a b]\n\n"},
    {"CaptionWrittenAsIs", " *x*|y ", "[이미지:  *x*|y ]\n\n"},
};

INSTANTIATE_TEST_SUITE_P(Shapes, RenderImage, testing::ValuesIn(kImageCases),
                         [](const auto& info) { return info.param.name; });

TEST(RenderImage, PlaceholderWithoutCaptionIsThirteenBytes) {
    std::string out;
    render_image(out, block::Image{});
    EXPECT_EQ(out.size(), 13U);
}

// Shapes as the section walk sees them, rendered as the document's Markdown.
struct SectionCase {
    std::string name;
    Records records;
    std::string expected;
};

class ShapeInSection : public testing::TestWithParam<SectionCase> {};

TEST_P(ShapeInSection, RendersDocument) {
    std::vector<Block> blocks;
    convert_section(GetParam().records, blocks);
    EXPECT_EQ(render_blocks(blocks), GetParam().expected);
}

Records anchored(std::u16string_view text, const Records& controls) {
    return cat({{rec(HWPTAG_PARA_HEADER, 0), text_record(1, text)}, controls});
}

const std::vector<SectionCase> kSectionCases{
    {"PictureBetweenParagraphs",
     cat({anchored(u"a", cat({shape_start({u"cap"}), kComponent, picture(73)})), anchored(u"b", {})}),
     "a\n\n[이미지: cap]\n\nb"},
    {"PictureLast", anchored(u"a", cat({shape_start(), kComponent, picture(73)})), "a\n\n[이미지]"},
    {"TextBoxLines", cat({anchored(u"a", cat({shape_start(), kComponent, list(3, {u"x", u"y"})})), anchored(u"b", {})}),
     "a\n\nx\ny\n\nb"},
};

INSTANTIATE_TEST_SUITE_P(Shapes, ShapeInSection, testing::ValuesIn(kSectionCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace marlune
