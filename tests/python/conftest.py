"""Shared fixtures for the Python tests of marlune.

Every test builds the exact document it needs with ``hwpfixture`` and writes
it under pytest's ``tmp_path``; real documents are only read, never copied.
"""

from __future__ import annotations

import functools
import os
import sys
from collections.abc import Callable, Iterator
from typing import Any
from pathlib import Path

import pytest

TESTS_DIR = Path(__file__).resolve().parent
if str(TESTS_DIR) not in sys.path:
    sys.path.insert(0, str(TESTS_DIR))

import hwpfixture  # noqa: E402
import outputcheck  # noqa: E402

from marlune import _marlune  # noqa: E402

# A run against an installed or instrumented build names the folder the
# package must come from, so the tree's python/marlune is never tested by
# mistake.
_EXPECTED_PACKAGE = os.environ.get("MARLUNE_EXPECT_MODULE")
if _EXPECTED_PACKAGE is not None and Path(_marlune.__file__).parent.resolve() != Path(_EXPECTED_PACKAGE).resolve():
    raise RuntimeError(f"marlune imported from {_marlune.__file__}, expected {_EXPECTED_PACKAGE}")

REPO_ROOT = TESTS_DIR.parent.parent
CORPUS_DIR = REPO_ROOT.parent / "shared" / "corpus"

# Both entry points, for tests where they must behave alike.
ENTRY_POINTS = [_marlune.hwp_to_markdown, _marlune.hwp_debug_records]
ENTRY_POINT_IDS = ["markdown", "records"]


@pytest.fixture(autouse=True, scope="session")
def every_output_is_checked() -> Iterator[None]:
    """Every conversion any test runs has its output checked for control
    characters, lone surrogates and unsafe picture names."""
    from marlune import _convert

    def checked(function: Callable[..., Any], output: Callable[[Any], list[str]]) -> Callable[..., Any]:
        @functools.wraps(function)
        def call(*args: Any, **kwargs: Any) -> Any:
            result = function(*args, **kwargs)
            faults = output(result)
            assert not faults, f"unclean output: {faults[:5]}"
            return result
        return call

    original = _convert.convert, _convert.parse
    _convert.convert = checked(_convert.convert, outputcheck.output_faults)
    _convert.parse = checked(_convert.parse, lambda result: outputcheck.output_faults(*result))
    yield
    _convert.convert, _convert.parse = original


@pytest.fixture
def write_file(tmp_path: Path) -> Callable[..., str]:
    """Write raw bytes to a fresh file under tmp_path; return its path as str."""
    counter = 0

    def write(data: bytes, name: str | None = None) -> str:
        nonlocal counter
        counter += 1
        path = tmp_path / (name if name is not None else f"file{counter}.hwp")
        path.write_bytes(data)
        return str(path)

    return write


@pytest.fixture
def make_doc(write_file: Callable[..., str]) -> Callable[..., str]:
    """Write ``hwpfixture.hwp_document(*args, **kwargs)`` to a fresh file and
    return its path as str.  ``name=`` chooses the file name."""

    def make(*args: object, name: str | None = None, **kwargs: object) -> str:
        return write_file(hwpfixture.hwp_document(*args, **kwargs), name)  # type: ignore[arg-type]

    return make


@pytest.fixture(params=ENTRY_POINTS, ids=ENTRY_POINT_IDS)
def entry_point(request: pytest.FixtureRequest) -> Callable[[str], object]:
    """Each of the module's two functions in turn."""
    return request.param


def corpus_path() -> Path:
    """The real-document folder, or skip the calling test when it is absent."""
    if not CORPUS_DIR.is_dir():
        pytest.skip(f"corpus folder not present: {CORPUS_DIR}")
    return CORPUS_DIR


@pytest.fixture
def corpus_dir() -> Path:
    return corpus_path()
