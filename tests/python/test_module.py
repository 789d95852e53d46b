"""The extension module's surface: its attributes, the two function objects,
binding of the ``path`` argument and the exceptions a call can raise."""

from __future__ import annotations

import array
import collections
import importlib
import inspect
import os
import pathlib
import re
import subprocess
import sys
import textwrap
import types

import pytest

import hwpfixture as hf
import marlune
from marlune import _marlune

FUNCTION_NAMES = ["hwp_to_markdown", "hwp_debug_records"]

DOCSTRINGS = {
    "hwp_to_markdown": "HWP 파일을 Markdown 문자열로 변환한다.",
    "hwp_debug_records": "디버그용: 섹션 레코드의 (tag_id, level, size) 목록을 반환한다.",
}


@pytest.fixture
def document(make_doc) -> str:
    return make_doc([hf.para("첫 문단"), hf.para("second")])


# --------------------------------------------------------------------------
# Module attributes
# --------------------------------------------------------------------------

def test_module_docstring_is_empty_string():
    assert _marlune.__doc__ == ""


def test_module_name_is_package_submodule():
    assert _marlune.__name__ == "marlune._marlune"


def test_all_lists_both_functions_in_table_order():
    assert type(_marlune.__all__) is list
    assert _marlune.__all__ == FUNCTION_NAMES


def test_public_names_are_the_two_functions_only():
    public = {name for name in dir(_marlune) if not name.startswith("_")}
    assert public == set(FUNCTION_NAMES)


def test_package_reexports_the_module_functions():
    assert marlune.hwp_to_markdown is _marlune.hwp_to_markdown
    assert marlune.hwp_debug_records is _marlune.hwp_debug_records


# --------------------------------------------------------------------------
# Function objects
# --------------------------------------------------------------------------

@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_function_object_identity(name):
    function = getattr(_marlune, name)
    assert type(function) is types.BuiltinFunctionType
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == "marlune._marlune"
    assert function.__self__ is _marlune


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_function_docstring_and_text_signature(name):
    function = getattr(_marlune, name)
    assert function.__doc__ == DOCSTRINGS[name]
    assert function.__text_signature__ == "(path)"


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_introspected_signature_has_one_path_parameter(name):
    signature = inspect.signature(getattr(_marlune, name))
    params = list(signature.parameters.values())
    assert [p.name for p in params] == ["path"]
    assert params[0].kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert params[0].default is inspect.Parameter.empty


# --------------------------------------------------------------------------
# Binding the path argument
# --------------------------------------------------------------------------

def test_positional_and_keyword_calls_are_the_same_call(entry_point, document):
    by_position = entry_point(document)
    by_keyword = entry_point(path=document)
    assert by_position == by_keyword
    assert by_position  # the document is not empty, so the comparison means something


def test_str_subclass_is_accepted(entry_point, document):
    class PathText(str):
        pass

    assert entry_point(PathText(document)) == entry_point(document)


class _PathLike:
    def __init__(self, path: str) -> None:
        self._path = path

    def __fspath__(self) -> str:
        return self._path


class FifoProbe:
    """A named pipe whose writer (a child process) stays blocked in open()
    until someone opens the pipe for reading: if it is still blocked after a
    call, the call never opened the path."""

    def __init__(self, path: pathlib.Path) -> None:
        self.path = str(path)
        os.mkfifo(path)
        self.writer = subprocess.Popen(
            [sys.executable, "-I", "-S", "-c",
             "import sys\nwith open(sys.argv[1], 'wb') as f: f.write(b'plain bytes, no container')",
             self.path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def touched(self, wait: float = 0.1) -> bool:
        try:
            self.writer.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            return False
        return True

    def close(self) -> None:
        if self.writer.poll() is None:
            fd = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK)
            try:
                self.writer.wait(timeout=10)
            finally:
                os.close(fd)
        self.writer.wait(timeout=10)


@pytest.fixture
def fifo_probe(tmp_path):
    probe = FifoProbe(tmp_path / "probe")
    try:
        yield probe
    finally:
        probe.close()


def test_fifo_probe_sees_a_real_call(entry_point, fifo_probe):
    # Control for the binding tests below: a call that does open the path
    # releases the blocked writer.
    with pytest.raises(RuntimeError, match="^Compound file error: "):
        entry_point(fifo_probe.path)
    assert fifo_probe.touched(wait=30)


# The wording is the usual one of Python argument binding; each message
# names the function and what was wrong (the keyword, the parameter or the
# type received).
BINDING_ERRORS = [
    pytest.param(lambda f, p: f(), "path", id="no-argument"),
    pytest.param(lambda f, p: f(p, p), "2", id="two-positional"),
    pytest.param(lambda f, p: f(p, p, p), "3", id="three-positional"),
    pytest.param(lambda f, p: f(filename=p), "filename", id="unknown-keyword"),
    pytest.param(lambda f, p: f(p, strict=True), "strict", id="path-and-unknown-keyword"),
    pytest.param(lambda f, p: f(p, path=p), "path", id="position-and-keyword"),
    pytest.param(lambda f, p: f(os.fsencode(p)), "bytes", id="bytes"),
    pytest.param(lambda f, p: f(bytearray(os.fsencode(p))), "bytearray", id="bytearray"),
    pytest.param(lambda f, p: f(pathlib.Path(p)), "PosixPath", id="pathlib-path"),
    pytest.param(lambda f, p: f(path=pathlib.Path(p)), "PosixPath", id="pathlib-path-keyword"),
    pytest.param(lambda f, p: f(_PathLike(p)), "_PathLike", id="fspath-object"),
    pytest.param(lambda f, p: f(3), "int", id="int"),
    pytest.param(lambda f, p: f(None), "NoneType", id="none"),
]


@pytest.mark.parametrize("call, fragment", BINDING_ERRORS)
def test_binding_errors_raise_type_error_before_opening(entry_point, fifo_probe, call, fragment):
    with pytest.raises(TypeError) as info:
        call(entry_point, fifo_probe.path)
    assert type(info.value) is TypeError
    message = str(info.value)
    assert entry_point.__name__ in message
    assert fragment in message
    assert not fifo_probe.touched()


@pytest.mark.parametrize("value", [b"x.hwp", pathlib.Path("x.hwp"), 7, None],
                         ids=["bytes", "pathlib-path", "int", "none"])
def test_wrong_path_type_message_names_argument_and_type(entry_point, value):
    with pytest.raises(TypeError) as info:
        entry_point(value)
    message = str(info.value)
    assert "'path'" in message
    assert type(value).__name__ in message


# The type is shown by its C-level name: a type defined in C (static or heap)
# with its module's name in front, a class defined in Python by its bare name.
@pytest.mark.parametrize("value, shown", [
    (collections.OrderedDict(), "collections.OrderedDict"),
    (array.array("b"), "array.array"),
    (re.compile("x"), "re.Pattern"),
    (_PathLike("x.hwp"), "_PathLike"),
], ids=["static-type", "heap-type", "heap-type-of-builtin-module", "python-class"])
def test_wrong_path_type_message_is_the_interpreters(entry_point, value, shown):
    with pytest.raises(TypeError) as info:
        entry_point(value)
    assert str(info.value) == f"{entry_point.__name__}() argument 'path' must be str, not {shown}"


@pytest.mark.parametrize("path", ["\udc80", "doc\ud800.hwp", "\udfff/x.hwp"],
                         ids=["alone", "inside-name", "in-directory"])
def test_lone_surrogate_raises_unicode_encode_error(entry_point, path):
    with pytest.raises(UnicodeEncodeError) as info:
        entry_point(path)
    assert type(info.value) is UnicodeEncodeError
    assert info.value.encoding == "utf-8"


def test_surrogate_escaped_name_of_existing_file_is_not_opened(entry_point, tmp_path):
    # The file exists under the raw byte name, but the path is encoded as
    # strict UTF-8, not with the file-system error handler.
    raw_dir = os.fsencode(tmp_path)
    with open(raw_dir + b"/\xff.hwp", "wb") as f:
        f.write(hf.hwp_document([hf.para("x")]))
    path = os.fsdecode(raw_dir + b"/\xff.hwp")
    with pytest.raises(UnicodeEncodeError):
        entry_point(path)


# --------------------------------------------------------------------------
# Exceptions raised for document failures
# --------------------------------------------------------------------------

def test_failure_is_plain_runtime_error(entry_point, tmp_path):
    missing = str(tmp_path / "missing.hwp")
    try:
        entry_point(missing)
    except BaseException as error:  # noqa: BLE001 - the exact class is the subject
        caught = error
    else:
        pytest.fail("no exception raised for a missing file")
    assert type(caught) is RuntimeError
    assert caught.args == (f"IO error: {os.strerror(2)} (os error 2)",)
    assert caught.__cause__ is None
    assert caught.__context__ is None
    assert caught.__suppress_context__ is False


def test_calls_after_a_failure_work(entry_point, document, tmp_path):
    expected = entry_point(document)
    for _ in range(3):
        with pytest.raises(RuntimeError):
            entry_point(str(tmp_path / "missing.hwp"))
        assert entry_point(document) == expected


# --------------------------------------------------------------------------
# Importing
# --------------------------------------------------------------------------

def test_reimport_after_removal_yields_same_module(monkeypatch):
    original = sys.modules["marlune._marlune"]
    monkeypatch.delitem(sys.modules, "marlune._marlune")
    again = importlib.import_module("marlune._marlune")
    assert again is original
    assert again.hwp_to_markdown is original.hwp_to_markdown
    assert again.__all__ == FUNCTION_NAMES


def test_fresh_process_reimport_yields_same_module():
    code = textwrap.dedent("""
        import importlib, sys
        import marlune._marlune as first
        del sys.modules["marlune._marlune"]
        second = importlib.import_module("marlune._marlune")
        assert second is first, (first, second)
        assert second.__all__ == ["hwp_to_markdown", "hwp_debug_records"], second.__all__
        print("same")
    """)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "same\n"
    assert result.stderr == ""


def test_import_in_subinterpreter_raises_import_error(tmp_path):
    marker = tmp_path / "marker.txt"
    inner = textwrap.dedent(f"""
        try:
            import marlune._marlune
        except ImportError as error:
            outcome = "ImportError"
        except BaseException as error:
            outcome = "other: " + type(error).__name__ + ": " + str(error)
        else:
            outcome = "imported"
        with open({str(marker)!r}, "w") as f:
            f.write(outcome)
    """)
    outer = textwrap.dedent(f"""
        import sys
        import marlune._marlune as main_module
        try:
            import _testcapi
        except ImportError:
            sys.exit(77)
        status = _testcapi.run_in_subinterp({inner!r})
        # The owning interpreter keeps a working module.
        assert main_module.__all__ == ["hwp_to_markdown", "hwp_debug_records"]
        sys.exit(0 if status == 0 else 3)
    """)
    result = subprocess.run([sys.executable, "-c", outer], capture_output=True, text=True, timeout=60)
    if result.returncode == 77:
        pytest.skip("_testcapi is not available in this interpreter")
    assert result.returncode == 0, result.stderr
    assert marker.read_text() == "ImportError"
