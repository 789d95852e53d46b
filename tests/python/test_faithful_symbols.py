"""Private-use characters in the faithful conversion: old-Hangul syllables
come out as conjoining jamo sequences and symbol-font codes as the symbols
the font shows, in both formats; what has no known mapping is kept."""

from __future__ import annotations

import struct

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune

# Old-Hangul codes as the word processor writes them, and the jamo a reader
# of the original sees.
OLD_HANGUL = [
    ("\uf53a글", "\u1112\u119e\u11ab글"),          # the word processor's own name, old spelling
    ("상금\uf85e현상금", "상금\u119e현상금"),        # a lone medial as a separator
    ("\ue0bc", "\u115f\u1161\u11ae"),               # the first code: fillers and final
    ("\uf785\uf801", "\u1100\uf801"),               # a lone initial; U+F801 lies in a gap
    ("\U000f02b1 기획배경", "\U000f02b1 기획배경"),  # the word processor's symbol area: no mapping known
    ("\uf0fe 확인", "\uf0fe 확인"),                  # symbol-font code without a symbol font
]


def hwp_text(text: str) -> str:
    return marlune.convert(hf.hwp_document([hf.para(text)]))


def hwpx_text(text: str) -> str:
    return marlune.convert(xf.package([xf.section(xf.p(text))]))


@pytest.mark.parametrize("stored, shown", OLD_HANGUL)
@pytest.mark.parametrize("convert", [hwp_text, hwpx_text], ids=["hwp", "hwpx"])
def test_old_hangul_and_unknown_codes(convert, stored, shown):
    assert convert(stored) == shown


def test_old_hangul_in_cells_and_links():
    cell = xf.cell(xf.p(xf.run(xf.field_begin("1", "HYPERLINK", "http\\://a.kr;1;0;0;"), xf.t("\uf53a"),
                               xf.field_end("1"))), 0, 0)
    out = marlune.convert(xf.package([xf.section(xf.p(xf.table([[cell]], 1, 1)))]))
    assert "[\u1112\u119e\u11ab](http://a.kr)" in out


# ---- symbol fonts, chosen by the faces of the text's character shape ------

HWPTAG_ID_MAPPINGS, HWPTAG_FACE_NAME, HWPTAG_CHAR_SHAPE, HWPTAG_PARA_CHAR_SHAPE = 17, 19, 21, 68
LANGUAGES = ("hangul", "latin", "hanja", "japanese", "other", "symbol", "user")
# Face lists per language; a character shape names one face of each list.
FACES = {"latin": ["바탕", "Wingdings", "Symbol"], "symbol": ["바탕", "Wingdings 2"]}
# Character shapes: the face of each language they change from face 0.
SHAPES = [{}, {"latin": 1}, {"symbol": 1}, {"latin": 2, "symbol": 1}]

# (text pieces, each in the character shape given), what the reader sees.
SYMBOL_CASES = [
    ([("l\uf0fe", 0)], "l\uf0fe"),                                # no symbol face: kept
    ([("l\uf0fe", 1)], "\u26ab\U0001f5f9"),                      # Wingdings: 8-bit and U+F0xx
    ([("l\uf050", 2)], "l\U0001f5f8"),                            # symbol face only: U+F0xx alone
    ([("a\uf050", 3)], "\u03b1\U0001f5f8"),                       # Latin from Symbol, the area from Wingdings 2
    ([("□", 0), ("\uf0fe", 1), ("확인", 0)], "□\U0001f5f9확인"),  # the face changes inside a paragraph
    ([("\uf53a", 1)], "\u1112\u119e\u11ab"),                      # old Hangul whatever the face
]


def faces_of(language: str) -> list[str]:
    return FACES.get(language, ["바탕"])


def symbol_doc_info() -> bytes:
    counts = [0] + [len(faces_of(language)) for language in LANGUAGES] + [0, len(SHAPES)] + [0] * 8
    records = [hf.record(HWPTAG_ID_MAPPINGS, 0, struct.pack(f"<{len(counts)}I", *counts))]
    for language in LANGUAGES:
        for face in faces_of(language):
            name = face.encode("utf-16-le")
            records.append(hf.record(HWPTAG_FACE_NAME, 1, struct.pack("<BH", 0, len(name) // 2) + name))
    for shape in SHAPES:
        ids = [shape.get(language, 0) for language in LANGUAGES]
        records.append(hf.record(HWPTAG_CHAR_SHAPE, 1, struct.pack("<7H", *ids) + bytes(58)))
    return hf.doc_info(records)


def hwp_symbol_document(pieces: list[tuple[str, int]]) -> bytes:
    text = b""
    pairs = b""
    for piece, shape in pieces:
        pairs += struct.pack("<II", len(text) // 2, shape)
        text += hf.para_text(piece)
    section = hf.para(hf.para_text(text, hf.PARA_END)) + hf.record(HWPTAG_PARA_CHAR_SHAPE, 1, pairs)
    return hf.hwp_document([section], extra_streams={"DocInfo": symbol_doc_info()})


def hwpx_symbol_document(pieces: list[tuple[str, int]]) -> bytes:
    fontfaces = "".join(
        f'<hh:fontface lang="{language.upper()}" fontCnt="{len(faces_of(language))}">'
        + "".join(f'<hh:font id="{n}" face="{face}" type="TTF"/>' for n, face in enumerate(faces_of(language)))
        + "</hh:fontface>" for language in LANGUAGES)
    shapes = "".join(
        f'<hh:charPr id="{n}" height="1000"><hh:fontRef '
        + " ".join(f'{language}="{shape.get(language, 0)}"' for language in LANGUAGES)
        + "/></hh:charPr>" for n, shape in enumerate(SHAPES))
    header = (f"{xf.DECLARATION}<hh:head {xf.NAMESPACES}><hh:refList><hh:fontfaces>{fontfaces}</hh:fontfaces>"
              f"<hh:charProperties>{shapes}</hh:charProperties></hh:refList></hh:head>")
    runs = [f'<hp:run charPrIDRef="{shape}">{xf.t(piece)}</hp:run>' for piece, shape in pieces]
    return xf.package([xf.section(xf.p(*runs))], extra={"Contents/header.xml": header})


@pytest.mark.parametrize("pieces, shown", SYMBOL_CASES)
@pytest.mark.parametrize("document", [hwp_symbol_document, hwpx_symbol_document], ids=["hwp", "hwpx"])
def test_symbol_fonts_by_face(document, pieces, shown):
    assert marlune.convert(document(pieces)) == shown


def test_faces_change_between_characters_never_inside_a_control():
    # A tab is eight code units whose inner units here look like U+F0FE; a
    # shape starting inside it takes effect after it.
    tab = hf.ctrl_char(9, 0, b"\xfe\xf0" * 4)
    text = hf.para_text("l", tab, "l", hf.PARA_END)
    section = (hf.para(text) + hf.record(HWPTAG_PARA_CHAR_SHAPE, 1, struct.pack("<4I", 0, 0, 3, 1)))
    document = hf.hwp_document([section], extra_streams={"DocInfo": symbol_doc_info()})
    assert marlune.convert(document) == "l\t\u26ab"
