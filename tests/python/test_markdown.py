"""hwp_to_markdown end to end: the section walk, paragraphs, click-here
fields, equations, sections and the final text."""

from __future__ import annotations

from pathlib import Path

import pytest

from hwpfixture import (
    FWSPACE,
    HWPTAG_CTRL_HEADER,
    HWPTAG_LIST_HEADER,
    HWPTAG_PARA_TEXT,
    HYPHEN,
    LINE_BREAK,
    NBSPACE,
    PARA_END,
    clk_field_header,
    ctrl_char,
    ctrl_data_name,
    ctrl_header,
    equation,
    eqedit,
    field_end,
    field_start,
    hwp_document,
    list_header,
    para,
    para_text,
    picture,
    record,
    tab,
    table,
)
from marlune import hwp_to_markdown

REPO_ROOT = Path(__file__).resolve().parents[2]
CORPUS = REPO_ROOT.parent / "shared" / "corpus"

# Characters with the Unicode White_Space property.
WHITE_SPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + ["\u0020", "\u0085", "\u00a0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)
MARK = "\ue000"


def convert(tmp_path: Path, *sections: bytes | None, compressed: bool = True,
            extra_streams: dict[str, bytes] | None = None) -> str:
    path = tmp_path / "doc.hwp"
    path.write_bytes(hwp_document(list(sections), compressed=compressed,
                                  extra_streams=extra_streams))
    return hwp_to_markdown(str(path))


def body(*records: bytes) -> bytes:
    return b"".join(records)


def placeholder(n: int) -> str:
    return f"{MARK}{n}{MARK}"


def field_para(before: str, *field_texts: str, after: str = "y", level: int = 0) -> bytes:
    """A paragraph "before", then one click-here field per text (separated by
    "-"), then "after"."""
    parts: list[str | bytes | int] = [before]
    for k, text in enumerate(field_texts):
        if k:
            parts.append("-")
        parts += [field_start(), text, field_end()]
    parts += [after, PARA_END]
    return para(para_text(*parts), level)


def field(name: str = "N", direction: str | None = "D", modified: bool = False) -> bytes:
    """The control header of an accepted click-here field and its name."""
    return clk_field_header(direction, modified=modified) + ctrl_data_name(name)


# --------------------------------------------------------------------------
# paragraphs and white space
# --------------------------------------------------------------------------

PARAGRAPH_CASES = [
    pytest.param(b"", "", id="empty-section"),
    pytest.param(para("a"), "a", id="one-paragraph-no-trailing-newline"),
    pytest.param(para("a") + para("b"), "a\n\nb", id="two-paragraphs-one-empty-line"),
    pytest.param(para("a") + para("") + para(" \t ") + para("b"), "a\n\nb",
                 id="blank-and-white-space-paragraphs-vanish"),
    pytest.param(para(" \t") + para(""), "", id="only-blank-paragraphs"),
    pytest.param(para("  a b  "), "a b", id="edges-trimmed-inner-space-kept"),
    pytest.param(para(para_text(" a", LINE_BREAK, "b ", PARA_END)), "a\nb",
                 id="inner-line-break-kept"),
    pytest.param(para(para_text(LINE_BREAK, "a", LINE_BREAK, LINE_BREAK, PARA_END)), "a",
                 id="edge-line-breaks-trimmed"),
    pytest.param(para("\u00a0a\u3000"), "a", id="nbsp-and-ideographic-space-trimmed"),
    pytest.param(para("\u2028a\u2029\u1680\u205f"), "a", id="line-separator-trimmed"),
    pytest.param(para("\u200ba\ufeff"), "\u200ba\ufeff", id="zwsp-and-bom-not-white-space"),
    pytest.param(para("\u200b"), "\u200b", id="zwsp-only-paragraph-kept"),
    pytest.param(para("a\u3000\u00a0b"), "a\u3000\u00a0b", id="inner-nbsp-and-ideographic-space-kept"),
    pytest.param(para(None) + para("a") + para(None), "a", id="paragraph-without-text-record"),
    pytest.param(para(None), "", id="only-paragraphs-without-text"),
    pytest.param(para("a") + record(HWPTAG_PARA_TEXT, 2, para_text("deep")) + para("b"), "a\n\nb",
                 id="text-at-level-2-ignored"),
    pytest.param(record(HWPTAG_PARA_TEXT, 3, para_text("deeper")) + para("b"), "b",
                 id="text-at-level-3-ignored"),
    pytest.param(record(HWPTAG_PARA_TEXT, 0, para_text("top")) + para("b"), "b",
                 id="text-at-level-0-ignored"),
    pytest.param(record(HWPTAG_PARA_TEXT, 1, para_text("a")) + record(HWPTAG_PARA_TEXT, 1, para_text("b")),
                 "a\n\nb", id="text-records-without-headers"),
    pytest.param(para("한글 문단입니다") + para("😀 𝄞 astral"), "한글 문단입니다\n\n😀 𝄞 astral",
                 id="korean-and-astral"),
    pytest.param(para(para_text("a", 0xD800, "b", 0xDC00, "c", PARA_END)), "abc",
                 id="unpaired-surrogates-dropped"),
    pytest.param(para("a" + placeholder(0) + "b"), "a" + placeholder(0) + "b",
                 id="placeholder-form-without-fields-stays"),
    pytest.param(para("a*b_c # [x](y)"), "a*b_c # [x](y)", id="no-markdown-escaping"),
]


@pytest.mark.parametrize(("records", "expected"), PARAGRAPH_CASES)
def test_paragraphs(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# Codes 9, 10, 30 and 31 stand for visible layout and are kept as a tab, a
# line feed and two plain spaces; every other control code yields nothing.
LAYOUT_CASES = [
    pytest.param(para_text("a", tab(), "b", PARA_END), "a\tb", id="tab"),
    pytest.param(para_text("a", LINE_BREAK, "b", PARA_END), "a\nb", id="line-break"),
    pytest.param(para_text("a", NBSPACE, "b", PARA_END), "a b", id="non-breaking-space"),
    pytest.param(para_text("a", FWSPACE, "b", PARA_END), "a b", id="fixed-width-space"),
    pytest.param(para_text("a", HYPHEN, "b", PARA_END), "ab", id="hyphen-vanishes"),
    pytest.param(para_text("a", 0, 25, 26, 27, 28, 29, "b", PARA_END), "ab",
                 id="other-char-controls-vanish"),
    pytest.param(para_text("a", PARA_END, "b", PARA_END), "ab", id="inner-paragraph-end-vanishes"),
    pytest.param(para_text("a", ctrl_char(5), ctrl_char(19), ctrl_char(20), "b", PARA_END), "ab",
                 id="inline-controls-vanish"),
    pytest.param(para_text("a", ctrl_char(11, "tbl "), ctrl_char(2, "secd"), "b", PARA_END), "ab",
                 id="extended-controls-vanish"),
    pytest.param(para_text("ab", ctrl_char(11, "tbl ")[:10]), "ab", id="truncated-extended-control"),
    pytest.param(para_text(tab(), NBSPACE, "a", FWSPACE, tab()), "a", id="edge-layout-trimmed"),
    pytest.param(para_text("a", tab(), tab(), NBSPACE, FWSPACE, "b"), "a\t\t  b",
                 id="runs-of-layout-kept"),
]


@pytest.mark.parametrize(("payload", "expected"), LAYOUT_CASES)
def test_layout_characters(tmp_path: Path, payload: bytes, expected: str) -> None:
    assert convert(tmp_path, para(payload)) == expected


# --------------------------------------------------------------------------
# controls the walk does not convert
# --------------------------------------------------------------------------

UNKNOWN_CONTROL_CASES = [
    pytest.param(para("a") + ctrl_header("head") + list_header(2) + para(None, 2) + equation("x", 3)
                 + para("b"), "a\n\nb", id="head-hides-equation-below"),
    pytest.param(ctrl_header("secd", 0) + record(HWPTAG_PARA_TEXT, 1, para_text("hidden")) + para("b"),
                 "b", id="secd-at-level-0-hides-level-1-text"),
    pytest.param(para("a") + ctrl_header("cold") + table([["t"]], level=2) + picture(level=2) + para("b"),
                 "a\n\nb", id="cold-hides-table-and-picture"),
    pytest.param(ctrl_header("head") + equation("x", 2) + equation("y", 1), "$$\ny\n$$",
                 id="walk-resumes-at-sibling"),
    pytest.param(record(HWPTAG_CTRL_HEADER, 1, b"eq") + equation("x", 2) + para("b"), "b",
                 id="short-control-header-is-unknown"),
    pytest.param(field_para("x", "T") + ctrl_header("head") + field(), "xTy",
                 id="unknown-control-finishes-pending-paragraph"),
]


@pytest.mark.parametrize(("records", "expected"), UNKNOWN_CONTROL_CASES)
def test_unknown_controls(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# --------------------------------------------------------------------------
# click-here fields
# --------------------------------------------------------------------------

FIELD_RENDER_CASES = [
    pytest.param(field_para("x", "D") + field("N", "D"), "x{{N: D}}y", id="unmodified-equals-guide"),
    pytest.param(field_para("x", "T") + field("N", "D"), "x{{N: D --> T}}y", id="typed-over-guide"),
    pytest.param(field_para("x", "D") + field("N", "D", modified=True), "x{{N: D --> D}}y",
                 id="modified-equal-text-shown"),
    pytest.param(field_para("x", "T") + field("N", ""), "x{{N}}y", id="empty-guide-unmodified"),
    pytest.param(field_para("x", "T") + field("N", None), "x{{N}}y", id="no-guide-key"),
    pytest.param(field_para("x", "T") + field("N", "", modified=True), "x{{N --> T}}y",
                 id="empty-guide-modified"),
    pytest.param(field_para("x", "T") + field("", "D"), "x{{: D --> T}}y", id="empty-name"),
    pytest.param(field_para("x", "") + field("N", "D"), "x{{N: D}}y", id="unmodified-empty-text"),
    pytest.param(field_para("x", "d") + field("N", "D"), "x{{N: D --> d}}y", id="compared-byte-for-byte"),
    pytest.param(field_para("x", "") + field("N", "D", modified=True), "x{{N: D}}y",
                 id="modified-empty-text"),
    pytest.param(field_para("x", "") + field("", ""), "x{{}}y", id="everything-empty"),
    pytest.param(field_para("", "", after="") + field("", ""), "{{}}", id="only-empty-field"),
    pytest.param(field_para("x", "T") + clk_field_header("D"), "x{{: D --> T}}y",
                 id="missing-name-record"),
    pytest.param(field_para("x", "D") + clk_field_header("D") + para("z"), "x{{: D}}y\n\nz",
                 id="missing-name-record-equal-text"),
    pytest.param(field_para("x", "T") + clk_field_header("D") + ctrl_data_name("N", level=1),
                 "x{{: D --> T}}y", id="name-record-at-wrong-level"),
    pytest.param(field_para("x", "이름") + field("성명", "이름을 입력하세요"),
                 "x{{성명: 이름을 입력하세요 --> 이름}}y", id="korean-name-guide-text"),
    pytest.param(field_para("x", "a|b*c") + field("N|", "D_"), "x{{N|: D_ --> a|b*c}}y",
                 id="nothing-escaped"),
    pytest.param(field_para("x", "D", "E") + field("N", "D") + field("M", "E"), "x{{N: D}}-{{M: E}}y",
                 id="two-fields-two-entries"),
    pytest.param(field_para("x", "D", "E") + field("N", "D"), "x{{N: D}}-Ey",
                 id="texts-outnumber-entries-bare-text"),
    pytest.param(field_para("x", "D", "E"), "xD-Ey", id="no-entries-bare-texts"),
    pytest.param(field_para("x", "D") + clk_field_header("D", extra_byte=8) + ctrl_data_name("N"),
                 "x{{N}}y", id="unreadable-header-empty-guide"),
    pytest.param(para(para_text("x", field_start(), "a", tab(), "b", NBSPACE, "c", LINE_BREAK, "d",
                                field_end(), "y")) + field("N", "D"),
                 "x{{N: D --> a\tb c\nd}}y", id="layout-characters-in-field-text"),
    pytest.param(para(para_text("x", field_start(), "a", HYPHEN, "b", field_end(), "y")) + field("N", "D"),
                 "x{{N: D --> ab}}y", id="hyphen-in-field-text-vanishes"),
    pytest.param(field_para("", "", after="") + para("b"), "b", id="empty-after-substitution-no-block"),
    pytest.param(field_para(" ", "\u3000", after=" ") + para("b"), "b",
                 id="white-space-after-substitution-no-block"),
    pytest.param(field_para(" ", " ", after=" ") + field("", ""), "{{}}",
                 id="paragraph-trimmed-after-substitution"),
]


@pytest.mark.parametrize(("records", "expected"), FIELD_RENDER_CASES)
def test_click_here_fields(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


FIELD_WALK_CASES = [
    pytest.param(clk_field_header("D") + equation("x", 2) + para("a"), "a",
                 id="no-pending-paragraph-hides-subtree"),
    pytest.param(para("a") + clk_field_header("D") + equation("x", 2), "a",
                 id="paragraph-without-fields-hides-subtree"),
    pytest.param(field_para("x", "T") + field("N", "D") + clk_field_header("E") + equation("z", 2),
                 "x{{N: D --> T}}y", id="entries-full-hides-subtree"),
    pytest.param(field_para("x", "T") + field("N", "D") + clk_field_header("E") + equation("z", 1),
                 "x{{N: D --> T}}y\n\n$$\nz\n$$", id="entries-full-finishes-paragraph"),
    pytest.param(field_para("x", "T") + clk_field_header("D", level=2) + ctrl_data_name("N", level=3),
                 "xTy", id="header-at-level-2-not-accepted"),
    pytest.param(field_para("x", "T") + clk_field_header("D", level=0) + ctrl_data_name("N", level=1),
                 "xTy", id="header-at-level-0-not-accepted"),
    pytest.param(field_para("x", "T") + equation("e", 1) + field("N", "D"),
                 "xTy\n\n$$\ne\n$$", id="equation-finishes-pending-paragraph"),
    pytest.param(field_para("x", "T") + field("N", "D") + field_para("u", "V") + field("M", "E"),
                 "x{{N: D --> T}}y\n\nu{{M: E --> V}}y", id="each-paragraph-own-entries"),
    pytest.param(para(para_text("x", field_start("%hlk"), "link", field_end(), "y"))
                 + ctrl_header("%hlk") + ctrl_data_name("N"), "xlinky", id="hyperlink-text-inline"),
    pytest.param(para(para_text("x", field_start("%hlk"), "link", field_end(), field_start(), "T",
                                field_end(), "y")) + field("N", "D"),
                 "xlink{{N: D --> T}}y", id="hyperlink-then-click-here"),
    pytest.param(para(para_text("x", field_start(), "abc")) + field("N", "D"), "xabc",
                 id="unfinished-field-flushes-text"),
    pytest.param(para(para_text("x", field_start(), "a", field_start(), "b", field_end(), "c",
                                field_end(), "y")) + field("N", "D"),
                 "x{{N: D --> ab}}cy", id="nested-start-ignored-first-end-closes"),
]


@pytest.mark.parametrize(("records", "expected"), FIELD_WALK_CASES)
def test_click_here_walk(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# Placeholders are filled in one pass over the paragraph's own text: what a
# field brings in (its text, name or guide) is never scanned again.
SUBSTITUTION_CASES = [
    pytest.param(field_para("x", placeholder(1), "Z"), f"x{placeholder(1)}-Zy",
                 id="bare-field-text-not-rescanned"),
    pytest.param(field_para("x", placeholder(1), "Z") + field("N", "D") + field("M", "E"),
                 f"x{{{{N: D --> {placeholder(1)}}}}}-{{{{M: E --> Z}}}}y",
                 id="rendered-field-text-not-rescanned"),
    pytest.param(field_para("x", "T", "Z") + field(placeholder(1), "D"),
                 f"x{{{{{placeholder(1)}: D --> T}}}}-Zy", id="name-not-rescanned"),
    pytest.param(field_para("x", placeholder(0)), f"x{placeholder(0)}y", id="own-placeholder-in-text"),
    pytest.param(para(para_text(placeholder(0), "-", field_start(), "T", field_end())), "T-T",
                 id="placeholder-form-in-document-text-filled"),
    pytest.param(para(para_text(placeholder(5), "-", field_start(), "T", field_end())),
                 f"{placeholder(5)}-T", id="out-of-range-placeholder-stays"),
]


@pytest.mark.parametrize(("records", "expected"), SUBSTITUTION_CASES)
def test_field_substitution_single_pass(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


def test_fields_naming_each_other_stay_linear(tmp_path: Path) -> None:
    # Field k's text names field k + 1 twice: rescanning would double the text
    # thirty times over.
    texts = [placeholder(k + 1) * 2 for k in range(29)] + ["end"]
    parts: list[str | bytes | int] = []
    for text in texts:
        parts += [field_start(), text, field_end()]
    result = convert(tmp_path, para(para_text(*parts)))
    assert result == "".join(texts)


# --------------------------------------------------------------------------
# equations
# --------------------------------------------------------------------------

EQUATION_CASES = [
    pytest.param(equation("x^2"), "$$\nx^2\n$$", id="script-alone"),
    pytest.param(para("a") + equation("x") + para("b"), "a\n\n$$\nx\n$$\n\nb", id="between-paragraphs"),
    pytest.param(equation("a") + equation("b"), "$$\na\n$$\n\n$$\nb\n$$", id="two-equations"),
    pytest.param(equation(" \t x over y \n"), "$$\nx over y\n$$", id="script-trimmed"),
    pytest.param(equation("a\nb  c"), "$$\na\nb  c\n$$", id="inner-white-space-kept"),
    pytest.param(equation("   ") + para("b"), "$$\n\n$$\n\nb", id="white-space-script-delimiters-kept"),
    pytest.param(equation("\u3000"), "$$\n\n$$", id="white-space-script-last-block"),
    pytest.param(equation("") + para("b"), "b", id="zero-length-script-nothing"),
    pytest.param(equation("x", declared_len=0) + para("b"), "b", id="declared-length-zero"),
    pytest.param(equation("x", declared_len=40) + para("b"), "b", id="declared-length-past-payload"),
    pytest.param(ctrl_header("eqed") + picture(level=2) + para("b"), "b",
                 id="missing-eqedit-subtree-consumed"),
    pytest.param(ctrl_header("eqed") + record(HWPTAG_LIST_HEADER, 2) + eqedit("x", level=3) + para("b"), "b",
                 id="eqedit-two-levels-down-not-used"),
    pytest.param(ctrl_header("eqed") + record(HWPTAG_LIST_HEADER, 2) + eqedit("x", level=2), "$$\nx\n$$",
                 id="first-child-other-tag"),
    pytest.param(ctrl_header("eqed") + eqedit("x", level=2) + eqedit("y", level=2), "$$\nx\n$$",
                 id="first-eqedit-counts"),
    pytest.param(equation("x") + picture(level=2) + para("b"), "$$\nx\n$$\n\nb",
                 id="records-after-eqedit-consumed"),
    pytest.param(equation("a\ud800b") + para("b"), "b", id="unpaired-surrogate-no-script"),
    pytest.param(equation("\ud835\udc65 + 근"), "$$\n\U0001d465 + 근\n$$", id="astral-and-korean-script"),
    pytest.param(equation("a_1 | b*c"), "$$\na_1 | b*c\n$$", id="script-not-escaped"),
    pytest.param(equation("x", level=0), "$$\nx\n$$", id="control-at-level-0"),
    pytest.param(equation("x", level=3), "$$\nx\n$$", id="control-at-level-3"),
]


@pytest.mark.parametrize(("records", "expected"), EQUATION_CASES)
def test_equations(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# --------------------------------------------------------------------------
# block order
# --------------------------------------------------------------------------

ORDER_CASES = [
    pytest.param(para(para_text("a", ctrl_char(11, "eqed"), PARA_END)) + equation("x"),
                 "a\n\n$$\nx\n$$", id="text-before-equation"),
    pytest.param(para(para_text("a", ctrl_char(11, "tbl "), PARA_END)) + table([["c"]]),
                 "a\n\n|c|\n|---|", id="text-before-table"),
    pytest.param(para(para_text("a", ctrl_char(11, "gso "), PARA_END)) + picture(),
                 "a\n\n[이미지]", id="text-before-picture"),
    pytest.param(para("a") + picture() + equation("x") + para("b") + table([["c"]]),
                 "a\n\n[이미지]\n\n$$\nx\n$$\n\nb\n\n|c|\n|---|", id="several-paragraphs-and-controls"),
]


@pytest.mark.parametrize(("records", "expected"), ORDER_CASES)
def test_paragraph_text_before_its_controls(tmp_path: Path, records: bytes, expected: str) -> None:
    assert convert(tmp_path, records) == expected


# --------------------------------------------------------------------------
# sections
# --------------------------------------------------------------------------

SECTION_CASES = [
    pytest.param([para("a"), para("b"), para("c")], {}, "a\n\nb\n\nc", id="three-sections"),
    pytest.param([para("a") + para("b"), equation("x")], {}, "a\n\nb\n\n$$\nx\n$$",
                 id="blocks-across-sections"),
    pytest.param([para("a"), b"", para(" "), para("d")], {}, "a\n\nd", id="empty-sections-add-nothing"),
    pytest.param([para("a"), para("b"), None, para("d")], {}, "a\n\nb", id="missing-middle-section-ends"),
    pytest.param([None, para("b")], {}, "", id="missing-first-section"),
    pytest.param([para("a"), None, para("c")], {"BodyText/Section1": b"\xff" * 32}, "a",
                 id="corrupt-later-section-ends"),
    pytest.param([para("a"), field(), para("c")], {}, "a\n\nc", id="stray-field-header-section"),
    pytest.param([field_para("x", "T"), field("N", "D") + para("z")], {}, "xTy\n\nz",
                 id="paragraph-does-not-continue-into-next-section"),
]


@pytest.mark.parametrize(("sections", "extra", "expected"), SECTION_CASES)
def test_sections(tmp_path: Path, sections: list[bytes | None], extra: dict[str, bytes],
                  expected: str) -> None:
    assert convert(tmp_path, *sections, extra_streams=extra) == expected


def test_uncompressed_document(tmp_path: Path) -> None:
    sections = [para("a") + equation("x"), para("한")]
    assert convert(tmp_path, *sections, compressed=False) == "a\n\n$$\nx\n$$\n\n한"


# --------------------------------------------------------------------------
# corpus smoke test
# --------------------------------------------------------------------------

def _corpus_files() -> list[Path]:
    if not CORPUS.is_dir():
        return []
    return sorted(p for p in CORPUS.rglob("*")
                  if p.is_file() and p.suffix.lower() not in (".md", ".tsv"))


_CORPUS_FILES = _corpus_files()


@pytest.mark.skipif(not _CORPUS_FILES, reason="developer corpus not present")
@pytest.mark.parametrize("path", _CORPUS_FILES or [None],
                         ids=lambda p: str(p.relative_to(CORPUS)) if p else "none")
def test_corpus_converts_or_raises_runtime_error(path: Path) -> None:
    try:
        result = hwp_to_markdown(str(path))
    except RuntimeError:
        return
    assert isinstance(result, str)
    result.encode("utf-8")
    assert not result or result[-1] not in WHITE_SPACE
