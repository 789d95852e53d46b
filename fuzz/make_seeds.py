"""Writes seed inputs for the fuzz targets, built with the fixture writer.

    python fuzz/make_seeds.py OUTDIR

OUTDIR/<target>/ receives one file per seed: record streams for the record
and section targets, PARA_TEXT payloads for the paragraph-text target,
deflated sections (with and without their trailer) for the inflate target,
whole documents for the document and compound_file targets, section parts
behind a run size for the XML runs target, ViewText
streams (and plain bodies to be encrypted) for the distribution target,
HWP 3.0 bodies (behind the header the hwp3 target writes) and whole files for hwp3.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))

import hwpfixture as hf  # noqa: E402
import hwp3fixture as h3  # noqa: E402
import hwpxfixture as xf  # noqa: E402
import make_sample  # noqa: E402

PARA_TEXTS = [
    hf.para_text("plain text 한글", hf.PARA_END),
    hf.para_text("x", hf.field_start(), "abc", hf.field_end(), "y", hf.PARA_END),
    hf.para_text("a", hf.tab(), "b", hf.LINE_BREAK, "c", hf.NBSPACE, "d", hf.FWSPACE, hf.HYPHEN),
    hf.para_text("\U0001F600", 0xD800, "A", 0xDC00, "z"),
    hf.para_text(hf.field_start("%hlk"), "link", hf.field_end(), hf.field_start(), "open"),
    hf.para_text("\ue0000\ue000", hf.field_start(), "\ue0000\ue000", hf.field_end()),
    hf.para_text("cut", hf.ctrl_char(11, "tbl "))[:-6],
]


def field_paragraph() -> bytes:
    return (hf.para(hf.para_text("이름: ", hf.field_start(), "홍길동", hf.field_end(), hf.PARA_END))
            + hf.clk_field_header("이름", modified=True) + hf.ctrl_data_name("name"))


SECTIONS = [
    make_sample.section0(),
    make_sample.section1(),
    field_paragraph(),
    hf.para("before") + hf.equation("a over b") + hf.ctrl_header("head") + hf.para("hidden", 2),
    hf.table([["a", "b"], ["c"]], row_sizes=[2, 2]),
    hf.table([[hf.table([[hf.table([["deep"]], level=5)]], level=3), "x"]]),
    hf.picture(caption=["caption"]) + hf.text_box(["line 1", "line 2"], caption=["c"]),
    hf.record(hf.HWPTAG_PARA_TEXT, 1, bytes(5000)) + hf.record(67, 1, b"", extended=True),
]


def hwpx_packages() -> dict[str, bytes]:
    body = xf.section(
        xf.p(xf.run(xf.t("a", xf.TAB, "b", xf.LINE_BREAK, "c", xf.DELETE_BEGIN, "gone", xf.DELETE_END)), shape=1),
        xf.p(xf.run(xf.field_begin("1", "HYPERLINK", "http\\://a.kr;1;0;0;"), xf.t("link")),
             xf.run(xf.note("footNote", xf.p("note")), xf.note("header", xf.p("head")))),
        xf.p(xf.run(xf.t("more"), xf.field_end("1"))),
        xf.p(xf.table([[xf.cell("a", 0, 0, colspan=2)], [xf.cell("b", 1, 0), xf.cell("c", 1, 1)]], 2, 2, "cap")),
        xf.p(xf.picture("image1", "photo"), xf.equation("a over b"), xf.run(xf.text_box(xf.p("box")))),
    )
    return {
        "package": xf.package([body], pictures={"image1.png": b"\x89PNG\r\n\x1a\n"}, outline_shapes={1: 0},
                              metadata={"title": "T", "CreatedDate": "2024-01-02T03:04:05Z"}),
        "no_spine": xf.package([body, xf.section(xf.p("two"))], spine=False),
        "backslashes": xf.package([body], backslashes=True),
        "stored": xf.package([body], stored=True, outline_shapes={1: 2}),
    }


def hwpx_sections() -> list[str]:
    rows = [[xf.cell(f"{r}-{c}", r, c) for c in range(3)] for r in range(30)]
    return [
        xf.section(xf.p("앞"), xf.p(xf.table(rows, 30, 3, "설명")), xf.p("뒤")),
        xf.section(xf.p(*(xf.run(xf.t(f"조각{n}", xf.TAB)) for n in range(50)))),
        xf.section("<!-- c --><![CDATA[<x>]]>" + xf.p("긴 " * 300) + "<?pi x?>" + xf.p(xf.equation("a over b"))),
    ]


def hwp3_seeds() -> dict[str, bytes]:
    cells = [h3.cell(0, 0, 0, 0, 2000, 1000, h3.p("합친 칸")), h3.cell(0, 1, 0, 1000, 1000, 1000, h3.p("a")),
             h3.cell(1, 1, 1000, 1000, 1000, 1000, h3.p("b"))]
    paragraphs = [
        h3.p("한글 ASCII ※ 漢字", h3.TAB, h3.TIED_SPACE, h3.code(0x2FFF)),
        h3.p("표", h3.box(cells, caption=[h3.p("설명")]), h3.note(h3.p("각주"))),
        h3.p(h3.picture("E$$00000.gif", caption=[h3.p("그림")]), h3.hypertext("링크"),
             h3.header_footer(h3.p("머리말")), h3.hidden_comment(h3.p("숨은"))),
    ]
    blocks = [h3.picture_block("E$$00000.gif", b"GIF89a" + bytes(10)), h3.hyperlink_block(("http://a.kr", ""))]
    body = h3.document(*paragraphs, compressed=False, blocks=blocks)[h3.HEADER_BYTES:]
    return {"body": body, "file": h3.document(*paragraphs, blocks=blocks)}


def main() -> None:
    out = Path(sys.argv[1])
    for target in ("records", "section", "para_text", "document", "compound_file", "hwpx", "xml_runs", "inflate",
                   "distribution", "hwp3"):
        (out / target).mkdir(parents=True, exist_ok=True)
    for n, section in enumerate(SECTIONS):
        (out / "records" / f"section{n}").write_bytes(section)
        (out / "section" / f"section{n}").write_bytes(section)
    for n, section in enumerate(SECTIONS):
        (out / "inflate" / f"raw{n}").write_bytes(hf.deflate_raw(section))
        (out / "inflate" / f"trailed{n}").write_bytes(hf.deflate_stream(section))
    for n, payload in enumerate(PARA_TEXTS):
        (out / "para_text" / f"text{n}").write_bytes(payload)
    documents = {
        "sample": hf.hwp_document([make_sample.section0(), make_sample.section1()]),
        "stored": hf.hwp_document(SECTIONS[:4], compressed=False),
        "fields": hf.hwp_document([field_paragraph()] * 2),
        "objects": hf.hwp_document(SECTIONS[4:]),
        "short_header": hf.hwp_document([SECTIONS[0]], header=hf.file_header(length=39)),
    }
    for name, data in documents.items():
        (out / "document" / name).write_bytes(data)
        (out / "compound_file" / name).write_bytes(data)
    for name, data in hwpx_packages().items():
        (out / "hwpx" / name).write_bytes(data)
    # First byte: the run size's index.
    for n, section in enumerate(hwpx_sections()):
        (out / "xml_runs" / f"section{n}").write_bytes(bytes([n]) + section.encode())
    # First byte: bit 0 compressed, bit 1 encrypt the plain body that follows the record data.
    for n, section in enumerate(SECTIONS[:4]):
        stream = hf.view_text_stream(section, seed=0x4D3D1806 + n)
        (out / "distribution" / f"stream{n}").write_bytes(b"\x01" + stream)
        (out / "distribution" / f"plain{n}").write_bytes(b"\x02" + stream[4:260] + section)
    for name, data in hwp3_seeds().items():
        (out / "hwp3" / name).write_bytes(data)


if __name__ == "__main__":
    main()
