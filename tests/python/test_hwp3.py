"""HWP 3.0 files through marlune.convert and marlune.parse: characters of
every class, tables with merged cells, notes, pictures, headers, summary
metadata, and damaged files that must give an error or less output."""

from __future__ import annotations

import collections
import random
import subprocess
import sys
import zlib
from pathlib import Path

import pytest

import hwp3fixture as h3
import marlune

HWP3 = Path(__file__).resolve().parents[2].parent / "shared" / "hwp3"
GIF = b"GIF89a" + bytes(20)


def convert(*paragraphs: bytes, **options) -> str:
    return marlune.convert(h3.document(*paragraphs), **options)


@pytest.mark.parametrize("items, expected", [
    (["plain ASCII"], "plain ASCII"),
    (["한글 문단"], "한글 문단"),
    (["※ ■ → ① Ⅰ"], "※ ■ → ① Ⅰ"),
    (["漢字 戰爭"], "漢字 戰爭"),
    (["a", h3.TAB, "b"], "a\tb"),
    (["a", h3.TIED_SPACE, "b"], "a b"),
    ([h3.code(0x81), "q", h3.code(0x82)], "\u201cq\u201d"),
    (["x", h3.code(0x2FFF), "y"], "x\ufffdy"),
    ([h3.code(0x8841), h3.code(0x8861), h3.code(0xD461)], "ㄱ가\ufffd"),
], ids=["ascii", "hangul", "symbols", "hanja", "tab", "tied-space", "quotes", "unmapped", "jamo-and-invalid"])
def test_characters(items, expected):
    assert expected in convert(h3.p(*items))


@pytest.mark.parametrize("compressed", [True, False])
def test_paragraphs_in_order_compressed_or_not(compressed):
    data = h3.document(h3.p("첫째"), h3.p("둘째"), h3.p("셋째"), compressed=compressed)
    assert marlune.convert(data) == "첫째\n\n둘째\n\n셋째"


def test_summary_gives_metadata_and_format():
    meta = h3.summary(title="제목", subject="주제", author="홍길동", keywords="열쇠")
    result = marlune.parse(h3.document(h3.p("x"), meta=meta))
    assert result.metadata["format"] == "hwp3"
    assert (result.metadata["title"], result.metadata["subject"]) == ("제목", "주제")
    assert (result.metadata["author"], result.metadata["keywords"]) == ("홍길동", "열쇠")


@pytest.mark.parametrize("level, expected", [(0, "# 개요"), (2, "### 개요"), (9, "###### 개요")])
def test_outline_paragraphs_are_headings(level, expected):
    assert convert(h3.p("본문"), h3.p(h3.outline(level), "개요")) == "본문\n\n" + expected


def test_table_with_merged_cell():
    cells = [h3.cell(0, 0, 0, 0, 2000, 1000, h3.p("합친 칸")),
             h3.cell(2, 0, 2001, 0, 1000, 1000, h3.p("c")),
             h3.cell(0, 1, 0, 1000, 1000, 1002, h3.p("a")),
             h3.cell(1, 1, 1000, 1000, 1000, 1000, h3.p("b")),
             h3.cell(2, 1, 2000, 1000, 1000, 1000, h3.p("d"))]
    html = convert(h3.p("앞", h3.box(cells)), tables="html")
    assert '<tr><td colspan="2">합친 칸</td><td>c</td></tr>' in html
    assert "<tr><td>a</td><td>b</td><td>d</td></tr>" in html
    assert html.index("앞") < html.index("합친 칸")


def test_plain_table_as_pipe_table_with_caption():
    md = convert(h3.p(h3.box(h3.grid([["머리", "둘"], ["1", "2"]]), caption=[h3.p("표 설명")])))
    assert "|머리|둘|\n|---|---|\n|1|2|" in md
    assert "표 설명" in md


def test_text_box_gives_its_paragraphs():
    md = convert(h3.p("앞", h3.box([h3.cell(0, 0, 0, 0, 100, 100, h3.p("상자 안"))], kind=1), "뒤"))
    assert md.index("앞") < md.index("상자 안") < md.index("뒤")


def _equation(script: str, caption: list[bytes] | None = None) -> bytes:
    return h3.box([h3.cell(0, 0, 0, 0, 100, 100, h3.p(script))], kind=2, caption=caption)


def test_equation_stands_in_the_text_as_its_script_or_latex():
    paragraph = h3.p("식 ", _equation("x over y"), " 끝")
    assert "식 " in convert(paragraph, equations="script") and "x over y" in convert(paragraph, equations="script")
    latex = convert(paragraph)
    assert "\\frac{x}{y}" in latex and latex.index("식") < latex.index("frac") < latex.index("끝")


def test_equation_with_caption_is_a_block_beside_it():
    md = convert(h3.p("앞", _equation("a over b", caption=[h3.p("식 설명")])), equations="script")
    assert md.index("앞") < md.index("a over b") < md.index("식 설명")


@pytest.mark.parametrize("endnote", [False, True])
def test_note_reference_and_text(endnote):
    md = convert(h3.p("본문", h3.note(h3.p("각주 내용"), endnote=endnote), " 계속"))
    assert "본문[^1] 계속" in md and "[^1]: 각주 내용" in md
    assert "각주 내용" not in convert(h3.p("본문", h3.note(h3.p("각주 내용"))), notes=False)


def test_headers_and_footers_follow_the_option():
    data = h3.p(h3.header_footer(h3.p("머리말")), h3.header_footer(h3.p("꼬리말"), footer=True), "본문")
    assert "머리말" not in convert(data)
    with_headers = convert(data, headers=True)
    assert "머리말" in with_headers and "꼬리말" in with_headers


def test_hidden_comment_text_stands_where_it_is():
    assert "숨은 설명" in convert(h3.p("a", h3.hidden_comment(h3.p("숨은 설명"))))


def test_embedded_picture_named_as_an_item_with_its_bytes():
    data = h3.document(h3.p(h3.picture("E$$00000.gif", caption=[h3.p("그림 설명")], extra=b"xyz")),
                       blocks=[h3.picture_block("E$$00000.gif", GIF)])
    result = marlune.parse(data)
    assert "BIN0001.gif" in result.markdown and "그림 설명" in result.markdown
    assert [(i.name, i.media_type, i.data) for i in result.images] == [("BIN0001.gif", "image/gif", GIF)]


def test_drawn_text_boxes_give_their_paragraphs():
    md = convert(h3.p("앞"), h3.p(h3.drawing(None, [h3.p("그린 상자")], None, [h3.p("둘째 상자")])), h3.p("뒤"))
    assert md.index("앞") < md.index("그린 상자") < md.index("둘째 상자") < md.index("뒤")


def test_picture_without_stored_data_has_no_item():
    md = convert(h3.p(h3.picture("E$$00009.gif", caption=[h3.p("없는 그림")])))
    assert "E$$00009" not in md and "없는 그림" in md


@pytest.mark.parametrize("target, expected", [
    (("http://example.com/가", ""), "[여기](http://example.com/가)"),
    (("", "책갈피"), "앞 여기 뒤"),  # bookmarks stay text
], ids=["address", "bookmark"])
def test_hypertext_is_a_link_to_its_target(target, expected):
    data = h3.document(h3.p("앞 ", h3.hypertext("여기"), " 뒤"), blocks=[h3.hyperlink_block(target)])
    assert expected in marlune.convert(data)


def test_hypertext_without_target_keeps_its_text():
    assert "여기" in convert(h3.p("앞 ", h3.hypertext("여기")))


def test_unmapped_characters_are_counted():
    result = marlune.parse(h3.document(h3.p("a", h3.code(0x2FFF), h3.code(0x2FFE), "b")))
    assert result.metadata["unmapped_characters"] == 2
    assert marlune.parse(h3.document(h3.p("가"))).metadata["unmapped_characters"] == 0


def test_password_protected_file_is_refused():
    with pytest.raises(RuntimeError, match="[Pp]assword"):
        marlune.convert(h3.document(h3.p("x"), password=True))


def test_short_header_is_an_error():
    with pytest.raises(RuntimeError):
        marlune.convert(h3.SIGNATURE + bytes(100))


def test_file_on_disk_is_read_by_signature(tmp_path):
    path = tmp_path / "old.hwp"
    path.write_bytes(h3.document(h3.p("디스크의 문서")))
    assert "디스크의 문서" in marlune.convert(path)


def _damaged(data: bytes, seed: int) -> list[bytes]:
    rng = random.Random(seed)
    cuts = [data[:n] for n in range(1166, len(data), max(1, len(data) // 40))]
    flips = []
    for _ in range(40):
        mutated = bytearray(data)
        for _ in range(rng.randint(1, 8)):
            mutated[rng.randrange(1166, len(data))] = rng.randrange(256)
        flips.append(bytes(mutated))
    return cuts + flips


@pytest.mark.parametrize("compressed", [True, False])
def test_damaged_files_give_an_error_or_less_output(compressed):
    data = h3.document(h3.p("앞", h3.box(h3.grid([["a", "b"]])), h3.note(h3.p("주"))),
                       h3.p(h3.picture("E$$00000.gif")), h3.p("뒤"), compressed=compressed,
                       blocks=[h3.picture_block("E$$00000.gif", GIF)])
    for damaged in _damaged(data, 3):
        try:
            marlune.parse(damaged)
        except RuntimeError:
            pass


def test_oversized_counts_are_bounded():
    huge_cells = bytearray(h3.box(h3.grid([["a"]])))
    huge_cells[8 + 80:8 + 82] = b"\xff\xff"
    md = convert(h3.p("앞"), h3.p(bytes(huge_cells)), h3.p("뒤"))
    assert "앞" in md


def test_deep_nesting_stops_reading():
    inner = h3.p("바닥")
    for _ in range(200):
        inner = h3.p(h3.box([h3.cell(0, 0, 0, 0, 100, 100, inner)], kind=1))
    assert isinstance(convert(h3.p("맨 위"), inner), str)


def _non_space(text: str) -> collections.Counter:
    return collections.Counter(c for c in text if not c.isspace())


@pytest.mark.skipif(not HWP3.is_dir(), reason="needs ../shared/hwp3")
@pytest.mark.parametrize("name", ["sample4", "sample5", "sample10", "sample11"])
def test_samples_hold_their_twins_text(name):
    twin = next(HWP3.glob(f"hwp3-{name}-hwp5*.hwp"))
    ours = marlune.convert(HWP3 / f"hwp3-{name}.hwp")
    theirs = marlune.convert(twin)
    expected = _non_space(theirs)
    assert sum((expected & _non_space(ours)).values()) >= 0.99 * sum(expected.values())
    assert ours.count("|---") + ours.count("<table") == theirs.count("|---") + theirs.count("<table")


def _recompressed(data: bytes, mutate) -> bytes:
    """The sample with its inflated body changed by mutate, compressed again."""
    header = data[:h3.HEADER_BYTES]
    inflater = zlib.decompressobj(-15)
    body = bytearray(inflater.decompress(data[h3.HEADER_BYTES:]))
    mutate(body)
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    return header + packer.compress(bytes(body)) + packer.flush()


@pytest.mark.skipif(not HWP3.is_dir(), reason="needs ../shared/hwp3")
@pytest.mark.parametrize("name", ["sample5", "sample11"])
def test_mutated_samples_give_an_error_or_less_output(name):
    data = (HWP3 / f"hwp3-{name}.hwp").read_bytes()
    rng = random.Random(name)

    def flip(body: bytearray) -> None:
        for _ in range(rng.randint(1, 16)):
            body[rng.randrange(len(body))] = rng.randrange(256)

    def oversize(body: bytearray) -> None:
        at = rng.randrange(len(body) - 2)
        body[at:at + 2] = b"\xff\xff"

    mutants = [data[:rng.randrange(len(data))] for _ in range(6)]
    mutants += [_recompressed(data, flip) for _ in range(12)]
    mutants += [_recompressed(data, oversize) for _ in range(12)]
    mutants += [_recompressed(data, lambda body: body.__delitem__(slice(rng.randrange(len(body)), None)))
                for _ in range(4)]
    for mutant in mutants:
        try:
            assert isinstance(marlune.parse(mutant).markdown, str)
        except RuntimeError:
            pass


def test_command_line_reads_hwp3_by_signature(tmp_path):
    path = tmp_path / "old.hwp"
    path.write_bytes(h3.document(h3.p("명령줄에서")))
    done = subprocess.run([sys.executable, "-m", "marlune", str(path)], capture_output=True, timeout=120)
    assert done.returncode == 0 and "명령줄에서" in done.stdout.decode()
