"""Writes examples/sample.hwp, the document `make demo` converts.

It is built with the test suite's fixture writer and shows each kind of
content the converters handle: an outline heading, paragraphs, a click-here
field, a hyperlink, a footnote, an equation, a table with a merged cell and
a nested table, a picture (stored in BinData) with a caption and a text box,
over two sections, with a title and an author in the summary properties.

    python examples/make_sample.py [OUTPUT]
"""

import datetime
import struct
import sys
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))

import hwpfixture as hf  # noqa: E402


def tiny_png() -> bytes:
    """A 1x1 grey PNG."""
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"\0\x80")) + chunk(b"IEND", b"")


def section0() -> bytes:
    out = bytearray()
    out += hf.para("marlune 예제 문서", shape=1)
    out += hf.para(hf.para_text("이 문서는 HWP 5.0 형식의 예제입니다.", hf.LINE_BREAK,
                                "탭", hf.tab(), "문자와 줄바꿈도 들어 있습니다.", hf.PARA_END))
    # A click-here form field the user has filled in.
    out += hf.para(hf.para_text("성명: ", hf.field_start(), "홍길동", hf.field_end(), " (서명)", hf.PARA_END))
    out += hf.clk_field_header("이름을 입력하세요", modified=True, level=1)
    out += hf.ctrl_data_name("성명", level=2)
    out += hf.para(hf.linked("누리집", "자세한 내용은 ", "을 보십시오."))
    out += hf.hyperlink_header("https\\://example.com/marlune;1;0;0;")
    out += hf.para(hf.with_control("각주가 달린 문장", 17, "fn  ", "입니다."))
    out += hf.list_control("fn  ", ["각주의 내용."])
    out += hf.para("근의 공식은 다음과 같습니다.")
    out += hf.equation("x = {-b +- sqrt {b^2 - 4ac}} over {2a}", level=1)
    out += hf.para("표 1. 분기별 실적")
    nested = hf.table([["세부", "값"], ["가", "1"]], level=3)
    out += hf.table(
        [
            ["분기별 실적 (병합)", "비고"],
            ["1분기", "120", "매출 | 이익"],
            ["2분기", "135", ["상세:", nested]],
        ],
        level=1,
    )
    out += hf.para("표 2. 병합된 칸")
    out += hf.grid_table([(0, 0, 2, 1, "구분"), (0, 1, 1, 2, "상반기"), (1, 1, 1, 1, "1분기"),
                          (1, 2, 1, 1, "2분기"), (2, 0, 1, 1, "매출"), (2, 1, 1, 1, "120"),
                          (2, 2, 1, 1, "135")], rows=3, cols=3)
    out += hf.para("그림과 글상자:")
    out += hf.picture(level=1, caption=["그림 1. 조직도"], item=1)
    out += hf.text_box(["글상자 첫 줄", "글상자 둘째 줄"], level=1)
    return bytes(out)


def section1() -> bytes:
    return hf.para("두 번째 구역의 문단입니다.")


def main() -> None:
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "sample.hwp"
    info = hf.doc_info([hf.bin_data_record(1, "png"), hf.para_shape_record(),
                        hf.para_shape_record(hf.HEADING_OUTLINE, 0)])
    when = datetime.datetime(2026, 12, 1, 9, 30, tzinfo=datetime.timezone.utc)
    summary = hf.summary_info({hf.PID_TITLE: "marlune 예제 문서", hf.PID_AUTHOR: "marlune",
                               hf.PID_CREATED: when, hf.PID_LAST_SAVED: when})
    streams = {"DocInfo": info, hf.SUMMARY_STREAM: summary, **hf.bin_data_item(1, "png", tiny_png())}
    output.write_bytes(hf.hwp_document([section0(), section1()], compressed=True, extra_streams=streams))
    print(output)


if __name__ == "__main__":
    main()
