"""The compound-file reader on damaged and unusual containers: one bad entry
or chain costs only its own stream, so the sections before it still convert;
damage to the header or the allocation tables fails the file with a clear
text. The damage is applied to files from the fixture writer, located with
the small reader in test_damaged."""

from __future__ import annotations

import struct
from collections.abc import Callable

import pytest

import hwpfixture as hf
from marlune import hwp_debug_records, hwp_to_markdown
from test_damaged import Container

HANGUL = "".join(chr(0xAC00 + i * 7919 % 11172) for i in range(400))
LARGE = [hf.para("zero " * 900), hf.para("one " * 900)]   # stored: regular sectors
SMALL = [hf.para(HANGUL[:200]), hf.para(HANGUL[200:])]     # deflated: mini sectors


def put(doc: bytes, offset: int, fmt: str, *values: int) -> bytes:
    out = bytearray(doc)
    struct.pack_into(fmt, out, offset, *values)
    return bytes(out)


def set_entry(path: str, field_offset: int, value: int) -> Callable[[bytes], bytes]:
    """Damage: one u32 field of a directory entry (68 left, 72 right, 116
    start, 120 size)."""
    def damage(doc: bytes) -> bytes:
        c = Container.parse(doc)
        return put(doc, c.entry_offset(c.paths[path]) + field_offset, "<I", value)
    return damage


def loop_chain(path: str) -> Callable[[bytes], bytes]:
    """Damage: the stream's second sector links back to its first."""
    def damage(doc: bytes) -> bytes:
        c = Container.parse(doc)
        e = c.paths[path]
        mini = c.is_mini(e)
        second = c.chain(e.start, mini=mini)[1]
        return put(doc, c.fat_entry_offset(second, mini=mini), "<I", e.start)
    return damage


def truncate_inside(path: str) -> Callable[[bytes], bytes]:
    def damage(doc: bytes) -> bytes:
        c = Container.parse(doc)
        return doc[:(c.chain(c.paths[path].start)[2] + 1) * c.sector_size + 100]
    return damage


def swap_all_siblings(doc: bytes) -> bytes:
    """Damage: every sibling tree mirrored, so sorted lookups miss."""
    c = Container.parse(doc)
    for e in c.entries:
        doc = put(doc, c.entry_offset(e) + 68, "<II", e.right, e.left)
    return doc


def difat_loop(doc: bytes) -> bytes:
    """Damage: 237 FAT sectors claimed (two DIFAT sectors needed) and the
    first DIFAT sector links to itself."""
    c = Container.parse(doc)
    loop = c.chain(c.paths["BodyText/Section0"].start)[0]
    doc = put(doc, (loop + 2) * c.sector_size - 4, "<I", loop)
    return put(put(doc, 44, "<I", 237), 68, "<II", loop, 2)


BIN_DATA = {f"BinData/BIN{n:04X}.png": bytes([n % 251]) * (n % 90) for n in range(3000)}
BIG = [hf.para("x" * 70000)]
NOT_FOUND_0 = "Compound file error: stream not found: /BodyText/Section0"

# id, document (sections, options), damage, sections still converted, what
# hwp_debug_records gives ("ok" or the start of its error)
CASES = [
    ("truncated-inside-section1", LARGE, {"compressed": False, "directory_first": True},
     truncate_inside("BodyText/Section1"), 1, "ok"),
    ("section1-larger-than-file", LARGE, {"compressed": False}, set_entry("BodyText/Section1", 120, 0x7FFFFFF0),
     1, "ok"),
    ("section0-larger-than-file", LARGE, {"compressed": False}, set_entry("BodyText/Section0", 120, 0x7FFFFFF0),
     0, "IO error: stream larger than its file: /BodyText/Section0"),
    ("sibling-larger-than-file", LARGE, {"compressed": False}, set_entry("DocInfo", 120, 0x7FFFFFF0), 2, "ok"),
    ("section1-start-past-end", LARGE, {"compressed": False}, set_entry("BodyText/Section1", 116, 0xFFFFF0), 1, "ok"),
    ("sibling-start-past-end", SMALL, {}, set_entry("DocInfo", 116, 0xFFFFF0), 2, "ok"),
    ("sibling-link-out-of-range", LARGE, {}, set_entry("DocInfo", 72, 0xFFFFF0), 2, "ok"),
    ("sibling-link-loops", SMALL, {}, set_entry("BodyText/Section0", 72, 0), 2, "ok"),
    ("fat-loop-in-section1", LARGE, {"compressed": False}, loop_chain("BodyText/Section1"), 1, "ok"),
    ("fat-loop-in-section0", LARGE, {"compressed": False}, loop_chain("BodyText/Section0"), 0,
     "IO error: failed to read stream /BodyText/Section0"),
    ("mini-fat-loop-in-section1", SMALL, {}, loop_chain("BodyText/Section1"), 1, "ok"),
    ("difat-loop", BIG, {"compressed": False}, difat_loop, None, "Compound file error: DIFAT chain broken"),
    ("header-claims-2^32-fat-sectors", SMALL, {}, lambda d: put(d, 44, "<I", 0xFFFFFFFF), None,
     "Compound file error: bad FAT count"),
    ("bad-sector-shift", SMALL, {}, lambda d: put(d, 30, "<H", 10), None, "Compound file error: bad sector size"),
    ("directory-past-end", SMALL, {}, lambda d: put(d, 48, "<I", 5000), None,
     "Compound file error: directory chain broken"),
    ("sector-shift-12", LARGE, {"sector_shift": 12}, None, 2, "ok"),
    ("sector-shift-12-mini", SMALL, {"sector_shift": 12, "directory_first": True}, None, 2, "ok"),
    ("three-thousand-entries", SMALL, {"extra_streams": BIN_DATA}, None, 2, "ok"),
    ("unsorted-siblings", SMALL, {"extra_streams": dict(list(BIN_DATA.items())[:40])}, swap_all_siblings, 2, "ok"),
]


@pytest.mark.parametrize("sections, options, damage, kept, records", [c[1:] for c in CASES],
                         ids=[c[0] for c in CASES])
def test_damage_costs_only_the_damaged_part(write_file, sections, options, damage, kept, records):
    doc = hf.hwp_document(sections, **options)
    path = write_file(damage(doc) if damage else doc)
    if kept is None:
        for function in (hwp_to_markdown, hwp_debug_records):
            with pytest.raises(RuntimeError) as info:
                function(path)
            assert str(info.value) == records
        return
    intact = write_file(hf.hwp_document(sections[:kept] or [None], compressed=options.get("compressed", True)))
    assert hwp_to_markdown(path) == hwp_to_markdown(intact)
    if records == "ok":
        assert hwp_debug_records(path) == hwp_debug_records(intact)
    else:
        with pytest.raises(RuntimeError, match="^" + records.replace("(", r"\(")):
            hwp_debug_records(path)
