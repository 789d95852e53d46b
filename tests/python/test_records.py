"""The record listing: how the first section's bytes split into records and
what each listed (tag_id, level, size) triple holds."""

from __future__ import annotations

import os
import struct

import pytest

import hwpfixture as hf
from marlune import hwp_debug_records


def header(tag: int, level: int, size: int) -> bytes:
    """A record header word, with no payload behind it."""
    return struct.pack("<I", tag | level << 10 | size << 20)


def extended(tag: int, level: int, size: int) -> bytes:
    """A header whose size field is 0xFFF, then the real size word."""
    return header(tag, level, 0xFFF) + struct.pack("<I", size)


END = hf.record(67, 1, b"end!")  # a record after the one under test
END_ITEM = (67, 1, 4)

SECTIONS = [
    pytest.param(b"", [], id="empty"),
    pytest.param(hf.record(66, 0, bytes(6)), [(66, 0, 6)], id="one-record"),
    # Examples of header words: 42 00 60 00, 43 04 A0 00, 43 00 F0 FF 88 13 00 00.
    pytest.param(b"\x42\x00\x60\x00" + bytes(6) + b"\x43\x04\xa0\x00" + bytes(10)
                 + b"\x43\x00\xf0\xff\x88\x13\x00\x00" + bytes(5000),
                 [(66, 0, 6), (67, 1, 10), (67, 0, 5000)], id="header-word-examples"),
    pytest.param(hf.record(80, 2, b"") + END, [(80, 2, 0), END_ITEM], id="size-0"),
    pytest.param(hf.record(80, 0, bytes(4094)) + END, [(80, 0, 4094), END_ITEM], id="size-4094-normal"),
    pytest.param(hf.record(80, 0, bytes(4095)) + END, [(80, 0, 4095), END_ITEM], id="size-4095-extended"),
    pytest.param(extended(67, 0, 70000) + bytes(70000) + END, [(67, 0, 70000), END_ITEM],
                 id="extended-70000"),
    pytest.param(extended(67, 3, 10) + bytes(10) + END, [(67, 3, 10), END_ITEM], id="extended-10"),
    pytest.param(extended(67, 3, 0) + END, [(67, 3, 0), END_ITEM], id="extended-0"),
    pytest.param(b"\xff\xff\xff\xff" + struct.pack("<I", 2) + b"ab" + END,
                 [(1023, 1023, 2), END_ITEM], id="header-word-all-ones"),
    # A 4094-byte payload must not be mistaken for an extended size word.
    pytest.param(hf.record(80, 0, b"\x05\x00\x00\x00" + bytes(4090)) + END, [(80, 0, 4094), END_ITEM],
                 id="size-4094-payload-looks-like-size"),
]


@pytest.mark.parametrize("compressed", [False, True], ids=["stored", "compressed"])
@pytest.mark.parametrize("data, expected", SECTIONS)
def test_record_listing(make_doc, data, expected, compressed):
    assert hwp_debug_records(make_doc([data], compressed=compressed)) == expected


TRUNCATED = [
    pytest.param(END + header(67, 0, 100) + bytes(60), [END_ITEM], id="payload-short"),
    pytest.param(END + header(67, 0, 100) + bytes(60) + END * 3, [END_ITEM],
                 id="payload-short-swallows-following"),
    pytest.param(END + header(67, 0, 100) + bytes(99), [END_ITEM], id="one-byte-short"),
    pytest.param(header(67, 0, 100) + bytes(60), [], id="first-record-short"),
    pytest.param(END + header(67, 0, 0xFFF), [END_ITEM], id="extended-word-missing"),
    pytest.param(END + header(67, 0, 0xFFF) + b"\x01\x00\x00", [END_ITEM], id="extended-word-3-bytes"),
    pytest.param(END + extended(67, 0, 70000) + bytes(69999), [END_ITEM], id="extended-payload-short"),
    pytest.param(END + extended(67, 0, 0xFFFFFFFF) + bytes(64), [END_ITEM], id="extended-size-max"),
    pytest.param(END + extended(67, 0, 0xFFFFFFFC) + END, [END_ITEM], id="extended-size-wraps"),
    pytest.param(END + b"\x42", [END_ITEM], id="one-trailing-byte"),
    pytest.param(END + b"\x42\x00", [END_ITEM], id="two-trailing-bytes"),
    pytest.param(END + b"\x42\x00\x60", [END_ITEM], id="three-trailing-bytes"),
    pytest.param(b"\x42", [], id="one-byte"),
    pytest.param(b"\x42\x00\x60", [], id="three-bytes"),
]


@pytest.mark.parametrize("compressed", [False, True], ids=["stored", "compressed"])
@pytest.mark.parametrize("data, expected", TRUNCATED)
def test_cut_short_records_end_the_listing_quietly(make_doc, data, expected, compressed):
    assert hwp_debug_records(make_doc([data], compressed=compressed)) == expected


def test_all_tags_and_levels_pass_through_in_order(make_doc):
    # Every tag and every level from 0 to 1023, sizes varying, levels
    # jumping about: nothing is validated or reordered.
    expected = [(tag, (tag * 389) % 1024, tag % 7) for tag in range(1024)]
    data = b"".join(hf.record(tag, level, bytes(size)) for tag, level, size in expected)
    listing = hwp_debug_records(make_doc([data]))
    assert listing == expected
    assert {item[1] for item in listing} == set(range(1024))


def test_items_are_tuples_of_three_ints(make_doc):
    data = (hf.record(0, 0) + hf.record(1023, 1023, bytes(3)) + extended(5, 6, 70000) + bytes(70000)
            + hf.para("문단"))
    listing = hwp_debug_records(make_doc([data]))
    assert type(listing) is list and len(listing) == 5
    for item in listing:
        assert type(item) is tuple and len(item) == 3
        assert all(type(value) is int for value in item)
        assert 0 <= item[0] <= 1023 and 0 <= item[1] <= 1023 and item[2] >= 0


def test_each_call_returns_a_fresh_list(make_doc):
    path = make_doc([hf.para("x")])
    first = hwp_debug_records(path)
    first.append("changed")
    assert hwp_debug_records(path) == [(66, 0, 22), (67, 1, 4)]


def test_many_records(make_doc):
    data = hf.record(67, 1, b"ab") * 50_000
    listing = hwp_debug_records(make_doc([data]))
    assert len(listing) == 50_000
    assert set(listing) == {(67, 1, 2)}


# --------------------------------------------------------------------------
# Real documents
# --------------------------------------------------------------------------

def test_corpus_listing_returns_records_or_runtime_error(corpus_dir):
    files = sorted(
        os.path.join(root, name)
        for root, _, names in os.walk(corpus_dir)
        for name in names
        if not name.lower().endswith((".md", ".tsv"))
    )
    if not files:
        pytest.skip("the corpus folder holds no documents")
    listed = 0
    for path in files:
        try:
            listing = hwp_debug_records(path)
        except RuntimeError as error:
            assert error.args and isinstance(error.args[0], str), path
            continue
        assert type(listing) is list, path
        for item in listing:
            assert type(item) is tuple and len(item) == 3, path
            assert all(type(value) is int for value in item), path
            assert 0 <= item[0] <= 1023 and 0 <= item[1] <= 1023 and item[2] >= 0, path
        listed += 1
    assert listed > 0
