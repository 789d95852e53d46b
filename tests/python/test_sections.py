"""Body-text sections: how the sections of a document are found and read one
after another, how compressed sections inflate, and where reading stops."""

from __future__ import annotations

import random
import struct
import zlib

import pytest

import hwpfixture as hf
from marlune import hwp_debug_records, hwp_to_markdown

CORRUPT_DEFLATE = "Parse error: 압축 해제 실패: corrupt deflate stream"
TOO_LARGE = "Parse error: 압축 해제 실패: inflated section exceeds 256 MiB"


def text(n: int) -> str:
    return f"섹션 {n} 본문"


def section(n: int) -> bytes:
    return hf.para(text(n))


def para_records(value: str) -> list[tuple[int, int, int]]:
    # PARA_HEADER (22 bytes), then PARA_TEXT: the text and a paragraph end.
    return [(66, 0, 22), (67, 1, 2 * (len(value) + 1))]


@pytest.fixture
def markdown_of(make_doc):
    """Markdown of a one-section document holding the given records: what
    a document whose sections hold them in turn must convert to."""
    def convert(*bodies: bytes) -> str:
        return hwp_to_markdown(make_doc([b"".join(bodies)]))
    return convert


# --------------------------------------------------------------------------
# Enumeration
# --------------------------------------------------------------------------

@pytest.mark.parametrize("compressed", [True, False], ids=["compressed", "stored"])
def test_sections_follow_one_another(make_doc, markdown_of, compressed):
    path = make_doc([section(0), section(1), section(2)], compressed=compressed)
    result = hwp_to_markdown(path)
    assert result == markdown_of(section(0), section(1), section(2))
    assert result.index(text(0)) < result.index(text(1)) < result.index(text(2))


@pytest.mark.parametrize("compressed", [True, False], ids=["compressed", "stored"])
def test_listing_holds_the_first_section_only(make_doc, compressed):
    path = make_doc([section(0), section(1) * 3, section(2)], compressed=compressed)
    assert hwp_debug_records(path) == para_records(text(0))


def test_section_ten_follows_section_nine(make_doc, markdown_of):
    path = make_doc([section(n) for n in range(11)])
    result = hwp_to_markdown(path)
    assert result == markdown_of(*(section(n) for n in range(11)))
    assert result.index(text(9)) < result.index(text(10))


@pytest.mark.parametrize("names", [
    pytest.param(["Section00"], id="00"),
    pytest.param(["Section01"], id="01"),
    pytest.param(["Section01", "Section02"], id="01-02"),
    pytest.param(["Section001", "Section1 "], id="001-trailing-blank"),
    pytest.param(["Section+1", "Section1.0"], id="signed-and-dotted"),
])
def test_zero_filled_or_decorated_names_are_never_tried(make_doc, markdown_of, names):
    extra = {f"BodyText/{name}": hf.deflate_raw(section(n + 1)) for n, name in enumerate(names)}
    path = make_doc([section(0)], extra_streams=extra)
    assert hwp_to_markdown(path) == markdown_of(section(0))


@pytest.mark.parametrize("sections, extra, storages, kept", [
    pytest.param([0, 1, None, 3], {}, [], 2, id="gap-at-2"),
    pytest.param([0, None, 2, 3], {}, [], 1, id="gap-at-1"),
    pytest.param([0, 1, 2, None, None, None, None, None, None, None, 10], {}, [], 3, id="gap-up-to-10"),
    pytest.param([0, None, 2], {}, ["BodyText/Section1"], 1, id="section1-is-storage"),
    pytest.param([0, None, 2], {"BodyText/Section1": b"\x07\x00"}, [], 1, id="section1-reserved-block"),
    pytest.param([0, None, 2], {"BodyText/Section1": b"\xff" * 64}, [], 1, id="section1-garbage"),
    pytest.param([0, 1, None, 3], {"BodyText/Section2": b"\x01\x05\x00\x00\x00hello"}, [], 2,
                 id="section2-bad-stored-length"),
])
def test_unreadable_section_ends_the_document(make_doc, markdown_of, sections, extra, storages, kept):
    path = make_doc([None if n is None else section(n) for n in sections],
                    extra_streams=extra, storages=storages)
    assert hwp_to_markdown(path) == markdown_of(*(section(n) for n in range(kept)))
    # The listing reads the sound first section only and is not disturbed.
    assert hwp_debug_records(path) == para_records(text(0))


@pytest.mark.parametrize("compressed", [True, False], ids=["compressed", "stored"])
def test_section_with_cut_record_does_not_end_the_document(make_doc, markdown_of, compressed):
    cut = struct.pack("<I", 67 | 100 << 20) + bytes(10)  # declares 100 bytes, holds 10
    path = make_doc([section(0) + cut, section(1)], compressed=compressed)
    assert hwp_debug_records(path) == para_records(text(0))
    assert hwp_to_markdown(path) == markdown_of(section(0), section(1))


# --------------------------------------------------------------------------
# Inflating compressed sections
# --------------------------------------------------------------------------

def _preset_dictionary_stream() -> bytes:
    # Back-references into a dictionary the reader does not have.
    co = zlib.compressobj(9, zlib.DEFLATED, -15, zdict=b"0123456789abcdef" * 16)
    return co.compress(b"0123456789abcdef" * 8) + co.flush()


def _sync_flushed(data: bytes) -> bytes:
    """``data`` as non-final DEFLATE blocks ending on a byte boundary."""
    co = zlib.compressobj(9, zlib.DEFLATED, -15)
    return co.compress(data) + co.flush(zlib.Z_SYNC_FLUSH)


CORRUPT_STREAMS = [
    pytest.param(b"\x07\x00\x00", id="reserved-block-type"),
    pytest.param(b"\xff" * 40, id="all-ones"),
    pytest.param(b"\x01\x05\x00\x00\x00hello", id="stored-length-check"),
    pytest.param(b"\x05" + b"\xff" * 16, id="too-many-code-lengths"),
    pytest.param(_preset_dictionary_stream(), id="distance-before-start"),
    pytest.param(b"\x00\x03\x00\xfc\xffabc" + b"\x07", id="sound-block-then-reserved"),
    pytest.param(_sync_flushed(section(0)) + b"\x07", id="sound-data-then-reserved"),
]


@pytest.mark.parametrize("stored", CORRUPT_STREAMS)
def test_corrupt_first_section(make_doc, stored):
    decoder = zlib.decompressobj(-15)
    with pytest.raises(zlib.error):  # the stream really is invalid DEFLATE
        decoder.decompress(stored)
    path = make_doc([None, section(1)], extra_streams={"BodyText/Section0": stored})
    with pytest.raises(RuntimeError) as info:
        hwp_debug_records(path)
    assert info.value.args == (CORRUPT_DEFLATE,)
    assert hwp_to_markdown(path) == ""  # and section 1 is not reached


def test_stored_section_that_is_valid_deflate_is_not_inflated(make_doc):
    # 41 00 00 FF: as a DEFLATE stream, a final stored block of length 0
    # (its complement FFFF completed by the payload's first byte); as a
    # record, tag 65 with a 4080-byte payload.  A stored section is taken
    # as it is.
    stored = hf.record(65, 0, b"\xff" + bytes(4079)) + hf.record(67, 1, b"abc")
    decoder = zlib.decompressobj(-15)
    assert decoder.decompress(stored) == b"" and decoder.eof
    path = make_doc([stored, section(1)], compressed=False)
    assert hwp_debug_records(path) == [(65, 0, 4080), (67, 1, 3)]


@pytest.mark.parametrize("body", [
    pytest.param(section(0), id="paragraph"),
    pytest.param(hf.para("가" * 3000) * 12, id="long-section"),
    pytest.param(hf.record(99, 0, random.Random(7).randbytes(100_000)), id="incompressible"),
])
def test_compressed_and_stored_sections_read_the_same(make_doc, body):
    compressed = make_doc([body, section(1)], compressed=True)
    stored = make_doc([body, section(1)], compressed=False)
    assert hwp_debug_records(compressed) == hwp_debug_records(stored)
    assert hwp_to_markdown(compressed) == hwp_to_markdown(stored)


def test_long_section_uses_the_full_window(make_doc):
    # Repeats 20 KiB apart: the encoder refers back across most of the
    # 32 KiB window.
    chunk = random.Random(11).randbytes(20_000)
    body = hf.record(99, 0, chunk * 8) + section(0)
    path = make_doc([body])
    assert hwp_debug_records(path) == [(99, 0, 160_000)] + para_records(text(0))


_LEAD = hf.para("앞부분")
_TAIL = hf.record(99, 0, random.Random(3).randbytes(30_000))
_LEAD_AND_TAIL = hf.deflate_raw(_LEAD + _TAIL)


@pytest.mark.parametrize("cut", [
    pytest.param(len(_LEAD_AND_TAIL) // 2, id="middle"),
    pytest.param(len(_LEAD_AND_TAIL) - 1, id="last-byte-missing"),
    pytest.param(len(_LEAD_AND_TAIL) - 200, id="near-end"),
])
def test_truncated_deflate_yields_what_was_decoded(make_doc, markdown_of, cut):
    stored = _LEAD_AND_TAIL[:cut]
    decoder = zlib.decompressobj(-15)
    decoded = decoder.decompress(stored)
    assert not decoder.eof and decoded.startswith(_LEAD) and len(decoded) < len(_LEAD + _TAIL)
    path = make_doc([None, section(1)], extra_streams={"BodyText/Section0": stored})
    assert hwp_debug_records(path) == para_records("앞부분")
    # The cut section is not an error: the next section is still read.
    assert hwp_to_markdown(path) == markdown_of(_LEAD, section(1))


@pytest.mark.parametrize("cut", [1, 2, 10], ids=["one-byte", "two-bytes", "ten-bytes"])
def test_deflate_cut_before_any_output(make_doc, markdown_of, cut):
    # Cut inside the code tables that open a dynamic block.
    stored = hf.deflate_raw(hf.para("가나다라" * 800))[:cut]
    assert zlib.decompressobj(-15).decompress(stored) == b""
    path = make_doc([None, section(1)], extra_streams={"BodyText/Section0": stored})
    assert hwp_debug_records(path) == []
    assert hwp_to_markdown(path) == markdown_of(section(1))


@pytest.mark.parametrize("trailer", [
    pytest.param(b"\x00", id="zero"),
    pytest.param(b"\x07" * 100, id="invalid-deflate"),
    pytest.param(b"trailing garbage \xff\xfe", id="text"),
    pytest.param(hf.deflate_raw(section(9)), id="second-stream"),
])
def test_bytes_after_the_final_block_are_ignored(make_doc, markdown_of, trailer):
    stored = hf.deflate_raw(section(0)) + trailer
    path = make_doc([None, section(1)], extra_streams={"BodyText/Section0": stored})
    assert hwp_debug_records(path) == para_records(text(0))
    assert hwp_to_markdown(path) == markdown_of(section(0), section(1))


@pytest.mark.parametrize("stored, compressed", [
    pytest.param(b"", True, id="empty-compressed"),
    pytest.param(b"", False, id="empty-stored"),
    pytest.param(hf.deflate_raw(b""), True, id="deflate-of-nothing"),
    pytest.param(b"\x42", False, id="one-byte-stored"),
    pytest.param(b"\x42\x00", False, id="two-bytes-stored"),
    pytest.param(b"\x42\x00\x60", False, id="three-bytes-stored"),
    pytest.param(hf.deflate_raw(b"\x42\x00\x60"), True, id="three-bytes-inflated"),
])
def test_section_without_records_lists_nothing_and_reading_goes_on(make_doc, markdown_of, stored, compressed):
    path = make_doc([None, section(1)], compressed=compressed,
                    extra_streams={"BodyText/Section0": stored})
    assert hwp_debug_records(path) == []
    assert hwp_to_markdown(path) == markdown_of(section(1))


# --------------------------------------------------------------------------
# Inflated size limit
# --------------------------------------------------------------------------

_UNIT = 1 << 20  # 1 MiB


def _unit_block(data: bytes) -> bytes:
    """``data`` as a self-contained, byte-aligned, non-final DEFLATE block
    run, so that copies of it can be chained."""
    co = zlib.compressobj(9, zlib.DEFLATED, -15)
    return co.compress(data) + co.flush(zlib.Z_FULL_FLUSH)


# A record header announcing 0xFFFFFFFF payload bytes opens the data, so
# that whatever does get inflated lists no records at all.
_BOMB_HEAD = _unit_block(struct.pack("<II", 67 | 0xFFF << 20, 0xFFFFFFFF) + bytes(_UNIT - 8))
_ZEROS = _unit_block(bytes(_UNIT))
_FINAL_EMPTY_BLOCK = b"\x03\x00"


def _bomb(mebibytes: int, extra: bytes = b"") -> bytes:
    """Raw DEFLATE data inflating to ``mebibytes`` MiB (plus ``extra``)."""
    tail = _unit_block(extra) if extra else b""
    return _BOMB_HEAD + _ZEROS * (mebibytes - 1) + tail + _FINAL_EMPTY_BLOCK


def test_bomb_builder_blocks_inflate_as_intended():
    assert len(zlib.decompressobj(-15).decompress(_ZEROS)) == _UNIT
    head = zlib.decompressobj(-15).decompress(_BOMB_HEAD)
    assert len(head) == _UNIT and head[:8] == b"\x43\x00\xf0\xff\xff\xff\xff\xff"
    small = zlib.decompressobj(-15)
    assert len(small.decompress(_bomb(3, b"xyz"))) == 3 * _UNIT + 3 and small.eof
    assert len(_bomb(300)) < 400_000


def test_bomb_in_first_section_is_refused_by_the_listing(make_doc):
    path = make_doc([None], extra_streams={"BodyText/Section0": _bomb(300)})
    with pytest.raises(RuntimeError) as info:
        hwp_debug_records(path)
    assert info.value.args == (TOO_LARGE,)


def test_bomb_ends_the_document(make_doc, markdown_of):
    path = make_doc([section(0), None, section(2)], extra_streams={"BodyText/Section1": _bomb(300)})
    assert hwp_to_markdown(path) == markdown_of(section(0))


@pytest.mark.parametrize("extra, refused", [
    pytest.param(b"", False, id="exactly-256-MiB"),
    pytest.param(b"\0", True, id="one-byte-more"),
])
def test_size_limit_boundary(make_doc, extra, refused):
    path = make_doc([None], extra_streams={"BodyText/Section0": _bomb(256, extra)})
    if refused:
        with pytest.raises(RuntimeError) as info:
            hwp_debug_records(path)
        assert info.value.args == (TOO_LARGE,)
    else:
        assert hwp_debug_records(path) == []
