"""Opening a document: the file, the compound-file container over it and the
"/FileHeader" stream, and the errors both functions raise on the way."""

from __future__ import annotations

import errno
import json
import os
import random
import struct
import subprocess
import sys
import textwrap

import pytest

import hwpfixture as hf
from marlune import hwp_debug_records, hwp_to_markdown

NUL_MESSAGE = "IO error: file name contained an unexpected NUL byte"
INVALID_SIGNATURE = "Invalid HWP signature"
TOO_SHORT = "Parse error: FileHeader too short"
PASSWORD = "Password-protected HWP files are not supported"
SIGNATURE = b"HWP Document File"

# A one-paragraph body: what a sound document lists and converts to.
BODY = hf.para("본문")
BODY_RECORDS = [(66, 0, 22), (67, 1, 6)]
BODY_MARKDOWN = "본문"


def os_error(number: int) -> str:
    return f"IO error: {os.strerror(number)} (os error {number})"


def raw_header(signature: bytes = SIGNATURE, version: int = 0x05000300, flags: int = 1,
               pad: bytes = b"", length: int = 256) -> bytes:
    """Signature field (signature, then ``pad``, NUL-filled to 32 bytes),
    version, properties, then zeros up to ``length``."""
    head = (signature + pad).ljust(32, b"\0")[:32] + struct.pack("<II", version, flags)
    return (head + bytes(max(0, length - len(head))))[:length]


def expect_error(function, path: str, message: str) -> None:
    with pytest.raises(RuntimeError) as info:
        function(path)
    assert type(info.value) is RuntimeError
    assert info.value.args == (message,)


# --------------------------------------------------------------------------
# The path and the file
# --------------------------------------------------------------------------

def test_missing_file(entry_point, tmp_path):
    with pytest.raises(RuntimeError) as info:
        entry_point(str(tmp_path / "nothing-here.hwp"))
    message = str(info.value)
    assert message.startswith("IO error: ")
    assert message.endswith(" (os error 2)")
    assert message == os_error(errno.ENOENT)


def test_empty_path_fails_like_a_missing_file(entry_point):
    expect_error(entry_point, "", os_error(errno.ENOENT))


@pytest.mark.parametrize("make_path, number", [
    pytest.param(lambda d, f: os.path.join(d, "no-such-dir", "doc.hwp"), errno.ENOENT, id="missing-directory"),
    pytest.param(lambda d, f: os.path.join(f, "doc.hwp"), errno.ENOTDIR, id="through-a-file"),
    pytest.param(lambda d, f: os.path.join(d, "x" * 300), errno.ENAMETOOLONG, id="name-too-long"),
    pytest.param(lambda d, f: d, errno.EISDIR, id="directory"),
    pytest.param(lambda d, f: d + "/", errno.EISDIR, id="directory-slash"),
])
def test_path_that_cannot_be_opened(entry_point, tmp_path, make_doc, make_path, number):
    document = make_doc([BODY])
    expect_error(entry_point, make_path(str(tmp_path), document), os_error(number))


def test_directory_message_text(entry_point, tmp_path):
    expect_error(entry_point, str(tmp_path), "IO error: Is a directory (os error 21)")


@pytest.mark.skipif(hasattr(os, "geteuid") and os.geteuid() == 0,
                    reason="the superuser may read files without read permission")
def test_unreadable_file(entry_point, make_doc):
    document = make_doc([BODY])
    os.chmod(document, 0)
    try:
        expect_error(entry_point, document, os_error(errno.EACCES))
    finally:
        os.chmod(document, 0o644)


@pytest.mark.parametrize("make_path", [
    pytest.param(lambda doc: "\0", id="only-nul"),
    pytest.param(lambda doc: doc + "\0", id="existing-file-then-nul"),
    pytest.param(lambda doc: doc + "\0.hwp", id="nul-inside"),
    pytest.param(lambda doc: "\0" + doc, id="nul-first"),
    pytest.param(lambda doc: "/no/such/dir/\0x", id="missing-dir-with-nul"),
])
def test_nul_in_path(entry_point, make_doc, make_path):
    # The NUL is refused before the file system is asked, so a valid file
    # ahead of it does not open and a missing one does not report ENOENT.
    expect_error(entry_point, make_path(make_doc([BODY])), NUL_MESSAGE)


def test_relative_path_resolves_against_current_directory(entry_point, make_doc, tmp_path, monkeypatch):
    make_doc([BODY], name="relative.hwp")
    monkeypatch.chdir(tmp_path)
    expected = BODY_MARKDOWN if entry_point is hwp_to_markdown else BODY_RECORDS
    assert entry_point("relative.hwp") == expected
    assert entry_point("./relative.hwp") == expected


def test_tilde_is_not_expanded(entry_point, make_doc, tmp_path, monkeypatch):
    (tmp_path / "~").mkdir()
    make_doc([BODY], name="~/doc.hwp")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("HOME", "/nonexistent-home")
    expected = BODY_MARKDOWN if entry_point is hwp_to_markdown else BODY_RECORDS
    assert entry_point("~/doc.hwp") == expected


@pytest.mark.parametrize("name", ["문서.hwp", "файл é.hwp", "😀.hwp", "a\nb.hwp"],
                         ids=["korean", "cyrillic-accent", "astral", "newline"])
def test_non_ascii_file_names_open_by_their_utf8_bytes(entry_point, make_doc, name):
    path = make_doc([BODY], name=name)
    assert os.path.exists(os.path.join(os.path.dirname(path).encode(), name.encode("utf-8")))
    expected = BODY_MARKDOWN if entry_point is hwp_to_markdown else BODY_RECORDS
    assert entry_point(path) == expected


# --------------------------------------------------------------------------
# Files that are not compound files
# --------------------------------------------------------------------------

@pytest.mark.parametrize("content", [
    pytest.param(b"", id="empty-file"),
    pytest.param("그냥 텍스트 파일입니다.\nplain text\n".encode(), id="plain-text"),
    pytest.param(SIGNATURE + bytes(300), id="bare-hwp-signature"),
    pytest.param(bytes(4096), id="zeros"),
    pytest.param(b"PK\x03\x04" + bytes(100), id="zip-magic"),
])
def test_not_a_compound_file(entry_point, write_file, content):
    expect_error(entry_point, write_file(content), "Compound file error: not a compound file")


@pytest.mark.parametrize("device", ["/dev/null", "/dev/zero"])
def test_device_that_is_not_a_compound_file(entry_point, device):
    # An endless device must be refused, not read to its end.
    if not os.path.exists(device):
        pytest.skip(f"{device} not present")
    expect_error(entry_point, device, "Compound file error: not a compound file")


@pytest.mark.parametrize("content", [
    pytest.param(hf.CFB_MAGIC, id="magic-only"),
    pytest.param(hf.CFB_MAGIC + bytes(100), id="short-header"),
    pytest.param(hf.hwp_document([BODY])[:512], id="header-sector-only"),
    pytest.param(hf.hwp_document([BODY])[:1024], id="cut-after-fat"),
])
def test_truncated_container_fails_at_the_container_step(entry_point, write_file, content):
    with pytest.raises(RuntimeError, match="^Compound file error: "):
        entry_point(write_file(content))


def _with_fat_entry(doc: bytes, sector: int, value: int) -> bytes:
    """The document with one FAT entry replaced (the FAT is sector 0)."""
    out = bytearray(doc)
    out[512 + 4 * sector:516 + 4 * sector] = struct.pack("<I", value)
    return bytes(out)


def _with_header_field(doc: bytes, offset: int, value: int) -> bytes:
    out = bytearray(doc)
    out[offset:offset + 4] = struct.pack("<I", value)
    return bytes(out)


def _directory_entry(doc: bytes, name: str) -> tuple[int, int, int]:
    """Offset, start sector and size of the named entry of a fixture file
    (whose directory sectors are contiguous and last)."""
    directory_start = struct.unpack_from("<I", doc, 48)[0]
    for offset in range((directory_start + 1) * 512, len(doc), 128):
        length = struct.unpack_from("<H", doc, offset + 64)[0]
        if doc[offset:offset + max(0, length - 2)].decode("utf-16-le") == name:
            start, size = struct.unpack_from("<IQ", doc, offset + 116)
            return offset, start, size
    raise LookupError(name)


@pytest.mark.parametrize("damage", [
    pytest.param(lambda d: d[:512] + b"\xab" * 512 + d[1024:], id="fat-garbage"),
    pytest.param(lambda d: _with_header_field(d, 48, 9999), id="directory-past-end"),
    pytest.param(lambda d: _with_header_field(d, 44, 200), id="fat-count-too-large"),
    pytest.param(lambda d: _with_header_field(d, 76, 9999), id="fat-sector-past-end"),
])
def test_broken_allocation_or_directory_tables(entry_point, write_file, damage):
    with pytest.raises(RuntimeError, match="^Compound file error: "):
        entry_point(write_file(damage(hf.hwp_document([BODY]))))


@pytest.mark.parametrize("value, prefix", [
    pytest.param(lambda start: hf.FREESECT, "IO error: ", id="free"),
    pytest.param(lambda start: hf.ENDOFCHAIN, "IO error: ", id="early-end"),
    pytest.param(lambda start: start, "IO error: ", id="loop"),
    # A link past the end of the file spoils only the stream it belongs to.
    pytest.param(lambda start: 4000, "IO error: ", id="past-end"),
])
def test_header_stream_with_broken_sector_chain(entry_point, write_file, value, prefix):
    # A header long enough to live in ordinary sectors; its second sector's
    # FAT entry is spoilt.
    doc = hf.hwp_document([BODY], header=hf.file_header(length=5000))
    _, start, size = _directory_entry(doc, "FileHeader")
    assert size == 5000
    with pytest.raises(RuntimeError) as info:
        entry_point(write_file(_with_fat_entry(doc, start + 1, value(start))))
    assert str(info.value).startswith(prefix)


def test_section_with_broken_sector_chain(write_file):
    big = hf.para("x" * 3000) * 3  # > 4096 bytes: ordinary sectors
    doc = hf.hwp_document([big], compressed=False)
    _, start, _ = _directory_entry(doc, "Section0")
    path = write_file(_with_fat_entry(doc, start + 1, hf.FREESECT))
    assert hwp_to_markdown(path) == ""
    with pytest.raises(RuntimeError, match="^IO error: "):
        hwp_debug_records(path)


# Damaged containers must never make the module (or the container library
# beneath it) write to standard error, whatever the call's outcome.
_DAMAGE_RUNNER = textwrap.dedent("""
    import json, sys
    from marlune import hwp_debug_records, hwp_to_markdown
    outcomes = []
    for path in sys.argv[1:]:
        for function in (hwp_to_markdown, hwp_debug_records):
            try:
                result = function(path)
            except RuntimeError:
                outcomes.append("RuntimeError")
            except BaseException as error:
                outcomes.append("other: " + type(error).__name__ + ": " + str(error))
            else:
                outcomes.append(type(result).__name__)
    sys.stdout.write(json.dumps(outcomes))
""")


def _damaged_documents() -> list[bytes]:
    big = hf.para("x" * 3000) * 3
    docs = [hf.hwp_document([BODY, BODY]),
            hf.hwp_document([big, big], compressed=False),
            hf.hwp_document([big, BODY]),
            hf.hwp_document([BODY], header=hf.file_header(length=5000))]
    damaged: list[bytes] = []
    for doc in docs:
        damaged += [doc[:cut] for cut in range(0, len(doc), 384)]
        damaged += [doc[:-1], doc + b"\x01\x02\x03"]
        n_sectors = len(doc) // 512 - 1
        for sector in range(n_sectors):
            for value in (hf.FREESECT, hf.ENDOFCHAIN, sector, 0, n_sectors + 50):
                damaged.append(_with_fat_entry(doc, sector, value))
        for offset, value in [(44, 0), (44, 7), (48, 0), (48, 2**31), (60, 0), (60, 999),
                              (64, 50), (68, 0), (72, 3), (76, 0xFFFFFFFE)]:
            damaged.append(_with_header_field(doc, offset, value))
        damaged.append(doc[:30] + b"\x20\x00" + doc[32:])      # sector shift 32
        damaged.append(doc[:32] + b"\x10\x00" + doc[34:])      # mini sector shift 16
    rng = random.Random(20240607)
    for _ in range(300):
        doc = bytearray(rng.choice(docs))
        for _ in range(rng.randrange(1, 6)):
            where = rng.choice([(0, 512), (512, 1024), (len(doc) - 512, len(doc))])
            doc[rng.randrange(*where)] = rng.randrange(256)
        if rng.random() < 0.3:
            del doc[rng.randrange(len(doc)):]
        damaged.append(bytes(doc))
    return damaged


def test_damaged_containers_print_nothing_to_stderr(tmp_path):
    paths = []
    for i, data in enumerate(_damaged_documents()):
        path = tmp_path / f"damaged{i}.hwp"
        path.write_bytes(data)
        paths.append(str(path))
    result = subprocess.run([sys.executable, "-c", _DAMAGE_RUNNER, *paths],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stderr == ""
    outcomes = json.loads(result.stdout)
    assert len(outcomes) == 2 * len(paths)
    unexpected = sorted({o for o in outcomes if o not in ("str", "list", "RuntimeError")})
    assert unexpected == []


# --------------------------------------------------------------------------
# The "/FileHeader" stream
# --------------------------------------------------------------------------

HEADER_FAILURES = [
    pytest.param(b"", INVALID_SIGNATURE, id="empty"),
    pytest.param(SIGNATURE[:16], INVALID_SIGNATURE, id="16-bytes-signature-prefix"),
    pytest.param(b"\xff" * 16, INVALID_SIGNATURE, id="16-bytes-other"),
    pytest.param(SIGNATURE, TOO_SHORT, id="exactly-17-signature-bytes"),
    pytest.param(SIGNATURE + b"\0", TOO_SHORT, id="18-bytes"),
    pytest.param(raw_header(flags=0, length=39), TOO_SHORT, id="39-bytes"),
    # Length is tested before the properties: password bits in a short header
    pytest.param(raw_header(flags=0x2, length=39), TOO_SHORT, id="39-bytes-password-bit"),
    # and the signature before the length.
    pytest.param(b"XWP Document File", INVALID_SIGNATURE, id="17-bytes-wrong-signature"),
    pytest.param(raw_header(signature=b"HWP Document Fil", length=39), INVALID_SIGNATURE,
                 id="39-bytes-wrong-signature"),
    pytest.param(raw_header(signature=b"hwp document file"), INVALID_SIGNATURE, id="lower-case"),
    pytest.param(raw_header(signature=b"HWP DOCUMENT FILE"), INVALID_SIGNATURE, id="upper-case"),
    pytest.param(raw_header(signature=b"HWP Document file"), INVALID_SIGNATURE, id="one-letter-case"),
    pytest.param(raw_header(signature=b" HWP Document File"), INVALID_SIGNATURE, id="shifted"),
    pytest.param(raw_header(signature=b"HWP Document\0File"), INVALID_SIGNATURE, id="nul-inside"),
    pytest.param(raw_header(signature=b"HWP Document Filf"), INVALID_SIGNATURE, id="last-byte"),
    pytest.param(raw_header(signature=b"\xef\xbb\xbfHWP Document File"), INVALID_SIGNATURE, id="bom"),
    pytest.param(raw_header(signature=b"HWP Document File".decode().encode("utf-16-le")),
                 INVALID_SIGNATURE, id="utf16"),
    pytest.param(raw_header(flags=0x2), PASSWORD, id="password"),
    pytest.param(raw_header(flags=0x3), PASSWORD, id="password-and-compressed"),
    pytest.param(raw_header(flags=0x6), PASSWORD, id="password-and-distribution"),
    pytest.param(raw_header(flags=0xFFFFFFFF), PASSWORD, id="all-bits"),
    pytest.param(raw_header(flags=0x2, length=40), PASSWORD, id="password-40-bytes"),
    pytest.param(raw_header(flags=0x2, length=6000), PASSWORD, id="password-long-header"),
]


@pytest.mark.parametrize("with_body", [True, False], ids=["with-body", "without-section0"])
@pytest.mark.parametrize("header, message", HEADER_FAILURES)
def test_header_failures(entry_point, make_doc, header, message, with_body):
    # Without a Section0 the header error must still come first: the header
    # is checked before any section is looked up.
    path = make_doc([BODY if with_body else None], header=header)
    expect_error(entry_point, path, message)


HEADER_SUCCESSES = [
    pytest.param(raw_header(flags=0, length=40), False, id="exactly-40-bytes"),
    pytest.param(raw_header(flags=1, length=40), True, id="exactly-40-bytes-compressed"),
    pytest.param(raw_header(flags=0x4), False, id="distribution"),
    pytest.param(raw_header(flags=0x5), True, id="distribution-compressed"),
    pytest.param(raw_header(flags=0x80000000), False, id="high-bit"),
    pytest.param(raw_header(flags=0xFFFFFFFD), True, id="all-but-password"),
    pytest.param(raw_header(version=0, flags=1), True, id="version-0"),
    pytest.param(raw_header(version=0xFFFFFFFF, flags=0), False, id="version-max"),
    pytest.param(raw_header(version=0x03000000, flags=1), True, id="version-3"),
    pytest.param(raw_header(pad=b"\xff" * 15, flags=1), True, id="junk-after-signature"),
    pytest.param(raw_header(pad=b"ABCDEFGHIJKLMNO", flags=0), False, id="text-after-signature"),
    pytest.param(raw_header(flags=1, length=41), True, id="41-bytes"),
    pytest.param(raw_header(flags=0, length=6000)[:40] + b"\x02\xff" * 2980, False, id="long-with-junk"),
    pytest.param(raw_header(flags=1, length=70000), True, id="very-long"),
]


@pytest.mark.parametrize("header, compressed", HEADER_SUCCESSES)
def test_header_accepted_and_compression_flag_taken(make_doc, header, compressed):
    # The section is stored the way the flag says; read the other way it
    # would list different records (or fail to inflate).
    path = make_doc([BODY], header=header, compressed=compressed)
    assert hwp_debug_records(path) == BODY_RECORDS
    assert hwp_to_markdown(path) == BODY_MARKDOWN


@pytest.mark.parametrize("compressed", [False, True], ids=["stored", "compressed"])
def test_compression_flag_is_not_guessed_from_the_data(make_doc, compressed):
    # The header says the opposite of how the section was written.
    header = raw_header(flags=0 if compressed else 1)
    path = make_doc([BODY], header=header, compressed=compressed)
    if compressed:
        assert hwp_debug_records(path) != BODY_RECORDS
    else:
        with pytest.raises(RuntimeError, match="^Parse error: 압축 해제 실패: "):
            hwp_debug_records(path)


def test_header_stream_missing(entry_point, write_file):
    doc = hf.write_cfb({"DocInfo": hf.deflate_raw(b""), "BodyText/Section0": hf.deflate_raw(BODY)})
    expect_error(entry_point, write_file(doc), "Compound file error: stream not found: /FileHeader")


@pytest.mark.parametrize("storages", [["FileHeader"], ["FileHeader/Inner"]], ids=["empty", "with-child"])
def test_header_is_a_storage(entry_point, make_doc, storages):
    expect_error(entry_point, make_doc([BODY], storages=storages),
                 "Compound file error: not a stream: /FileHeader")


def test_header_only_inside_a_storage_is_not_found(entry_point, write_file):
    doc = hf.write_cfb({"Sub/FileHeader": hf.file_header(), "BodyText/Section0": hf.deflate_raw(BODY)})
    expect_error(entry_point, write_file(doc), "Compound file error: stream not found: /FileHeader")


# --------------------------------------------------------------------------
# Where the two functions differ: the first section
# --------------------------------------------------------------------------

SECTION0_FAILURES = [
    pytest.param({"sections": [None]}, "Compound file error: stream not found: /BodyText/Section0",
                 id="missing"),
    pytest.param({"sections": [None, BODY]}, "Compound file error: stream not found: /BodyText/Section0",
                 id="missing-with-section1"),
    pytest.param({"sections": [None], "storages": ["BodyText/Section0"]},
                 "Compound file error: not a stream: /BodyText/Section0", id="storage"),
    pytest.param({"sections": [], "extra_streams": {"BodyText": b"not a storage"}},
                 "Compound file error: stream not found: /BodyText/Section0", id="bodytext-is-a-stream"),
    pytest.param({"sections": [None], "extra_streams": {"BodyText/Section0": b"\xff" * 40}},
                 "Parse error: 압축 해제 실패: corrupt deflate stream", id="does-not-inflate"),
]


@pytest.mark.parametrize("kwargs, message", SECTION0_FAILURES)
def test_unreadable_first_section(make_doc, kwargs, message):
    path = make_doc(**kwargs)
    assert hwp_to_markdown(path) == ""
    expect_error(hwp_debug_records, path, message)
