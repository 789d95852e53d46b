"""The ``marlune`` command, driven as a user drives it: in a child process,
with its standard streams, exit status, output folder and signals observed
from outside.

Children run ``sys.executable -m marlune`` with this process's environment
(plus the changes a test makes), so they use whichever build of the package
the test run itself imports.
"""

from __future__ import annotations

import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time
from collections.abc import Sequence
from datetime import datetime, timezone
from pathlib import Path

import pytest

import hwpfixture as hf
import marlune
from marlune import hwp_to_markdown

COMMAND = [sys.executable, "-m", "marlune"]

MISSING = "IO error: No such file or directory (os error 2)"
INVALID_SIGNATURE = "Invalid HWP signature"

# A short Korean document and its Markdown, written out by hand.
KOREAN_PARAS = ["가나다 제목", "본문: 한글과 English 123"]
KOREAN_MARKDOWN = "가나다 제목\n\n본문: 한글과 English 123"

# A line long enough that a few thousand paragraphs of it make a document
# whose conversion takes visibly longer than a small one's.
LONG_LINE = "가나다라마바사 아자차카타파하 " * 8


# The line a run of several documents ends with on stderr.
SUMMARY = re.compile(r"marlune: \d+ converted(, \d+ failed \([^\n]*\))?(, \d+ skipped( \(\d+ not reached\))?)? "
                     r"in \d+\.\d\d s\n\Z")


def without_summary(stderr: bytes | str) -> bytes | str:
    """Stderr without the closing summary line, when it ends with one."""
    text = stderr.decode(errors="surrogateescape") if isinstance(stderr, bytes) else stderr
    start = text.rfind("\n", 0, len(text) - 1) + 1
    if SUMMARY.match(text, start):
        text = text[:start]
    return text.encode(errors="surrogateescape") if isinstance(stderr, bytes) else text


def run(args: Sequence[str], *, cwd: Path | str | None = None, env: dict[str, str] | None = None,
        timeout: float = 60, keep_summary: bool = False, **kwargs) -> subprocess.CompletedProcess[bytes]:
    """Run the command to completion with stdin closed; bytes out.  A run
    that outlasts ``timeout`` is ended with its workers and fails the test.
    Stderr comes without its closing summary unless ``keep_summary``."""
    proc = subprocess.Popen([*COMMAND, *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True, **kwargs)
    try:
        stdout, stderr = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill_group(proc)
        stdout, stderr = proc.communicate()
        raise AssertionError(f"marlune {' '.join(args)} did not end within {timeout} s; "
                             f"stderr: {stderr.decode(errors='replace')}") from None
    return subprocess.CompletedProcess(proc.args, proc.returncode, stdout,
                                       stderr if keep_summary else without_summary(stderr))


def environment(**changes: str | None) -> dict[str, str]:
    """This process's environment with variables set, or removed when None."""
    env = dict(os.environ)
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def write_doc(path: Path, paras: Sequence[str]) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    hf.write_document(path, [b"".join(hf.para(p) for p in paras)])
    return path


def long_doc_bytes(paragraphs: int) -> bytes:
    return hf.hwp_document([b"".join(hf.para(f"{i} {LONG_LINE}") for i in range(paragraphs))])


def files_under(folder: Path) -> set[str]:
    """Every file below folder, as "/"-separated relative paths."""
    return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}


def temporaries(folder: Path) -> list[str]:
    return sorted(name for name in files_under(folder) if name.rsplit("/", 1)[-1].endswith(".tmp"))


def kill_group(proc: subprocess.Popen) -> None:
    """End a child started in its own session, with its workers, if it is
    still running."""
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait(timeout=30)


@pytest.fixture(scope="module")
def long_doc(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """A document of 20000 long paragraphs (about 7 MB of Markdown)."""
    path = tmp_path_factory.mktemp("long") / "long.hwp"
    path.write_bytes(long_doc_bytes(20000))
    return path


@pytest.fixture(scope="module")
def long_markdown(long_doc: Path) -> str:
    return marlune.convert(long_doc)  # the faithful conversion is the command's default


@pytest.fixture
def bad_signature(tmp_path: Path) -> Path:
    path = tmp_path / "bad.hwp"
    path.write_bytes(hf.hwp_document([hf.para("x")], header=hf.file_header(signature=b"Not a HWP file")))
    return path


# --------------------------------------------------------------------------
# Markdown on standard output
# --------------------------------------------------------------------------

# The Markdown goes out as UTF-8 bytes whatever the locale says about the
# terminal.  With "PYTHONUTF8=0" the interpreter does not switch to UTF-8 by
# itself under the C locale, so standard output and file names are ASCII.
C_LOCALE = {"LC_ALL": "C"}
ASCII_LOCALE = {"LC_ALL": "C", "PYTHONUTF8": "0", "PYTHONCOERCECLOCALE": "0"}
UTF8_LOCALE = {"LC_ALL": "C.UTF-8"}


@pytest.mark.parametrize("locale, name", [
    pytest.param(C_LOCALE, "doc.hwp", id="C-ascii-name"),
    pytest.param(C_LOCALE, "한글 문서.hwp", id="C-korean-name"),
    pytest.param(ASCII_LOCALE, "doc.hwp", id="utf8-mode-off-ascii-name"),
    # Here the name comes in with its bytes escaped; the file must open all the same.
    pytest.param(ASCII_LOCALE, "한글 문서.hwp", id="utf8-mode-off-korean-name"),
    pytest.param(UTF8_LOCALE, "한글 문서.hwp", id="C.UTF-8-korean-name"),
])
def test_stdout_is_utf8_markdown_with_one_final_line_feed(tmp_path, locale, name):
    write_doc(tmp_path / name, KOREAN_PARAS)
    proc = run([name], cwd=tmp_path, env=environment(**{"PYTHONIOENCODING": None, "PYTHONUTF8": None, **locale}))
    assert b"Traceback" not in proc.stderr, proc.stderr.decode(errors="replace")
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, (KOREAN_MARKDOWN + "\n").encode(), b"")


@pytest.mark.parametrize("paras, expected", [
    pytest.param(["  surrounded by spaces  "], b"surrounded by spaces\n", id="trimmed-paragraph"),
    pytest.param(["last paragraph", ""], b"last paragraph\n", id="trailing-empty-paragraph"),
])
def test_stdout_ends_with_exactly_one_line_feed(tmp_path, paras, expected):
    write_doc(tmp_path / "d.hwp", paras)
    proc = run(["d.hwp"], cwd=tmp_path)
    assert (proc.returncode, proc.stdout) == (0, expected)


# --------------------------------------------------------------------------
# Order of results and error messages, whatever finishes first
# --------------------------------------------------------------------------

@pytest.mark.parametrize("jobs", ["1", "2"])
@pytest.mark.parametrize("mode", ["stdout", "outdir"])
def test_results_and_errors_come_out_in_input_order(tmp_path, long_doc, long_markdown, bad_signature,
                                                  mode, jobs):
    # The first document takes far longer than the others, so with two
    # workers every later one is finished before it.
    os.link(long_doc, tmp_path / "long.hwp")
    write_doc(tmp_path / "one.hwp", ["first small"])
    write_doc(tmp_path / "two.hwp", ["second small"])
    write_doc(tmp_path / "three.hwp", ["third small"])
    inputs = ["long.hwp", "bad.hwp", "one.hwp", "missing.hwp", "two.hwp", "three.hwp"]
    options = ["-o", "out"] if mode == "outdir" else []

    proc = run([*inputs, "--jobs", jobs, *options], cwd=tmp_path)

    assert proc.returncode == 1
    assert proc.stderr.decode().splitlines() == [f"bad.hwp: {INVALID_SIGNATURE}", f"missing.hwp: {MISSING}"]
    if mode == "stdout":
        blocks = [long_markdown, "first small", "second small", "third small"]
        assert proc.stdout == ("\n\n".join(blocks) + "\n").encode()
    else:
        assert proc.stdout == b""
        out = tmp_path / "out"
        assert files_under(out) == {"long.md", "one.md", "two.md", "three.md"}
        assert (out / "long.md").read_text(encoding="utf-8") == long_markdown + "\n"
        assert (out / "three.md").read_text(encoding="utf-8") == "third small\n"


# --------------------------------------------------------------------------
# Converting into an output folder
# --------------------------------------------------------------------------

@pytest.mark.parametrize("flags, hwpx", [([], {"sub/x.md": "x"}), (["--exact"], {})], ids=["faithful", "exact"])
def test_folder_tree_and_given_files_land_under_outdir(tmp_path, flags, hwpx):
    # The faithful conversion also takes *.hwpx from folders (told apart by content, not name).
    tree = tmp_path / "tree"
    write_doc(tree / "a.hwp", ["a"])
    write_doc(tree / "sub" / "b.HWP", ["b"])
    write_doc(tree / "sub" / "deeper" / "c.Hwp", ["c"])
    write_doc(tree / "folder.hwp" / "inside.hwp", ["inside"])  # a folder named like a document
    write_doc(tree / "sub" / "copy.hwp.bak", ["ignored"])
    write_doc(tree / "sub" / "x.HwpX", ["x"])
    (tree / "notes.txt").write_text("not a document")
    write_doc(tmp_path / "elsewhere" / "deep" / "given.hwp", ["given"])
    write_doc(tmp_path / "plain.HWP", ["plain"])

    proc = run(["tree", "elsewhere/deep/given.hwp", "plain.HWP", "-o", "out/new", *flags], cwd=tmp_path)

    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")
    out = tmp_path / "out" / "new"
    expected = {"a.md": "a", "sub/b.md": "b", "sub/deeper/c.md": "c", "folder.hwp/inside.md": "inside",
                "given.md": "given", "plain.md": "plain", **hwpx}
    assert files_under(out) == set(expected)  # no temporary file either
    for name, text in expected.items():
        assert (out / name).read_text(encoding="utf-8") == text + "\n", name


def test_documents_differing_in_suffix_keep_it_and_one_given_twice_converts_once(tmp_path):
    write_doc(tmp_path / "tree" / "doc.hwp", ["from hwp"])
    write_doc(tmp_path / "tree" / "doc.hwpx", ["from hwpx"])  # told apart by content, not name
    proc = run(["tree", "tree/doc.hwp", "tree/doc.hwp", "-o", "out"], cwd=tmp_path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert {name: (tmp_path / "out" / name).read_text(encoding="utf-8") for name in files_under(tmp_path / "out")} \
        == {"doc.hwp.md": "from hwp\n", "doc.hwpx.md": "from hwpx\n"}


def test_existing_outputs_are_replaced(tmp_path):
    write_doc(tmp_path / "tree" / "a.hwp", ["new a"])
    write_doc(tmp_path / "tree" / "sub" / "b.hwp", ["new b"])
    out = tmp_path / "out"
    (out / "sub").mkdir(parents=True)
    (out / "a.md").write_text("an older and much longer text\n" * 100)
    (out / "sub" / "b.md").write_text("old b\n")
    (out / "sub" / "b.md").chmod(0o444)  # a read-only old output is replaced too
    (out / "keep.txt").write_text("unrelated")

    for _ in range(2):  # the second run replaces the first one's outputs
        proc = run(["tree", "-o", "out"], cwd=tmp_path)
        assert (proc.returncode, proc.stderr) == (0, b"")
        assert (out / "a.md").read_text() == "new a\n"
        assert (out / "sub" / "b.md").read_text() == "new b\n"
        assert files_under(out) == {"a.md", "sub/b.md", "keep.txt"}


@pytest.mark.parametrize("umask, mode", [
    pytest.param(0o022, 0o644, id="umask-022"),
    pytest.param(0o002, 0o664, id="umask-002"),
    pytest.param(0o077, 0o600, id="umask-077"),
])
def test_outputs_get_the_usual_file_mode(tmp_path, umask, mode):
    # Like any file a program creates, not the temporary file's 0600.
    write_doc(tmp_path / "a.hwp", ["a"])
    write_doc(tmp_path / "b.hwp", ["b"])
    proc = run(["a.hwp", "b.hwp", "--jobs", "2", "-o", "out"], cwd=tmp_path, umask=umask)
    assert proc.returncode == 0
    assert {name: oct((tmp_path / "out" / name).stat().st_mode & 0o777) for name in ("a.md", "b.md")} \
        == {"a.md": oct(mode), "b.md": oct(mode)}


def test_unwritable_outdir_fails_each_file_and_goes_on(tmp_path):
    write_doc(tmp_path / "a.hwp", ["a"])
    write_doc(tmp_path / "b.hwp", ["b"])
    (tmp_path / "out").write_text("a file where the folder should be")
    proc = run(["a.hwp", "b.hwp", "-o", "out"], cwd=tmp_path)
    assert proc.returncode == 1
    lines = proc.stderr.decode().splitlines()
    assert [line.split(": ", 1)[0] for line in lines] == ["a.hwp", "b.hwp"]
    assert all(": cannot write out/" in line for line in lines), lines


@pytest.mark.parametrize("flags", [[], ["--exact"]], ids=["faithful", "exact"])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_file_names_that_are_not_utf8_convert(tmp_path, jobs, flags):
    # Names in a legacy encoding (here EUC-KR, and a lone 0xFF byte) are
    # common in old archives; found in a folder or given directly, they
    # convert like any other, and their outputs keep the same bytes.
    legacy = "보고서".encode("euc-kr")
    tree = tmp_path / "tree"
    write_doc(Path(os.fsdecode(bytes(tree) + b"/" + legacy + b".hwp")), ["legacy"])
    write_doc(tree / "z.hwp", ["after"])
    write_doc(Path(os.fsdecode(bytes(tmp_path) + b"/\xff.hwp")), ["given"])
    proc = run(["tree", os.fsdecode(b"\xff.hwp"), "--jobs", jobs, "-o", "out", *flags], cwd=tmp_path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    out = bytes(tmp_path / "out")
    outputs = {legacy + b".md": "legacy\n", b"z.md": "after\n", b"\xff.md": "given\n"}
    assert set(os.listdir(out)) == set(outputs)
    for name, text in outputs.items():
        with open(out + b"/" + name, encoding="utf-8") as stream:
            assert stream.read() == text, name


@pytest.mark.parametrize("records", [[], ["--records"]], ids=["markdown", "records"])
@pytest.mark.parametrize("name, message", [
    pytest.param(b"\xff.hwp", INVALID_SIGNATURE, id="bad-signature"),
    pytest.param(b"\xfe.hwp", MISSING, id="missing"),
])
def test_failure_of_a_file_name_that_is_not_utf8_is_reported(tmp_path, bad_signature, records, name, message):
    os.rename(bad_signature, os.fsdecode(bytes(tmp_path) + b"/\xff.hwp"))
    proc = run([*records, os.fsdecode(name)], cwd=tmp_path)
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.endswith(f".hwp: {message}\n".encode())
    assert proc.stderr.count(b"\n") == 1


# --------------------------------------------------------------------------
# The faithful conversion's options, and --exact
# --------------------------------------------------------------------------

# A paragraph, a table, a captioned picture, an equation and an unfilled
# click-here field: the two conversions differ here.
MIXED_SECTION = (hf.para("본문") + hf.para(hf.para_text(hf.ctrl_char(11, "eqed"), hf.PARA_END))
                 + hf.equation("{a} over {b}")
                 + hf.para(hf.para_text(hf.ctrl_char(11, "tbl "), hf.PARA_END))
                 + hf.table([["a", "b"], ["c", "d"]])
                 + hf.para(hf.para_text(hf.ctrl_char(11, "gso "), hf.PARA_END)) + hf.picture(caption=["그림"], item=1)
                 + hf.para(hf.para_text("이름: ", hf.field_start(), "쓰세요", hf.field_end(), hf.PARA_END))
                 + hf.clk_field_header("쓰세요") + hf.ctrl_data_name("name"))
# Its picture's binary item, for hwp_document's extra_streams.
MIXED_STREAMS = {"DocInfo": hf.doc_info([hf.bin_data_record(1, "png")]),
                 **hf.bin_data_item(1, "png", b"\x89PNG\r\n\x1a\n")}


@pytest.mark.parametrize("flags, options", [
    pytest.param([], {}, id="default"),
    pytest.param(["--tables", "html"], {"tables": "html"}, id="tables-html"),
    pytest.param(["--tables", "pipe"], {"tables": "pipe"}, id="tables-pipe"),
    pytest.param(["--no-notes"], {"notes": False}, id="no-notes"),
    pytest.param(["--no-emphasis"], {"emphasis": False}, id="no-emphasis"),
    pytest.param(["--equations", "script"], {"equations": "script"}, id="equations-script"),
    pytest.param(["--headers", "--tables", "auto"], {"headers": True}, id="headers"),
    pytest.param(["--no-placeholders"], {"placeholders": False}, id="no-placeholders"),
])
def test_options_reach_the_faithful_conversion(tmp_path, flags, options):
    hf.write_document(tmp_path / "m.hwp", [MIXED_SECTION], extra_streams=MIXED_STREAMS)
    proc = run(["m.hwp", *flags], cwd=tmp_path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    assert proc.stdout.decode() == marlune.convert(tmp_path / "m.hwp", **options) + "\n"


def test_exact_writes_hwp_to_markdown(tmp_path):
    hf.write_document(tmp_path / "m.hwp", [MIXED_SECTION], extra_streams=MIXED_STREAMS)
    exact = run(["m.hwp", "--exact"], cwd=tmp_path).stdout.decode()
    assert exact == hwp_to_markdown(str(tmp_path / "m.hwp")) + "\n"
    assert exact != run(["m.hwp"], cwd=tmp_path).stdout.decode()


def test_front_matter_comes_before_the_markdown(tmp_path):
    hf.write_document(tmp_path / "m.hwp", [MIXED_SECTION, hf.para("둘")], extra_streams=MIXED_STREAMS)
    proc = run(["m.hwp", "--front-matter"], cwd=tmp_path)
    header = '---\nsections: 2\nversion: "5.0.3.0"\nformat: "hwp"\n---\n\n'
    assert proc.stdout.decode() == header + marlune.convert(tmp_path / "m.hwp") + "\n"


@pytest.mark.parametrize("value, text", [
    pytest.param('보고서 "최종"', '"보고서 \\"최종\\""', id="quotes"),
    pytest.param("a\\b: c # d", '"a\\\\b: c # d"', id="backslash-colon-hash"),
    pytest.param("줄\n바꿈\r\u2028\x85\t", '"줄\\u000a바꿈\\u000d\\u2028\\u0085\t"', id="line-breaks"),
    pytest.param("\x00\x1b\ufeff😀", '"\\u0000\\u001b\\ufeff😀"', id="unprintable"),
    pytest.param("", '""', id="empty"),
    pytest.param(datetime(2024, 5, 6, 7, 8, 9, tzinfo=timezone.utc), "2024-05-06T07:08:09Z", id="time"),
    pytest.param(3, "3", id="number"),
])
def test_front_matter_values_are_safe_yaml(value, text):
    from marlune.cli import yaml_value

    assert yaml_value(value) == text


@pytest.mark.parametrize("outdir, link", [
    pytest.param(True, "](../../img/sub/내%20문서/", id="outdir-relative-to-md"),
    pytest.param(False, "](img/내%20문서/", id="stdout-relative-to-cwd"),
])
def test_images_go_under_a_folder_per_document(tmp_path, outdir, link):
    (tmp_path / "tree" / "sub").mkdir(parents=True)
    hf.write_document(tmp_path / "tree" / "sub" / "내 문서.hwp", [MIXED_SECTION], extra_streams=MIXED_STREAMS)
    args = ["tree", "-o", "out"] if outdir else [str(Path("tree", "sub", "내 문서.hwp"))]
    proc = run([*args, "--images", "img"], cwd=tmp_path)
    assert (proc.returncode, proc.stderr) == (0, b"")
    markdown = (tmp_path / "out" / "sub" / "내 문서.md").read_text() if outdir else proc.stdout.decode()
    assert link in markdown
    assert (tmp_path / "img" / "sub" / "내 문서" if outdir else tmp_path / "img" / "내 문서").is_dir()


# --------------------------------------------------------------------------
# Exit status and usage errors
# --------------------------------------------------------------------------

@pytest.mark.parametrize("args", [
    pytest.param([], id="no-path"),
    pytest.param(["tree"], id="directory-without-outdir"),
    pytest.param(["tree", "a.hwp"], id="directory-among-files-without-outdir"),
    pytest.param(["a.hwp", "--jobs", "0"], id="jobs-0"),
    pytest.param(["a.hwp", "--jobs", "-2"], id="jobs-negative"),
    pytest.param(["a.hwp", "--jobs", "two"], id="jobs-not-a-number"),
    pytest.param(["a.hwp", "--frobnicate"], id="unknown-option"),
    pytest.param(["a.hwp", "-o"], id="outdir-without-value"),
    pytest.param(["--records", "a.hwp", "b.hwp"], id="records-with-other-path"),
    pytest.param(["--records", "a.hwp", "-o", "out"], id="records-with-outdir"),
    pytest.param(["a.hwp", "--tables", "grid"], id="unknown-table-mode"),
    pytest.param(["a.hwp", "--exact", "--tables", "html"], id="exact-with-tables"),
    pytest.param(["a.hwp", "--equations", "mathml"], id="unknown-equation-mode"),
    pytest.param(["a.hwp", "--exact", "--equations", "latex"], id="exact-with-equations"),
    pytest.param(["tree", "-o", "out", "--exact", "--images", "img"], id="exact-with-images"),
    pytest.param(["a.hwp", "--exact", "--front-matter"], id="exact-with-front-matter"),
    pytest.param(["a.hwp", "tree/../a.hwp", "-o", "out"], id="one-outdir-file-for-two-documents"),
])
def test_usage_errors_exit_2_and_convert_nothing(tmp_path, args):
    write_doc(tmp_path / "tree" / "t.hwp", ["t"])
    write_doc(tmp_path / "a.hwp", ["a"])
    write_doc(tmp_path / "b.hwp", ["b"])
    proc = run(args, cwd=tmp_path)
    assert (proc.returncode, proc.stdout) == (2, b"")
    assert b"usage: marlune" in proc.stderr and b"Traceback" not in proc.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("inputs, status", [
    pytest.param(["a.hwp"], 0, id="one-good"),
    pytest.param(["a.hwp", "b.hwp"], 0, id="all-good"),
    pytest.param(["bad.hwp"], 1, id="one-bad"),
    pytest.param(["a.hwp", "missing.hwp"], 1, id="last-missing"),
    pytest.param(["bad.hwp", "a.hwp"], 1, id="first-bad"),
])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_exit_status_says_whether_every_file_converted(tmp_path, bad_signature, inputs, status, jobs):
    write_doc(tmp_path / "a.hwp", ["a"])
    write_doc(tmp_path / "b.hwp", ["b"])
    proc = run([*inputs, "--jobs", jobs], cwd=tmp_path)
    assert proc.returncode == status
    good = [name for name in inputs if name in ("a.hwp", "b.hwp")]
    assert proc.stdout.decode() == "\n\n".join(name[0] for name in good) + ("\n" if good else "")


def test_parallel_batches_always_end(tmp_path):
    # The end of a parallel batch, when workers that have just sent their
    # last result are being stopped, is where a lost stop signal would leave
    # the command waiting for a worker forever.  Many short batches with many
    # workers, three at a time, go through that moment often.
    for i in range(8):
        write_doc(tmp_path / f"d{i}.hwp", [f"d{i}"])
    args = [f"d{i}.hwp" for i in range(8)] + ["--jobs", "8"]
    expected = "\n\n".join(f"d{i}" for i in range(8)) + "\n"
    for _ in range(10):
        batches = [subprocess.Popen([*COMMAND, *args], cwd=tmp_path, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
                   for _ in range(3)]
        try:
            for proc in batches:
                stdout, stderr = proc.communicate(timeout=30)
                assert (proc.returncode, stdout.decode(), without_summary(stderr)) == (0, expected, b"")
        except subprocess.TimeoutExpired:
            raise AssertionError("a parallel batch did not end within 30 s") from None
        finally:
            for proc in batches:
                kill_group(proc)


def test_version_prints_name_and_version():
    proc = run(["--version"])
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, f"marlune {marlune.__version__}\n".encode(), b"")


def test_console_script_passes_on_the_exit_status(tmp_path, bad_signature):
    script = Path(sys.executable).with_name("marlune")
    if not script.is_file():
        pytest.skip(f"no console script next to the interpreter: {script}")
    write_doc(tmp_path / "a.hwp", ["a"])
    good = subprocess.run([script, "a.hwp"], cwd=tmp_path, capture_output=True, timeout=60)
    bad = subprocess.run([script, "bad.hwp"], cwd=tmp_path, capture_output=True, timeout=60)
    assert (good.returncode, good.stdout) == (0, b"a\n")
    assert (bad.returncode, bad.stderr) == (1, f"bad.hwp: {INVALID_SIGNATURE}\n".encode())


def test_help_describes_outdir_and_jobs():
    proc = run(["--help"])
    assert proc.returncode == 0
    assert b"-o" in proc.stdout and b"--jobs" in proc.stdout and b"usage: marlune" in proc.stdout


# --------------------------------------------------------------------------
# The record listing
# --------------------------------------------------------------------------

# Body-text record tags by their HWP 5.0 names (numbered from HWPTAG_BEGIN,
# 16); the listing names the ones the converter reads and no others.
RECORDS = [
    pytest.param(hf.para("abcdefghijklm"), "66 0 22 HWPTAG_PARA_HEADER\n67 1 28 HWPTAG_PARA_TEXT", id="paragraph"),
    pytest.param(hf.record(68, 1, bytes(8)), "68 1 8", id="para-char-shape-unnamed"),
    pytest.param(hf.record(69, 1, bytes(36)), "69 1 36", id="para-line-seg-unnamed"),
    pytest.param(hf.record(70, 1, bytes(12)), "70 1 12", id="para-range-tag-unnamed"),
    pytest.param(hf.record(71, 1, bytes(4)), "71 1 4 HWPTAG_CTRL_HEADER", id="ctrl-header"),
    pytest.param(hf.record(72, 2, bytes(6)), "72 2 6 HWPTAG_LIST_HEADER", id="list-header"),
    pytest.param(hf.record(73, 2, bytes(40)), "73 2 40", id="page-def-unnamed"),
    pytest.param(hf.record(76, 2, bytes(48)), "76 2 48 HWPTAG_SHAPE_COMPONENT", id="shape-component"),
    pytest.param(hf.record(77, 2, bytes(22)), "77 2 22 HWPTAG_TABLE", id="table"),
    pytest.param(hf.record(79, 3, bytes(9)), "79 3 9", id="shape-rectangle-unnamed"),
    pytest.param(hf.record(85, 3, bytes(73)), "85 3 73 HWPTAG_SHAPE_COMPONENT_PICTURE", id="picture"),
    pytest.param(hf.record(86, 3, bytes(2)), "86 3 2", id="container-unnamed"),
    pytest.param(hf.record(87, 2, bytes(10)), "87 2 10 HWPTAG_CTRL_DATA", id="ctrl-data"),
    pytest.param(hf.record(88, 2, bytes(0)), "88 2 0 HWPTAG_EQEDIT", id="eqedit-empty"),
    pytest.param(hf.record(89, 0, bytes(1)), "89 0 1", id="after-eqedit-unnamed"),
    pytest.param(hf.record(16, 0, bytes(3)), "16 0 3", id="doc-info-tag-unnamed"),
    pytest.param(hf.record(1023, 1023, bytes(5000)), "1023 1023 5000", id="largest-tag-and-level"),
]


@pytest.mark.parametrize("section, expected", RECORDS)
def test_records_lists_tag_level_size_and_known_name(make_doc, section, expected):
    proc = run(["--records", make_doc([section, hf.para("second section is not listed")])])
    assert (proc.returncode, proc.stdout.decode(), proc.stderr) == (0, expected + "\n", b"")


def test_records_of_a_korean_named_file_under_an_ascii_locale(tmp_path):
    write_doc(tmp_path / "한글.hwp", ["abcdefghijklm"])
    proc = run(["--records", "한글.hwp"], cwd=tmp_path,
               env=environment(**{"PYTHONIOENCODING": None, **ASCII_LOCALE}))
    assert b"Traceback" not in proc.stderr, proc.stderr.decode(errors="replace")
    assert (proc.returncode, proc.stdout) == (0, b"66 0 22 HWPTAG_PARA_HEADER\n67 1 28 HWPTAG_PARA_TEXT\n")


def test_records_of_an_empty_section_print_nothing(make_doc):
    proc = run(["--records", make_doc([b""])])
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")


@pytest.mark.parametrize("data, message", [
    pytest.param(None, MISSING, id="missing"),
    pytest.param(b"plain text, no container", "Compound file error: ", id="not-a-compound-file"),
    pytest.param(hf.hwp_document([b""], header=hf.file_header(signature=b"HWP Document Fil")),
                 INVALID_SIGNATURE, id="bad-signature"),
    pytest.param(hf.hwp_document([], extra_streams={"BodyText/Section0": b"\xff" * 64}),
                 "Parse error: 압축 해제 실패: corrupt deflate stream", id="section-does-not-inflate"),
])
def test_records_failure_prints_file_and_error_and_exits_1(tmp_path, data, message):
    if data is not None:
        (tmp_path / "문서.hwp").write_bytes(data)
    proc = run(["--records", "문서.hwp"], cwd=tmp_path)
    assert (proc.returncode, proc.stdout) == (1, b"")
    assert proc.stderr.decode().startswith(f"문서.hwp: {message}")
    assert proc.stderr.count(b"\n") == 1


# --------------------------------------------------------------------------
# Progress bar
# --------------------------------------------------------------------------

def run_on_terminal(args: Sequence[str], cwd: Path) -> tuple[int, bytes]:
    """Run with standard error on an 80-column pseudo-terminal (standard
    output still a pipe); return the exit status and what the terminal got."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    try:
        proc = subprocess.Popen([*COMMAND, *args], cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=slave)
    finally:
        os.close(slave)
    received = b""
    deadline = time.monotonic() + 60
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 1)
            if ready:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: every writer has closed the terminal
                    break
                if not chunk:
                    break
                received += chunk
            elif proc.poll() is not None:
                break
        return proc.wait(timeout=30), received
    finally:
        os.close(master)
        if proc.poll() is None:
            proc.kill()
            proc.wait()


@pytest.mark.parametrize("quiet, bar", [
    pytest.param([], True, id="terminal"),
    pytest.param(["--quiet"], False, id="terminal-quiet"),
    pytest.param(["-q"], False, id="terminal-q"),
])
def test_progress_bar_only_on_a_terminal_unless_quiet(tmp_path, bad_signature, quiet, bar):
    for name in ("a", "b", "c"):
        write_doc(tmp_path / f"{name}.hwp", [name])
    status, terminal = run_on_terminal(["a.hwp", "bad.hwp", "b.hwp", "c.hwp", "-o", "out", *quiet], tmp_path)
    assert status == 1
    assert f"bad.hwp: {INVALID_SIGNATURE}".encode() in terminal  # errors show either way
    assert (b"4/4" in terminal) is bar, terminal
    assert files_under(tmp_path / "out") == {"a.md", "b.md", "c.md"}


@pytest.mark.parametrize("quiet", [[], ["--quiet"]], ids=["default", "quiet"])
def test_no_progress_bar_when_stderr_is_not_a_terminal(tmp_path, quiet):
    for name in ("a", "b", "c"):
        write_doc(tmp_path / f"{name}.hwp", [name])
    proc = run(["a.hwp", "b.hwp", "c.hwp", "-o", "out", *quiet], cwd=tmp_path)
    assert (proc.returncode, proc.stdout, proc.stderr) == (0, b"", b"")


# --------------------------------------------------------------------------
# The summary a batch ends with
# --------------------------------------------------------------------------

def summary_of(stderr: bytes) -> str:
    """The closing summary with its time taken left out."""
    last = stderr.decode().splitlines()[-1]
    assert SUMMARY.match(last + "\n"), stderr
    return re.sub(r" in \d+\.\d\d s$", "", last)


@pytest.mark.parametrize("args, status, summary", [
    pytest.param(["in", "-o", "out"], 1,
                 "marlune: 2 converted, 2 failed (Compound file error: 1, Invalid HWP signature: 1), 2 skipped",
                 id="folder"),
    pytest.param(["in", "-o", "out", "--exact"], 1,
                 "marlune: 2 converted, 1 failed (Invalid HWP signature: 1), 3 skipped", id="folder-exact"),
    pytest.param(["in/a.hwp", "in/b.hwp"], 0, "marlune: 2 converted", id="files-to-stdout"),
    pytest.param(["in/a.hwp", "missing.hwp", "in/bad.hwp", "--jobs", "2"], 1,
                 "marlune: 1 converted, 2 failed (IO error: 1, Invalid HWP signature: 1)", id="files-in-parallel"),
    pytest.param(["in/a.hwp", "-o", "out"], 0, "marlune: 1 converted", id="one-file-to-a-folder"),
])
def test_a_batch_ends_with_a_summary_of_what_it_did(tmp_path, args, status, summary):
    write_doc(tmp_path / "in" / "a.hwp", ["a"])
    write_doc(tmp_path / "in" / "b.hwp", ["b"])
    (tmp_path / "in" / "bad.hwp").write_bytes(
        hf.hwp_document([hf.para("x")], header=hf.file_header(signature=b"Not a HWP file")))
    (tmp_path / "in" / "c.hwpx").write_bytes(b"not a zip")  # a package the exact conversion does not read
    (tmp_path / "in" / "notes.txt").write_text("not a document")
    (tmp_path / "in" / "picture.png").write_bytes(b"\x89PNG")
    proc = run(args, cwd=tmp_path, keep_summary=True)
    assert proc.returncode == status  # the summary does not change the exit status
    assert summary_of(proc.stderr) == summary
    assert without_summary(proc.stderr).count(b"\n") == summary.count(": ") - 1  # one line per failure


@pytest.mark.parametrize("args", [["a.hwp"], ["a.hwp", "b.hwp", "--quiet"], ["a.hwp", "-o", "out", "-q"]],
                         ids=["one-document-to-stdout", "quiet", "quiet-folder"])
def test_no_summary_for_one_document_or_when_quiet(tmp_path, args):
    write_doc(tmp_path / "a.hwp", ["a"])
    write_doc(tmp_path / "b.hwp", ["b"])
    proc = run(args, cwd=tmp_path, keep_summary=True)
    assert (proc.returncode, proc.stderr) == (0, b"")


@pytest.mark.parametrize("message, kind", [
    ("Compound file error: not a compound file", "Compound file error"),
    ("distribution document: the key record is cut short", "distribution document"),
    ("IO error: No such file or directory (os error 2)", "IO error"),
    ("Invalid HWP signature", "Invalid HWP signature"),
    ("HWP 3.0 documents are not supported", "HWP 3.0 documents are not supported"),
    (": odd", ": odd"),
])
def test_error_kinds_come_from_the_words_before_the_colon(message, kind):
    from marlune.cli import error_kind

    assert error_kind(message) == kind


# --------------------------------------------------------------------------
# A reader that goes away
# --------------------------------------------------------------------------

@pytest.mark.parametrize("args, status, message", [
    pytest.param(["long.hwp"], 0, b"", id="one-document"),
    pytest.param(["long.hwp", "long.hwp", "long.hwp", "--jobs", "2"], 0, b"", id="several-documents-jobs-2"),
    pytest.param(["small.hwp", "long.hwp", "long.hwp", "--jobs", "1"], 0, b"", id="several-documents-jobs-1"),
    pytest.param(["bad.hwp", "small.hwp", "long.hwp", "long.hwp", "--jobs", "1"], 1,
                 b"bad.hwp: Invalid HWP signature\n", id="earlier-failure-still-counts"),
    pytest.param(["--records", "long.hwp"], 0, b"", id="records"),
])
def test_closed_pipe_gives_no_traceback(tmp_path, long_doc, bad_signature, args, status, message):
    # As in `marlune FILE | head -1`: read one line, then close the pipe
    # while several megabytes are still to be written.
    os.link(long_doc, tmp_path / "long.hwp")
    write_doc(tmp_path / "small.hwp", ["small"])
    with open(tmp_path / "stderr", "w+b") as errors:
        proc = subprocess.Popen([*COMMAND, *args], cwd=tmp_path, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=errors, start_new_session=True)
        try:
            first = proc.stdout.readline()
            proc.stdout.close()
            ended = proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            kill_group(proc)
            pytest.fail("the command did not end after its reader went away")
        errors.seek(0)
        stderr = errors.read()
    assert first.strip()
    assert without_summary(stderr) == message, stderr.decode(errors="replace")
    assert ended == status


# --------------------------------------------------------------------------
# Ctrl-C
# --------------------------------------------------------------------------

def default_ctrl_c() -> None:
    """Run in the child before it starts: Ctrl-C does what it does at a
    terminal even when this test run was started with it ignored (as in a
    background job), which the interpreter would otherwise inherit."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def output_started(mode: str, tmp_path: Path) -> bool:
    if mode == "stdout":
        return (tmp_path / "stdout").stat().st_size > 0
    out = tmp_path / "out"
    return out.is_dir() and any(name.endswith(".md") for name in files_under(out))


@pytest.mark.parametrize("mode, jobs", [
    pytest.param("outdir", "2", id="outdir-jobs-2"),
    pytest.param("outdir", "1", id="outdir-jobs-1"),
    pytest.param("stdout", "2", id="stdout-jobs-2"),
])
def test_ctrl_c_stops_the_batch_cleanly(tmp_path, long_doc, long_markdown, mode, jobs):
    # Eight large documents take long enough to be interrupted half-way:
    # the signal goes as soon as the first result is out.
    inputs = tmp_path / "in"
    inputs.mkdir()
    count = 8
    for i in range(count):
        os.link(long_doc, inputs / f"doc{i}.hwp")
    args = ["in", "-o", "out"] if mode == "outdir" else sorted(f"in/doc{i}.hwp" for i in range(count))
    with open(tmp_path / "stdout", "wb") as stdout, open(tmp_path / "stderr", "w+b") as errors:
        proc = subprocess.Popen([*COMMAND, *args, "--jobs", jobs], cwd=tmp_path, stdin=subprocess.DEVNULL,
                                stdout=stdout, stderr=errors, start_new_session=True, preexec_fn=default_ctrl_c)
        try:
            deadline = time.monotonic() + 60
            while not output_started(mode, tmp_path) and proc.poll() is None:
                if time.monotonic() > deadline:
                    pytest.skip("no output after 60 s: the machine is too loaded for this test")
                time.sleep(0.005)
            if proc.poll() is not None:
                pytest.skip("the batch ended before it could be interrupted")
            proc.send_signal(signal.SIGINT)
            try:
                status = proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                pytest.fail("the command did not end within 60 s of Ctrl-C")
        finally:
            kill_group(proc)
        errors.seek(0)
        stderr = errors.read().decode(errors="replace")

    if status == 0:
        pytest.skip("the batch finished before the interrupt arrived")
    assert status == 130, stderr
    assert "Traceback" not in stderr, stderr
    assert stderr.splitlines()[-1:] == ["interrupted"]
    assert SUMMARY.match(stderr.splitlines()[-2] + "\n"), stderr  # how far the batch got
    if mode == "outdir":
        out = tmp_path / "out"
        assert temporaries(out) == []
        for name in files_under(out):  # whatever was written is whole
            assert (out / name).read_text(encoding="utf-8") == long_markdown + "\n", name


# The command writes each document through a temporary file renamed into
# place.  Here Ctrl-C is made to arrive at the worst moments of that write:
# right after the temporary file is created, and right after the rename.
# With --jobs 2 the worker sends Ctrl-C to the main process and then waits
# to be ended by it, as it would be when the interrupt comes while it writes.
INTERRUPTING_WRAPPER = r"""
import os, runpy, signal, sys, tempfile, time

main_pid = os.getpid()
marker, window = sys.argv[1], sys.argv[2]

def interrupt_once():
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
    except FileExistsError:
        return
    os.kill(main_pid, signal.SIGINT)
    if os.getpid() != main_pid:
        time.sleep(2)

real_mkstemp, real_replace = tempfile.mkstemp, os.replace

def mkstemp(*args, **kwargs):
    created = real_mkstemp(*args, **kwargs)
    if window == "temporary-created":
        interrupt_once()
    return created

def replace(*args, **kwargs):
    real_replace(*args, **kwargs)
    if window == "renamed":
        interrupt_once()

tempfile.mkstemp, os.replace = mkstemp, replace
sys.argv = ["marlune", *sys.argv[3:]]
runpy.run_module("marlune", run_name="__main__", alter_sys=True)
"""

INTERRUPT_WINDOWS = [
    pytest.param("temporary-created", "1", id="after-temporary-created-jobs-1"),
    pytest.param("temporary-created", "2", id="after-temporary-created-jobs-2"),
    pytest.param("renamed", "1", id="after-rename-jobs-1"),
    pytest.param("renamed", "2", id="after-rename-jobs-2"),
]


@pytest.mark.parametrize("window, jobs", INTERRUPT_WINDOWS)
def test_ctrl_c_while_writing_leaves_no_temporary_and_ends(tmp_path, window, jobs):
    write_doc(tmp_path / "in" / "a.hwp", ["a"])
    write_doc(tmp_path / "in" / "b.hwp", ["b"])
    marker = tmp_path / "interrupted"
    proc = subprocess.Popen(
        [sys.executable, "-c", INTERRUPTING_WRAPPER, str(marker), window, "in", "-o", "out", "--jobs", jobs],
        cwd=tmp_path, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        start_new_session=True, preexec_fn=default_ctrl_c)
    try:
        stdout, stderr = proc.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        kill_group(proc)
        stdout, stderr = proc.communicate()
        raise AssertionError(f"the command did not end within 10 s of Ctrl-C: {stderr.decode(errors='replace')}")
    finally:
        kill_group(proc)

    if not marker.exists():
        pytest.fail("Ctrl-C was never sent: the command no longer writes through "
                    "tempfile.mkstemp and os.replace, so this test needs adapting")
    text = stderr.decode(errors="replace")
    assert (proc.returncode, stdout) == (130, b""), text
    assert "Traceback" not in text, text
    out = tmp_path / "out"
    assert temporaries(out) == []
    for name in files_under(out):
        assert (out / name).read_text() == name[0] + "\n", name


# A worker that dies half-way (here killed while it converts b.hwp) must not
# leave the batch waiting on it: its document is reported, the rest converted.
DYING_WORKER_WRAPPER = r"""
import os, runpy, signal, sys
import marlune.cli as cli

real_faithful_text, main_pid = cli.faithful_text, os.getpid()

def faithful_text(job, settings):
    if job.source.endswith("b.hwp") and os.getpid() != main_pid:
        os.kill(os.getpid(), signal.SIGKILL)
    return real_faithful_text(job, settings)

cli.faithful_text = faithful_text
sys.argv = ["marlune", *sys.argv[1:]]
runpy.run_module("marlune", run_name="__main__", alter_sys=True)
"""


def test_a_worker_that_dies_fails_its_document_only(tmp_path):
    for name in "abc":
        write_doc(tmp_path / "in" / f"{name}.hwp", [name])
    proc = subprocess.run([sys.executable, "-c", DYING_WORKER_WRAPPER, "in", "-o", "out", "--jobs", "2"],
                          cwd=tmp_path, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    assert proc.returncode == 1, proc.stderr
    assert without_summary(proc.stderr).splitlines() == [
        f"{Path('in', 'b.hwp')}: the worker converting it ended (exit status -9)"]
    assert files_under(tmp_path / "out") == {"a.md", "c.md"}
