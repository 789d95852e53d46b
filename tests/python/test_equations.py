"""Equations: the equation editor's scripts as LaTeX (a table of scripts by
construct, rendered by KaTeX when node and Debian's libjs-katex are there),
where equations stand in the Markdown (inline among text, display alone, in
cells) for HWP 5.0 and HWPX, the scripts kept with equations="script", and
scripts that do not parse still giving LaTeX that renders."""

from __future__ import annotations

import json
import pathlib
import random
import shutil
import subprocess

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune

ROOT = pathlib.Path(__file__).resolve().parents[2]
KATEX = pathlib.Path("/usr/share/javascript/katex/katex.js")
RUNNER = ROOT / "tests" / "tools" / "katex_check.js"
SCRIPTS = ROOT.parent / "shared" / "equations" / "scripts.jsonl"

# script -> LaTeX, by construct.
TRANSLATIONS = {
    "scripts": [
        ("x  _{t+1}", "x_{t+1}"),
        ("x sub 1 sup 2", "x_{1}^{2}"),
        ("a_1^2", "a_{1}^{2}"),
        ("x^2^3", "{x^{2}}^{3}"),
        ("{a+b}^2", "{a+b}^{2}"),
        ("_{2} x", "{}_{2}x"),
    ],
    "fractions and roots": [
        ("{1} over {9}", "\\frac{1}{9}"),
        ("a+b over c", "a+\\frac{b}{c}"),
        ("1over3 times 2over3", "\\frac{1}{3}\\times\\frac{2}{3}"),
        ("n atop k", "\\genfrac{}{}{0pt}{}{n}{k}"),
        ("sqrt {b^2 - 4ac}", "\\sqrt{b^{2}-4ac}"),
        ("root 3 of x", "\\sqrt[3]{x}"),
        ("3root3", "3\\sqrt{3}"),
    ],
    "big operators": [
        ("sum _{k=1} ^{n} a_k", "\\sum_{k=1}^{n}a_{k}"),
        ("sum from {k=1} to n k", "\\sum_{k=1}^{n}k"),
        ("int _{0} ^{1} f(x) dx", "\\int_{0}^{1}f(x)dx"),
        ("dint _{D} f + tint + oint _C", "\\iint_{D}f+\\iiint+\\oint_{C}"),
        ("lim _{x -> 0} {sin x} over x", "\\lim_{x\\rightarrow0}\\frac{\\sin x}{x}"),
        ("Lim _{n -> INF} a_n", "\\operatorname*{Lim}_{n\\rightarrow\\infty}a_{n}"),
        ("bigcup _{i} A_i", "\\bigcup_{i}A_{i}"),
        ("max _{x} f", "\\max_{x}f"),
    ],
    "delimiters": [
        ("LEFT ( x RIGHT )", "\\left(x\\right)"),
        ("left { a_n right }", "\\left\\{a_{n}\\right\\}"),
        ("LEFT | x RIGHT |", "\\left|x\\right|"),
        ("left . x right |", "\\left.x\\right|"),
        ("LEFT langle x RIGHT rangle", "\\left\\langle x\\right\\rangle"),
        ("LEFT || v RIGHT ||", "\\left\\Vert v\\right\\Vert"),
    ],
    "arrays": [
        ("matrix{a & b # c & d}", "\\begin{matrix}a&b\\\\c&d\\end{matrix}"),
        ("pmatrix{1 & 0 # 0 & 1}", "\\begin{pmatrix}1&0\\\\0&1\\end{pmatrix}"),
        ("bmatrix{a # b}", "\\begin{bmatrix}a\\\\b\\end{bmatrix}"),
        ("dmatrix{a & b # c & d}", "\\begin{vmatrix}a&b\\\\c&d\\end{vmatrix}"),
        ("cases{x & x>0 # -x && x<0}", "\\begin{cases}x&x\\gt0\\\\-x&x\\lt0\\end{cases}"),
        ("lpile{a # bb}", "\\begin{array}{l}a\\\\bb\\end{array}"),
        ("eqalign{a & = b # & = c}", "\\begin{aligned}a&=b\\\\&=c\\end{aligned}"),
        ("a = b # c = d", "\\begin{gathered}a=b\\\\c=d\\end{gathered}"),
    ],
    "decorations": [
        ("bar x + bar{AB} + bar alpha", "\\bar{x}+\\overline{AB}+\\bar{\\alpha}"),
        ("hat x + hat {AB}", "\\hat{x}+\\widehat{AB}"),
        ("vec a + rm vec AB", "\\vec{a}+\\overrightarrow{\\mathrm{AB}}"),
        ("dot x ddot x tilde x", "\\dot{x}\\ddot{x}\\tilde{x}"),
        ("acute a grave a check a", "\\acute{a}\\grave{a}\\check{a}"),
        ("under x dyad AB arch AB", "\\underline{x}\\overleftrightarrow{AB}\\overgroup{AB}"),
        ("f prime (x) = f'' + g `'", "f^{\\prime}(x)=f^{\\prime\\prime}+g^{\\prime}"),
        ("30 DEG", "30^{\\circ}"),
    ],
    "fonts and text": [
        ("rmAB", "\\mathrm{AB}"),
        ("rm P it (X)", "\\mathrm{P}(X)"),
        ("{rm{P}} it (x)", "\\mathrm{P}(x)"),
        ("bold v", "\\mathbf{v}"),
        ('"평균" = {"합계"} over n', "\\text{평균}=\\frac{\\text{합계}}{n}"),
        ("이~홀수인~경우", "\\text{이}\\ \\text{홀수인}\\ \\text{경우}"),
        ('"{a_1 & 50%}"', "\\text{\\{a\\_1 \\& 50\\%\\}}"),
    ],
    "letters and symbols": [
        ("alpha + GAMMA + Gamma + ALPHA", "\\alpha+\\Gamma+\\Gamma+\\mathrm{A}"),
        ("a TIMES b DIV c +- d -+ e", "a\\times b\\div c\\pm d\\mp e"),
        ("a LEQ b GEQ c NEQ d", "a\\leq b\\geq c\\neq d"),
        ("x APPROX y SIM z EQUIV w", "x\\approx y\\sim z\\equiv w"),
        ("A -> B <- C => D <=> E", "A\\rightarrow B\\leftarrow C\\Rightarrow D\\Leftrightarrow E"),
        ("x rarrow y RARROW z", "x\\rightarrow y\\Rightarrow z"),
        ("INF PARTIAL Partial nabla", "\\infty\\partial\\partial\\nabla"),
        ("therefore because cdots ldots vdots ddots", "\\therefore\\because\\cdots\\ldots\\vdots\\ddots"),
        ("ANGLE ABC TRIANGLE ABC", "\\angle ABC\\triangle ABC"),
        ("x IN A SUBSET B CUP EMPTYSET", "x\\in A\\subset B\\cup\\emptyset"),
        ("sin x + log y + exp z + det A", "\\sin x+\\log y+\\exp z+\\det A"),
        ("LEQX + sinx + timesp", "\\leq X+\\sin x+\\times p"),
        ("a < b > c % d $", "a\\lt b\\gt c\\%d\\text{\\textdollar}"),
    ],
    "spacing": [
        ("a~b`c", "a\\ b\\,c"),
        ("`` k ~", "k"),
        ("``", ""),
        ("", ""),
    ],
    "characters KaTeX refuses": [
        ("a\ue000b", 'a{\\char"E000}b'),
        ("e\u0301x\u2028", "ex"),
        ('"a∑b\ue000"', '\\text{a}∑\\text{b}{\\char"E000}'),
        ("a # [b]", "\\begin{gathered}a\\\\{}[b]\\end{gathered}"),
        ("x > @", "x\\gt @"),
        ("INF # alpha", "\\begin{gathered}\\infty\\\\\\alpha\\end{gathered}"),
    ],
    "unreadable": [
        ("{ unbalanced", "unbalanced"),
        ("x } y", "x\\}y"),
        ("x right ) y", "x)y"),
        ("left ( x", "\\left(x\\right."),
        ("x^", "x^{}"),
        ("over 2", "\\frac{}{2}"),
        ('"open', "\\text{open}"),
    ],
}

TABLE = [(construct, script, latex) for construct, rows in TRANSLATIONS.items() for script, latex in rows]


@pytest.mark.parametrize("construct", TRANSLATIONS)
def test_scripts_translate_by_construct(construct):
    wrong = [(script, marlune.equation_to_latex(script), latex) for script, latex in TRANSLATIONS[construct]
             if marlune.equation_to_latex(script) != latex]
    assert wrong == []


def katex_failures(formulas: list[str]) -> list[dict]:
    """The formulas KaTeX refuses in display mode, by line (from 1)."""
    node = shutil.which("node")
    if node is None or not KATEX.exists():
        pytest.skip("KaTeX check needs node and Debian's libjs-katex (scripts/install-deps.sh installs it)")
    result = subprocess.run([node, str(RUNNER), str(KATEX)], input="\n".join(formulas) + "\n",
                            capture_output=True, text=True, check=True, timeout=600)
    return [json.loads(line) for line in result.stdout.splitlines()]


def test_the_table_renders_in_katex():
    formulas = [latex for _construct, _script, latex in TABLE if latex]
    assert katex_failures(formulas) == []


def test_real_scripts_translate_and_render():
    if not SCRIPTS.exists():
        pytest.skip("needs ../shared/equations/scripts.jsonl")
    rows = [json.loads(line) for line in SCRIPTS.read_text(encoding="utf-8").splitlines()]
    formulas = [marlune.equation_to_latex(row["script"]) for row in rows]
    assert all("\n" not in formula for formula in formulas)
    failures = katex_failures(formulas)
    uses = sum(row["count"] for row in rows)
    failed = sum(rows[failure["line"] - 1]["count"] for failure in failures)
    assert failed <= uses * 0.005, failures[:20]


def test_random_scripts_render():
    """Scripts strung together at random from the language's pieces, right or
    wrong, still give LaTeX that KaTeX renders."""
    pieces = ["x", "AB", "2", "3.5", "{", "}", "^", "_", "sup", "over", "atop", "choose", "sqrt", "root", "of",
              "left", "right", "(", ")", "[", "]", "|", "||", ".", "<", ">", "=", "-", "#", "&", "~", "`", "'",
              '"', '"a b"', "rm", "it", "bold", "bar", "vec", "hat", "tilde", "under", "prime", "DEG", "sum",
              "int", "lim", "from", "to", "matrix", "cases", "pile", "eqalign", "BOX", "alpha", "TIMES", "->",
              "평균", "\\", "%", "$", "langle", "{}", "rmA", "1over2", "inf", "@", "\u2211", "\ue000", "\u0301"]
    chooser = random.Random(7)
    scripts = [" ".join(chooser.choice(pieces) for _ in range(chooser.randint(1, 12))) for _ in range(3000)]
    formulas = [marlune.equation_to_latex(script) for script in scripts]
    assert [(scripts[f["line"] - 1], formulas[f["line"] - 1]) for f in katex_failures(formulas)] == []


@pytest.mark.parametrize("script", [
    "{" * 20000 + "x",
    "}" * 20000,
    "x" + "^1" * 20000,
    "a" + " over b" * 20000,
    "left ( " * 20000,
    "sqrt " * 20000 + "x",
    "bar " * 5000 + "x",
    "matrix{" * 5000,
    "\u00ff\udcff".encode("utf-8", "surrogatepass").decode("utf-8", "replace") + "\x01x\x7f",
])
def test_hostile_scripts_give_bounded_latex(script):
    latex = marlune.equation_to_latex(script)
    assert "\n" not in latex
    assert len(latex) < 40 * len(script) + 100


def test_equation_to_latex_wants_a_string():
    with pytest.raises(TypeError, match="must be str"):
        marlune.equation_to_latex(b"x")


# ---- placement ----------------------------------------------------------------

EQ = 11  # the extended control character an equation's control stands on


def hwp_paragraph(before: str, script: str, after: str = "", level: int = 0) -> bytes:
    """A paragraph with text, an equation control, more text."""
    return hf.para(hf.with_control(before, EQ, "eqed", after), level) + hf.equation(script, level + 1)


def hwp_doc(*paragraphs: bytes) -> bytes:
    return hf.hwp_document([b"".join(paragraphs)])


def hwpx_doc(*paragraphs: str) -> bytes:
    return xf.package([xf.section(*paragraphs)])


def hwpx_paragraph(before: str, script: str, after: str = "") -> str:
    items = ([xf.run(xf.t(before))] if before else []) + [xf.equation(script)]
    return xf.p(*items, *([xf.run(xf.t(after))] if after else []))


PLACEMENTS = [
    pytest.param(("값은 ", "{1} over {9}", " 이다"), "값은 $\\frac{1}{9}$ 이다", id="inline-among-text"),
    pytest.param(("", "{1} over {9}", ""), "$$\n\\frac{1}{9}\n$$", id="display-alone"),
    pytest.param(("  ", "x^2", " "), "$$\nx^{2}\n$$", id="display-alone-with-blanks"),
    pytest.param(("US$5 and ", "x", ""), "US\\$5 and $x$", id="dollars-in-text-escaped"),
    pytest.param(("", "x", "2 apples"), "$x$ 2 apples", id="digit-after-set-apart"),
    pytest.param(("a ", "``", " b"), "a  b", id="empty-equation-writes-nothing"),
]


@pytest.mark.parametrize("parts, expected", PLACEMENTS)
def test_hwp_equation_placement(parts, expected):
    assert marlune.convert(hwp_doc(hwp_paragraph(*parts))) == expected


@pytest.mark.parametrize("parts, expected", PLACEMENTS)
def test_hwpx_equation_placement(parts, expected):
    assert marlune.convert(hwpx_doc(hwpx_paragraph(*parts))) == expected


def test_hwp_equations_side_by_side_stay_apart():
    text = hf.para_text("① ", hf.ctrl_char(EQ, "eqed"), hf.ctrl_char(EQ, "eqed"), " ②", hf.PARA_END)
    document = hwp_doc(hf.para(text) + hf.equation("{1} over {9}", 1) + hf.equation("x|y", 1))
    assert marlune.convert(document) == "① $\\frac{1}{9}$ $x|y$ ②"


CELL_CASES = [
    pytest.param("pipe", "|식|값|\n|---|---|\n|$\\left\\vert x\\right\\vert $ 이면|3|", id="pipe-cell-bar-as-vert"),
    pytest.param("html", "<table>\n<tr><td>식</td><td>값</td></tr>\n"
                         "<tr><td>$\\left|x\\right|$ 이면</td><td>3</td></tr>\n</table>", id="html-cell"),
]


@pytest.mark.parametrize("tables, expected", CELL_CASES)
def test_hwp_equation_in_cell_is_inline(tables, expected):
    cell = hwp_paragraph("", "LEFT | x RIGHT |", " 이면", level=2)
    section = hf.para(hf.with_control("", EQ, "tbl ")) + hf.table([["식", "값"], [cell, "3"]])
    assert marlune.convert(hf.hwp_document([section]), tables=tables) == expected


@pytest.mark.parametrize("tables, expected", CELL_CASES)
def test_hwpx_equation_in_cell_is_inline(tables, expected):
    cells = [[xf.cell("식", 0, 0), xf.cell("값", 0, 1)],
             [xf.cell(hwpx_paragraph("", "LEFT | x RIGHT |", " 이면"), 1, 0), xf.cell("3", 1, 1)]]
    document = hwpx_doc(xf.p(xf.table(cells, 2, 2)))
    assert marlune.convert(document, tables=tables) == expected


@pytest.mark.parametrize("make", [
    lambda parts: hwp_doc(hwp_paragraph(*parts)),
    lambda parts: hwpx_doc(hwpx_paragraph(*parts)),
], ids=["hwp", "hwpx"])
def test_script_option_keeps_the_scripts(make):
    inline = make(("값은 ", "{1} over {9}", " 이다"))
    alone = make(("", "{1} over {9}", ""))
    assert marlune.convert(inline, equations="script") == "값은 ${1} over {9}$ 이다"
    assert marlune.parse(alone, equations="script").markdown == "$$\n{1} over {9}\n$$"
    assert marlune.parse(alone).markdown == "$$\n\\frac{1}{9}\n$$"


def test_unknown_equation_mode_is_refused():
    with pytest.raises(ValueError, match="equations must be 'latex' or 'script'"):
        marlune.convert(hwp_doc(hf.para("a")), equations="mathml")


def test_captioned_equation_stays_a_block():
    caption = hf.caption_list(["식 1"], 2)
    section = (hf.para(hf.with_control("보라 ", EQ, "eqed")) + hf.ctrl_header("eqed", 1) + caption
               + hf.eqedit("a over b", 2))
    assert marlune.convert(hf.hwp_document([section])) == "보라\n\n$$\n\\frac{a}{b}\n$$\n\n식 1"
