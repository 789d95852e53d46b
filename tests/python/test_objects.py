"""hwp_to_markdown end to end for tables and drawing objects."""

from __future__ import annotations

from pathlib import Path

import pytest

from hwpfixture import (
    HWPTAG_LIST_HEADER,
    LINE_BREAK,
    NBSPACE,
    PARA_END,
    clk_field_header,
    ctrl_data_name,
    ctrl_header,
    equation,
    field_end,
    field_start,
    hwp_document,
    list_header,
    para,
    para_text,
    picture,
    picture_record,
    record,
    shape_component,
    tab,
    table,
    table_record,
    text_box,
)
from marlune import hwp_to_markdown

# Rows times the longest row may not exceed this many cells.
MAX_GRID_CELLS = 1 << 20


def convert(tmp_path: Path, records: bytes) -> str:
    path = tmp_path / "doc.hwp"
    path.write_bytes(hwp_document([records]))
    return hwp_to_markdown(str(path))


def field_para(before: str, *field_texts: str, after: str = "y", level: int = 2) -> bytes:
    """A paragraph (by default of a top table's cell) with one click-here
    field per text, separated by "-"."""
    parts: list[str | bytes | int] = [before]
    for k, text in enumerate(field_texts):
        if k:
            parts.append("-")
        parts += [field_start(), text, field_end()]
    parts += [after, PARA_END]
    return para(para_text(*parts), level)


def field(name: str = "N", direction: str | None = "D", level: int = 3, modified: bool = False) -> bytes:
    """A click-here control header at ``level`` and its name one level below."""
    return clk_field_header(direction, modified=modified, level=level) + ctrl_data_name(name, level + 1)


def chain(count: int, k: int = 0) -> bytes:
    """``count`` tables, each nested in the single cell of the one before.
    Table k's cell holds "Lk", the next table and, when there is one, "ek"."""
    level = 1 + 2 * k
    items: list[str | bytes] = [f"L{k}"]
    if k + 1 < count:
        items += [chain(count, k + 1), f"e{k}"]
    return table([[items]], level=level)


def empty_grid(rows: int, cols: int) -> str:
    """The rendering of a table of empty cells, without the final empty line."""
    line = "|" * (cols + 1) + "\n"
    return line + "|" + "---|" * cols + "\n" + line * (rows - 1)


# --------------------------------------------------------------------------
# tables
# --------------------------------------------------------------------------

TABLE_CASES = [
    pytest.param(table([["a", "b"], ["c", "d"]]) + para("z"), "|a|b|\n|---|---|\n|c|d|\n\nz",
                 id="two-by-two"),
    pytest.param(table([["a", "b"], ["c", "d"]]), "|a|b|\n|---|---|\n|c|d|", id="last-block-trimmed"),
    pytest.param(table([["a", "b"]]) + para("z"), "|a|b|\n|---|---|\n\nz", id="one-row-header-only"),
    pytest.param(table([["a", "b", "c"], ["d"]]), "|a|b|c|\n|---|---|---|\n|d|||", id="ragged-row-padded"),
    pytest.param(table([["ab"], ["c", "d"]]), "|ab||\n|---|---|\n|c|d|", id="merged-cell-first-row"),
    pytest.param(table([["a", "b", "c"], ["d", "e"]]), "|a|b|c|\n|---|---|---|\n|d|e||",
                 id="rowspan-shifts-row-left"),
    pytest.param(table([["a"], ["b", "c", "d"], ["e"]]), "|a|||\n|---|---|---|\n|b|c|d|\n|e|||",
                 id="longest-row-sets-width"),
    pytest.param(table([[["x", "", " \t", "y"]]]), "|x y|\n|---|", id="cell-paragraphs-joined"),
    pytest.param(table([[["", "x"], ["y", ""]]]), "|x|y|\n|---|---|", id="empty-paragraphs-add-no-space"),
    pytest.param(table([["  a  b\u3000", ""]]), "|a  b||\n|---|---|", id="cell-paragraph-trimmed"),
    pytest.param(table([["a|b", "|"]]), "|a\\|b|\\||\n|---|---|", id="pipe-escaped"),
    pytest.param(table([[[para(para_text("a", LINE_BREAK, "b", PARA_END), 2)]]]), "|a b|\n|---|",
                 id="line-break-becomes-space"),
    pytest.param(table([[[para(para_text("a", tab(), "b", NBSPACE, "c", PARA_END), 2)]]]),
                 "|a\tb c|\n|---|", id="tab-and-fixed-space-kept"),
    pytest.param(table([["한글", "😀"]]), "|한글|😀|\n|---|---|", id="korean-and-astral"),
    pytest.param(table([["*a*", "# b"]]), "|*a*|# b|\n|---|---|", id="no-other-escaping"),
    pytest.param(para("a") + table([["b"]]) + table([["c"]]) + para("d"),
                 "a\n\n|b|\n|---|\n\n|c|\n|---|\n\nd", id="tables-between-paragraphs"),
]


@pytest.mark.parametrize(("records", "expected"), TABLE_CASES)
def test_tables(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


NESTED_CASES = [
    pytest.param(table([[["pre", table([["a", "b"], ["", "c"]], level=3), "post"], "n"]]),
                 "|pre a b c post|n|\n|---|---|", id="nested-table-flattened"),
    pytest.param(table([[[table([["a"], ["b"]], level=3)]]]), "|a b|\n|---|", id="nested-table-alone"),
    pytest.param(table([[[table([["", ""]], level=3), "x"]]]), "|x|\n|---|", id="empty-nested-table"),
    pytest.param(table([[[table([["a|b", [para(para_text("c", LINE_BREAK, "d", PARA_END), 4)]]], level=3)]]]),
                 "|a\\|b c d|\n|---|", id="nested-cells-escaped-on-render"),
    pytest.param(chain(4), "|L0 L1 L2 L3 e2 e1 e0|\n|---|", id="three-nested-levels-contribute"),
    pytest.param(chain(5), "|L0 L1 L2 L3 e3 e2 e1 e0|\n|---|", id="fourth-nested-level-lost"),
    pytest.param(chain(6), "|L0 L1 L2 L3 e3 e2 e1 e0|\n|---|", id="fifth-nested-level-lost"),
]


@pytest.mark.parametrize(("records", "expected"), NESTED_CASES)
def test_nested_tables(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


CELL_CONTROL_CASES = [
    pytest.param(table([[["a", picture(level=3, caption=["cap"]), "b"]]]), "|a b|\n|---|",
                 id="picture-contributes-nothing"),
    pytest.param(table([[["a", text_box(["box"], level=3), "b"]]]), "|a b|\n|---|",
                 id="text-box-contributes-nothing"),
    pytest.param(table([[["a", ctrl_header("head", 3) + para("hidden", 4), "b"]]]), "|a b|\n|---|",
                 id="unknown-control-hides-its-text"),
    pytest.param(table([[["a", equation("x", 3), "b"]]]), "|a $x$ b|\n|---|", id="equation-inline"),
    pytest.param(table([[[equation("  x^2 \n", 3)]]]), "|$x^2$|\n|---|", id="equation-script-trimmed"),
    pytest.param(table([[["a", equation("   ", 3)]]]), "|a|\n|---|", id="white-space-equation-nothing"),
    pytest.param(table([[["a", equation("", 3)]]]), "|a|\n|---|", id="empty-equation-nothing"),
    pytest.param(table([[["a", equation("x\ud800", 3)]]]), "|a|\n|---|", id="bad-equation-nothing"),
    pytest.param(table([[["a", ctrl_header("eqed", 3), "b"]]]), "|a b|\n|---|", id="equation-without-script"),
    pytest.param(table([[[equation("x", 3) + para("hidden", 4), "b"]]]), "|$x$ b|\n|---|",
                 id="equation-subtree-consumed"),
    pytest.param(table([[[equation("a|b\nc", 3)]]]), "|$a\\|b c$|\n|---|", id="equation-escaped-on-render"),
    pytest.param(table([[[equation("a\rb", 3)]]]), "|$a\rb$|\n|---|", id="carriage-return-unchanged"),
    pytest.param(table([[[table([["p", [equation("y", 5)]]], level=3)]]]), "|p $y$|\n|---|",
                 id="equation-in-nested-table"),
]


@pytest.mark.parametrize(("records", "expected"), CELL_CONTROL_CASES)
def test_controls_in_cells(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


CELL_FIELD_CASES = [
    pytest.param(table([[field_para("x", "T") + field("N", "D")]]), "|x{{N: D --> T}}y|\n|---|",
                 id="field-in-cell"),
    pytest.param(table([[field_para("x", "D") + field("N", "D", level=2)]]), "|x{{N: D}}y|\n|---|",
                 id="any-level-accepted"),
    pytest.param(table([[field_para("x", "T") + field("N", "D", level=7)]]), "|x{{N: D --> T}}y|\n|---|",
                 id="deep-level-accepted"),
    pytest.param(table([[field_para("x", "T") + clk_field_header("D", level=3)]]),
                 "|x{{: D --> T}}y|\n|---|", id="missing-name"),
    pytest.param(table([[field_para("x", "T") + clk_field_header("D", level=3) + ctrl_data_name("N", 3)]]),
                 "|x{{: D --> T}}y|\n|---|", id="name-one-level-below-header-only"),
    pytest.param(table([[field_para("x", "D", "E") + field("N", "D")]]), "|x{{N: D}}-Ey|\n|---|",
                 id="texts-outnumber-entries"),
    pytest.param(table([[[clk_field_header("D", level=3) + para("hidden", 4), "b"]]]), "|b|\n|---|",
                 id="no-pending-paragraph-hides-subtree"),
    pytest.param(table([[field_para("x", "T") + field("N", "D") + clk_field_header("E", level=3)
                         + para("hidden", 4)]]), "|x{{N: D --> T}}y|\n|---|", id="entries-full-hides-subtree"),
    pytest.param(table([[field_para("x", "a|b") + field("N", "D")]]), "|x{{N: D --> a\\|b}}y|\n|---|",
                 id="field-text-pipe-escaped"),
    pytest.param(table([[[para(para_text("x", field_start(), "a", LINE_BREAK, "b", field_end(), PARA_END), 2)
                          + field("N", "D")]]]), "|x{{N: D --> a b}}|\n|---|", id="field-text-line-break"),
    pytest.param(table([[field_para("x", "T") + field("a\rb\tc\nd", "D")]]),
                 "|x{{a\rb\tc d: D --> T}}y|\n|---|", id="name-cr-tab-kept-line-feed-space"),
    pytest.param(table([[[table([[field_para("x", "T", level=4) + field("N", "D", level=5)]], level=3)]]]),
                 "|x{{N: D --> T}}y|\n|---|", id="field-in-nested-table"),
    pytest.param(table([[[table([[[table([[field_para("x", "T", level=6) + field("N", "D", level=7)]],
                                         level=5)]]], level=3)]]]),
                 "|x{{N: D --> T}}y|\n|---|", id="field-two-tables-down"),
]


@pytest.mark.parametrize(("records", "expected"), CELL_FIELD_CASES)
def test_fields_in_cells(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


TBL = ctrl_header("tbl ")

TABLE_RECORD_CASES = [
    pytest.param(table([["x"]], caption=list_header(2) + para("cap", 2)), "|x|\n|---|",
                 id="caption-before-table-record-skipped"),
    pytest.param(table([["x"]], caption=list_header(2) + para(None, 2) + equation("e", 3)), "|x|\n|---|",
                 id="control-in-caption-skipped"),
    pytest.param(TBL + para(None, 2) + equation("e", 3) + para("z"), "z", id="no-table-record"),
    pytest.param(TBL + list_header(2) + para("cap", 2) + para("z"), "z", id="only-a-caption"),
    pytest.param(TBL + table_record([1, 1], truncate=17) + list_header(2) + para("x", 2) + list_header(2)
                 + para(None, 2) + picture(level=3) + equation("e", 3) + para("z"),
                 "[이미지]\n\n$$\ne\n$$\n\nz", id="seventeen-byte-record-no-table"),
    pytest.param(TBL + table_record([5], truncate=18) + list_header(2) + para("x", 2) + equation("e", 3)
                 + para("z"), "\nz", id="eighteen-byte-record-table-of-empty-rows"),
    pytest.param(TBL + table_record([0, 0]) + para("z"), "\nz", id="zero-cell-rows-leading-line-feed"),
    pytest.param(para("a") + TBL + table_record([0, 0]), "a", id="zero-cell-rows-at-end"),
    pytest.param(para("a") + TBL + table_record([0]) + para("z"), "a\n\n\nz", id="zero-cell-rows-between"),
    pytest.param(TBL + table_record([]) + list_header(2) + para("x", 2) + equation("e", 3) + para("z"), "z",
                 id="no-rows-nothing-cells-consumed"),
    pytest.param(TBL + table_record([2, 2]) + list_header(2) + para("a", 2) + para("z"),
                 "|a||\n|---|---|\n|||\n\nz", id="missing-cell-lists-empty"),
    pytest.param(TBL + table_record([2]) + para("z"), "|||\n|---|---|\n\nz", id="no-cell-lists"),
    pytest.param(TBL + table_record([1]) + list_header(2) + para("a", 2) + list_header(2) + para("b", 2)
                 + list_header(2) + equation("e", 3) + para("z"), "|a|\n|---|\n\nz", id="surplus-cells-passed-over"),
    pytest.param(TBL + table_record([1], rows=2, truncate=20) + list_header(2) + para("a", 2)
                 + list_header(2) + para("b", 2), "|a|\n|---|\n||", id="row-size-past-payload-is-zero"),
    pytest.param(TBL + table_record([], rows=65535, truncate=18) + para("z"), "\nz",
                 id="many-rows-without-sizes"),
]


@pytest.mark.parametrize(("records", "expected"), TABLE_RECORD_CASES)
def test_table_records(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# A table whose declared grid is too large is not built: the walk goes on
# right after the table record, so the cell records are walked as ordinary
# records (their paragraph text is too deep to show, their controls are
# dispatched).
@pytest.mark.parametrize("row_sizes", [
    pytest.param([32768] * 33, id="grid-over-limit"),
    pytest.param([1024] * 1025, id="one-row-over-limit"),
    pytest.param([32768] + [1] * 32, id="declared-grid-not-cell-total"),
])
def test_grid_over_limit_gives_no_table(tmp_path: Path, row_sizes: list[int]) -> None:
    records = (TBL + table_record(row_sizes) + list_header(2) + para("x", 2) + equation("e", 3)
               + para("z"))
    assert convert(tmp_path, records) == "$$\ne\n$$\n\nz"


@pytest.mark.parametrize(("rows", "cols"), [
    pytest.param(32, 32768, id="grid-at-limit"),
    pytest.param(16, 65535, id="widest-rows-under-limit"),
])
def test_grid_within_limit_is_built(tmp_path: Path, rows: int, cols: int) -> None:
    assert rows * cols <= MAX_GRID_CELLS
    records = TBL + table_record([cols] * rows) + para("z")
    assert convert(tmp_path, records) == empty_grid(rows, cols) + "\nz"


# --------------------------------------------------------------------------
# drawing objects
# --------------------------------------------------------------------------

GSO = ctrl_header("gso ")

SHAPE_CASES = [
    pytest.param(picture(), "[이미지]", id="picture-without-caption"),
    pytest.param(picture() + para("z"), "[이미지]\n\nz", id="picture-then-paragraph"),
    pytest.param(picture(caption=["a", "b"]), "[이미지: a b]", id="picture-caption-joined"),
    pytest.param(picture(caption=[" a ", "", "\u3000", "b\t"]), "[이미지: a b]",
                 id="caption-paragraphs-trimmed-blank-dropped"),
    pytest.param(picture(caption=["사진 설명"]), "[이미지: 사진 설명]", id="korean-caption"),
    pytest.param(picture(caption=["a]|*b"]), "[이미지: a]|*b]", id="caption-not-escaped"),
    pytest.param(picture(size=200), "[이미지]", id="long-picture-record"),
    pytest.param(picture(size=72) + para("z"), "z", id="seventy-two-byte-record-not-picture"),
    pytest.param(picture(size=72, caption=["c"]), "c", id="short-record-caption-only"),
    pytest.param(GSO + shape_component(2) + picture_record(3, 73) + picture_record(3, 72), "",
                 id="last-short-record-clears"),
    pytest.param(GSO + shape_component(2) + picture_record(3, 72) + picture_record(3, 73), "[이미지]",
                 id="last-long-record-sets"),
    pytest.param(GSO + shape_component(2, "$rec") + list_header(3) + para("t", 3) + picture_record(5), "[이미지]",
                 id="picture-record-any-level"),
    pytest.param(text_box(["a", "", "b"]), "a\nb", id="text-box-lines"),
    pytest.param(text_box([" a ", "b\u3000", "  "]) + para("z"), "a\nb\n\nz", id="text-box-lines-trimmed"),
    pytest.param(GSO + shape_component(2, "$rec") + list_header(3)
                 + para(para_text("a", tab(), "b", NBSPACE, "c", LINE_BREAK, "d", PARA_END), 3),
                 "a\tb c\nd", id="text-box-layout-characters"),
    pytest.param(text_box(["t"], caption=["c"]), "t", id="text-wins-over-caption"),
    pytest.param(GSO + list_header(2) + para("c", 2) + shape_component(2, "$rec") + list_header(3)
                 + para("t", 3) + picture_record(3), "[이미지: c]", id="picture-wins-over-text"),
    pytest.param(GSO + shape_component(2, "$lin") + para("z"), "z", id="line-without-text"),
    pytest.param(GSO + list_header(2) + para("c1", 2) + para("c2", 2) + shape_component(2, "$lin"), "c1 c2",
                 id="caption-only-paragraph"),
    pytest.param(GSO + list_header(2) + para("c", 2) + shape_component(3) + picture_record(4) + para("z"), "z",
                 id="no-shape-component-one-level-down"),
    pytest.param(GSO + para("z"), "z", id="empty-object"),
    pytest.param(GSO + list_header(2) + para("c", 2), "", id="caption-at-end-of-section"),
    pytest.param(GSO + shape_component(2, "$rec") + list_header(3) + para("t", 3)
                 + table([["a", "b"], ["", "c"]], level=4), "t\na\nb\nc", id="table-in-text-box"),
    pytest.param(GSO + shape_component(2, "$con") + text_box(["a"], level=3) + text_box(["b"], level=3),
                 "a\nb", id="group-of-text-boxes"),
    pytest.param(GSO + shape_component(2, "$rec") + list_header(3)
                 + para(para_text("x", field_start(), "T", field_end(), "y", PARA_END), 3)
                 + clk_field_header("D", level=4) + ctrl_data_name("N", 5), "xTy", id="field-text-stays-in-box"),
    pytest.param(picture() + equation("x") + text_box(["t"]), "[이미지]\n\n$$\nx\n$$\n\nt",
                 id="walk-resumes-after-object"),
    pytest.param(picture(caption=["a"]) + record(HWPTAG_LIST_HEADER, 2) + para("b", 2), "[이미지: a]",
                 id="trailing-records-belong-to-object"),
]


@pytest.mark.parametrize(("records", "expected"), SHAPE_CASES)
def test_shapes(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected

