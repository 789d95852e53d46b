"""Large compressed sections are walked as they inflate, a window of records
at a time: every document converts to the same Markdown that way as when its
sections are inflated whole. The tests lower the stored size from which
sections are streamed to 0, so that every section of these small documents
takes that way."""

from __future__ import annotations

import zlib

import pytest

import hwpfixture as hf
import marlune
from marlune import _convert

DEFAULT_OUTLINE = [("^1.", 0), ("^2.", 8), ("^3)", 0)]
SHAPES = [hf.para_shape_record(), hf.para_shape_record(hf.HEADING_OUTLINE, 0),
          hf.para_shape_record(hf.HEADING_OUTLINE, 1)]
DOC_INFO = hf.doc_info([hf.numbering_record(DEFAULT_OUTLINE, starts=[1, 1]),
                        hf.numbering_record([("제^1장", 0), ("^2.", 0)], starts=[1, 1]),
                        hf.bin_data_record(1, "png"), *SHAPES])
STREAMS = {"DocInfo": DOC_INFO, **hf.bin_data_item(1, "png", b"\x89PNG")}


def body(count: int, start: int = 0) -> bytes:
    """count plain paragraphs: a bit over 100 bytes of records each."""
    return b"".join(hf.para(f"{n} 번째 문단의 본문 텍스트입니다.") for n in range(start, start + count))


def noted(kind: str, note: str) -> bytes:
    return hf.para(hf.with_control("앞", 17, kind, "뒤")) + hf.list_control(kind, [note])


# One of every kind of object the walk reads, between runs of paragraphs
# long enough that the section spans many windows.
OBJECTS = (hf.para(hf.with_control("", 11, "tbl ")) + hf.table([["가", "나"], ["다", ["라", "마"]]])
           + noted("fn  ", "각주") + noted("en  ", "미주")
           + hf.para(hf.with_control("식 ", 11, "eqed")) + hf.equation("{a} over {b}")
           + hf.para(hf.with_control("", 11, "gso ")) + hf.picture(caption=["그림 설명"], item=1)
           + hf.para(hf.with_control("", 11, "gso ")) + hf.text_box(["상자 글"])
           + hf.para(hf.with_control("", 16, "head")) + hf.list_control("head", ["머리말"])
           + hf.para("제목", shape=1, style=1) + hf.para("소제목", shape=2, style=2))
MIXED = hf.section_definition(2) + b"".join(body(3000, 3000 * k) + OBJECTS for k in range(4))

# Cells holding more than a window of records: one group larger than the
# window, and paragraph texts long enough for extended record sizes.
LONG_TEXT = "긴 본문 " * 3000
BIG_TABLE = (hf.para(hf.with_control("", 11, "tbl "))
             + hf.table([[LONG_TEXT + str(r), "칸"] for r in range(160)]))


def corrupt(data: bytes) -> bytes:
    """Valid DEFLATE for the first half of data, then a block of the reserved
    type 3, which no inflater takes."""
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data[:len(data) // 2]) + compressor.flush(zlib.Z_FULL_FLUSH) + b"\x07\x00"


def document(*sections: bytes | None, raw: dict[int, bytes] | None = None) -> bytes:
    """An HWP document of sections (deflated with their trailer), some given
    as their stored bytes instead (raw, by index)."""
    streams = dict(STREAMS)
    for index, stored in (raw or {}).items():
        streams[f"BodyText/Section{index}"] = stored
    return hf.hwp_document(list(sections), extra_streams=streams)


CASES = {
    "many-paragraphs-and-objects": document(MIXED),
    "definition-after-the-first-paragraph": document(
        hf.para("제목", shape=1, style=1) + body(2000) + hf.section_definition(2) + hf.para("제목", shape=1, style=1)),
    "shapes-used-only-late": document(body(12000) + hf.para("제목", shape=1, style=1)),
    "records-deeper-than-the-first-level": document(
        hf.para("떠도는 문단", level=2) + hf.picture(level=1, item=1) + MIXED),
    "group-larger-than-the-window": document(body(10) + BIG_TABLE + body(10, 10)),
    "several-sections-one-empty": document(MIXED, b"", hf.section_definition(1) + body(3000), raw={1: b""}),
    "truncated-deflate": document(None, raw={0: hf.deflate_raw(MIXED)[:-20000]}),
    "record-cut-short": document(None, raw={0: hf.deflate_raw(MIXED[:-7])}),
    "corrupt-deflate-ends-the-document": document(body(5), None, body(5), raw={1: corrupt(MIXED)}),
    "corrupt-first-section": document(None, raw={0: corrupt(MIXED)}),
}


def streamed(source: bytes, **options: object) -> str:
    previous = _convert._set_streamed_section_bytes(0)
    try:
        return marlune.convert(source, **options)
    finally:
        _convert._set_streamed_section_bytes(previous)


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("options", [{}, {"headers": True, "equations": "script", "tables": "html"}],
                         ids=["defaults", "headers-script-html"])
def test_streamed_sections_convert_as_whole_ones(name, options):
    source = CASES[name]
    assert streamed(source, **options) == marlune.convert(source, **options)


def test_streamed_sections_hold_what_the_fixtures_put_there():
    # The comparisons above are not between two empty outputs.
    mixed = streamed(CASES["many-paragraphs-and-objects"], headers=True)
    for piece in ("11999 번째 문단", "|다|라<br>마|", "각주", "미주", "\\frac{a}{b}", "![그림 설명](BIN0001.png)",
                  "상자 글", "머리말", "# 제1장 제목", "## 1. 소제목"):
        assert piece in mixed, piece
    late = streamed(CASES["definition-after-the-first-paragraph"])
    assert late.startswith("# 제1장 제목") and late.endswith("# 제2장 제목")
    assert streamed(CASES["shapes-used-only-late"]).endswith("# 제목")
    assert streamed(CASES["group-larger-than-the-window"]).count("긴 본문") == 160 * 3000
    assert streamed(CASES["corrupt-deflate-ends-the-document"]).endswith("4 번째 문단의 본문 텍스트입니다.")
    assert streamed(CASES["corrupt-first-section"]) == ""
    truncated = streamed(CASES["truncated-deflate"])
    assert "0 번째 문단" in truncated and "11999 번째 문단" not in truncated
