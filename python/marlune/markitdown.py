"""A MarkItDown plugin: HWP and HWPX documents through marlune's faithful conversion.

    pip install "marlune[markitdown]"
    markitdown --use-plugins report.hwp
    MarkItDown(enable_plugins=True).convert("report.hwpx")

MarkItDown finds ``register_converters`` through the ``markitdown.plugin``
entry point. Documents are recognised by extension, media type or content (a
compound file holding an HWP file header, an HWPX package's ``mimetype``
entry, the HWP 3.0 signature). Options for ``marlune.convert`` go in
``marlune_options`` (``MarkItDown(enable_plugins=True,
marlune_options={"tables": "html"})`` or per call); the result's title is the
document's own.
"""

from __future__ import annotations

import struct
import zlib
from typing import Any, BinaryIO

try:
    from markitdown import (DocumentConverter, DocumentConverterResult, FileConversionException, MarkItDown,
                            StreamInfo)
except ImportError as error:
    from marlune._api import missing_extra

    raise missing_extra("marlune.markitdown", "MarkItDown", "markitdown") from error

from marlune._api import read

__plugin_interface_version__ = 1

EXTENSIONS = (".hwp", ".hwpx")
MEDIA_TYPES = ("application/x-hwp", "application/haansofthwp", "application/vnd.hancom.hwp",
               "application/hwp+zip", "application/vnd.hancom.hwpx", "application/x-hwpx")
COMPOUND_FILE_SIGNATURE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
HWP_FILE_HEADER = b"HWP Document File"
# An HWPX package stores its media type first: the zip entry "mimetype"
# holding "application/hwp+zip", stored (most packages) or deflated.
HWPX_MEDIA_TYPE = b"application/hwp+zip"
# How much of a compound file is searched for the HWP file header's stream;
# a small document keeps it in its first sectors, and a file named .hwp needs no search.
SNIFFED_AT_MOST = 4 * 1024 * 1024


def looks_like_hwp(head: bytes) -> bool:
    """Content that marlune reads: an HWP 5.0 compound file, an HWPX package
    or an HWP 3.0 file."""
    if head.startswith(HWP_FILE_HEADER):
        return True
    if head.startswith(b"PK\x03\x04"):
        return first_zip_entry(head) == (b"mimetype", HWPX_MEDIA_TYPE)
    if head.startswith(COMPOUND_FILE_SIGNATURE):
        return HWP_FILE_HEADER in head and "FileHeader".encode("utf-16-le") in head
    return False


def first_zip_entry(head: bytes) -> tuple[bytes, bytes]:
    """The name and the first bytes of the zip archive's first entry (its
    local header: method at 8, name and extra lengths at 26 and 28)."""
    if len(head) < 30:
        return b"", b""
    method, = struct.unpack_from("<H", head, 8)
    name_length, extra_length = struct.unpack_from("<HH", head, 26)
    name = head[30:30 + name_length]
    data = head[30 + name_length + extra_length:][:1024]
    if method == 8:
        try:
            data = zlib.decompressobj(-15).decompress(data, len(HWPX_MEDIA_TYPE))
        except zlib.error:
            return name, b""
    return name, data[:len(HWPX_MEDIA_TYPE)]


def _named_as_hwp(stream_info: StreamInfo) -> bool:
    extension = (stream_info.extension or "").lower()
    media_type = (stream_info.mimetype or "").lower()
    return extension in EXTENSIONS or media_type.startswith(MEDIA_TYPES)


class HwpConverter(DocumentConverter):
    """Converts HWP 5.0, HWPX and HWP 3.0 documents with ``marlune.convert``."""

    def __init__(self, options: dict[str, Any] | None = None) -> None:
        self.options = dict(options or {})

    def accepts(self, file_stream: BinaryIO, stream_info: StreamInfo, **kwargs: Any) -> bool:
        if _named_as_hwp(stream_info):
            return True
        position = file_stream.tell()
        try:
            return looks_like_hwp(file_stream.read(SNIFFED_AT_MOST))
        finally:
            file_stream.seek(position)

    def convert(self, file_stream: BinaryIO, stream_info: StreamInfo, **kwargs: Any) -> DocumentConverterResult:
        options = {**self.options, **(kwargs.get("marlune_options") or {})}
        try:
            markdown, metadata = read(file_stream.read(), **options)
        except RuntimeError as error:
            raise FileConversionException(f"marlune: {error}") from error
        return DocumentConverterResult(markdown=markdown, title=metadata.get("title") or None)


def register_converters(markitdown: MarkItDown, **kwargs: Any) -> None:
    """Called by MarkItDown when plugins are enabled."""
    markitdown.register_converter(HwpConverter(kwargs.get("marlune_options")))
