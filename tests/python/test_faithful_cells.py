"""What a reader sees in table cells and forms, HWP 5.0 and HWPX alike:
pictures in cells (linked, extracted, never making a row or column empty),
pictures without stored data."""

from __future__ import annotations

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune

PNG = b"\x89PNG\r\n\x1a\n" + bytes(16)
JPEG = b"\xff\xd8\xff\xe0" + bytes(16)


# ---- HWP 5.0 documents ------------------------------------------------------

def hwp_picture(item: int, caption=()) -> bytes:
    """A paragraph in a cell (level 2) anchoring a picture of BinData item."""
    return hf.para(hf.with_control("", 11, "gso "), 2) + hf.picture(3, caption, item=item)


def hwp_table_document(rows, items=((1, "png", PNG), (2, "jpg", JPEG)), bin_records=None) -> bytes:
    section = hf.para(hf.with_control("", 11, "tbl ")) + hf.table(rows)
    records = bin_records if bin_records is not None else [hf.bin_data_record(i, ext) for i, ext, _ in items]
    streams = {"DocInfo": hf.doc_info(records)}
    for item, extension, data in items:
        streams.update(hf.bin_data_item(item, extension, data))
    return hf.hwp_document([section], extra_streams=streams)


# ---- HWPX documents ----------------------------------------------------------

def hwpx_table_document(rows: list[list[str]], row_count: int, col_count: int,
                        pictures=None, extra=None) -> bytes:
    pictures = {"image1.png": PNG, "image2.jpg": JPEG} if pictures is None else pictures
    cells = [[xf.cell(content, r, c) for c, content in enumerate(row)] for r, row in enumerate(rows)]
    return xf.package([xf.section(xf.p(xf.table(cells, row_count, col_count)))], pictures=pictures, extra=extra)


def hwpx_picture(item: str, caption: str | None = None) -> str:
    return xf.p(xf.picture(item, caption))


# The screenshot table: a header row, then a row holding only pictures.
SCREENSHOTS = {
    "hwp": lambda: hwp_table_document([["구조", "자료"], [hwp_picture(1), hwp_picture(2, ["화면 2"])]]),
    "hwpx": lambda: hwpx_table_document([["구조", "자료"], [hwpx_picture("image1"), hwpx_picture("image2", "화면 2")]],
                                        2, 2),
}
NAMES = {"hwp": ("BIN0001.png", "BIN0002.jpg"), "hwpx": ("image1.png", "image2.jpg")}


def screenshot_markdown(mode: str, first: str, second: str) -> str:
    if mode == "html":
        return ("<table>\n<tr><td>구조</td><td>자료</td></tr>\n"
                f'<tr><td><img src="{first}" alt=""></td><td><img src="{second}" alt="화면 2"></td></tr>\n</table>')
    return f"|구조|자료|\n|---|---|\n|![]({first})|![화면 2]({second})|"


@pytest.mark.parametrize("mode", ["auto", "pipe", "html"])
@pytest.mark.parametrize("kind", ["hwp", "hwpx"])
def test_row_of_pictures_stays_linked_in_its_cells(kind, mode):
    first, second = NAMES[kind]
    assert marlune.convert(SCREENSHOTS[kind](), tables=mode) == screenshot_markdown(mode, first, second)


@pytest.mark.parametrize("mode", ["pipe", "html"])
@pytest.mark.parametrize("kind", ["hwp", "hwpx"])
def test_pictures_in_cells_are_extracted_and_linked_into_the_folder(kind, mode, tmp_path):
    folder = tmp_path / "그림"
    document = marlune.parse(SCREENSHOTS[kind](), tables=mode, images=folder)
    first, second = NAMES[kind]
    assert [(image.name, image.data) for image in document.images] == [(first, PNG), (second, JPEG)]
    assert (folder / first).read_bytes() == PNG and (folder / second).read_bytes() == JPEG
    assert document.markdown == screenshot_markdown(mode, f"{folder}/{first}", f"{folder}/{second}")


# Rows and columns: only cells with nothing at all leave them out.
HWP_EMPTY_RULES = [
    pytest.param([["사진", "", "이름"], [hwp_picture(1), "", "갑"]], "|사진|이름|\n|---|---|\n|![](BIN0001.png)|갑|",
                 id="picture-column-kept-empty-column-dropped"),
    pytest.param([["", "", ""], ["a", hwp_picture(1), "b"]], "|a|![](BIN0001.png)|b|\n|---|---|---|",
                 id="empty-row-dropped-picture-cell-kept"),
    pytest.param([["식", "값"], [hf.para(hf.with_control("", 11, "eqed"), 2) + hf.equation("a+b", 3), "3"]],
                 "|식|값|\n|---|---|\n|$a+b$|3|", id="equation-cell-kept"),
    pytest.param([["a", " "], ["\t", ""]], "a", id="blank-cells-are-empty"),
]


@pytest.mark.parametrize("rows, expected", HWP_EMPTY_RULES)
def test_hwp_empty_rows_and_columns(rows, expected):
    assert marlune.convert(hwp_table_document(rows)) == expected


HWPX_EMPTY_RULES = [
    pytest.param([["사진", "", "이름"], [hwpx_picture("image1"), "", "갑"]], 2, 3,
                 "|사진|이름|\n|---|---|\n|![](image1.png)|갑|",
                 id="picture-column-kept-empty-column-dropped"),
    pytest.param([["", "", ""], ["a", hwpx_picture("image1"), "b"]], 2, 3, "|a|![](image1.png)|b|\n|---|---|---|",
                 id="empty-row-dropped-picture-cell-kept"),
    pytest.param([["식", "값"], [xf.p(xf.equation("a+b")), "3"]], 2, 2, "|식|값|\n|---|---|\n|$a+b$|3|",
                 id="equation-cell-kept"),
]


@pytest.mark.parametrize("rows, row_count, col_count, expected", HWPX_EMPTY_RULES)
def test_hwpx_empty_rows_and_columns(rows, row_count, col_count, expected):
    assert marlune.convert(hwpx_table_document(rows, row_count, col_count)) == expected
