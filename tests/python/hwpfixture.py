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

Only the standard library is used.
"""

from __future__ import annotations

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
    pack = deflate_raw if compressed else bytes
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


def list_header(level: int, para_count: int = 1, col: int = 0, row: int = 0) -> bytes:
    """LIST_HEADER with cell fields: address, 1x1 span, zero size/margins."""
    return record(HWPTAG_LIST_HEADER, level,
                  struct.pack("<HIHHHH18x", para_count, 0, col, row, 1, 1))


def para(text_payload: bytes | str | None, level: int = 0) -> bytes:
    """PARA_HEADER, then PARA_TEXT one level deeper unless text is None."""
    if isinstance(text_payload, str):
        text_payload = para_text(text_payload, PARA_END)
    units = len(text_payload) // 2 if text_payload is not None else 0
    out = record(HWPTAG_PARA_HEADER, level, struct.pack("<II14x", units, 0))
    if text_payload is not None:
        out += record(HWPTAG_PARA_TEXT, level + 1, text_payload)
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


def picture_record(level: int, size: int = 73) -> bytes:
    return record(HWPTAG_SHAPE_COMPONENT_PICTURE, level, bytes(size))


def _caption(level: int, caption: Sequence[str]) -> bytes:
    if not caption:
        return b""
    return list_header(level, len(caption)) + b"".join(para(t, level) for t in caption)


def picture(level: int = 1, caption: Sequence[str] = (), size: int = 73) -> bytes:
    """A "gso " control holding a picture, with optional caption paragraphs."""
    return (ctrl_header("gso ", level) + _caption(level + 1, caption)
            + shape_component(level + 1) + picture_record(level + 2, size))


def text_box(paras: Sequence[str], level: int = 1, caption: Sequence[str] = ()) -> bytes:
    """A "gso " control holding a rectangle with a text box."""
    return (ctrl_header("gso ", level) + _caption(level + 1, caption)
            + shape_component(level + 1, "$rec") + list_header(level + 2, len(paras))
            + b"".join(para(p, level + 2) for p in paras))
