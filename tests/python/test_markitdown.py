"""The MarkItDown plugin: HWP and HWPX through marlune, everything else left to MarkItDown."""

from __future__ import annotations

import io
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest
from markitdown import MarkItDown, StreamInfo

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune.markitdown import looks_like_hwp

HWP = hf.hwp_document([hf.para("첫 문단") + hf.para(hf.para_text(hf.ctrl_char(11, "tbl "), hf.PARA_END))
                       + hf.table([["가", "나"], ["1", "2"]])],
                      extra_streams={hf.SUMMARY_STREAM: hf.summary_info({2: "보고서 제목"})})
HWPX = xf.package([xf.section(xf.p(xf.run(xf.t("한 문단"))))], metadata={"title": "패키지 제목"})


def stored_hwpx() -> bytes:
    """The same package with its mimetype entry stored, as the word processor writes it."""
    return xf.package([xf.section(xf.p(xf.run(xf.t("한 문단"))))], stored=True)


@pytest.fixture
def documents(tmp_path: Path) -> dict[str, Path]:
    paths = {"hwp": tmp_path / "report.hwp", "hwpx": tmp_path / "report.hwpx", "txt": tmp_path / "plain.txt"}
    paths["hwp"].write_bytes(HWP)
    paths["hwpx"].write_bytes(HWPX)
    paths["txt"].write_text("그냥 글\n")
    return paths


@pytest.mark.parametrize("kind, title", [("hwp", "보고서 제목"), ("hwpx", "패키지 제목")])
def test_plugin_converts_paths_and_streams_like_marlune(documents, kind, title):
    converter = MarkItDown(enable_plugins=True)
    expected = marlune.convert(documents[kind])
    from_path = converter.convert(str(documents[kind]))
    from_stream = converter.convert_stream(io.BytesIO(documents[kind].read_bytes()))  # no name: by content
    assert from_path.markdown == from_stream.markdown == expected
    assert from_path.title == title


def test_options_pass_through(documents):
    converter = MarkItDown(enable_plugins=True, marlune_options={"tables": "html"})
    assert converter.convert(str(documents["hwp"])).markdown == marlune.convert(documents["hwp"], tables="html")
    per_call = MarkItDown(enable_plugins=True).convert(str(documents["hwp"]), marlune_options={"tables": "html"})
    assert per_call.markdown == marlune.convert(documents["hwp"], tables="html")


def test_other_formats_stay_with_markitdown(documents):
    assert MarkItDown(enable_plugins=True).convert(str(documents["txt"])).markdown.strip() == "그냥 글"


def test_a_damaged_document_fails_as_a_conversion_error(tmp_path):
    from markitdown import FileConversionException

    damaged = tmp_path / "damaged.hwp"
    damaged.write_bytes(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + bytes(range(256)) * 4)
    with pytest.raises(FileConversionException, match="marlune: Compound file error"):
        MarkItDown(enable_plugins=True).convert(str(damaged))


def other_zip() -> bytes:
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        archive.writestr("mimetype", "application/epub+zip")
    return out.getvalue()


@pytest.mark.parametrize("head, expected", [
    (HWP, True),                                  # compound file with the HWP file header stream
    (HWPX, True),                                 # mimetype entry deflated
    (stored_hwpx(), True),                        # mimetype entry stored
    (b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05" + bytes(100), True),
    (other_zip(), False),
    (hf.write_cfb({"WordDocument": b"x" * 600}), False),
    (b"PK\x03\x04", False),
    (b"", False),
])
def test_content_is_recognised(head, expected):
    assert looks_like_hwp(head) is expected


def test_accepts_by_name_without_reading(documents):
    from marlune.markitdown import HwpConverter

    empty = io.BytesIO(b"")
    assert HwpConverter().accepts(empty, StreamInfo(extension=".HWPX"))
    assert HwpConverter().accepts(empty, StreamInfo(mimetype="application/x-hwp"))
    assert not HwpConverter().accepts(empty, StreamInfo(extension=".docx"))


def test_command_line_uses_the_plugin(documents):
    script = "import sys; from markitdown.__main__ import main; sys.argv = ['markitdown', '--use-plugins', sys.argv[1]]; main()"
    run = subprocess.run([sys.executable, "-c", script, str(documents["hwpx"])], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == marlune.convert(documents["hwpx"]).strip()
