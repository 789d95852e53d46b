"""Escaping in the faithful Markdown: a backslash only where a CommonMark
reader would otherwise take a character for markup where it stands, and the
text of every document reads back unchanged through two CommonMark parsers:
markdown-it (with GFM tables, strike-through and footnotes) and GitHub's
cmark-gfm (with its autolinks, which take raw text)."""

from __future__ import annotations

import re
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote

import cmarkgfm
import pytest
from cmarkgfm.cmark import Options
from markdown_it import MarkdownIt
from mdit_py_plugins.footnote import footnote_plugin

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune import _convert

MARKDOWN_IT = MarkdownIt("commonmark").enable(["table", "strikethrough"]).use(footnote_plugin)
READERS = {
    "markdown-it": MARKDOWN_IT.render,
    "cmark-gfm": lambda markdown: cmarkgfm.github_flavored_markdown_to_html(
        markdown, options=Options.CMARK_OPT_UNSAFE | Options.CMARK_OPT_FOOTNOTES),
}
SHARED = Path(__file__).resolve().parents[2].parent / "shared"
WHITE_SPACE = re.compile(r"\s+")


class _VisibleText(HTMLParser):
    """The characters a browser shows for a piece of HTML: text with
    references decoded, and pictures' alternative text."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.parts: list[str] = []

    def handle_data(self, data: str) -> None:
        self.parts.append(data)

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag == "img":
            self.parts.append(dict(attrs).get("alt") or "")


def visible(html: str) -> str:
    """What a reader sees of the HTML, white space left out (Markdown and
    HTML both fold it)."""
    parser = _VisibleText()
    parser.feed(html)
    parser.close()
    return WHITE_SPACE.sub("", "".join(parser.parts))


def lost_pieces(markdown: str, pieces: list[str]) -> list[str]:
    """The pieces of text some reader does not show, named by the reader."""
    wanted = [piece for piece in (WHITE_SPACE.sub("", piece) for piece in pieces) if piece]
    lost = []
    for name, render in READERS.items():
        shown = visible(render(markdown))
        lost += [f"{name}: {piece}" for piece in wanted if piece not in shown]
    return lost


def hwp_paragraph(text: str) -> bytes:
    return hf.hwp_document([hf.para(text)])


def hwpx_paragraph(text: str) -> bytes:
    parts: list[str] = []
    for k, line in enumerate(text.split("\n")):
        if k:
            parts.append(xf.LINE_BREAK)
        parts.append(line)
    return xf.package([xf.section(xf.p(xf.run(xf.t(*parts))))])


# Body text: text in, Markdown out.
BODY = [
    pytest.param("1 < 2, <b> </i> <!-- <?x <한글>", "1 < 2, \\<b> <\\/i> <\\!-- <\\?x <한글>", id="angle-before-tag"),
    pytest.param('<script src="https://a.kr/x.js"></script>', '\\<script src="https://a.kr/x.js"><\\/script>',
                 id="closing-tag-after-bare-url"),
    pytest.param("A & B, ?a=1&b=2, &amp; &#38; &#x26;", "A & B, ?a=1&b=2, \\&amp; \\&#38; \\&#x26;",
                 id="ampersand-before-reference"),
    pytest.param("2*3 = 6, a * b, **굵게**", "2\\*3 = 6, a * b, \\*\\*굵게**", id="star-runs-that-open"),
    pytest.param("snake_case__name, _앞 뒤_, a _ b, 변수_이름", "snake_case__name, \\_앞 뒤_, a _ b, 변수_이름",
                 id="underscore-after-letters-stays"),
    pytest.param("1~3월, ~~취소~~, a ~ b", "1\\~3월, \\~\\~취소~~, a ~ b", id="tilde-runs"),
    pytest.param("`code` \\ \\* C:\\dir\\a", "\\`code\\` \\\\ \\\\* C:\\dir\\a", id="backtick-and-backslash"),
    pytest.param("[별표 1] 서식, [링크](http://a.kr), 각주[^1], ^[인라인]",
                 "[별표 1] 서식, [링크\\](http://a.kr), 각주\\[^1], ^\\[인라인]", id="brackets-that-would-link"),
    pytest.param("[각주]: 정의", "\\[각주]: 정의", id="reference-definition"),
    pytest.param("# 제목", "\\# 제목", id="atx-heading"),
    pytest.param("#해시 ####### 일곱", "#해시 ####### 일곱", id="hash-not-heading"),
    pytest.param("- 항목", "\\- 항목", id="bullet"),
    pytest.param("-5도, +3, *별", "-5도, +3, \\*별", id="sign-not-bullet"),
    pytest.param("+ 더하기", "\\+ 더하기", id="plus-bullet"),
    pytest.param("* 별표", "\\* 별표", id="star-bullet"),
    pytest.param("1. 개요", "1\\. 개요", id="ordered-item"),
    pytest.param("12) 항목", "12\\) 항목", id="ordered-item-parenthesis"),
    pytest.param("2024.1.1. 시행", "2024.1.1. 시행", id="date-not-item"),
    pytest.param("> 인용", "\\> 인용", id="block-quote"),
    pytest.param("---", "\\---", id="thematic-break"),
    pytest.param("~~~", "\\~~~", id="tilde-fence"),
    pytest.param("첫 줄\n- 둘째\n3. 셋째\n> 넷째", "첫 줄\n\\- 둘째\n3\\. 셋째\n\\> 넷째", id="each-line-start"),
    pytest.param("제목\n===", "제목\n\\===", id="setext-underline"),
    pytest.param("머리 | 칸\n---|---", "머리 | 칸\n\\---|---", id="delimiter-row"),
    pytest.param("앞\n\n    들여쓴 줄", "앞\n\n들여쓴 줄", id="indent-after-blank-line"),
    pytest.param("앞\n    이어진 줄", "앞\n    이어진 줄", id="indent-in-paragraph-stays"),
    pytest.param("줄\\\n다음 끝\\", "줄\\\\\n다음 끝\\\\", id="backslash-before-line-end"),
]


@pytest.mark.parametrize("text, expected", BODY)
@pytest.mark.parametrize("make", [hwp_paragraph, hwpx_paragraph], ids=["hwp", "hwpx"])
def test_body_text(make, text, expected):
    markdown = marlune.convert(make(text))
    assert markdown == expected
    assert lost_pieces(markdown, [text]) == []


def test_closing_hashes_of_a_heading():
    info = hf.doc_info([hf.para_shape_record(), hf.para_shape_record(hf.HEADING_OUTLINE, 0)])
    section = hf.para("C# 언어 #", shape=1, style=2) + hf.para("끝 ##\n#", shape=1, style=2)
    markdown = marlune.convert(hf.hwp_document([section], extra_streams={"DocInfo": info}))
    assert markdown == "# C# 언어 \\#\n\n# 끝 ## \\#"
    assert lost_pieces(markdown, ["C# 언어 #", "끝 ## #"]) == []


def cells_table(texts: list[str]) -> bytes:
    cells = [(0, c, 1, 1, text) for c, text in enumerate(texts)]
    grid = hf.grid_table(cells, 1, len(texts))
    return hf.hwp_document([hf.para(hf.with_control("", 11, "tbl ")) + grid])


@pytest.mark.parametrize("tables, texts, expected", [
    pytest.param("pipe", ["a|b", "끝\\", "- 항목", "*강조*"], "|a\\|b|끝\\\\|- 항목|\\*강조*|\n|---|---|---|---|",
                 id="pipe-cells"),
    pytest.param("pipe", ["x\\|y", "1. 첫\n2. 둘"], "|x\\\\\\|y|1. 첫<br>2. 둘|\n|---|---|", id="pipe-cell-lines"),
    pytest.param("html", ["<b> & &amp; *별* [a](b)", "a\\b"],
                 "<table>\n<tr><td>&lt;b> & &amp;amp; *별* [a](b)</td><td>a\\b</td></tr>\n</table>",
                 id="html-cells-escape-html-only"),
])
def test_table_cells(tables, texts, expected):
    markdown = marlune.convert(cells_table(texts), tables=tables)
    assert markdown == expected
    assert lost_pieces(markdown, texts) == []


def link_targets(markdown: str) -> list[str]:
    return [token.attrGet("href") for block in MARKDOWN_IT.parse(markdown) for token in block.children or []
            if token.type == "link_open"]


@pytest.mark.parametrize("stored, destination", [
    pytest.param("http\\://a.kr/x?q=1&r=2#top", "http://a.kr/x?q=1&r=2#top", id="query-as-is"),
    pytest.param("http\\://a.kr/위키_(동음이의)", "http://a.kr/위키_(동음이의)", id="balanced-parentheses"),
    pytest.param("http\\://a.kr/a)b(", "http://a.kr/a\\)b\\(", id="unbalanced-parentheses"),
    pytest.param("http\\://a.kr/a b", "http://a.kr/a%20b", id="space"),
    pytest.param("http\\://a.kr/?x=&amp<b>*_[]", "http://a.kr/?x=&amp<b>*_[]", id="no-inline-markup"),
    pytest.param("http\\://a.kr/?x=&amp\\;", "http://a.kr/?x=\\&amp;", id="reference"),
    pytest.param("http\\://a.kr/a\\\\", "http://a.kr/a\\\\", id="closing-backslash"),
])
def test_link_destinations(stored, destination):
    section = hf.para(hf.linked("누리집", "앞 ")) + hf.hyperlink_header(stored + ";1;0;0;")
    markdown = marlune.convert(hf.hwp_document([section]))
    assert markdown == f"앞 [누리집]({destination})"
    target = stored.replace("\\:", ":").replace("\\;", ";").replace("\\\\", "\\")
    assert [unquote(href) for href in link_targets(markdown)] == [target]


def test_links_in_cells():
    def linked_cell(row: int, col: int):
        text = hf.para(hf.linked("a*b", "", ""), level=2) + hf.hyperlink_header("http\\://a.kr/x\\|y;1;0;0;", 3)
        return (row, col, 1, 1, [text])
    document = hf.hwp_document([hf.para(hf.with_control("", 11, "tbl ")) + hf.grid_table([linked_cell(0, 0)], 1, 1)
                                + hf.para(hf.with_control("", 11, "tbl "))
                                + hf.grid_table([linked_cell(0, 0), (0, 1, 1, 1, "b")], 1, 2)])
    assert marlune.convert(document, tables="pipe") == "[a\\*b](http://a.kr/x|y)\n\n|[a\\*b](http://a.kr/x\\|y)|b|\n|---|---|"
    assert marlune.convert(document, tables="html").endswith('<tr><td><a href="http://a.kr/x|y">a*b</a></td><td>b</td></tr>\n</table>')


def test_note_referenced_only_inside_an_html_cell_stays_readable():
    cell = [hf.para(hf.with_control("셀", 17, "fn  "), level=2) + hf.list_control("fn  ", ["단어"], level=3)]
    grid = hf.grid_table([(0, 0, 1, 1, cell), (0, 1, 1, 1, "b")], 1, 2)
    document = hf.hwp_document([hf.para(hf.with_control("", 11, "tbl ")) + grid])
    assert marlune.convert(document, tables="pipe") == "|셀[^1]|b|\n|---|---|\n\n[^1]: 단어"
    html = marlune.convert(document, tables="html")
    assert html == "<table>\n<tr><td>셀[^1]</td><td>b</td></tr>\n</table>\n\n\\[^1]: 단어"
    assert lost_pieces(html, ["셀", "단어"]) == []


def corpus_documents(name: str) -> list[Path]:
    folder = SHARED / name
    if not folder.is_dir():
        pytest.skip(f"corpus folder not present: {folder}")
    return sorted(p for p in folder.rglob("*") if p.suffix.lower() in (".hwp", ".hwpx"))


@pytest.mark.parametrize("tables", ["auto", "pipe"])
@pytest.mark.parametrize("corpus", ["corpus", "corpus-diverse", "corpus-hwpx"])
def test_corpus_text_reads_back(corpus, tables):
    failing = {}
    for path in corpus_documents(corpus):
        try:
            markdown = marlune.convert(path, tables=tables, headers=True)
        except RuntimeError:
            continue  # damaged on purpose; the error tests cover it
        lost = lost_pieces(markdown, _convert.texts(str(path), tables=tables, headers=True))
        if lost:
            failing[str(path.relative_to(SHARED))] = lost[:3]
    assert failing == {}
