"""Writes examples/sample.hwp, the document `make demo` converts.

It is built with the test suite's fixture writer and shows each kind of
content the converter handles: paragraphs, a click-here field, an equation,
a table with a merged cell and a nested table, a picture with a caption and
a text box, over two sections.

    python examples/make_sample.py [OUTPUT]
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))

import hwpfixture as hf  # noqa: E402


def section0() -> bytes:
    out = bytearray()
    out += hf.para("marlune 예제 문서")
    out += hf.para(hf.para_text("이 문서는 HWP 5.0 형식의 예제입니다.", hf.LINE_BREAK,
                                "탭", hf.tab(), "문자와 줄바꿈도 들어 있습니다.", hf.PARA_END))
    # A click-here form field the user has filled in.
    out += hf.para(hf.para_text("성명: ", hf.field_start(), "홍길동", hf.field_end(), " (서명)", hf.PARA_END))
    out += hf.clk_field_header("이름을 입력하세요", modified=True, level=1)
    out += hf.ctrl_data_name("성명", level=2)
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
    out += hf.para("그림과 글상자:")
    out += hf.picture(level=1, caption=["그림 1. 조직도"])
    out += hf.text_box(["글상자 첫 줄", "글상자 둘째 줄"], level=1)
    return bytes(out)


def section1() -> bytes:
    return hf.para("두 번째 구역의 문단입니다.")


def main() -> None:
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "sample.hwp"
    output.write_bytes(hf.hwp_document([section0(), section1()], compressed=True))
    print(output)


if __name__ == "__main__":
    main()
