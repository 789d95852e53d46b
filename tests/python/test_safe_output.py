"""Output a damaged or hostile document cannot bend: picture names are one
safe file name each (in parse().images and in the links alike), a picture
that cannot be written is a RuntimeError that leaves nothing behind, and no
control character reaches the Markdown or the metadata."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import hwpfixture as hf
import hwpxfixture as xf
import marlune
from marlune import _api
from outputcheck import output_faults, unclean_text

PNG = b"\x89PNG\r\n\x1a\n"
SHARED = Path(__file__).resolve().parents[2].parent / "shared"


def hwpx_pictures(*hrefs: str) -> bytes:
    """A package with one picture per manifest item, each href as given and
    an entry under it holding a distinct PNG."""
    items = {f"pic{n}": href for n, href in enumerate(hrefs)}
    section = xf.section(*(xf.p(xf.picture(ident)) for ident in items))
    return xf.package([section], items=items, extra={href: PNG + bytes([n]) for n, href in enumerate(hrefs)})


def hwp_pictures(*extensions: str) -> bytes:
    """An HWP document with one picture per binary item, each item's
    extension as given and its stream present where a stream can have that
    name."""
    records = [hf.bin_data_record(n, extension) for n, extension in enumerate(extensions, 1)]
    streams = {"DocInfo": hf.doc_info(records)}
    for n, extension in enumerate(extensions, 1):
        if "/" not in extension and len(extension) < 20:
            streams.update(hf.bin_data_item(n, extension, PNG + bytes([n])))
    body = b"".join(hf.para(hf.with_control("", 11, "gso ")) + hf.picture(item=n) for n in range(1, len(extensions) + 1))
    return hf.hwp_document([body], extra_streams=streams)


def linked_names(markdown: str) -> list[str]:
    return [line.split("](", 1)[1][:-1] for line in markdown.splitlines() if line.startswith("![")]


LONG_HANGUL = "가" * 50  # 150 bytes of UTF-8


@pytest.mark.parametrize(("href", "name"), [
    ("BinData/../../x.png", "x.png"),
    ("/abs/y.png", "y.png"),
    ("BinData\\sub\\c.png", "c.png"),
    ("BinData/..", "image-1"),
    ("BinData/.", "image-1"),
    ("BinData/.png", "image-1.png"),
    ("BinData/.hidden.png", "hidden.png"),
    ("BinData/ spaced. ", "spaced"),
    ("BinData/c\x01t\x1fl\x7f.png", "ctl.png"),
    ("BinData/a.png" + "\x08", "a.png"),
], ids=["dot-dot", "absolute", "backslashes", "parent", "current", "extension-only", "hidden", "spaces-dots",
        "controls", "trailing-control"])
def test_hwpx_picture_names_are_one_safe_file_name(href, name):
    document = marlune.parse(hwpx_pictures(href))
    assert [image.name for image in document.images] == [name]
    assert linked_names(document.markdown) == [name]
    assert linked_names(marlune.convert(hwpx_pictures(href))) == [name]


@pytest.mark.parametrize(("extension", "name"), [
    ("png", "BIN0001.png"),
    ("", "BIN0001"),
    ("p\x01ng", "BIN0001.png"),
    ("x/../../../etc", "etc"),
], ids=["plain", "no-extension", "control", "path"])
def test_hwp_picture_names_are_one_safe_file_name(extension, name):
    data = hwp_pictures(extension)
    assert linked_names(marlune.convert(data)) == [name]
    document = marlune.parse(data)
    assert linked_names(document.markdown) == [name]
    assert [image.name for image in document.images] in ([name], [])


@pytest.mark.parametrize("make", [
    lambda stem: hwpx_pictures(f"BinData/{stem}.png"),
    lambda stem: hwp_pictures(stem + ".png"),
], ids=["hwpx", "hwp"])
def test_long_names_are_shortened_keeping_extension_and_apart(make):
    one, two = (linked_names(marlune.convert(make(LONG_HANGUL * 2 + tail)))[0] for tail in "ab")
    for name in (one, two):
        assert len(name.encode("utf-8")) <= 100 and name.endswith(".png") and "가" * 20 in name
        name.encode("utf-8").decode("utf-8")  # cut between characters, never inside one
    assert one != two


def test_names_are_unique_ignoring_case_and_the_same_item_keeps_its_name():
    hrefs = ["BinData/a.png", "Other/a.png", "BinData/A.PNG", "BinData/a-2.png", "BinData/..", "BinData/image-1"]
    items = {f"pic{n}": href for n, href in enumerate(hrefs)}
    section = xf.section(*(xf.p(xf.picture(ident)) for ident in [*items, "pic0", "pic1"]))
    data = xf.package([section], items=items, extra={href: PNG + bytes([n]) for n, href in enumerate(hrefs)})
    names = ["a.png", "a-2.png", "A-3.PNG", "a-2-2.png", "image-5", "image-1"]
    document = marlune.parse(data)
    assert [image.name for image in document.images] == names
    assert [image.data[-1] for image in document.images] == list(range(len(hrefs)))
    assert linked_names(document.markdown) == [*names, "a.png", "a-2.png"]
    assert linked_names(marlune.convert(data)) == linked_names(document.markdown)


def test_pictures_land_in_the_folder_under_the_names_parse_gives(tmp_path):
    data = hwpx_pictures("BinData/../../up.png", "/abs/up.png", "BinData/..", f"BinData/{LONG_HANGUL * 3}.png")
    folder = tmp_path / "pics"
    document = marlune.parse(data, images=folder)
    assert sorted(os.listdir(tmp_path)) == ["pics"]
    assert sorted(os.listdir(folder)) == sorted(image.name for image in document.images)
    for image in document.images:
        assert (folder / image.name).read_bytes() == image.data
        assert f"]({folder}/{_api.link_target(image.name)})" in document.markdown


# ---- Errors writing pictures ------------------------------------------------

@pytest.fixture
def one_picture() -> bytes:
    return hwpx_pictures("BinData/pic.png")


def leftovers(folder: Path) -> list[str]:
    return [name for name in os.listdir(folder) if name.startswith(".marlune-")]


def test_a_folder_that_is_a_file_is_a_runtime_error_naming_both(tmp_path, one_picture):
    blocker = tmp_path / "file"
    blocker.write_bytes(b"")
    with pytest.raises(RuntimeError, match=r"picture 'pic.png' into '.*file/sub'"):
        marlune.convert(one_picture, images=blocker / "sub")


def test_a_name_the_file_system_refuses_is_a_runtime_error_leaving_nothing(tmp_path, one_picture):
    folder = tmp_path / "pics"
    (folder / "pic.png").mkdir(parents=True)
    (folder / "pic.png" / "keep").write_bytes(b"")
    with pytest.raises(RuntimeError, match=rf"picture 'pic.png' into '{folder}'"):
        marlune.parse(one_picture, images=folder)
    assert leftovers(folder) == [] and sorted(os.listdir(folder)) == ["pic.png"]


def test_a_full_disk_is_a_runtime_error_leaving_nothing(tmp_path, one_picture):
    # A file size limit fails the write as a full disk would (EFBIG for ENOSPC).
    source = tmp_path / "doc.hwpx"
    source.write_bytes(one_picture)
    script = textwrap.dedent(f"""
        import resource, signal, marlune
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4, 4))
        try:
            marlune.convert({str(source)!r}, images={str(tmp_path / "pics")!r})
        except RuntimeError as error:
            print("RuntimeError:", error)
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert result.stdout.startswith("RuntimeError: cannot write picture 'pic.png' into ")
    assert os.listdir(tmp_path / "pics") == []


def test_a_name_that_is_not_one_file_name_is_refused_before_anything_is_written(tmp_path):
    images = [("BIN0001.png", "image/png", PNG), ("../escape.png", "image/png", b"x")]
    with pytest.raises(RuntimeError, match="'../escape.png'"):
        _api.write_images(str(tmp_path / "pics"), images)
    assert os.listdir(tmp_path) == []


# ---- Control characters -----------------------------------------------------

CONTROLS = "".join(chr(c) for c in range(32) if c not in (9, 10, 13)) + "\r"


@pytest.mark.parametrize("make", [
    lambda text: hf.hwp_document([hf.para(hf.with_control("", 11, "eqed")) + hf.equation(text)]),
    lambda text: xf.package([xf.section(xf.p(xf.equation(text)))]),
    lambda text: xf.package([xf.section(xf.p(text))]),
    lambda text: xf.package([xf.section(xf.p(xf.picture("image1", text)))], pictures={"image1.png": PNG}),
    lambda text: hf.hwp_document([hf.para(hf.linked("고리", "앞 ")) + hf.hyperlink_header(f"http://{text};1;0;0;")]),
    lambda text: xf.package([xf.section(xf.p(xf.run(xf.field_begin("1", "HYPERLINK", text), xf.t("고리"),
                                                       xf.field_end("1"))))]),
], ids=["hwp-equation", "hwpx-equation", "hwpx-text", "hwpx-caption", "hwp-link", "hwpx-link"])
def test_no_control_character_reaches_the_markdown(make):
    text = f"a{CONTROLS.replace(chr(0), '')}b\x0b\x0cc\r\nd"
    for tables in ("auto", "html"):
        markdown = marlune.convert(make(text), tables=tables)
        assert unclean_text(markdown) == []


def test_a_damaged_hwp_equation_script_keeps_its_text_without_controls():
    data = hf.hwp_document([hf.para(hf.with_control("", 11, "eqed")) + hf.equation("x\x00\x01y\x1f")])
    assert "xy" in marlune.convert(data)


def test_vertical_tab_and_form_feed_part_words_and_a_carriage_return_ends_a_line():
    data = xf.package([xf.section(xf.p("a\x0bb\x0cc\rd\r\ne"))])
    assert marlune.convert(data) == "a b c\nd\ne"


@pytest.mark.parametrize("make", [
    lambda text: hf.hwp_document([hf.para("x")], extra_streams={
        hf.SUMMARY_STREAM: hf.summary_info({hf.PID_TITLE: text, hf.PID_AUTHOR: text})}),
    lambda text: xf.package([xf.section(xf.p("x"))], metadata={"title": text, "creator": text}),
], ids=["hwp", "hwpx"])
def test_no_control_character_reaches_the_metadata(make):
    metadata = marlune.parse(make("제\x01목\x1b끝")).metadata
    assert metadata["title"] == "제목끝"
    assert output_faults("", metadata) == []


@pytest.mark.parametrize("data", [
    xf.package([xf.section(xf.p("a")).replace("<hp:t>a", "<hp:t>a&#xD800;b")]),
    xf.package([xf.section(xf.p("a")).encode().replace(b"<hp:t>a", b"<hp:t>a\xed\xa0\x80b")]),  # type: ignore[list-item]
    hf.hwp_document([hf.para(hf.para_text("a", 0xD800, "b", 0xDC00))]),
], ids=["hwpx-reference", "hwpx-bytes", "hwp-units"])
def test_no_lone_surrogate_reaches_the_markdown(data):
    markdown = marlune.convert(data)
    assert unclean_text(markdown) == [] and markdown.startswith("a") and "b" in markdown


# ---- Every real document ------------------------------------------------------

@pytest.mark.parametrize("corpus", ["corpus", "corpus-diverse", "corpus-hwpx"])
def test_corpus_output_is_clean(corpus):
    folder = SHARED / corpus
    if not folder.is_dir():
        pytest.skip(f"corpus folder not present: {folder}")
    faults = {}
    for path in sorted(p for p in folder.rglob("*") if p.suffix.lower() in (".hwp", ".hwpx")):
        try:
            markdown, metadata, images = _api.run(path, {"headers": True}, collect=True)
        except RuntimeError:
            continue
        if found := output_faults(markdown, metadata, images):
            faults[path.name] = found[:3]
    assert faults == {}
