"""Synthetic HWP 3.0 files, built from the layout the reader expects.

Paragraphs compose as byte strings: ``document(p("text", TAB, "more"))``.
Characters are encoded with Python's own KS X 1001 codecs (``johab`` for
Hangul, ``euc_kr`` for symbols and Hanja), independently of the reader's
tables. ``document`` writes the header, summary and body, compressed
(raw DEFLATE) or not, with the extra blocks after the paragraph list.
"""

from __future__ import annotations

import struct
import zlib

SIGNATURE = b"HWP Document File V3.00 \x1a\x01\x02\x03\x04\x05"
HEADER_BYTES = 30 + 128 + 1008  # signature, document information, summary
CHAR_SHAPE = bytes(31)
PARA_SHAPE = bytes(187)
LINE_INFO = bytes(14)


def hchar(c: str) -> int:
    """The 16-bit code of one character."""
    if ord(c) < 0x80:
        return ord(c)
    if 0xAC00 <= ord(c) <= 0xD7A3:
        high, low = c.encode("johab")
        return high << 8 | low
    lead, trail = c.encode("euc_kr")
    if lead >= 0xCA:
        return 0x4000 + (lead - 0xCA) * 94 + (trail - 0xA1)
    return 0x3400 + (lead - 0xA1) * 96 + (trail - 0xA0)


def units(text: str) -> bytes:
    return b"".join(struct.pack("<H", hchar(c)) for c in text)


def code(value: int) -> bytes:
    """A character given by its code (unmapped codes, quotes)."""
    return struct.pack("<H", value)


def _ident(code_value: int, value: int = 0) -> bytes:
    return struct.pack("<HIH", code_value, value, code_value)


TAB = struct.pack("<H", 9) + bytes(6)
TIED_SPACE = struct.pack("<HH", 30, 0)
PARAGRAPH_END = struct.pack("<H", 13)


def outline(level: int, number: bool = True) -> bytes:
    """An outline shape or number mark (64 bytes); level counts from 0."""
    data = bytearray(64)
    struct.pack_into("<HHBB", data, 0, 28, 1 if number else 0, 1, level)
    return bytes(data)
END_OF_LIST = bytes(1) + struct.pack("<HH", 0, 0) + bytes(7) + CHAR_SHAPE


def paragraph(*items: bytes | str) -> bytes:
    """A paragraph of text pieces and special characters (bytes)."""
    chars = b"".join(units(x) if isinstance(x, str) else x for x in items) + PARAGRAPH_END
    # Special characters count their fixed part only; what they hold
    # (marked by the _Held wrapper) is not counted.
    counted = sum(len(x) if not isinstance(x, _Held) else x.counted for x in items
                  if not isinstance(x, str)) + sum(2 * len(x) for x in items if isinstance(x, str)) + 2
    header = struct.pack("<BHHBBIB", 0, counted // 2, 1, 0, 0, 0, 0) + CHAR_SHAPE
    return header + PARA_SHAPE + LINE_INFO + chars


p = paragraph


class _Held(bytes):
    """A special character's bytes, of which only the first `counted` count."""
    counted: int

    def __new__(cls, data: bytes, counted: int):
        obj = super().__new__(cls, data)
        obj.counted = counted
        return obj


def paragraph_list(*paragraphs: bytes) -> bytes:
    return b"".join(paragraphs) + END_OF_LIST


def cell(col: int, row: int, x: int, y: int, width: int, height: int, *paragraphs: bytes) -> tuple[bytes, bytes]:
    info = struct.pack("<BBHHHHH", col, row, 0, x, y, width, height).ljust(27, b"\0")
    return info, paragraph_list(*(paragraphs or (p(""),)))


def box(cells: list[tuple[bytes, bytes]], kind: int = 0, caption: list[bytes] | None = None,
        hypertext: bool = False) -> _Held:
    """A table (kind 0), text box (1), equation (2) or button (3); a
    hypertext is a button whose target is in the hyperlink block."""
    info = bytearray(84)
    struct.pack_into("<H", info, 14, 0x10 if hypertext else 0)
    struct.pack_into("<HH", info, 78, kind, len(cells))
    data = (_ident(10) + bytes(info) + b"".join(c[0] for c in cells) + b"".join(c[1] for c in cells)
            + paragraph_list(*(caption or [])))
    return _Held(data, 8)


def grid(rows: list[list[str]], size: int = 1000) -> list[tuple[bytes, bytes]]:
    """Cells of a plain grid, one per slot."""
    return [cell(c, r, c * size, r * size, size, size, p(text)) for r, row in enumerate(rows)
            for c, text in enumerate(row)]


def note(*paragraphs: bytes, endnote: bool = False) -> _Held:
    info = bytearray(14)
    struct.pack_into("<H", info, 10, 1 if endnote else 0)
    return _Held(_ident(17) + bytes(info) + paragraph_list(*paragraphs), 8)


def header_footer(*paragraphs: bytes, footer: bool = False) -> _Held:
    info = bytearray(10)
    info[8] = 1 if footer else 0
    return _Held(_ident(16) + bytes(info) + paragraph_list(*paragraphs), 8)


def hidden_comment(*paragraphs: bytes) -> _Held:
    return _Held(_ident(15) + bytes(8) + paragraph_list(*paragraphs), 8)


def picture(name: str, caption: list[bytes] | None = None, linked: bool = False, extra: bytes = b"",
            kind: int | None = None) -> _Held:
    """A picture: embedded (kind 2), linked (0) or drawing objects (3)."""
    info = bytearray(348)
    struct.pack_into("<I", info, 0, len(extra))
    info[74] = kind if kind is not None else 0 if linked else 2
    encoded = name.encode("euc_kr")
    info[83:83 + len(encoded)] = encoded
    return _Held(_ident(11) + bytes(info) + extra + paragraph_list(*(caption or [])), 8)


def drawing(*objects: list[bytes] | None) -> _Held:
    """Drawing objects, each a text box holding paragraphs, or a plain shape (None)."""
    data = struct.pack("<I", 24) + bytes(24)
    for paragraphs in objects:
        header = bytearray(120)
        struct.pack_into("<I", header, 84, 1 << 19 if paragraphs is not None else 0)
        data += struct.pack("<I", len(header)) + bytes(header)
        if paragraphs is not None:
            body = paragraph_list(*paragraphs)
            data += struct.pack("<II", 0, len(body)) + body
        data += struct.pack("<II", 0, 0)
    return picture("", extra=data, kind=3)


def picture_block(name: str, data: bytes) -> bytes:
    body = name.encode("ascii").ljust(16, b"\0") + b"".ljust(16, b"\0") + data
    return struct.pack("<II", 1, len(body)) + body


def hypertext(text: str) -> _Held:
    return box([cell(0, 0, 0, 0, 100, 100, p(text))], kind=3, hypertext=True)


def hyperlink_block(*targets: tuple[str, str]) -> bytes:
    """Targets as (file or address, bookmark), in the order of the hypertexts."""
    entries = b"".join(file.encode("euc_kr").ljust(256, b"\0") + units(bookmark).ljust(32, b"\0") + bytes(329)
                       for file, bookmark in targets)
    return struct.pack("<II", 3, len(entries)) + entries


def summary(title: str = "", subject: str = "", author: str = "", keywords: str = "") -> bytes:
    fields = [title, subject, author, "", keywords, "", "", "", ""]
    return b"".join(units(f).ljust(112, b"\0")[:112] for f in fields)


def document(*paragraphs: bytes, compressed: bool = True, blocks: list[bytes] | None = None,
             password: bool = False, meta: bytes | None = None, fonts: int = 1, styles: int = 1) -> bytes:
    info = bytearray(128)
    struct.pack_into("<H", info, 96, 1 if password else 0)
    info[124] = 1 if compressed else 0
    fonts_part = b"".join(struct.pack("<H", fonts) + bytes(40 * fonts) for _ in range(7))
    styles_part = struct.pack("<H", styles) + bytes(238 * styles)
    extra = b"".join(blocks or []) + bytes(8)
    body = fonts_part + styles_part + paragraph_list(*paragraphs) + extra
    if compressed:
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        body = packer.compress(body) + packer.flush()
    return SIGNATURE + bytes(info) + (meta if meta is not None else summary()) + body
