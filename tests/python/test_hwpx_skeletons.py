"""An HWPX section element larger than a run (a paragraph holding a table of
many rows, a cell holding a whole document, a paragraph of many runs) is
parsed as a skeleton whose rest is parsed a run at a time as the walk reaches
it: every document converts to the same Markdown that way as when its
elements are parsed whole. The tests lower the run size so that these small
documents, and the corpus, take that way at every level."""

from __future__ import annotations

from pathlib import Path

import pytest

import hwpxfixture as xf
import marlune
from marlune import _convert

CORPUS_HWPX = Path(__file__).resolve().parents[3] / "shared" / "corpus-hwpx"

# Run sizes: from every element a skeleton to a few of them.
RUN_BYTES = [16, 300, 4096]
WHOLE = 1 << 40


def rows(count: int, columns: int = 3) -> list[list[str]]:
    return [[xf.cell(f"{r}행 {c}열", r, c) for c in range(columns)] for r in range(count)]


def cells_in_one(paragraphs: list[str]) -> str:
    """A one-cell table holding the paragraphs, as documents framed by a border do."""
    return xf.table([[xf.cell(paragraphs, 0, 0)]], 1, 1)


LINKED = (xf.run(xf.field_begin("7", "HYPERLINK", "http\\://a.kr|tip;1;0;0;"), xf.t("링크 앞"))
          + xf.run(xf.t("링크 뒤"), xf.field_end("7")))
CLICK = xf.run(xf.click_here("8", "여기에 입력", False), xf.t("여기에 입력"), xf.field_end("8"))
OBJECTS = [
    xf.p(xf.run(xf.t("각주 앞"), xf.note("footNote", xf.p("각주 글")), xf.t("각주 뒤"))),
    xf.p(xf.run(xf.t("식: ")), xf.equation("{a} over {b}")),
    xf.p(xf.picture("image1", caption="그림 설명")),
    xf.p(xf.run(xf.text_box(xf.p("상자 글"), as_char=True))),
    xf.p(xf.run(xf.note("header", xf.p("머리말")))),
    xf.p(LINKED),
    xf.p(CLICK),
    xf.p(xf.run(xf.t("탭", xf.TAB, "줄", xf.LINE_BREAK, "끝"))),
]
SPANNED = [[xf.cell("넓은 칸", 0, 0, colspan=2), xf.cell("오른쪽", 0, 2)],
           [xf.cell("세로", 1, 0, rowspan=2), xf.cell("가", 1, 1), xf.cell("나", 1, 2)],
           [xf.cell("다", 2, 1), xf.cell("라", 2, 2)]]

CASES = {
    "table-of-many-rows": xf.section(xf.p("앞"), xf.p(xf.table(rows(300), 300, 3, caption="표 설명")), xf.p("뒤")),
    "cell-holding-the-document": xf.section(
        xf.p(cells_in_one([xf.p(f"{n} 번째 문단") for n in range(200)] + OBJECTS + [xf.p("마지막")]))),
    "paragraph-of-many-runs": xf.section(xf.p(*(xf.run(xf.t(f"조각{n} "), char=n % 3) for n in range(600)))),
    "long-text": xf.section(xf.p("긴 문장 " * 4000), xf.p("다음")),
    "nested-tables": xf.section(xf.p(xf.table(
        [[xf.cell([xf.p(xf.table(rows(40, 2), 40, 2))], r, 0), xf.cell(f"옆 {r}", r, 1)] for r in range(8)], 8, 2))),
    "cells-out-of-place": xf.section(xf.p(xf.table(
        [[xf.cell(f"{r}-{c}", 0, 0) for c in range(2)] for r in range(150)], 150, 2))),
    "spanned-cells-and-many-rows": xf.section(xf.p(xf.table(SPANNED + rows(100)[3:], 100, 3))),
    "objects-in-a-long-paragraph": xf.section(xf.p(*(x for _ in range(30) for x in (
        xf.run(xf.t("본문 ")), xf.equation("x^2"), xf.picture("image1", caption="설명"),
        xf.run(xf.text_box(xf.p("상자"))))))),
    "fields-across-paragraphs": xf.section(*(xf.p(xf.run(xf.field_begin(str(n), "HYPERLINK", f"http\\://{n}.kr"),
                                                         xf.t(f"링크 {n}")))
                                             + xf.p(xf.run(xf.t("닫힘"), xf.field_end(str(n))))
                                             for n in range(50))),
}


def package(section: str) -> bytes:
    return xf.package([section], pictures={"image1.png": b"\x89PNG"})


def in_runs(run_bytes: int, convert, *args, **options):
    previous = _convert._set_hwpx_run_bytes(run_bytes)
    try:
        return convert(*args, **options)
    finally:
        _convert._set_hwpx_run_bytes(previous)


@pytest.mark.parametrize("name", CASES)
@pytest.mark.parametrize("options", [{}, {"headers": True, "equations": "script", "tables": "html"},
                                     {"placeholders": False, "tables": "pipe"}],
                         ids=["defaults", "headers-script-html", "no-placeholders"])
def test_skeletons_convert_as_whole_elements(name, options):
    source = package(CASES[name])
    whole = in_runs(WHOLE, marlune.convert, source, **options)
    for run_bytes in RUN_BYTES:
        assert in_runs(run_bytes, marlune.convert, source, **options) == whole, run_bytes


def test_skeletons_hold_what_the_fixtures_put_there():
    # The comparisons above are not between two empty or partial outputs.
    convert = lambda name, **options: in_runs(16, marlune.convert, package(CASES[name]), **options)  # noqa: E731
    table = convert("table-of-many-rows")
    assert table.startswith("앞") and table.endswith("뒤") and "299행 2열" in table and "표 설명" in table
    document = convert("cell-holding-the-document", headers=True)
    for piece in ("199 번째 문단", "각주 글", "\\frac{a}{b}", "![그림 설명](image1.png)", "상자 글", "머리말",
                  "[링크 앞링크 뒤](http://a.kr)", "마지막"):
        assert piece in document, piece
    assert convert("paragraph-of-many-runs").count("조각") == 600
    assert convert("long-text").count("긴 문장") == 4000
    assert convert("nested-tables").count("39행 1열") == 8
    assert convert("spanned-cells-and-many-rows").count("행 0열") == 97
    assert convert("fields-across-paragraphs").count("](http://") == 100


@pytest.mark.parametrize("damage", [
    ("<hp:tr>", "<hp:tr><hp:tr>", 150),
    ("</hp:tc>", "</hp:td>", 200),
    ('colAddr="', 'colAddr=', 250),
], ids=["unclosed-row", "mismatched-end-tag", "unquoted-attribute"])
def test_malformed_rests_fail_as_whole_parses_do(damage):
    old, new, nth = damage
    section = CASES["table-of-many-rows"]
    at = -1
    for _ in range(nth):
        at = section.index(old, at + 1)
    source = package(section[:at] + new + section[at + len(old):])
    for run_bytes in (WHOLE, *RUN_BYTES):
        with pytest.raises(RuntimeError, match="malformed XML"):
            in_runs(run_bytes, marlune.convert, source)


MASTER_PAGE = ('<masterPage xmlns:hp="p"><hp:subList>' + "".join(xf.p(f"바탕쪽 {n}") for n in range(200))
               + "</hp:subList></masterPage>")


def with_master_page(page: str) -> bytes:
    section = xf.section(xf.p(xf.run('<hp:secPr><hp:masterPage idRef="mp0"/></hp:secPr>', xf.t("본문"))))
    return xf.package([section], items={"mp0": "Contents/masterpage0.xml"},
                      extra={"Contents/masterpage0.xml": page})


def test_master_pages_are_read_in_runs_and_left_out_when_malformed():
    whole = in_runs(WHOLE, marlune.convert, with_master_page(MASTER_PAGE), headers=True)
    assert whole.startswith("본문") and whole.count("바탕쪽") == 200
    for run_bytes in RUN_BYTES:
        assert in_runs(run_bytes, marlune.convert, with_master_page(MASTER_PAGE), headers=True) == whole
        unclosed = with_master_page(MASTER_PAGE.replace("</hp:subList>", ""))
        assert in_runs(run_bytes, marlune.convert, unclosed, headers=True) == "본문"


def corpus_files() -> list[Path]:
    return sorted(CORPUS_HWPX.rglob("*.hwpx")) if CORPUS_HWPX.is_dir() else []


def outcome(run_bytes: int, path: Path) -> object:
    try:
        return in_runs(run_bytes, marlune.parse, str(path), headers=True)
    except RuntimeError as error:
        return str(error)


@pytest.mark.skipif(not corpus_files(), reason=f"corpus folder not present: {CORPUS_HWPX}")
@pytest.mark.parametrize("run_bytes", [16, 300, 4096])
def test_corpus_converts_the_same_in_skeletons(run_bytes):
    differing = [path.name for path in corpus_files() if outcome(run_bytes, path) != outcome(WHOLE, path)]
    assert differing == []
