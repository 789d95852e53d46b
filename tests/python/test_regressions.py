"""Inputs that once crashed, hung or leaked in some part of the reader, kept
so that each runs again: every file under tests/regressions must convert to a
str and list its records, or raise RuntimeError, in a child process that
ends normally."""

import subprocess
import sys
from pathlib import Path

import pytest

REGRESSIONS = Path(__file__).resolve().parents[1] / "regressions"
CASES = sorted(p for p in REGRESSIONS.iterdir() if p.is_file()) if REGRESSIONS.is_dir() else []

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


@pytest.mark.parametrize("path", CASES, ids=[p.name for p in CASES])
def test_regression_input_converts_or_fails_cleanly(path):
    child = subprocess.run([sys.executable, "-c", CHILD, str(path)], capture_output=True, text=True, timeout=60)
    assert child.returncode == 0, child.stderr
    assert child.stdout == "ok\n"
    assert child.stderr == ""
