"""Content the faithful conversion keeps beyond the exact one, whole
documents: notes, page headers and footers, grouped text boxes, hyperlinks,
click-here fields, pictures and outline headings."""

from __future__ import annotations

import random
import struct

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune import _convert


def noted(before: str, kind: str, after: str, note: str) -> bytes:
    return hf.para(hf.with_control(before, 17, kind, after)) + hf.list_control(kind, [note])


NOTES = (noted("가", "en  ", "나", "미주") + noted("다", "fn  ", "", "각주 하나")
         + noted("라", "fn  ", "", "각주 둘"))


@pytest.mark.parametrize("notes, expected", [
    (True, "가[^3]나\n\n다[^1]\n\n라[^2]\n\n[^1]: 각주 하나\n\n[^2]: 각주 둘\n\n[^3]: 미주"),
    (False, "가나\n\n다\n\n라"),
], ids=["numbered-footnotes-first", "dropped"])
def test_notes(notes, expected):
    assert marlune.convert(hf.hwp_document([NOTES]), notes=notes) == expected


def page_text(name: str, text: str) -> bytes:
    return hf.para(hf.with_control("", 16, name)) + hf.list_control(name, [text])


HEADED = (page_text("head", "머리말") + page_text("foot", "꼬리말") + hf.para("본문")
          + page_text("head", "머리말"))


@pytest.mark.parametrize("headers, expected", [
    (True, "머리말\n\n본문 1\n\n본문\n\n꼬리말"),
    (False, "본문 1\n\n본문"),
], ids=["each-once", "off"])
def test_headers_and_footers(headers, expected):
    document = hf.hwp_document([page_text("head", "머리말") + hf.para("본문 1"), HEADED])
    assert marlune.convert(document, headers=headers) == expected


def test_text_box_two_groups_deep():
    inner_group = hf.shape("$con", 3, hf.shape("$rec", 4, hf.box_text(["안쪽 상자"], 5)))
    outer = hf.group([hf.shape("$rec", 3, hf.box_text(["바깥 상자"], 4)), inner_group])
    section = hf.para(hf.with_control("앞", 11, "gso ")) + outer + hf.para("뒤")
    assert marlune.convert(hf.hwp_document([section])) == "앞\n\n바깥 상자\n\n안쪽 상자\n\n뒤"


@pytest.mark.parametrize("command, expected", [
    ("http\\://example.com/a b;1;0;0;", "앞 [누리집](http://example.com/a%20b) 뒤"),
    ("https\\://a.kr/x\\;y;1;0;0;", "앞 [누리집](https://a.kr/x;y) 뒤"),
    ("mailto\\:me@a.kr;1;0;0;", "앞 [누리집](mailto:me@a.kr) 뒤"),
    ("me@a.kr;1;0;0;", "앞 [누리집](mailto:me@a.kr) 뒤"),
    ("www.a.kr;1;0;0;", "앞 [누리집](http://www.a.kr) 뒤"),
    ("책갈피;2;0;0;", "앞 누리집 뒤"),
    ("C\\:\\\\문서\\\\a.hwp;3;0;0;", "앞 누리집 뒤"),
    ("https\\://rebro.kr/160|https\\://rebro.kr/160;1;0;0;", "앞 [누리집](https://rebro.kr/160) 뒤"),
    ("https\\://a.kr/x\\|y|https\\://a.kr;1;0;0;", "앞 [누리집](https://a.kr/x|y) 뒤"),
], ids=["web", "escaped-semicolon", "mail", "bare-mail", "www", "bookmark", "file", "address-twice",
        "escaped-bar"])
def test_hyperlinks(command, expected):
    section = hf.para(hf.linked("누리집", "앞 ", " 뒤")) + hf.hyperlink_header(command)
    assert marlune.convert(hf.hwp_document([section])) == expected


def test_pictures_named_by_their_binary_item_and_written_once(tmp_path):
    # A picture names the item by its place among DocInfo's entries; the
    # entry's own id names the stream. Streams of deleted pictures linger
    # (BIN0002.png here), as they do in real documents.
    info = hf.doc_info([hf.bin_data_record(2, "png"), hf.bin_data_record(3, "jpg")])
    section = (hf.para(hf.with_control("", 11, "gso ")) + hf.picture(caption=["지도"], item=2)
               + hf.para(hf.with_control("", 11, "gso ")) + hf.picture(item=2))
    streams = {"DocInfo": info, **hf.bin_data_item(3, "jpg", b"\xff\xd8\xff"),
               **hf.bin_data_item(2, "png", b"\x89PNG")}
    document = hf.hwp_document([section], extra_streams=streams)
    assert marlune.convert(document) == "![지도](BIN0003.jpg)\n\n![](BIN0003.jpg)"
    parsed = marlune.parse(document, images=tmp_path / "그림")
    assert parsed.images == [marlune.Image("BIN0003.jpg", "image/jpeg", b"\xff\xd8\xff")]
    assert (tmp_path / "그림" / "BIN0003.jpg").read_bytes() == b"\xff\xd8\xff"
    assert parsed.markdown.count("그림/BIN0003.jpg)") == 2


def test_outline_headings():
    info = hf.doc_info([hf.para_shape_record(), hf.para_shape_record(hf.HEADING_OUTLINE, 0),
                        hf.para_shape_record(hf.HEADING_OUTLINE, 2), hf.para_shape_record(hf.HEADING_OUTLINE, 6)])
    # Outline headings come with styles or their own paragraph shapes; a
    # document all in the default style and shape (0) is not searched.
    styled = (hf.para("제목", shape=1, style=2) + hf.para("본문") + hf.para("소제목", shape=2, style=4)
              + hf.para("깊은 제목", shape=3, style=8))
    unstyled = hf.para("제목") + hf.para("본문")
    convert = lambda *sections: marlune.convert(hf.hwp_document(list(sections), extra_streams={"DocInfo": info}))
    assert convert(styled) == "# 제목\n\n본문\n\n### 소제목\n\n###### 깊은 제목"
    assert convert(unstyled) == "제목\n\n본문"
    assert convert(hf.para("제목", shape=1) + hf.para("본문")) == "# 제목\n\n본문"
    # A later section's styles make its headings, whatever came before.
    assert convert(unstyled, styled).endswith("본문\n\n# 제목\n\n본문\n\n### 소제목\n\n###### 깊은 제목")


def test_doc_info_is_read_only_to_the_last_counted_paragraph_shape():
    # ID_MAPPINGS counts one binary item and two shapes (14th u32); the
    # shapes sit past 32 KiB of fonts, a third shape after as many styles
    # is not read.
    counts = hf.record(17, 0, struct.pack("<18I", 1, *[0] * 12, 2, *[0] * 4))
    filler = [hf.record(19, 1, bytes(4000))] * 10
    noise = random.Random(1)  # incompressible styles
    styles = [hf.record(26, 1, noise.randbytes(4000)) for _ in range(10)]
    info = hf.doc_info([counts, hf.bin_data_record(1, "png"), *filler, hf.para_shape_record(),
                        hf.para_shape_record(hf.HEADING_OUTLINE, 1), *styles,
                        hf.para_shape_record(hf.HEADING_OUTLINE, 0)])
    section = hf.para("제목", shape=1, style=3) + hf.para("본문", shape=2)
    document = hf.hwp_document([section], extra_streams={"DocInfo": info})
    assert marlune.convert(document) == "## 제목\n\n본문"


@pytest.mark.parametrize("metadata, expected", [
    (True, {"title": "보고서", "sections": 1, "version": "5.0.3.0", "format": "hwp"}),
    (False, {"sections": 1, "version": "5.0.3.0", "format": "hwp"}),
])
def test_metadata_false_leaves_the_summary_unread(metadata, expected):
    streams = {hf.SUMMARY_STREAM: hf.summary_info({2: "보고서"})}
    document = hf.hwp_document([hf.para("본문")], extra_streams=streams)
    markdown, raw, _ = _convert.parse(document, metadata=metadata)
    assert (markdown, raw) == ("본문", expected)


# Boxes in a sentence: the boxes' texts, each in a box of its own or all in
# one, whether they stand in the line. Inline, the sentence reads on; else
# HWP cuts the paragraph at the box and HWPX writes the box after its
# paragraph, as before.
INLINE_BOXES = [
    pytest.param(["커피 메뉴"], False, True, True, id="box-in-the-sentence"),
    pytest.param(["학생", "과목"], True, True, True, id="boxes-side-by-side"),
    pytest.param(["커피 메뉴"], False, False, False, id="floating-box-is-a-block"),
    pytest.param(["첫째 줄", "둘째 줄"], False, True, False, id="two-paragraphs-are-a-block"),
    pytest.param(["긴 글" * 40], False, True, False, id="long-text-is-a-block"),
]


@pytest.mark.parametrize("boxes, apart, as_char, inline", INLINE_BOXES)
def test_boxes_standing_in_the_line(boxes, apart, as_char, inline):
    groups = [[box] for box in boxes] if apart else [boxes]
    marks = [hf.ctrl_char(11, "gso ") for _ in groups]
    controls = hf.para_text("앞 ", *marks, "는 카테고리", hf.PARA_END)
    body = b"".join(hf.text_box(group, 1, as_char=as_char) for group in groups)
    hwpx_boxes = "".join(xf.text_box(*(xf.p(box) for box in group), as_char=as_char) for group in groups)
    if inline:
        expected_hwp = expected_hwpx = "앞 " + " ".join(boxes) + "는 카테고리"
    else:
        expected_hwp = "\n\n".join(["앞", *boxes, "는 카테고리"])
        expected_hwpx = "\n\n".join(["앞 는 카테고리", *boxes])
    assert marlune.convert(hf.hwp_document([hf.para(controls) + body])) == expected_hwp
    hwpx = xf.package([xf.section(xf.p(xf.run(xf.t("앞 "), hwpx_boxes, xf.t("는 카테고리"))))])
    assert marlune.convert(hwpx) == expected_hwpx
