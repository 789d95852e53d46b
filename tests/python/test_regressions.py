"""Inputs that once crashed, hung, leaked or blew up some part of the reader,
kept so that each runs again. tests/regressions/<kind>/ holds whole
documents (document), PARA_TEXT payloads (para_text) and section record
streams (section); the last two are wrapped into documents here. Each must
convert to a str and list its records, or raise RuntimeError, in a child
process that ends normally with nothing on stderr."""

import subprocess
import sys
from pathlib import Path

import pytest

import hwpfixture as hf
from marlune import hwp_to_markdown

REGRESSIONS = Path(__file__).resolve().parents[1] / "regressions"


def as_document(kind: str, data: bytes) -> bytes:
    if kind == "document":
        return data
    if kind == "para_text":
        return hf.hwp_document([hf.para(data)])
    return hf.hwp_document([data])


CASES = sorted(p for p in REGRESSIONS.glob("*/*") if p.is_file())

CHILD = """
import sys
from marlune import hwp_debug_records, hwp_to_markdown
for function, kind in ((hwp_to_markdown, str), (hwp_debug_records, list)):
    try:
        assert isinstance(function(sys.argv[1]), kind)
    except RuntimeError:
        pass
print("ok")
"""


@pytest.mark.parametrize("case", CASES, ids=[f"{p.parent.name}/{p.name}" for p in CASES])
def test_regression_input_converts_or_fails_cleanly(tmp_path, case):
    path = tmp_path / "input.hwp"
    path.write_bytes(as_document(case.parent.name, case.read_bytes()))
    child = subprocess.run([sys.executable, "-c", CHILD, str(path)], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "ok\n"
    assert child.stderr == ""


def test_placeholder_copies_in_the_text_cannot_multiply_a_field(tmp_path):
    # One long click-here field, and the paragraph's own text holding
    # thousands of copies of its placeholder: each copy would insert the
    # field again, a paragraph growing with the square of its size.
    copies = "\ue0000\ue000" * 5000
    payload = hf.para_text(copies, hf.field_start(), "x" * 20000, hf.field_end())
    path = tmp_path / "bomb.hwp"
    path.write_bytes(hf.hwp_document([hf.para(payload)]))
    markdown = hwp_to_markdown(str(path))
    assert len(markdown.encode()) <= 2 * len(payload) * 3
    # The first copies are still filled in, as for any paragraph.
    assert markdown.startswith("x" * 20000)


def test_a_literal_placeholder_in_the_text_is_still_filled(tmp_path):
    payload = hf.para_text("a\ue0000\ue000b", hf.field_start(), "F", hf.field_end())
    path = tmp_path / "doc.hwp"
    path.write_bytes(hf.hwp_document([hf.para(payload)]))
    assert hwp_to_markdown(str(path)) == "aFbF"
