"""HWPX packages through marlune.convert and marlune.parse: text, tables,
fields, pictures, the reading order of sections, entry names, and packages
that are damaged, hostile or encrypted."""

from __future__ import annotations

import subprocess
import sys
import time
import zlib
from datetime import datetime, timezone
from pathlib import Path

import pytest

import hwpxfixture as xf
import marlune
from marlune import _convert

PNG = b"\x89PNG\r\n\x1a\n" + bytes(16)
CORPUS_HWPX = Path(__file__).resolve().parents[2].parent / "shared" / "corpus-hwpx"


def convert(*paragraphs: str, **options) -> str:
    return marlune.convert(xf.package([xf.section(*paragraphs)]), **options)


@pytest.mark.parametrize("parts, expected", [
    (["a", xf.TAB, "b"], "a\tb"),
    (["line", xf.LINE_BREAK, "next"], "line\nnext"),
    (["a", xf.NBSPACE, "b", xf.FWSPACE, "c"], "a b c"),
    (["kept ", xf.DELETE_BEGIN, "deleted", xf.DELETE_END, "tail"], "kept tail"),
    (["<개정 2015.12.31.> & 끝"], "<개정 2015.12.31.> & 끝"),
    (["  spaced  ", xf.TAB], "spaced"),
], ids=["tab", "line-break", "fixed-spaces", "deleted-text", "escapes", "whitespace"])
def test_text_with_inline_elements(parts, expected):
    assert expected in convert(xf.p(xf.run(xf.t(*parts))))


def test_ill_formed_utf8_in_text_becomes_replacement_characters():
    section = xf.section(xf.p(xf.run(xf.t("앞 MARK 뒤")))).encode().replace(b"MARK", b"\xff\xc0\xaf")
    document = xf.package([section])
    assert marlune.convert(document) == marlune.parse(document).markdown == "앞 \ufffd\ufffd\ufffd 뒤"


@pytest.mark.parametrize("stored", [False, True], ids=["deflated", "stored"])
def test_headings_from_the_paragraph_shapes(stored):
    # Sixty padded shapes, inflated piece by piece as paragraphs ask: an
    # outline shape near the end asked for first, one near the start after
    # it, a blank paragraph's shape and one the header lacks.
    shapes = {k: None for k in range(60)} | {2: 0, 58: 2}
    section = xf.section(xf.p("본문"), xf.p("끝 제목", shape=58), xf.p("제목", shape=2), xf.p(shape=59),
                         xf.p("없는 모양", shape=99))
    package = xf.package([section], outline_shapes=shapes, shape_padding=600, stored=stored)
    assert marlune.convert(package) == "본문\n\n### 끝 제목\n\n# 제목\n\n없는 모양"


@pytest.mark.parametrize("damage, expected", [
    (dict(crc=1), "본문\n\n### 끝 제목\n\n# 제목\n\n없는 모양"),
    (dict(size=20000), "본문\n\n끝 제목\n\n# 제목\n\n없는 모양"),
], ids=["wrong-crc", "declared-short"])
def test_headings_from_a_damaged_header(damage, expected):
    # A header that does not check out is inflated piece by piece as far as
    # the paragraphs ask: a wrong CRC is never seen before the shapes' end,
    # and a header declared shorter loses the shapes past its size.
    shapes = {k: None for k in range(60)} | {2: 0, 58: 2}
    section = xf.section(xf.p("본문"), xf.p("끝 제목", shape=58), xf.p("제목", shape=2), xf.p(shape=59),
                         xf.p("없는 모양", shape=99))
    package = xf.package([section], outline_shapes=shapes, shape_padding=600)
    assert marlune.convert(xf.patch_directory(package, "Contents/header.xml", **damage)) == expected


def test_deleted_text_spanning_paragraphs_is_left_out():
    out = convert(xf.p(xf.run(xf.t("a", xf.DELETE_BEGIN, "x"))), xf.p(xf.run(xf.t("y", xf.DELETE_END, "b"))))
    assert "x" not in out and "y" not in out and "a" in out and "b" in out


def test_tables_with_spans_and_nesting_keep_every_cell():
    inner = xf.table([[xf.cell("안쪽", 0, 0), xf.cell("표", 0, 1)]], 1, 2)
    outer = xf.table([[xf.cell("병합", 0, 0, colspan=2)],
                      [xf.cell(xf.p(inner), 1, 0), xf.cell("끝", 1, 1)]], 2, 2, caption="표 1")
    out = convert(xf.p(outer))
    assert [word for word in ("병합", "안쪽", "표", "끝") if word in out] == ["병합", "안쪽", "표", "끝"]


@pytest.mark.parametrize("kind, command, shown", [
    ("CLICK_HERE", "Clickhere:set:10:Direction:wstring:4:안내문 ", "입력값"),
    ("HYPERLINK", "http\\://a.kr;1;0;0;", "입력값"),
])
def test_fields_across_paragraphs_show_their_text_only(kind, command, shown):
    out = convert(xf.p(xf.run(xf.t("앞 "), xf.field_begin("7", kind, command), xf.t(shown))),
                  xf.p(xf.run(xf.t("둘째"), xf.field_end("7"), xf.t(" 뒤"))))
    assert shown in out and "둘째" in out and "Clickhere" not in out and "a.kr" not in out.split("](")[0]


def test_a_link_keeps_its_target_while_fields_open_inside_it():
    # Twenty fields opened inside the link move the list of open fields.
    inner = [xf.field_begin(str(k), "DATE") for k in range(10, 30)]
    out = convert(xf.p(xf.run(xf.field_begin("1", "HYPERLINK", "http\\://a.kr;1;0;0;"), *inner, xf.t("누리집"),
                              xf.field_end("1"), xf.t(" 끝"))))
    assert out == "[누리집](http://a.kr) 끝"


def test_notes_headers_and_text_boxes_reach_the_tree():
    out = marlune.convert(xf.package([xf.section(
        xf.p(xf.run(xf.t("본문"), xf.note("footNote", xf.p("각주")), xf.text_box(xf.p("글상자")))))]))
    assert "본문" in out and "글상자" in out


def test_pictures_by_binary_item_with_bytes_and_media_type():
    data = xf.package([xf.section(xf.p(xf.picture("image1", "사진")), xf.p(xf.picture("missing")))],
                      pictures={"image1.png": PNG})
    document = marlune.parse(data)
    assert "![사진](image1.png)" in document.markdown
    assert [(i.name, i.media_type, i.data) for i in document.images] == [("image1.png", "image/png", PNG)]


def test_metadata_from_the_content_index():
    metadata = marlune.parse(xf.package([xf.section(xf.p("x"))], metadata={
        "title": "제목", "creator": "작성자", "description": "설명", "lastsaveby": "저장자", "keyword": "",
        "CreatedDate": "2024-01-02T03:04:05Z", "ModifiedDate": "2024-01-02T12:04:05+09:00"})).metadata
    assert metadata == {"title": "제목", "author": "작성자", "comments": "설명", "last_saved_by": "저장자",
                        "created": datetime(2024, 1, 2, 3, 4, 5, tzinfo=timezone.utc),
                        "modified": datetime(2024, 1, 2, 3, 4, 5, tzinfo=timezone.utc),
                        "sections": 1, "version": "5.1.0.1", "format": "hwpx"}
    # Left unread when not asked for (as marlune.convert does).
    package = xf.package([xf.section(xf.p("x"))], metadata={"title": "제목"})
    assert _convert.parse(package, metadata=False)[:2] == ("x", {"sections": 1, "version": "5.1.0.1", "format": "hwpx"})


@pytest.mark.parametrize("options", [{"spine": False}, {"backslashes": True}], ids=["empty-spine", "backslashes"])
def test_sections_found_in_number_order(options):
    sections = [xf.section(xf.p(f"구역{n}")) for n in range(12)]
    out = marlune.convert(xf.package(sections, **options))
    assert [line for line in out.split("\n\n")] == [f"구역{n}" for n in range(12)]


def test_xml_entity_bomb_is_not_expanded():
    bomb = ('<?xml version="1.0"?><!DOCTYPE hs:sec [<!ENTITY a "aaaaaaaaaa">'
            + "".join(f'<!ENTITY {c} "{("&" + p + ";") * 10}">' for p, c in zip("abcdefgh", "bcdefghi"))
            + "]>" + xf.section(xf.p("&i;")).removeprefix(xf.DECLARATION))
    started = time.monotonic()
    out = marlune.convert(xf.package([bomb]))
    assert len(out) < 100 and "aaaa" not in out and time.monotonic() - started < 2


def package_with_section_bytes(section: bytes) -> bytes:
    return xf.package([xf.section(xf.p("x"))], extra={"Contents/section0.xml": section})


@pytest.mark.parametrize("data, message", [
    (package_with_section_bytes(b" " * (4 << 20)),
     "Package error: entry compression ratio above 200:1: Contents/section0.xml"),
    (xf.patch_directory(xf.package([xf.section(xf.p("긴 본문" * 50))]), "Contents/section0.xml", size=100),
     "Package error: entry inflates past its declared size: Contents/section0.xml"),
    (xf.patch_directory(xf.package([xf.section(xf.p("x"))]), "Contents/section0.xml", crc=1),
     "Package error: entry CRC mismatch: Contents/section0.xml"),
    (xf.patch_directory(xf.package([xf.section(xf.p("x"))]), "Contents/section0.xml", size=300 << 20),
     "Package error: entry exceeds 256 MiB: Contents/section0.xml"),
    (xf.package([xf.section(xf.p("x"))], encrypted=True), "Password-protected HWP files are not supported"),
    (xf.zip_entries({"word/document.xml": "<w/>"}), "Package error: not an HWPX package (no content index or sections)"),
    (b"PK\x03\x04" + bytes(40), "Package error: not a zip archive (no end of central directory)"),
    (package_with_section_bytes(b"<hs:sec><hp:p>"), "Parse error: malformed XML"),
], ids=["zip-bomb", "lying-size", "crc", "over-cap", "encrypted", "not-hwpx", "no-directory", "malformed-xml"])
def test_damaged_and_hostile_packages_raise_clear_errors(data, message):
    with pytest.raises(RuntimeError) as error:
        marlune.convert(data)
    assert str(error.value).startswith(message)


def test_package_read_from_a_pipe():
    data = xf.package([xf.section(xf.p("파이프"))])
    script = "import sys, marlune; sys.stdout.write(marlune.convert('/dev/stdin'))"
    done = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True, check=True)
    assert done.stdout.decode() == "파이프"


@pytest.mark.skipif(not CORPUS_HWPX.is_dir(), reason="shared HWPX corpus absent")
def test_corpus_packages_convert_or_raise(capfd):
    for path in sorted(CORPUS_HWPX.rglob("*.hwpx")):
        try:
            marlune.convert(path, headers=True)
        except RuntimeError as error:
            assert str(error).startswith(("Password-protected", "Package error", "Parse error")), path
    assert capfd.readouterr().err == ""


TABLE_XML = ('<hp:tbl rowCnt="1" colCnt="2"><hp:tr>' + xf.cell("가", 0, 0) + xf.cell("나", 0, 1)
             + "</hp:tr></hp:tbl>")


@pytest.mark.parametrize("body, expected", [
    ([xf.p("앞"), TABLE_XML, xf.p("뒤")], "앞\n\n|가|나|\n|---|---|\n\n뒤"),
    ([f'<hp:p id="0" paraPrIDRef="0"><hp:t>run 없는 글</hp:t></hp:p>'], "run 없는 글"),
    ([f'<hp:p id="0" paraPrIDRef="0">{TABLE_XML}</hp:p>'], "|가|나|\n|---|---|"),
    ([xf.p(xf.run(xf.t("바깥"), xf.p("안쪽")))], "바깥\n\n안쪽"),
    ([f'<hp:p id="0" paraPrIDRef="0">{xf.p("겹친 문단")}</hp:p>'], "겹친 문단"),
], ids=["table-under-section", "text-without-run", "table-without-run", "paragraph-in-run",
        "paragraph-in-paragraph"])
def test_paragraphs_and_tables_wherever_a_tool_put_them(body, expected):
    assert convert(*body) == expected


CHECK = '<hp:checkBtn caption="동의함" value="{}" name="CheckBox1"/>'
COMBO = ('<hp:comboBox selectedValue="{}"><hp:listItem displayText="서울특별시" value="11"/>'
         '<hp:listItem displayText="부산광역시" value="26"/></hp:comboBox>')


@pytest.mark.parametrize("control, expected", [
    (CHECK.format("CHECKED"), "신청: ☑ 동의함 끝"),
    (CHECK.format("UNCHECKED"), "신청: ☐ 동의함 끝"),
    ('<hp:radioBtn caption="남" value="CHECKED"/>', "신청: ☑ 남 끝"),
    ('<hp:btn caption="확인"/>', "신청: 확인 끝"),
    (COMBO.format("26"), "신청: 부산광역시 끝"),
    (COMBO.format("99"), "신청: 99 끝"),
    (COMBO.format(""), "신청: 끝"),
    ('<hp:edit name="Edit1"><hp:text>홍길동</hp:text></hp:edit>', "신청: 홍길동 끝"),
    ('<hp:edit name="Edit1"><hp:text/></hp:edit>', "신청: 끝"),
], ids=["checked", "unchecked", "option", "button", "combo", "combo-value-only", "combo-none", "edit",
        "edit-empty"])
def test_form_controls_give_caption_and_value(control, expected):
    assert convert(xf.p(xf.run(xf.t("신청:")), xf.run(control), xf.run(xf.t(" 끝")))) == expected
