"""Forms as their reader sees them, HWP 5.0 and HWPX alike: click-here fields
with their text as it stands (``placeholders=False`` leaves unfilled ones
out), labels spread out over a cell written joined, and pictures whose data
the document does not hold named by what the document names."""

from __future__ import annotations

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune import _convert

GUIDE = "이름을 쓰세요"

# Text in the field, typed into (modified / dirty), what shows by default and
# with placeholders off.
CLICK_HERE = [
    pytest.param("홍길동", True, "이름: 홍길동", "이름: 홍길동", id="typed"),
    pytest.param(GUIDE, False, f"이름: {GUIDE}", "이름:", id="unfilled"),
    pytest.param(GUIDE, True, f"이름: {GUIDE}", f"이름: {GUIDE}", id="typed-equal-to-guide"),
    pytest.param("김철수", False, "이름: 김철수", "이름: 김철수", id="other-than-guide-unmarked"),
    pytest.param("", False, "이름:", "이름:", id="empty"),
]


def hwp_click_here(typed: str, modified: bool) -> bytes:
    text = hf.para_text("이름: ", hf.field_start(), typed, hf.field_end(), hf.PARA_END)
    section = hf.para(text) + hf.clk_field_header(GUIDE, modified) + hf.ctrl_data_name("name")
    return hf.hwp_document([section])


def hwpx_click_here(typed: str, dirty: bool) -> bytes:
    paragraph = xf.p(xf.run(xf.t("이름: "), xf.click_here("7", GUIDE, dirty), xf.t(typed), xf.field_end("7")))
    return xf.package([xf.section(paragraph)])


@pytest.mark.parametrize("build", [hwp_click_here, hwpx_click_here], ids=["hwp", "hwpx"])
@pytest.mark.parametrize("typed, marked, shown, without_placeholders", CLICK_HERE)
def test_click_here_fields_show_their_text_unless_placeholders_are_off(build, typed, marked, shown,
                                                                       without_placeholders):
    document = build(typed, marked)
    assert marlune.convert(document) == marlune.parse(document).markdown == shown
    assert marlune.convert(document, placeholders=False) == without_placeholders
    assert marlune.parse(document, placeholders=False).markdown == without_placeholders
    assert _convert.convert(document, "auto", True, False, "latex", True, False) == without_placeholders


def test_an_unfilled_hwpx_field_across_paragraphs_is_left_out_whole():
    document = xf.package([xf.section(
        xf.p(xf.run(xf.t("앞 "), xf.click_here("7", "안내", False), xf.t("안"))),
        xf.p(xf.run(xf.t("내"), xf.field_end("7"), xf.t(" 뒤"))))])
    assert marlune.convert(document) == "앞 안\n\n내 뒤"
    assert marlune.convert(document, placeholders=False) == "앞\n\n뒤"


# ---- spread-out labels ------------------------------------------------------

SPREAD = [
    pytest.param("본 부 장", "본부장", id="three"),
    pytest.param("  보  도  자  료  ", "보도자료", id="wide-spaces"),
    pytest.param("사 업 자 등 록 번 호", "사업자등록번호", id="seven"),
    pytest.param("공 장 설 립 사 업 계 획 승 인 서 류", "공장설립사업계획승인서류", id="twelve"),
    pytest.param("가 나 다 라 마 바 사 아 자 차 카 타 파", "가 나 다 라 마 바 사 아 자 차 카 타 파", id="thirteen-is-text"),
    pytest.param("본 부", "본 부", id="two"),
    pytest.param("본부 장", "본부 장", id="a-word"),
    pytest.param("제 1 장", "제 1 장", id="a-digit"),
    pytest.param("본 부 장:", "본 부 장:", id="punctuation"),
    pytest.param("ㄱ ㄴ ㄷ", "ㄱ ㄴ ㄷ", id="jamo"),
]


@pytest.mark.parametrize("text, expected", SPREAD)
def test_spread_labels_in_paragraphs_are_joined(text, expected):
    assert marlune.convert(hf.hwp_document([hf.para(text)])) == expected.strip()
    assert marlune.convert(xf.package([xf.section(xf.p(text))])) == expected.strip()


def test_spread_labels_in_cells_of_both_formats():
    hwp = hf.hwp_document([hf.para(hf.with_control("", 11, "tbl ")) + hf.table([["본 부 장", "홍 길 동 씨"]])])
    hwpx = xf.package([xf.section(xf.p(xf.table([[xf.cell("본 부 장", 0, 0), xf.cell("홍 길 동 씨", 0, 1)]], 1, 2)))])
    for document in (hwp, hwpx):
        assert marlune.convert(document) == "|본부장|홍길동씨|\n|---|---|"
        assert marlune.convert(document, tables="html") == "<table>\n<tr><td>본부장</td><td>홍길동씨</td></tr>\n</table>"


def test_a_label_beside_a_link_or_note_is_left_alone():
    section = hf.para(hf.linked("누리집", "본 부 장 ")) + hf.hyperlink_header("http\\://a.kr;1;0;0;")
    assert marlune.convert(hf.hwp_document([section])) == "본 부 장 [누리집](http://a.kr)"


# ---- pictures without stored data ---------------------------------------------

def hwp_pictures(bin_records, caption=()) -> bytes:
    section = hf.para(hf.with_control("", 11, "gso ")) + hf.picture(caption=caption, item=1)
    return hf.hwp_document([section], extra_streams={"DocInfo": hf.doc_info(bin_records)})


def hwp_picture_cell(bin_records, caption=()) -> bytes:
    cell = hf.para(hf.with_control("", 11, "gso "), 2) + hf.picture(3, caption, item=1)
    section = hf.para(hf.with_control("", 11, "tbl ")) + hf.table([["그림", cell]])
    return hf.hwp_document([section], extra_streams={"DocInfo": hf.doc_info(bin_records)})


LINK = hf.bin_data_record(kind=hf.BIN_LINK, paths=("C:\\사진\\지도 1.png", "지도 1.png"))
RELATIVE_ONLY = hf.bin_data_record(kind=hf.BIN_LINK, paths=("", "그림/a.png"))


@pytest.mark.parametrize("records, caption, expected", [
    pytest.param([LINK], ["지도"], "![지도](C:\\사진\\지도%201.png)", id="linked"),
    pytest.param([RELATIVE_ONLY], [], "![](그림/a.png)", id="relative-path"),
    pytest.param([], ["지도"], "지도", id="missing-item-caption"),
    pytest.param([], [], "", id="missing-item"),
])
def test_hwp_pictures_without_data_name_what_the_document_names(records, caption, expected):
    markdown = marlune.convert(hwp_pictures(records, caption))
    assert markdown == expected and "![]()" not in markdown


@pytest.mark.parametrize("mode, expected", [
    ("auto", "|그림|![지도](C:\\사진\\지도%201.png)|\n|---|---|"),
    ("pipe", "|그림|![지도](C:\\사진\\지도%201.png)|\n|---|---|"),
    ("html", '<table>\n<tr><td>그림</td><td><img src="C:\\사진\\지도%201.png" alt="지도"></td></tr>\n</table>'),
])
def test_a_linked_picture_in_a_cell_in_each_table_mode(mode, expected):
    assert marlune.convert(hwp_picture_cell([LINK], ["지도"]), tables=mode) == expected


@pytest.mark.parametrize("mode, expected", [
    ("auto", "|그림|지도|\n|---|---|"),
    ("html", "<table>\n<tr><td>그림</td><td>지도</td></tr>\n</table>"),
])
def test_a_picture_of_a_missing_item_in_a_cell_leaves_its_caption(mode, expected):
    assert marlune.convert(hwp_picture_cell([], ["지도"]), tables=mode) == expected


def hwpx_picture(href: str | None, caption: str | None, in_cell: bool) -> bytes:
    """A picture of item image1, linked to href when given, else of an item
    the package does not list."""
    picture = xf.p(xf.picture("image1", caption))
    body = xf.p(xf.table([[xf.cell("그림", 0, 0), xf.cell(picture, 0, 1)]], 1, 2)) if in_cell else picture
    return xf.package([xf.section(body)], items={"image1": href} if href else None)


@pytest.mark.parametrize("href, caption, expected", [
    pytest.param("C:\\사진\\a.png", "지도", "![지도](C:/사진/a.png)", id="linked"),
    pytest.param("../그림/a.png", None, "![](../그림/a.png)", id="relative"),
    pytest.param(None, "지도", "지도", id="missing-item-caption"),
    pytest.param(None, None, "", id="missing-item"),
])
def test_hwpx_pictures_without_data_name_what_the_document_names(href, caption, expected):
    markdown = marlune.convert(hwpx_picture(href, caption, False))
    assert markdown == expected and "![]()" not in markdown


@pytest.mark.parametrize("mode, expected", [
    ("auto", "|그림|![지도](C:/사진/a.png)|\n|---|---|"),
    ("pipe", "|그림|![지도](C:/사진/a.png)|\n|---|---|"),
    ("html", '<table>\n<tr><td>그림</td><td><img src="C:/사진/a.png" alt="지도"></td></tr>\n</table>'),
])
def test_a_linked_hwpx_picture_in_a_cell_in_each_table_mode(mode, expected):
    document = hwpx_picture("C:\\사진\\a.png", "지도", True)
    assert marlune.convert(document, tables=mode) == expected
    assert marlune.parse(document, tables=mode).images == []
