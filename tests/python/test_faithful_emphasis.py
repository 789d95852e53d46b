"""Emphasis from character shapes: bold, italic and strike-through as
Markdown delimiters where CommonMark reads them as such, superscript and
subscript as HTML, merged across runs, never around white space only."""

from __future__ import annotations

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from test_faithful_escaping import lost_pieces

# Character shapes 1.. of the HWPX header, by what they set.
B, I, S, SUP, SUB = 1, 2, 4, 8, 16
CHAR_SHAPES = {B: "<hh:bold/>", I: "<hh:italic/>", S: '<hh:strikeout shape="SOLID" color="#000000"/>',
               SUP: "<hh:supscript/>", SUB: "<hh:subscript/>"}
COMBINATIONS = [0, B, I, B | I, S, S | B, SUP, B | SUP, SUB]


def char_shape(bits: int) -> str:
    return "".join(inner for bit, inner in CHAR_SHAPES.items() if bits & bit)


def styled_paragraph(runs: list[tuple[str, int]], shape: int = 0) -> str:
    return xf.p(*(xf.run(xf.t(text), char=COMBINATIONS.index(bits)) for text, bits in runs), shape=shape)


def convert(paragraphs: list[str], emphasis: bool = True, tables: str = "auto", **header: object) -> str:
    header_text = xf.header_xml(char_shapes=[char_shape(bits) for bits in COMBINATIONS[1:]], **header)
    return marlune.convert(xf.package([xf.section(*paragraphs)], header=header_text), emphasis=emphasis,
                           tables=tables)


# Runs of (text, emphasis), the Markdown.
FLANKING = [
    pytest.param([("앞 ", 0), ("굵게", B), (" 뒤", 0)], "앞 **굵게** 뒤", id="bold-between-spaces"),
    pytest.param([("가", 0), ("나", B), ("다", 0)], "가**나**다", id="inside-a-word"),
    pytest.param([("굵게 ", B), ("뒤", 0)], "**굵게** 뒤", id="space-moves-out"),
    pytest.param([("앞", 0), (" ", B), ("뒤", 0)], "앞 뒤", id="white-space-only"),
    pytest.param([("회사", 0), ("(주)", B), ("명", 0)], "회사(주)명", id="punctuation-after-a-letter-stays-plain"),
    pytest.param([("회사 ", 0), ("(주)", B), (" 명", 0)], "회사 **(주)** 명", id="punctuation-between-spaces"),
    pytest.param([("값", 0), ("(A)", B), (".", 0)], "값(A).", id="punctuation-both-sides"),
    pytest.param([("기울임", I)], "*기울임*", id="italic"),
    pytest.param([("둘 다", B | I)], "***둘 다***", id="bold-italic"),
    pytest.param([("취소", S), ("선", 0)], "~~취소~~선", id="strike"),
    pytest.param([("앞 ", 0), ("취소", S | B), (" 뒤", 0)], "앞 ~~**취소**~~ 뒤", id="strike-and-bold"),
    pytest.param([("가", 0), ("나", S | B), ("다", 0)], "가나다", id="strike-and-bold-inside-a-word"),
    pytest.param([("굵게", B), ("둘", B | I)], "**굵게둘**", id="common-emphasis-of-adjacent-runs"),
    pytest.param([("굵게", B), ("기울임", I)], "굵게기울임", id="nothing-in-common"),
    pytest.param([("m", 0), ("2", SUP)], "m<sup>2</sup>", id="superscript"),
    pytest.param([("H", 0), ("2", SUB), ("O", 0)], "H<sub>2</sub>O", id="subscript"),
    pytest.param([("x", B), ("2", B | SUP)], "**x<sup>2</sup>**", id="bold-around-superscript"),
    pytest.param([("2*3", B)], "2\\*3", id="star-inside-stays-plain"),
    pytest.param([("*별", B)], "\\*별", id="star-at-the-edge-stays-plain"),
    pytest.param([("줄\n바꿈", B)], "줄\n바꿈", id="line-break-stays-plain"),
    pytest.param([("1", 0), (".", B), (" 항목", 0)], "1\\. 항목", id="plain-runs-escaped-as-one"),
    pytest.param([("https://a.kr/x", B)], "https://a.kr/x", id="address-stays-plain"),
    pytest.param([("www.a.kr", 0), ("굵게", B)], "www.a.kr굵게", id="after-an-address-stays-plain"),
]


@pytest.mark.parametrize("runs, expected", FLANKING)
def test_emphasis_flanking(runs, expected):
    markdown = convert([styled_paragraph(runs)])
    assert markdown == expected
    assert lost_pieces(markdown, ["".join(text for text, _ in runs)]) == []
    assert convert([styled_paragraph(runs)], emphasis=False) == marlune.convert(
        xf.package([xf.section(xf.p("".join(text for text, _ in runs)))]))


def test_headings_bold_as_a_whole_are_not_bold_again():
    heads = {1: ("OUTLINE", 0, 0)}
    assert convert([styled_paragraph([("제목", B)], shape=1)], heads=heads) == "# 제목"
    assert convert([styled_paragraph([("제목 ", 0), ("강조", I)], shape=1)], heads=heads) == "# 제목 *강조*"


@pytest.mark.parametrize("tables, expected", [
    ("pipe", "|**굵게** 셀|~~취소~~|\n|---|---|"),
    ("html", "<table>\n<tr><td><strong>굵게</strong> 셀</td><td><del>취소</del></td></tr>\n</table>"),
])
def test_emphasis_in_cells(tables, expected):
    cells = [xf.cell(styled_paragraph([("굵게", B), (" 셀", 0)]), 0, 0), xf.cell(styled_paragraph([("취소", S)]), 0, 1)]
    assert convert([xf.p(xf.table([cells], 1, 2))], tables=tables) == expected


def test_hwp_character_shapes_by_position():
    info = hf.doc_info([hf.char_shape_record(), hf.char_shape_record(hf.CHAR_BOLD),
                        hf.char_shape_record(hf.CHAR_ITALIC | hf.CHAR_STRIKE), hf.char_shape_record(hf.CHAR_SUPERSCRIPT)])
    # "앞 굵게 뒤 m2": shapes start at 0, 2 (bold), 4 (plain), 8 (superscript); one past the text.
    paragraph = hf.para("앞 굵게 뒤 m2", char_shapes=[(0, 0), (2, 1), (4, 0), (8, 3), (40, 2)])
    document = hf.hwp_document([paragraph], extra_streams={"DocInfo": info})
    assert marlune.convert(document) == "앞 **굵게** 뒤 m<sup>2</sup>"
    assert marlune.convert(document, emphasis=False) == "앞 굵게 뒤 m2"
    # A paragraph cut by a control keeps its shapes on both sides.
    cut = hf.para(hf.para_text("굵", hf.ctrl_char(3, "%unk"), "게 보통", hf.PARA_END), char_shapes=[(0, 1), (10, 0)])
    document = hf.hwp_document([cut], extra_streams={"DocInfo": info})
    assert marlune.convert(document) == "**굵게** 보통"
