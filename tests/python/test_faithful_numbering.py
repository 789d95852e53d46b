"""Numbers and bullets the word processor draws before paragraphs: number
shapes and formats, counters across levels and sections, bullets, outline
numbers, and how they are written (list items, headings, table cells);
automatic numbers in the text (captions, notes) and new-number controls."""

from __future__ import annotations

import random
import re
import struct
import zlib

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune

H = hf.HEADING_NUMBER
DEFAULT_OUTLINE = [("^1.", 0), ("^2.", 8), ("^3)", 0), ("^4)", 8), ("(^5)", 0), ("(^6)", 8), ("^7", 1)]


def hwpx(paragraphs: list[str], **header: object) -> str:
    return marlune.convert(xf.package([xf.section(*paragraphs)], header=xf.header_xml(**header)))


# numFormat, the level's start, what the paragraph's head shows.
SHAPES = [
    ("DIGIT", 7, "7."), ("CIRCLED_DIGIT", 3, "③."), ("CIRCLED_DIGIT", 24, "㉔."), ("CIRCLED_DIGIT", 50, "㊿."),
    ("CIRCLED_DIGIT", 51, "51."), ("ROMAN_CAPITAL", 4, "Ⅳ."), ("ROMAN_CAPITAL", 14, "XIV."),
    ("ROMAN_SMALL", 9, "ⅸ."), ("LATIN_CAPITAL", 2, "B."), ("LATIN_SMALL", 28, "bb."),
    ("CIRCLED_LATIN_CAPITAL", 1, "Ⓐ."), ("CIRCLED_LATIN_SMALL", 26, "ⓩ."), ("HANGUL_SYLLABLE", 3, "다."),
    ("HANGUL_SYLLABLE", 15, "가."), ("CIRCLED_HANGUL_SYLLABLE", 2, "㉯."), ("HANGUL_JAMO", 4, "ㄹ."),
    ("CIRCLED_HANGUL_JAMO", 14, "㉭."), ("HANGUL_PHONETIC", 24, "이십사."), ("HANGUL_PHONETIC", 110, "백십."),
    ("IDEOGRAPH", 3, "三."), ("IDEOGRAPH", 2025, "二千二十五."), ("CIRCLED_IDEOGRAPH", 10, "㊉."),
    ("CIRCLED_IDEOGRAPH", 11, "十一."), ("DECAGON_CIRCLE", 2, "을."), ("DECAGON_CIRCLE_HANJA", 10, "癸."),
    ("UNKNOWN_SHAPE", 5, "5."), ("DIGIT", 0, "0."),
]


@pytest.mark.parametrize("shape, start, expected", SHAPES)
def test_number_shapes(shape, start, expected):
    numbering = xf.numbering(1, [("^1.", shape, start)])
    markdown = hwpx([xf.p("항목", shape=1)], heads={1: ("NUMBER", 1, 0)}, numberings=[numbering])
    # A number that is not a list marker follows one.
    assert markdown == (f"{expected} 항목" if re.fullmatch(r"[0-9]+\.", expected) else f"- {expected} 항목")


# A level's format, the numbers of the levels so far: the head.
FORMATS = [
    ("^1.", "3."), ("(^2)", "(나)"), ("^1.^2.^3", "3.나.ⅱ"), ("제^1장", "제3장"), ("^2)", "나)"),
    ("^", "^"), ("^9.", "^9."), ("^0^", "^0^"), ("", None),
]


@pytest.mark.parametrize("fmt, expected", FORMATS)
def test_format_strings(fmt, expected):
    numbering = xf.numbering(1, [("^1.", "DIGIT", 3), ("^2.", "HANGUL_SYLLABLE", 2), (fmt, "ROMAN_SMALL", 2)])
    heads = {1: ("NUMBER", 1, 0), 2: ("NUMBER", 1, 1), 3: ("NUMBER", 1, 2)}
    markdown = hwpx([xf.p("일", shape=1), xf.p("이", shape=2), xf.p("삼", shape=3)], heads=heads,
                    numberings=[numbering])
    last = markdown.split("\n")[-1].strip()
    if expected is None:
        assert last == "삼"  # an empty format draws nothing
    else:
        assert last == (f"{expected} 삼" if re.fullmatch(r"[0-9]+[.)]", expected) else f"- {expected} 삼")


def numbered_hwp(sections: list[bytes], numberings: list[bytes], shapes: list[bytes]) -> str:
    info = hf.doc_info([*numberings, *shapes])
    return marlune.convert(hf.hwp_document(sections, extra_streams={"DocInfo": info}))


def test_counters_reset_below_their_level_and_run_across_sections():
    numbering = hf.numbering_record(DEFAULT_OUTLINE, starts=[1, 1, 1])
    shapes = [hf.para_shape_record(), hf.para_shape_record(H, 0, 1), hf.para_shape_record(H, 1, 1),
              hf.para_shape_record(H, 2, 1)]
    first = (hf.para("목적", shape=1) + hf.para("배경", shape=2) + hf.para("범위", shape=2)
             + hf.para("세부", shape=3) + hf.para("본문") + hf.para("일정", shape=1) + hf.para("단계", shape=2))
    second = hf.para("예산", shape=1) + hf.para("항목", shape=2)
    assert numbered_hwp([first, second], [numbering], shapes) == (
        "1. 목적\n   - 가. 배경\n   - 나. 범위\n     1) 세부\n\n본문\n\n"
        "2. 일정\n   - 가. 단계\n3. 예산\n   - 가. 항목")


def _sync_flushed(data: bytes) -> bytes:
    """Raw DEFLATE of data ending in a non-final block, so more blocks may follow."""
    co = zlib.compressobj(wbits=-15)
    return co.compress(data) + co.flush(zlib.Z_SYNC_FLUSH)


def _trailer(data: bytes, crc_flip: int = 0, size_add: int = 0) -> bytes:
    return struct.pack("<II", zlib.crc32(data) ^ crc_flip, len(data) + size_add)


BAD_BLOCK = b"\x07\x00"  # a final block of the reserved type
# How DocInfo's stream is damaged, given the records before the shapes, the
# shapes and the records after them (styles and the like, ~2 KB); whether
# the numbering still comes out (the damage lies past the shapes, where
# inflating stops).
DOC_INFO_FORMS = [
    pytest.param(lambda a, b, c: hf.deflate_raw(a + b + c), True, id="no-trailer"),
    pytest.param(lambda a, b, c: hf.deflate_stream(a + b + c), True, id="trailer"),
    pytest.param(lambda a, b, c: hf.deflate_raw(a + b + c) + _trailer(a + b + c, crc_flip=1), True, id="wrong-crc"),
    pytest.param(lambda a, b, c: hf.deflate_raw(a + b + c) + _trailer(a + b + c, size_add=1), True, id="wrong-size"),
    pytest.param(lambda a, b, c: hf.deflate_stream(a + b + c)[:-3], True, id="trailer-cut"),
    pytest.param(lambda a, b, c: hf.deflate_stream(a + b + c) + b"garbage", True, id="garbage-after"),
    pytest.param(lambda a, b, c: hf.deflate_stream(a + b + c)[:-600], True, id="cut-past-shapes"),
    pytest.param(lambda a, b, c: _sync_flushed(a + b + c) + BAD_BLOCK + _trailer(a + b + c), True,
                 id="bad-block-past-shapes"),
    pytest.param(lambda a, b, c: _sync_flushed(a) + BAD_BLOCK + _trailer(a + b + c), False,
                 id="bad-block-before-shapes"),
    pytest.param(lambda a, b, c: hf.deflate_stream(a + b + c)[:len(hf.deflate_raw(a)) // 2], False,
                 id="cut-before-shapes"),
]


@pytest.mark.parametrize("build, numbered", DOC_INFO_FORMS)
def test_doc_info_however_stored_or_damaged(build, numbered):
    # ID_MAPPINGS counts the paragraph shapes, so DocInfo is read only as far
    # as them; the same document with an empty DocInfo gives the plain text.
    numbering = hf.numbering_record(DEFAULT_OUTLINE, starts=[1, 1])
    shapes = [hf.para_shape_record(), hf.para_shape_record(H, 0, 1), hf.para_shape_record(H, 1, 1)]
    counts = [0] * 18
    counts[11], counts[13] = 1, len(shapes)
    before = hf.record(17, 0, struct.pack("<18I", *counts)) + numbering
    filler = random.Random(3).randbytes(2000)
    after = hf.record(26, 0, filler)  # a style-sized record the reading never needs
    section = hf.para("목적", shape=1) + hf.para("배경", shape=2) + hf.para("본문")
    info = build(before, b"".join(shapes), after)
    out = marlune.convert(hf.hwp_document([section], extra_streams={"DocInfo": info}))
    plain = marlune.convert(hf.hwp_document([section], extra_streams={"DocInfo": hf.deflate_raw(b"")}))
    assert out == ("1. 목적\n   - 가. 배경\n\n본문" if numbered else plain)
    assert plain == "목적\n\n배경\n\n본문"


def test_start_numbers_and_separate_numberings():
    # A level never counted shows its start; each numbering counts alone.
    shapes = [hf.para_shape_record(), hf.para_shape_record(H, 1, 1), hf.para_shape_record(H, 0, 2),
              hf.para_shape_record(H, 0, 1)]
    numberings = [hf.numbering_record([("^1.", 0), ("^1-^2", 0)], starts=[5, 3]),
                  hf.numbering_record([("^1)", 0)], start=4)]
    section = (hf.para("깊은", shape=1) + hf.para("다른", shape=2) + hf.para("얕은", shape=3)
               + hf.para("다른 둘", shape=2) + hf.para("얕은 둘", shape=3))
    assert numbered_hwp([section], numberings, shapes) == (
        "- 5-3 깊은\n4) 다른\n5. 얕은\n5) 다른 둘\n6. 얕은 둘")


BULLETS = [
    pytest.param("□", "- □ 항목", id="glyph-kept"),
    pytest.param("○", "- ○ 항목", id="circle-kept"),
    pytest.param("•", "- 항목", id="plain-dropped"),
    pytest.param("\uf0a7", "- 항목", id="symbol-font-dropped"),
    pytest.param("-", "- 항목", id="hyphen-dropped"),
    pytest.param("*", "- \\* 항목", id="star-escaped"),
    pytest.param("+", "- \\+ 항목", id="plus-escaped"),
]


@pytest.mark.parametrize("char, expected", BULLETS)
def test_bullets(char, expected):
    shapes = [hf.para_shape_record(), hf.para_shape_record(hf.HEADING_BULLET, 0, 1)]
    info = hf.doc_info([hf.bullet_record(char), *shapes])
    document = hf.hwp_document([hf.para("항목", shape=1)], extra_streams={"DocInfo": info})
    assert marlune.convert(document) == expected
    markdown = hwpx([xf.p("항목", shape=1)], heads={1: ("BULLET", 1, 0)}, bullets=[xf.bullet(1, char)])
    assert markdown == expected


def test_outline_numbers_follow_the_section_definition():
    chapters = hf.numbering_record([("제^1장", 0), ("^2.", 0)], starts=[1, 1])
    shapes = [hf.para_shape_record(), hf.para_shape_record(hf.HEADING_OUTLINE, 0),
              hf.para_shape_record(hf.HEADING_OUTLINE, 1)]
    numberings = [hf.numbering_record(DEFAULT_OUTLINE, starts=[1]), chapters]
    section = (hf.section_definition(2) + hf.para("총칙", shape=1, style=1) + hf.para("목적", shape=2, style=2)
               + hf.para("정의", shape=2, style=2) + hf.para("본칙", shape=1, style=1))
    assert numbered_hwp([section], numberings, shapes) == "# 제1장 총칙\n\n## 1. 목적\n\n## 2. 정의\n\n# 제2장 본칙"
    # Without an outline numbering the headings stand bare.
    bare = hf.section_definition(0) + hf.para("총칙", shape=1, style=1)
    assert numbered_hwp([bare], numberings, shapes) == "# 총칙"


def test_hwpx_outline_numbers():
    outline = xf.numbering(2, [("^1.", "ROMAN_CAPITAL", 1), ("^2)", "LATIN_SMALL", 1)])
    definition = '<hp:p id="0" paraPrIDRef="0" styleIDRef="0"><hp:run charPrIDRef="0">' \
                 '<hp:secPr outlineShapeIDRef="2"/></hp:run></hp:p>'
    markdown = hwpx([definition, xf.p("개요", shape=1), xf.p("세부", shape=2), xf.p("다음", shape=1)],
                    outline_shapes={0: None, 1: 0, 2: 1}, numberings=[outline])
    assert markdown == "# Ⅰ. 개요\n\n## a) 세부\n\n# Ⅱ. 다음"


def test_heads_in_table_cells_are_plain_text():
    numbering = xf.numbering(1, [("^1.", "DIGIT", 1)])
    table = xf.table([[xf.cell(xf.p("첫째", shape=1), 0, 0), xf.cell(xf.p("둘째", shape=1), 0, 1)]], 1, 2)
    markdown = hwpx([xf.p(table)], heads={1: ("NUMBER", 1, 0)}, numberings=[numbering])
    assert markdown == "|1. 첫째|2. 둘째|\n|---|---|"


# Automatic numbers: (kind, number stored, shape, suffix) or ("new", kind, number).
PAGE, FOOTNOTE, PICTURE, TABLE = 0, 1, 3, 4
AUTO_NUMBERS = [
    pytest.param([(PICTURE, 0, 0, ""), (PICTURE, 0, 0, "")], ["그림 1", "그림 2"], id="counted-per-kind"),
    pytest.param([(PICTURE, 0, 0, ""), (TABLE, 0, 0, ""), (PICTURE, 0, 0, "")], ["그림 1", "그림 1", "그림 2"],
                 id="kinds-apart"),
    pytest.param([("new", PICTURE, 5), (PICTURE, 0, 0, ""), (PICTURE, 0, 0, "")], ["그림 5", "그림 6"],
                 id="new-number"),
    pytest.param([(PICTURE, 7, 0, ""), (PICTURE, 0, 0, "")], ["그림 7", "그림 8"], id="stored-number-shows"),
    pytest.param([(TABLE, 0, 8, ")")], ["그림 가)"], id="shape-and-suffix"),
    pytest.param([(PAGE, 3, 0, "")], ["그림"], id="page-number-left-out"),
]
HWPX_KINDS = {PAGE: "PAGE", FOOTNOTE: "FOOTNOTE", PICTURE: "PICTURE", TABLE: "TABLE"}
HWPX_SHAPES = {0: "DIGIT", 8: "HANGUL_SYLLABLE"}


def hwp_auto_number(item: tuple) -> bytes:
    if item[0] == "new":
        _, kind, number = item
        return hf.para(hf.with_control("", 21, "nwno")) + hf.ctrl_header("nwno", 1, struct.pack("<IH", kind, number))
    kind, stored, shape, suffix = item
    body = struct.pack("<IHHHH", kind | shape << 4, stored, 0, 0, ord(suffix) if suffix else 0)
    return hf.para(hf.with_control("그림 ", 18, "atno")) + hf.ctrl_header("atno", 1, body)


def hwpx_auto_number(item: tuple) -> str:
    if item[0] == "new":
        _, kind, number = item
        return xf.p(xf.run(f'<hp:ctrl><hp:newNum num="{number}" numType="{HWPX_KINDS[kind]}"/></hp:ctrl>'))
    kind, stored, shape, suffix = item
    number = (f'<hp:ctrl><hp:autoNum num="{stored}" numType="{HWPX_KINDS[kind]}"><hp:autoNumFormat '
              f'type="{HWPX_SHAPES[shape]}" userChar="" prefixChar="" suffixChar="{suffix}" supscript="0"/>'
              f'</hp:autoNum></hp:ctrl>')
    return xf.p(xf.run(xf.t("그림 "), number))


@pytest.mark.parametrize("items, expected", AUTO_NUMBERS)
def test_automatic_numbers(items, expected):
    hwp = marlune.convert(hf.hwp_document([b"".join(hwp_auto_number(item) for item in items)]))
    assert hwp.split("\n\n") == expected
    hwpx_markdown = marlune.convert(xf.package([xf.section(*(hwpx_auto_number(item) for item in items))]))
    assert hwpx_markdown.split("\n\n") == expected


def test_empty_numbered_paragraphs_count():
    # The word processor draws a number on an empty numbered paragraph too.
    numbering = hf.numbering_record([("^1.", 0)], starts=[1])
    shapes = [hf.para_shape_record(), hf.para_shape_record(H, 0, 1)]
    section = hf.para("가", shape=1) + hf.para("", shape=1) + hf.para(None, shape=1) + hf.para("나", shape=1)
    assert numbered_hwp([section], [numbering], shapes) == "1. 가\n4. 나"
    markdown = hwpx([xf.p("가", shape=1), xf.p(shape=1), xf.p("나", shape=1)], heads={1: ("NUMBER", 1, 0)},
                    numberings=[xf.numbering(1, [("^1.", "DIGIT", 1)])])
    assert markdown == "1. 가\n3. 나"
