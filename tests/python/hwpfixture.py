"""Build synthetic HWP 5.0 documents in memory for tests.

Two layers:

* ``write_cfb`` writes a Compound File Binary container (the OLE "structured
  storage" HWP files live in): a 512-byte header, then 512-byte (or
  4096-byte) sectors chained through the FAT.  Sector ``n`` starts at file
  offset ``(n + 1) * SECTOR_SIZE``.  Sectors are laid out in this order: FAT,
  DIFAT, MiniFAT, mini stream, the large streams in directory order, then
  the directory (or the directory right after the DIFAT), so a test can find
  and damage any part of the output.
* The HWP helpers build the streams: the FileHeader, and record streams made
  of tagged records (paragraphs, controls, tables, pictures, equations).

Only the standard library is used, except for the AES encryption of
distribution documents' sections (``cryptography``, imported when needed).
"""

from __future__ import annotations

import datetime
import os
import struct
import sys
import zlib
from array import array
from collections.abc import Iterable, Sequence

# --------------------------------------------------------------------------
# Compound File Binary writer
# --------------------------------------------------------------------------

SECTOR_SIZE = 512
MINI_SECTOR_SIZE = 64
MINI_STREAM_CUTOFF = 4096

FREESECT = 0xFFFFFFFF
ENDOFCHAIN = 0xFFFFFFFE
FATSECT = 0xFFFFFFFD
DIFSECT = 0xFFFFFFFC
NOSTREAM = 0xFFFFFFFF

CFB_MAGIC = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
_HEADER_DIFAT = 109                       # FAT sector ids kept in the header
_ENTRY_SIZE = 128
assert array("I").itemsize == 4, "sector ids are stored as array('I')"
_MAX_NAME_UNITS = 31                      # 64-byte name field incl. NUL

_STORAGE, _STREAM, _ROOT = 1, 2, 5
_BLACK = 1

# name, name length, type, colour, left, right, child, CLSID, state bits,
# creation time, modification time, start sector, stream size
_DIR_ENTRY = struct.Struct("<64sHBBIII16sIQQIQ")
# signature, CLSID, minor, major, byte order, sector shift, mini sector
# shift, reserved, directory sector count (0 in version 3), FAT sector count,
# first directory sector, transaction signature, mini stream cutoff, first
# MiniFAT sector, MiniFAT sector count, first DIFAT sector, DIFAT count
_HEADER = struct.Struct("<8s16sHHHHH6sIIIIIIIII")


class _Entry:
    __slots__ = ("name", "kind", "data", "children", "sid", "left", "right", "child", "start")

    def __init__(self, name: str, kind: int, data: bytes = b"") -> None:
        self.name = name
        self.kind = kind
        self.data = data
        self.children: dict[tuple[int, tuple[int, ...]], _Entry] = {}
        self.sid = 0
        self.left = self.right = self.child = NOSTREAM
        self.start = ENDOFCHAIN


def _units(text: str) -> bytes:
    return text.encode("utf-16-le", "surrogatepass")


def _name_key(name: str) -> tuple[int, tuple[int, ...]]:
    """Sibling order: shorter names first, then upper-cased UTF-16 units."""
    upper = "".join(u if len(u := c.upper()) == 1 else c for c in name)
    raw = _units(upper)
    return len(_units(name)) // 2, struct.unpack(f"<{len(raw) // 2}H", raw)


def _add(root: _Entry, path: str, kind: int, data: bytes = b"") -> None:
    parts = path.split("/")
    if not all(parts):
        raise ValueError(f"bad CFB path {path!r}")
    node = root
    for i, part in enumerate(parts):
        if len(_units(part)) // 2 > _MAX_NAME_UNITS:
            raise ValueError(f"CFB name too long: {part!r}")
        last = i == len(parts) - 1
        want = kind if last else _STORAGE
        key = _name_key(part)
        child = node.children.get(key)
        if child is None:
            child = node.children[key] = _Entry(part, want, data if last else b"")
        elif child.kind != want or want == _STREAM:
            raise ValueError(f"duplicate CFB entry {path!r}")
        node = child


def _balance(nodes: list[_Entry], lo: int, hi: int) -> int:
    """Link nodes[lo:hi] (sorted) as a balanced tree; return the root id."""
    if lo >= hi:
        return NOSTREAM
    mid = (lo + hi) // 2
    node = nodes[mid]
    node.left = _balance(nodes, lo, mid)
    node.right = _balance(nodes, mid + 1, hi)
    return node.sid


def _ceil(n: int, d: int) -> int:
    return -(-n // d)


def write_cfb(streams: dict[str, bytes], storages: Iterable[str] = (), sector_shift: int = 9,
              directory_first: bool = False) -> bytes:
    """Return a compound file holding ``streams`` and ``storages``: version 3
    with 512-byte sectors, or version 4 with ``sector_shift=12``.

    Paths are "/"-separated and relative to the root; parent storages are
    created as needed.  Streams shorter than 4096 bytes go to the mini stream.
    ``directory_first`` puts the directory before the MiniFAT, so that cutting
    the file short spoils only the streams at its end.
    """
    sector_size = 1 << sector_shift
    ids_per_sector = sector_size // 4
    difat_per_sector = ids_per_sector - 1
    root = _Entry("Root Entry", _ROOT)
    for path in storages:
        _add(root, path, _STORAGE)
    for path, data in streams.items():
        _add(root, path, _STREAM, bytes(data))

    # Number entries depth-first; each storage's children form a tree.
    entries: list[_Entry] = []
    pending = [root]
    while pending:
        node = pending.pop()
        node.sid = len(entries)
        entries.append(node)
        pending.extend(node.children[k] for k in sorted(node.children, reverse=True))
    for node in entries:
        kids = [node.children[k] for k in sorted(node.children)]
        node.child = _balance(kids, 0, len(kids))

    small = [e for e in entries if e.kind == _STREAM and 0 < len(e.data) < MINI_STREAM_CUTOFF]
    large = [e for e in entries if e.kind == _STREAM and len(e.data) >= MINI_STREAM_CUTOFF]

    # Mini stream: 64-byte mini sectors chained through the MiniFAT.
    n_mini = sum(_ceil(len(e.data), MINI_SECTOR_SIZE) for e in small)
    minifat = array("I", [FREESECT]) * (_ceil(n_mini, ids_per_sector) * ids_per_sector)
    mini_stream = bytearray(n_mini * MINI_SECTOR_SIZE)
    pos = 0
    for e in small:
        count = _ceil(len(e.data), MINI_SECTOR_SIZE)
        e.start = pos
        minifat[pos:pos + count - 1] = array("I", range(pos + 1, pos + count))
        minifat[pos + count - 1] = ENDOFCHAIN
        mini_stream[pos * MINI_SECTOR_SIZE:pos * MINI_SECTOR_SIZE + len(e.data)] = e.data
        pos += count

    n_minifat = len(minifat) // ids_per_sector
    n_dir = _ceil(len(entries) * _ENTRY_SIZE, sector_size)
    n_ministream = _ceil(len(mini_stream), sector_size)
    n_data = n_minifat + n_dir + n_ministream + sum(_ceil(len(e.data), sector_size) for e in large)

    # The FAT must also cover its own sectors and the DIFAT sectors.
    n_fat = n_difat = 0
    while True:
        fat_needed = _ceil(n_data + n_fat + n_difat, ids_per_sector)
        difat_needed = _ceil(max(0, fat_needed - _HEADER_DIFAT), difat_per_sector)
        if (fat_needed, difat_needed) == (n_fat, n_difat):
            break
        n_fat, n_difat = fat_needed, difat_needed

    n_sectors = n_fat + n_difat + n_data
    fat = array("I", [FREESECT]) * (n_fat * ids_per_sector)
    fat[0:n_fat] = array("I", [FATSECT]) * n_fat
    fat[n_fat:n_fat + n_difat] = array("I", [DIFSECT]) * n_difat
    out = bytearray((1 + n_sectors) * sector_size)
    next_free = n_fat + n_difat

    def place(data: bytes | bytearray | memoryview, count: int | None = None) -> int:
        """Copy data into fresh chained sectors; return the first one."""
        nonlocal next_free
        count = _ceil(len(data), sector_size) if count is None else count
        if not count:
            return ENDOFCHAIN
        start = next_free
        fat[start:start + count - 1] = array("I", range(start + 1, start + count))
        fat[start + count - 1] = ENDOFCHAIN
        offset = (start + 1) * sector_size
        out[offset:offset + len(data)] = data
        next_free += count
        return start

    dir_start = place(b"", n_dir) if directory_first else ENDOFCHAIN
    minifat_start = place(_le(minifat))
    root.start = place(mini_stream)
    for e in large:
        e.start = place(memoryview(e.data))

    # Directory sectors; unused slots have no siblings or children.
    directory = bytearray()  # every start sector is known by now
    for e in entries:
        raw = _units(e.name) + b"\0\0"
        size = len(mini_stream) if e.kind == _ROOT else len(e.data)
        start = 0 if e.kind == _STORAGE else e.start
        directory += _DIR_ENTRY.pack(raw, len(raw), e.kind, _BLACK, e.left, e.right,
                                     e.child, b"", 0, 0, 0, start, size)
    unused = _DIR_ENTRY.pack(b"", 0, 0, 0, NOSTREAM, NOSTREAM, NOSTREAM, b"", 0, 0, 0, 0, 0)
    directory += unused * (n_dir * sector_size // _ENTRY_SIZE - len(entries))
    if directory_first:
        out[(dir_start + 1) * sector_size:(dir_start + 1 + n_dir) * sector_size] = directory
    else:
        dir_start = place(directory)
    assert next_free == n_sectors

    # FAT sectors, then DIFAT sectors listing FAT sectors beyond the 109th.
    out[sector_size:(n_fat + 1) * sector_size] = _le(fat)
    fat_ids = list(range(n_fat))
    for i in range(n_difat):
        ids = fat_ids[_HEADER_DIFAT + i * difat_per_sector:][:difat_per_sector]
        ids += [FREESECT] * (difat_per_sector - len(ids))
        ids.append(n_fat + i + 1 if i + 1 < n_difat else ENDOFCHAIN)
        offset = (n_fat + i + 1) * sector_size
        out[offset:offset + sector_size] = struct.pack(f"<{ids_per_sector}I", *ids)

    head = fat_ids[:_HEADER_DIFAT]
    head += [FREESECT] * (_HEADER_DIFAT - len(head))
    version = 3 if sector_shift == 9 else 4
    out[:512] = _HEADER.pack(
        CFB_MAGIC, b"", 0x003E, version, 0xFFFE, sector_shift, 6, b"", n_dir if version == 4 else 0,
        n_fat, dir_start, 0, MINI_STREAM_CUTOFF, minifat_start, n_minifat,
        n_fat if n_difat else ENDOFCHAIN, n_difat,
    ) + struct.pack(f"<{_HEADER_DIFAT}I", *head)
    return bytes(out)


def _le(values: array[int]) -> bytes:
    """Little-endian bytes of an array('I') of sector ids."""
    if sys.byteorder == "big":
        values = array("I", values)
        values.byteswap()
    return values.tobytes()


# --------------------------------------------------------------------------
# HWP streams and records
# --------------------------------------------------------------------------

HWPTAG_PARA_HEADER = 66
HWPTAG_PARA_TEXT = 67
HWPTAG_CTRL_HEADER = 71
HWPTAG_LIST_HEADER = 72
HWPTAG_SHAPE_COMPONENT = 76
HWPTAG_TABLE = 77
HWPTAG_SHAPE_COMPONENT_PICTURE = 85
HWPTAG_CTRL_DATA = 87
HWPTAG_EQEDIT = 88

# Single-unit control codes for para_text().
LINE_BREAK = 10
PARA_END = 13
HYPHEN = 24
NBSPACE = 30
FWSPACE = 31


def file_header(flags: int = 1, version: int = 0x05000300,
                signature: bytes = b"HWP Document File", length: int = 256) -> bytes:
    """The /FileHeader stream: 32-byte signature, u32 version, u32 flags
    (bit 0: sections are compressed), zero padding to ``length``."""
    layout = signature[:32].ljust(32, b"\0") + struct.pack("<II", version, flags)
    return (layout + bytes(max(0, length - len(layout))))[:length]


def deflate_raw(data: bytes) -> bytes:
    """Raw DEFLATE, as used for compressed HWP streams (no zlib wrapper)."""
    co = zlib.compressobj(wbits=-15)
    return co.compress(data) + co.flush()


def deflate_stream(data: bytes) -> bytes:
    """A compressed stream as the word processor writes it: raw DEFLATE
    followed by the CRC-32 and the size of the data (a gzip trailer)."""
    return deflate_raw(data) + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def record(tag: int, level: int, payload: bytes = b"", extended: bool | None = None) -> bytes:
    """One record: u32 header (tag: bits 0-9, level: 10-19, size: 20-31).
    Payloads of 4095 bytes or more store 0xFFF as size and a u32 size after."""
    if not 0 <= tag < 1024 or not 0 <= level < 1024:
        raise ValueError(f"tag {tag} / level {level} out of range")
    long = len(payload) >= 0xFFF
    if extended is False and long:
        raise ValueError("payload too long for a short record header")
    if extended or long:
        return struct.pack("<II", tag | level << 10 | 0xFFF << 20, len(payload)) + payload
    return struct.pack("<I", tag | level << 10 | len(payload) << 20) + payload


def hwp_document(sections: Sequence[bytes | None], compressed: bool = True,
                 header: bytes | None = None, extra_streams: dict[str, bytes] | None = None,
                 storages: Iterable[str] = (), **layout: object) -> bytes:
    """A whole HWP file; ``None`` in ``sections`` leaves that SectionN out.
    A path in ``storages`` replaces a default stream of the same name;
    ``layout`` goes to ``write_cfb`` (sector size, directory placement)."""
    pack = deflate_stream if compressed else bytes
    storages = list(storages)
    defaults = {
        "FileHeader": file_header(flags=1 if compressed else 0) if header is None else header,
        "DocInfo": pack(b""),
    }
    streams = {path: data for path, data in defaults.items()
               if not any(s == path or s.startswith(path + "/") for s in storages)}
    for n, body in enumerate(sections):
        if body is not None:
            streams[f"BodyText/Section{n}"] = pack(body)
    streams.update(extra_streams or {})
    return write_cfb(streams, storages, **layout)  # type: ignore[arg-type]


# ---- Distribution documents ----------------------------------------------
# The body sits in ViewText/SectionN: a DISTRIBUTE_DOC_DATA record of 256
# bytes (a seed, the AES key where the seed puts it, masked by the C
# runtime's rand() seeded with it), then the section's data, deflated when the
# document is compressed, encrypted with AES-128 in ECB mode.

HWPTAG_DISTRIBUTE_DOC_DATA = 28
DISTRIBUTION_FLAG = 0x4
PASSWORD_FLAG = 0x2


def _c_runtime_rand(seed: int) -> Iterable[int]:
    state = seed
    while True:
        state = (state * 214013 + 2531011) & 0xFFFFFFFF
        yield (state >> 16) & 0x7FFF


def mask_distribution_data(data: bytes) -> bytes:
    """XORs the 256 bytes past their 4 seed bytes with runs of one mask byte
    (each run draws its byte, then its length 1 to 16)."""
    out = bytearray(data)
    rand = _c_runtime_rand(struct.unpack_from("<I", data)[0])
    position = 0
    while position < len(out):
        mask, run = next(rand) & 0xFF, (next(rand) & 0x0F) + 1
        for index in range(position, min(position + run, len(out))):
            if index >= 4:
                out[index] ^= mask
        position += run
    return bytes(out)


def distribution_record(seed: int, key: bytes) -> bytes:
    """The masked 256-byte data of the key record: the seed, filler, and the
    key at (seed & 0x0F) + 4."""
    data = bytearray((i * 7 + 3) & 0xFF for i in range(256))
    data[:4] = struct.pack("<I", seed)
    offset = (seed & 0x0F) + 4
    data[offset:offset + 16] = key
    return mask_distribution_data(bytes(data))


def aes_ecb_encrypt(key: bytes, data: bytes) -> bytes:
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

    encryptor = Cipher(algorithms.AES(key), modes.ECB()).encryptor()
    return encryptor.update(data) + encryptor.finalize()


def view_text_stream(section: bytes, seed: int = 0x4D3D1806, key: bytes = bytes(range(1, 17)),
                     compressed: bool = True) -> bytes:
    """One ViewText/SectionN stream holding ``section``'s record data."""
    body = deflate_raw(section) if compressed else section
    body += bytes(-len(body) % 16)
    return (record(HWPTAG_DISTRIBUTE_DOC_DATA, 0, distribution_record(seed, key))
            + aes_ecb_encrypt(key, body))


def distribution_document(sections: Sequence[bytes], compressed: bool = True,
                          notice: str = "배포용 문서입니다", **kwargs: object) -> bytes:
    """A distribution document: BodyText holds only the notice, ViewText the
    sections (``view_streams`` replaces them, ``None`` for none at all)."""
    flags = DISTRIBUTION_FLAG | (1 if compressed else 0)
    views = kwargs.pop("view_streams", [view_text_stream(s, compressed=compressed) for s in sections])
    extra = {f"ViewText/Section{n}": stream for n, stream in enumerate(views or [])}
    extra.update(kwargs.pop("extra_streams", None) or {})  # type: ignore[arg-type]
    return hwp_document([para(notice)], compressed, header=file_header(flags=flags),
                        extra_streams=extra, **kwargs)  # type: ignore[arg-type]


# ---- DocInfo, binary items and summary information ------------------------
# For extra_streams: hwp_document(..., extra_streams={"DocInfo": doc_info(...),
# **bin_data_item(1, "png", data), SUMMARY_STREAM: summary_info({...})}).

HWPTAG_BIN_DATA = 18
HWPTAG_CHAR_SHAPE = 21
HWPTAG_PARA_CHAR_SHAPE = 68
# CHAR_SHAPE property bits.
CHAR_ITALIC, CHAR_BOLD, CHAR_SUPERSCRIPT, CHAR_SUBSCRIPT, CHAR_STRIKE = 1 << 0, 1 << 1, 1 << 15, 1 << 16, 1 << 18
HWPTAG_NUMBERING = 23
HWPTAG_BULLET = 24
HWPTAG_PARA_SHAPE = 25
BIN_LINK, BIN_EMBEDDING, BIN_STORAGE = 0, 1, 2
# BIN_DATA compression: as the document, always, never.
BIN_AS_DOCUMENT, BIN_COMPRESS, BIN_STORE = 0, 1, 2
HEADING_NONE, HEADING_OUTLINE, HEADING_NUMBER, HEADING_BULLET = 0, 1, 2, 3


def _counted_utf16(text: str) -> bytes:
    units = text.encode("utf-16-le")
    return struct.pack("<H", len(units) // 2) + units


def bin_data_record(item_id: int = 1, extension: str = "png", kind: int = BIN_EMBEDDING,
                    compression: int = BIN_AS_DOCUMENT, cut: int = 0,
                    paths: tuple[str, str] | None = None) -> bytes:
    """An HWPTAG_BIN_DATA record: u16 properties (kind, compression << 4);
    a link then holds two paths (absolute, relative; by default both
    C:\\pictures\\<extension>), an item its id and extension. ``cut`` drops
    that many bytes off the payload's end."""
    body = struct.pack("<H", kind | compression << 4)
    if kind == BIN_LINK:
        absolute, relative = paths or ("C:\\pictures\\" + extension,) * 2
        body += _counted_utf16(absolute) + _counted_utf16(relative)
    else:
        body += struct.pack("<H", item_id) + _counted_utf16(extension)
    return record(HWPTAG_BIN_DATA, 1, body[:len(body) - cut])


def para_shape_record(heading: int = HEADING_NONE, level: int = 0, head_id: int = 0) -> bytes:
    """An HWPTAG_PARA_SHAPE record: properties 1 (heading type at bit 23,
    level 0-6 at bit 25), the numbering or bullet id (1-based) at offset
    30, the rest of the shape zero."""
    return record(HWPTAG_PARA_SHAPE, 1, struct.pack("<I26xH20x", heading << 23 | level << 25, head_id))


def char_shape_record(properties: int = 0) -> bytes:
    """An HWPTAG_CHAR_SHAPE record: fonts, ratios, spacings, sizes and
    offsets zero, base size 10 pt, the properties, colours zero."""
    return record(HWPTAG_CHAR_SHAPE, 1, bytes(42) + struct.pack("<iI", 1000, properties) + bytes(22))


def _head_info(shape: int = 0) -> bytes:
    """A paragraph head's description: properties (number shape at bit 5),
    width adjustment, distance, character shape id."""
    return struct.pack("<IhhI", shape << 5, 0, 0, 0)


def numbering_record(levels: Sequence[tuple[str, int]], starts: Sequence[int] | None = None,
                     start: int = 0) -> bytes:
    """An HWPTAG_NUMBERING record: seven levels of (format, number shape),
    missing ones empty; the u16 start number; each level's start number
    when starts is given (newer files)."""
    levels = list(levels) + [("", 0)] * (7 - len(levels))
    body = b"".join(_head_info(shape) + _counted_utf16(fmt) for fmt, shape in levels[:7])
    body += struct.pack("<H", start)
    if starts is not None:
        body += struct.pack("<7I", *(list(starts) + [1] * (7 - len(starts))))
    return record(HWPTAG_NUMBERING, 1, body)


def bullet_record(char: str) -> bytes:
    """An HWPTAG_BULLET record: head description, the bullet character,
    picture bullet fields."""
    return record(HWPTAG_BULLET, 1, _head_info() + char.encode("utf-16-le") + bytes(10))


def section_definition(outline_numbering: int) -> bytes:
    """A paragraph holding the section definition control ("secd") that
    names its outline numbering (1-based, 0 for none)."""
    body = struct.pack("<I10xH", 0, outline_numbering) + bytes(8)
    return para(with_control("", 2, "secd")) + ctrl_header("secd", 1, body)


def doc_info(records: Iterable[bytes] = (), compressed: bool = True) -> bytes:
    """The /DocInfo stream holding the records, deflated when compressed."""
    data = b"".join(records)
    return deflate_raw(data) if compressed else data


def bin_data_item(item_id: int, extension: str, data: bytes,
                  compressed: bool = True) -> dict[str, bytes]:
    """The BinData storage's stream of one item, for extra_streams."""
    return {f"BinData/BIN{item_id:04X}.{extension}": deflate_raw(data) if compressed else data}


SUMMARY_STREAM = "\x05HwpSummaryInformation"
# The word processor's summary format id, and the common summary one.
HWP_SUMMARY_FMTID = bytes.fromhex("60b6a29f6110d411b4c6006097c09d8c")
SUMMARY_FMTID = bytes.fromhex("e0859ff2f94f6810ab9108002b27b3d9")
PID_TITLE, PID_SUBJECT, PID_AUTHOR, PID_KEYWORDS, PID_COMMENTS = 2, 3, 4, 5, 6
PID_LAST_SAVED_BY, PID_CREATED, PID_LAST_SAVED = 8, 12, 13
_FILETIME_UNIX_EPOCH = 116444736000000000  # 100 ns ticks from 1601 to 1970


def _property_value(value: object) -> bytes:
    if isinstance(value, str):  # VT_LPWSTR, length in units incl. the NUL
        units = (value + "\0").encode("utf-16-le")
        return struct.pack("<II", 31, len(units) // 2) + units
    if isinstance(value, datetime.datetime):  # VT_FILETIME
        ticks = _FILETIME_UNIX_EPOCH + round(value.timestamp() * 1_000_000) * 10
        return struct.pack("<IQ", 64, ticks)
    if isinstance(value, bytes):  # type word and value as given
        return value
    raise TypeError(f"no property type for {value!r}")


def summary_info(properties: dict[int, object], format_id: bytes = HWP_SUMMARY_FMTID,
                 offset_shift: int = 0, cut: int = 0) -> bytes:
    """A property set stream with one set: str values as VT_LPWSTR,
    datetimes as VT_FILETIME, bytes as the type word and value. Damage:
    ``offset_shift`` moves every property offset, ``cut`` drops bytes off
    the end."""
    table_end = 8 + 8 * len(properties)
    values, table = b"", b""
    for pid, value in properties.items():
        table += struct.pack("<II", pid, table_end + len(values) + offset_shift)
        values += _property_value(value)
    section = struct.pack("<II", table_end + len(values), len(properties)) + table + values
    header = struct.pack("<HHI", 0xFFFE, 0, 0x00020006) + format_id + struct.pack("<I", 1)
    stream = header + format_id + struct.pack("<I", len(header) + 20) + section
    return stream[:len(stream) - cut]


def write_document(path: str | os.PathLike[str], *args: object,
                   **kwargs: object) -> str | os.PathLike[str]:
    """Write ``hwp_document(*args, **kwargs)`` to ``path``; return ``path``."""
    with open(path, "wb") as f:
        f.write(hwp_document(*args, **kwargs))  # type: ignore[arg-type]
    return path


def ctrl_id(name: str) -> int:
    """Control id of a four-character name, first character most significant."""
    raw = name.encode("latin-1")
    if len(raw) != 4:
        raise ValueError(f"control name must be 4 characters: {name!r}")
    return int.from_bytes(raw, "big")


# ---- PARA_TEXT payloads: UTF-16LE code units, 0-31 are control codes -----

def para_text(*parts: str | bytes | int) -> bytes:
    """Join str (UTF-16LE), raw bytes and single code units (int)."""
    out = bytearray()
    for part in parts:
        if isinstance(part, str):
            out += _units(part)
        elif isinstance(part, int):
            out += struct.pack("<H", part)
        else:
            out += part
    return bytes(out)


def ctrl_char(code: int, ctrl: str | int = 0, extra: bytes = b"") -> bytes:
    """An eight-unit control: code, u32 control id, 8 extra bytes, code."""
    cid = ctrl_id(ctrl) if isinstance(ctrl, str) else ctrl
    return struct.pack("<HI", code, cid) + extra[:8].ljust(8, b"\0") + struct.pack("<H", code)


def field_start(ctrl: str = "%clk") -> bytes:
    return ctrl_char(3, ctrl)


def field_end() -> bytes:
    return ctrl_char(4, "%clk")


def tab() -> bytes:
    return ctrl_char(9, 0)


# ---- control and object records -------------------------------------------

def ctrl_header(name: str, level: int = 1, body: bytes = b"") -> bytes:
    return record(HWPTAG_CTRL_HEADER, level, struct.pack("<I", ctrl_id(name)) + body)


def clk_field_header(direction: str | None = "", modified: bool = False, level: int = 1,
                     command: str | None = None, extra_byte: int = 9) -> bytes:
    """A click-here field control.  The command string reads
    "Clickhere:set:N:Direction:wstring:K:<text> HelpState:wstring:0: " where
    K is the prompt length and N the length of everything after "N:"."""
    if command is None:
        rest = "HelpState:wstring:0: "
        if direction is not None:
            rest = f"Direction:wstring:{len(_units(direction)) // 2}:{direction} " + rest
        command = f"Clickhere:set:{len(_units(rest)) // 2}:{rest}"
    raw = _units(command)
    body = struct.pack("<IBH", 0x8000 if modified else 0, extra_byte, len(raw) // 2)
    return ctrl_header("%clk", level, body + raw + bytes(4))


def ctrl_data_name(name: str, level: int = 2, declared_len: int | None = None) -> bytes:
    """CTRL_DATA naming a field: a one-item parameter set holding a string."""
    raw = _units(name)
    n = len(raw) // 2 if declared_len is None else declared_len
    return record(HWPTAG_CTRL_DATA, level,
                  struct.pack("<HHHIH", 0x021B, 1, 0x4000, 1, n) + raw)


def eqedit(script: str, level: int = 2, declared_len: int | None = None) -> bytes:
    """EQEDIT: property, script length and text, then size, colour, baseline,
    and empty version and font-name strings."""
    raw = _units(script)
    n = len(raw) // 2 if declared_len is None else declared_len
    return record(HWPTAG_EQEDIT, level, struct.pack("<IH", 0, n) + raw
                  + struct.pack("<IIhHH", 1000, 0, 85, 0, 0))


def equation(script: str, level: int = 1, declared_len: int | None = None) -> bytes:
    return ctrl_header("eqed", level) + eqedit(script, level + 1, declared_len)


def table_record(row_sizes: Sequence[int], level: int = 2, rows: int | None = None,
                 truncate: int | None = None) -> bytes:
    """TABLE: attributes, rows, columns, spacing, four margins, one cell
    count per row (from offset 18), border-fill id."""
    n_rows = len(row_sizes) if rows is None else rows
    payload = struct.pack("<IHHH8x", 0, n_rows, max(row_sizes, default=0), 0)
    payload += struct.pack(f"<{len(row_sizes)}H", *row_sizes) + struct.pack("<H", 1)
    return record(HWPTAG_TABLE, level, payload if truncate is None else payload[:truncate])


def list_header(level: int, para_count: int = 1, col: int = 0, row: int = 0,
                col_span: int = 1, row_span: int = 1) -> bytes:
    """LIST_HEADER with cell fields from offset 8: column, row, column span,
    row span (u16 each), then zero size and margins."""
    return record(HWPTAG_LIST_HEADER, level,
                  struct.pack("<HI2xHHHH18x", para_count, 0, col, row, col_span, row_span))


CAPTION_LEFT, CAPTION_RIGHT, CAPTION_TOP, CAPTION_BOTTOM = 0, 1, 2, 3


def caption_list(paras: Sequence[str], level: int, side: int = CAPTION_BOTTOM) -> bytes:
    """A caption: LIST_HEADER whose u32 at offset 8 holds the side in its low
    two bits, then the caption's paragraphs."""
    return (record(HWPTAG_LIST_HEADER, level, struct.pack("<HI2xIIHI", len(paras), 0, side, 0, 0, 0))
            + b"".join(para(p, level) for p in paras))


def grid_table(cells: Sequence[tuple[int, int, int, int, object]], rows: int, cols: int,
               level: int = 1, caption: bytes = b"") -> bytes:
    """A "tbl " control whose cells are (row, col, row_span, col_span,
    content) in the order given; content as in ``table``."""
    out = bytearray(ctrl_header("tbl ", level) + caption)
    sizes = [sum(1 for c in cells if c[0] == r) for r in range(rows)]
    payload = struct.pack("<IHHH8x", 0, rows, cols, 0) + struct.pack(f"<{rows}H", *sizes) + b"\1\0"
    out += record(HWPTAG_TABLE, level + 1, payload)
    for row, col, row_span, col_span, content in cells:
        items = content if isinstance(content, (list, tuple)) else [content]
        out += list_header(level + 1, len(items), col, row, col_span, row_span)
        for item in items:
            out += para(item, level + 1) if isinstance(item, str) else item
    return bytes(out)


def with_control(text: str, code: int, ctrl: str, after: str = "") -> bytes:
    """Paragraph text: text, one control character, more text, end mark."""
    return para_text(text, ctrl_char(code, ctrl), after, PARA_END)


def list_control(name: str, paras: Sequence[str], level: int = 1) -> bytes:
    """A control holding one paragraph list (notes "fn  "/"en  ", page
    headers "head" and footers "foot")."""
    return (ctrl_header(name, level) + list_header(level + 1, len(paras))
            + b"".join(para(p, level + 1) for p in paras))


def hyperlink_header(command: str, level: int = 1) -> bytes:
    """A "%hlk" field control: properties, one extra byte, then the command
    string (u16 length, UTF-16), whose target ends at the first unescaped ";"."""
    raw = _units(command)
    return ctrl_header("%hlk", level, struct.pack("<IBH", 0, 0, len(raw) // 2) + raw + bytes(4))


def linked(text: str, before: str = "", after: str = "") -> bytes:
    """Paragraph text with text inside a hyperlink field."""
    return para_text(before, field_start("%hlk"), text, ctrl_char(4, "%hlk"), after, PARA_END)


def shape(kind: str, level: int, body: bytes = b"") -> bytes:
    """One shape of a group: its SHAPE_COMPONENT, then its own records one level down."""
    return shape_component(level, kind) + body


def group(children: Sequence[bytes], level: int = 1) -> bytes:
    """A "gso " control holding a container; children are built with
    ``shape(kind, level + 2, ...)`` (or nested groups' components)."""
    return ctrl_header("gso ", level) + shape_component(level + 1, "$con") + b"".join(children)


def box_text(paras: Sequence[str], level: int) -> bytes:
    """A text box's paragraph list at level."""
    return list_header(level, len(paras)) + b"".join(para(p, level) for p in paras)


def para(text_payload: bytes | str | None, level: int = 0, shape: int = 0, style: int = 0,
         char_shapes: Sequence[tuple[int, int]] = ()) -> bytes:
    """PARA_HEADER (``shape``: the paragraph shape id at offset 8,
    ``style``: the style id at 10), then PARA_TEXT one level deeper unless
    text is None, then PARA_CHAR_SHAPE's (position, shape id) pairs when given."""
    if isinstance(text_payload, str):
        text_payload = para_text(text_payload, PARA_END)
    units = len(text_payload) // 2 if text_payload is not None else 0
    out = record(HWPTAG_PARA_HEADER, level, struct.pack("<IIHB11x", units, 0, shape, style))
    if text_payload is not None:
        out += record(HWPTAG_PARA_TEXT, level + 1, text_payload)
    if char_shapes:
        out += record(HWPTAG_PARA_CHAR_SHAPE, level + 1, b"".join(struct.pack("<II", *pair) for pair in char_shapes))
    return out


def table(rows: Sequence[Sequence[object]], level: int = 1,
          row_sizes: Sequence[int] | None = None, caption: bytes | None = None) -> bytes:
    """A "tbl " control.  Cells: str -> one paragraph, bytes -> records as
    given, list -> each item in turn."""
    sizes = [len(r) for r in rows] if row_sizes is None else row_sizes
    out = bytearray(ctrl_header("tbl ", level))
    out += caption or b""
    out += table_record(sizes, level + 1)
    for r, cells in enumerate(rows):
        for c, cell in enumerate(cells):
            items = cell if isinstance(cell, (list, tuple)) else [cell]
            out += list_header(level + 1, len(items), c, r)
            for item in items:
                if isinstance(item, str):
                    out += para(item, level + 1)
                elif isinstance(item, (bytes, bytearray)):
                    out += item
                else:
                    raise TypeError(f"unsupported table cell item: {item!r}")
    return bytes(out)


def shape_component(level: int, kind: str = "$pic") -> bytes:
    """SHAPE_COMPONENT: the shape's control id twice, then zeroed geometry."""
    cid = ctrl_id(kind)
    return record(HWPTAG_SHAPE_COMPONENT, level, struct.pack("<II40x", cid, cid))


def picture_record(level: int, size: int = 73, item: int = 0) -> bytes:
    """SHAPE_COMPONENT_PICTURE; ``item`` is the BinData id (u16 at 71)."""
    payload = bytearray(size)
    if size >= 73:
        payload[71:73] = struct.pack("<H", item)
    return record(HWPTAG_SHAPE_COMPONENT_PICTURE, level, bytes(payload))


def _caption(level: int, caption: Sequence[str]) -> bytes:
    if not caption:
        return b""
    return list_header(level, len(caption)) + b"".join(para(t, level) for t in caption)


def picture(level: int = 1, caption: Sequence[str] = (), size: int = 73, item: int = 0) -> bytes:
    """A "gso " control holding a picture, with optional caption paragraphs."""
    return (ctrl_header("gso ", level) + _caption(level + 1, caption)
            + shape_component(level + 1) + picture_record(level + 2, size, item))


def text_box(paras: Sequence[str], level: int = 1, caption: Sequence[str] = (), as_char: bool = False) -> bytes:
    """A "gso " control holding a rectangle with a text box; ``as_char``:
    the object stands in the line like a character (properties bit 0)."""
    return (ctrl_header("gso ", level, struct.pack("<I", 1 if as_char else 0)) + _caption(level + 1, caption)
            + shape_component(level + 1, "$rec") + list_header(level + 2, len(paras))
            + b"".join(para(p, level + 2) for p in paras))
