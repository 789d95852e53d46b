"""Tables in the faithful conversion, whole documents: cells placed by their
own addresses, normalisation, frames unwrapped, pipe or HTML, escaping,
captions, pictures and text boxes inside cells."""

from __future__ import annotations

import pytest

import hwpfixture as hf
import marlune


def anchored(code: int, ctrl: str, records: bytes, level: int = 0) -> bytes:
    """A paragraph holding one object's control character, then the object."""
    return hf.para(hf.with_control("", code, ctrl), level) + records


def table(cells, rows, cols, level=1, caption=b""):
    return anchored(11, "tbl ", hf.grid_table(cells, rows, cols, level, caption), level - 1)


def nested(cells, rows, cols):
    """A table standing in a cell of a table at level 1."""
    return [hf.para(hf.with_control("", 11, "tbl "), 2) + hf.grid_table(cells, rows, cols, level=3)]


PQ = [(0, 0, 1, 1, "p"), (0, 1, 1, 1, "q")]

CASES = [
    pytest.param(table([(0, 0, 1, 2, "월"), (0, 2, 1, 1, "화"), (1, 0, 1, 1, "a"), (1, 1, 1, 1, "b"),
                        (1, 2, 1, 1, "c")], 2, 3), {},
                 '<table>\n<tr><td colspan="2">월</td><td>화</td></tr>\n<tr><td>a</td><td>b</td><td>c</td></tr>\n'
                 '</table>', id="column-span-by-address"),
    pytest.param(table([(0, 0, 2, 1, "tall"), (0, 1, 1, 1, "a"), (1, 1, 1, 1, "b")], 2, 2), {},
                 '<table>\n<tr><td rowspan="2">tall</td><td>a</td></tr>\n<tr><td>b</td></tr>\n</table>',
                 id="row-span-by-address"),
    pytest.param(table([(0, 0, 1, 1, "a"), (0, 0, 1, 1, "b")], 1, 2), {}, "|a|b|\n|---|---|",
                 id="overlapping-addresses-fall-back-to-record-order"),
    pytest.param(table([(0, c, 1, 1, "") for c in range(4)] + [(1, 0, 1, 2, "a"), (1, 2, 1, 2, "b"),
                                                              (2, 0, 1, 2, "c"), (2, 2, 1, 2, "d")], 3, 4), {},
                 "|a|b|\n|---|---|\n|c|d|", id="ruler-row-and-fine-columns"),
    pytest.param(table([(0, 0, 1, 1, ["첫 줄", "둘째 줄"])], 1, 1), {}, "첫 줄\n\n둘째 줄",
                 id="frame-unwrapped"),
    pytest.param(table([(0, 0, 1, 1, "one"), (1, 0, 1, 1, "two")], 2, 1), {}, "one\n\ntwo",
                 id="one-column-unwrapped"),
    pytest.param(table([(0, 0, 1, 1, nested(PQ, 1, 2))], 1, 1), {}, "|p|q|\n|---|---|",
                 id="table-inside-frame"),
    pytest.param(table([(0, 0, 1, 1, nested([(0, 0, 1, 1, "inner")], 1, 1)), (0, 1, 1, 1, "b")], 1, 2), {},
                 "|inner|b|\n|---|---|", id="one-cell-table-in-cell-is-text"),
    pytest.param(table([(0, 0, 1, 1, nested(PQ, 1, 2)), (0, 1, 1, 1, "b")], 1, 2), {},
                 "<table>\n<tr><td><table><tr><td>p</td><td>q</td></tr></table></td><td>b</td></tr>\n</table>",
                 id="nested-grid-makes-html"),
    pytest.param(table([(0, 0, 1, 1, "<br> & &amp; a|b"), (0, 1, 1, 1, "<개정 2015.12.31.>")], 1, 2), {},
                 "|\\<br> & \\&amp; a\\|b|<개정 2015.12.31.>|\n|---|---|", id="escaping"),
    pytest.param(table(PQ, 1, 2), {"tables": "html"}, "<table>\n<tr><td>p</td><td>q</td></tr>\n</table>",
                 id="tables-html"),
    pytest.param(table([(0, 0, 2, 1, "tall"), (0, 1, 1, 1, "a"), (1, 1, 1, 1, "b")], 2, 2), {"tables": "pipe"},
                 "|tall|a|\n|---|---|\n||b|", id="tables-pipe"),
    pytest.param(table(PQ, 1, 2, caption=hf.caption_list(["표 1"], 2, hf.CAPTION_TOP)), {},
                 "표 1\n\n|p|q|\n|---|---|", id="caption-top"),
    pytest.param(table(PQ, 1, 2, caption=hf.caption_list(["표 1"], 2, hf.CAPTION_BOTTOM)), {},
                 "|p|q|\n|---|---|\n\n표 1", id="caption-bottom"),
    pytest.param(table([(0, 0, 1, 1, [hf.para(hf.with_control("", 11, "gso "), 2) + hf.picture(3, ["지도"])]),
                        (0, 1, 1, 1, [hf.para(hf.with_control("", 11, "gso "), 2) + hf.text_box(["상자"], 3)])],
                       1, 2), {},
                 "|지도|상자|\n|---|---|", id="picture-without-item-and-text-box-in-cells"),
]


@pytest.mark.parametrize("section, options, expected", CASES)
def test_tables(section, options, expected):
    assert marlune.convert(hf.hwp_document([section]), **options) == expected


def test_grid_cut_by_full_width_row_becomes_two_tables():
    section = table([(0, 0, 1, 1, "a"), (0, 1, 1, 1, "b"), (1, 0, 1, 2, "묶음"), (2, 0, 1, 1, "c"),
                     (2, 1, 1, 1, "d")], 3, 2)
    assert marlune.convert(hf.hwp_document([section])) == "|a|b|\n|---|---|\n\n묶음\n\n|c|d|\n|---|---|"
