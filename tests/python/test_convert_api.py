"""The faithful conversion's Python surface: marlune.convert and marlune.parse.
What they take and refuse, the errors they share with the exact function,
the Document they return, the picture folder, and threads."""

from __future__ import annotations

import array
import dataclasses
import os
import re
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from datetime import datetime, timezone
from pathlib import Path

import pytest

import hwpfixture as hf
import marlune
from marlune import _api, _convert

# Paragraphs, a table and a captioned picture with its binary item.
RICH = hf.hwp_document([
    hf.para("첫 문단 <개정 2015.12.31.>")
    + hf.para(hf.para_text(hf.ctrl_char(11, "tbl "), hf.PARA_END)) + hf.table([["a", "b"], ["c|d", "e"]])
    + hf.para(hf.para_text(hf.ctrl_char(11, "gso "), hf.PARA_END)) + hf.picture(caption=["그림 1"], item=1),
    hf.para("둘째 구역"),
], extra_streams={"DocInfo": hf.doc_info([hf.bin_data_record(1, "png")]),
                  **hf.bin_data_item(1, "png", b"\x89PNG\r\n\x1a\n")})


class BytesPath:
    """A path-like object whose __fspath__ gives the name's bytes."""

    def __init__(self, path: Path) -> None:
        self.path = bytes(path)

    def __fspath__(self) -> bytes:
        return self.path


@pytest.fixture
def rich(tmp_path: Path) -> Path:
    path = tmp_path / "문서 (1).hwp"
    path.write_bytes(RICH)
    return path


@pytest.mark.parametrize("kind", [str, Path, BytesPath, lambda p: p.read_bytes(),
                                  lambda p: bytearray(p.read_bytes()), lambda p: memoryview(p.read_bytes())],
                         ids=["str", "Path", "bytes-path", "bytes", "bytearray", "memoryview"])
def test_every_source_kind_gives_the_same_document(rich, kind):
    assert marlune.parse(kind(rich)) == marlune.parse(str(rich))
    assert marlune.convert(kind(rich)) == marlune.parse(str(rich)).markdown


@pytest.mark.parametrize("call, error", [
    (lambda: marlune.convert(42), TypeError),
    (lambda: marlune.convert(None), TypeError),
    (lambda: marlune.convert(array.array("b", RICH)), TypeError),
    (lambda: marlune.convert(RICH, "html"), TypeError),
    (lambda: marlune.convert(RICH, table="html"), TypeError),
    (lambda: marlune.convert(RICH, tables=1), TypeError),
    (lambda: marlune.convert(RICH, tables="grid"), ValueError),
    (lambda: marlune.parse(RICH, tables="HTML"), ValueError),
    (lambda: marlune.convert(RICH, images=1), TypeError),
])
def test_wrong_arguments_are_refused(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "convert() missing required argument 'source' (pos 1)"),
    ((RICH, "auto", True, False, "latex", True, True, 1), {}, "convert() takes at most 7 arguments (8 given)"),
    ((RICH, "auto"), {"tables": "html"}, "argument for convert() given by name ('tables') and position (2)"),
    ((RICH,), {"frob": 1}, "convert() got an unexpected keyword argument 'frob'"),
    ((), {"source": RICH}, "positional-only arguments passed as keyword arguments: 'source'"),
    ((RICH,), {"tables": 1}, "convert() argument 'tables' must be str, not int"),
    ((RICH,), {"equations": 1}, "convert() argument 'equations' must be str, not int"),
])
def test_the_markdown_entry_point_parses_its_own_arguments(args, kwargs, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        _convert.convert(*args, **kwargs)
    assert _convert.convert(RICH, "html", False, True) == _convert.convert(RICH, headers=True, notes=0, tables="html")


def damaged(tmp_path: Path, case: str) -> str:
    path = tmp_path / "d.hwp"
    writers = {
        "missing": lambda: None,
        "nul": lambda: path.write_bytes(RICH),
        "directory": lambda: path.mkdir(),
        "empty": lambda: path.write_bytes(b""),
        "not-compound": lambda: path.write_bytes(b"plain text, not a document" * 40),
        "bad-signature": lambda: path.write_bytes(
            hf.hwp_document([hf.para("x")], header=hf.file_header(signature=b"Not a HWP file"))),
        "encrypted": lambda: path.write_bytes(hf.hwp_document([hf.para("x")], header=hf.file_header(flags=3))),
        "truncated": lambda: path.write_bytes(RICH[:700]),
    }
    writers[case]()
    return str(path) + "\0" if case == "nul" else str(path)


@pytest.mark.parametrize("case", ["missing", "directory", "empty", "not-compound", "bad-signature", "encrypted",
                                  "truncated", "nul"])
def test_damage_gives_the_exact_functions_error_text(tmp_path, case):
    path = damaged(tmp_path, case)
    with pytest.raises(RuntimeError) as exact:
        marlune.hwp_to_markdown(path)
    with pytest.raises(RuntimeError) as faithful:
        marlune.convert(path)
    assert str(faithful.value) == str(exact.value)
    if os.path.isfile(path):  # the same text when the bytes are given
        with pytest.raises(RuntimeError) as from_bytes:
            marlune.parse(Path(path).read_bytes())
        assert str(from_bytes.value) == str(exact.value)


def test_parse_returns_a_frozen_document_with_typed_metadata(rich):
    document = marlune.parse(rich)
    assert isinstance(document.markdown, str) and isinstance(document.images, list)
    assert all(isinstance(image, marlune.Image) for image in document.images)
    assert document.metadata["sections"] == 2
    assert document.metadata["version"] == "5.0.3.0" and document.metadata["format"] == "hwp"
    assert set(document.metadata) <= {"title", "subject", "author", "keywords", "comments", "last_saved_by",
                                       "created", "modified", "sections", "version", "format"}
    with pytest.raises(dataclasses.FrozenInstanceError):
        document.markdown = ""  # type: ignore[misc]


def test_times_become_utc_datetimes_and_unrepresentable_ones_are_left_out():
    raw = {"created": 0, "modified": 1_600_000_000_123_456, "title": "t"}
    assert _api.metadata_values(raw) == {
        "created": datetime(1970, 1, 1, tzinfo=timezone.utc),
        "modified": datetime(2020, 9, 13, 12, 26, 40, 123456, tzinfo=timezone.utc), "title": "t"}
    assert _api.metadata_values({"created": 2**62, "sections": 1}) == {"sections": 1}


@pytest.mark.parametrize("folder", [lambda t: str(t / "img" / "new"), lambda t: t / "img" / "new",
                                    lambda t: os.fsencode(t / "img" / "new")], ids=["str", "Path", "bytes"])
def test_images_folder_is_created_and_linked(tmp_path, rich, folder):
    markdown = marlune.convert(rich, images=folder(tmp_path))
    assert (tmp_path / "img" / "new").is_dir()
    assert f"]({tmp_path}/img/new/" in markdown
    assert marlune.parse(rich, images=folder(tmp_path)).markdown == markdown


@pytest.mark.parametrize("text", ["\ufeff바이트 순서 표시로 시작", "a é 한 中 \U0001d11e 끝\ufeff", "ascii only"],
                         ids=["leading-bom", "every-width", "ascii"])
def test_text_of_every_width_reaches_python_unchanged(text):
    document = hf.hwp_document([hf.para(text)])
    assert marlune.convert(document) == text
    assert marlune.parse(document).markdown == text


def test_link_targets_escape_what_would_break_a_link():
    assert _api.link_target("그림 (1)/a%b<c>[d]\\/") == "그림%20%281%29/a%25b%3Cc%3E%5Bd%5D%5C/"
    assert _api.link_target(os.fsdecode(b"\xbf\xb9/")) == "%BF%B9/"


def test_threads_convert_the_same_documents_alike(rich, tmp_path):
    other = tmp_path / "other.hwp"
    hf.write_document(other, [b"".join(hf.para(f"{i} 문단") for i in range(500))])
    sources = [rich, other, RICH] * 8
    serial = [marlune.parse(source) for source in sources]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(marlune.parse, sources)) == serial


def test_the_interpreter_lock_is_released_while_converting():
    big = hf.hwp_document([b"".join(hf.para(f"{i} " + "가나다라마바사 " * 16) for i in range(50000))])
    count = 0
    running = True

    def counter() -> None:
        nonlocal count
        while running:
            count += 1

    thread = threading.Thread(target=counter)
    thread.start()
    try:
        before = count
        marlune.convert(big)  # ~150 ms; holding the lock, the counter would get one switch interval (5 ms)
        during = count - before
        before = count
        time.sleep(0.05)
        idle = count - before
    finally:
        running = False
        thread.join()
    assert during > 0.4 * idle  # the counter ran for more than 20 ms of the conversion


def test_import_stays_light():
    code = ("import sys, marlune; print(sorted(m for m in sys.modules if m.split('.')[0] in "
            "{'tqdm', 'langchain_core', 'llama_index', 'dask', 'distributed', 'mcp', 'markitdown', 'marlune.cli'}))")
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          check=True).stdout == "[]\n"
