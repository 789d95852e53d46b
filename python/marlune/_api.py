"""The faithful conversion for people and pipelines: ``convert`` and ``parse``,
and the ``Document`` and ``Image`` they return."""

from __future__ import annotations

import os
import re
from dataclasses import dataclass
from datetime import datetime, timedelta, timezone
from typing import Any, Literal

from marlune import _convert
from marlune._files import write_atomically

type Source = str | os.PathLike[str] | os.PathLike[bytes] | bytes | bytearray | memoryview
type TableMode = Literal["auto", "html", "pipe"]
type EquationMode = Literal["latex", "script"]
type ImageFolder = str | os.PathLike[str] | os.PathLike[bytes] | None
# What the extension module returns: Markdown, metadata with times as
# microseconds since the epoch, (name, media type, bytes) of each picture.
type RawDocument = tuple[str, dict[str, Any], list[tuple[str, str, bytes]]]

_EPOCH = datetime(1970, 1, 1, tzinfo=timezone.utc)
_TIME_KEYS = ("created", "modified")


@dataclass(frozen=True)
class Image:
    """A picture stored in the document: its name, its media type from the
    content, and its bytes. The name is the one stored (``BIN0001.jpg``) made
    a safe file name: its last path component only, without control
    characters, at most 100 bytes of UTF-8, never empty (``image-3.png``),
    unique in the document (``a-2.png``); the Markdown's links use it too."""

    name: str
    media_type: str
    data: bytes


@dataclass(frozen=True)
class Document:
    """A converted document.

    ``metadata`` holds what the document says about itself: ``title``,
    ``subject``, ``author``, ``keywords``, ``comments``, ``last_saved_by``
    (str), ``created`` and ``modified`` (``datetime`` in UTC), each only when
    present, and always ``sections`` (int), ``version`` and ``format``
    (``"hwp"``, ``"hwpx"`` or ``"hwp3"``); ``distribution`` (``True``) for an
    HWP 5.0 distribution document, read from its encrypted body; for HWP 3.0
    also ``unmapped_characters`` (int), the characters with no Unicode
    character, written as U+FFFD."""

    markdown: str
    metadata: dict[str, Any]
    images: list[Image]


def metadata_values(raw: dict[str, Any]) -> dict[str, Any]:
    """Times from microseconds since the epoch to aware datetimes; a time
    outside datetime's range is left out."""
    for key in _TIME_KEYS:
        if key in raw:
            try:
                raw[key] = _EPOCH + timedelta(microseconds=raw[key])
            except OverflowError:
                del raw[key]
    return raw


# Characters that would end or break a Markdown link target, and the escaped
# bytes of a file name that is not UTF-8.
_LINK_UNSAFE = re.compile(r"[%\s()<>\[\]\\\udc80-\udcff]")


def _percent_encoded(match: re.Match[str]) -> str:
    return "".join(f"%{byte:02X}" for byte in match.group().encode("utf-8", "surrogateescape"))


def link_target(path: str) -> str:
    """A path as a Markdown link target: what would break the link (white
    space, brackets, parentheses, backslash, %) and bytes that are not UTF-8
    percent-encoded."""
    return _LINK_UNSAFE.sub(_percent_encoded, path)


def _is_file_name(name: str) -> bool:
    """A name that stays inside its folder: one component, not a dot entry."""
    return name not in ("", ".", "..") and "/" not in name and "\0" not in name


def write_images(folder: str, images: list[tuple[str, str, bytes]]) -> None:
    """Writes each picture into folder (created if missing) under its name
    (one safe file name, unique in the document). A picture that cannot be
    written raises RuntimeError naming it and the folder; no part of it is
    left behind."""
    for name, _media_type, _data in images:
        if not _is_file_name(name):
            raise RuntimeError(f"picture name {name!r} is not a file name; nothing written")
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError as error:
        raise _write_error(images[0][0] if images else None, folder, error) from error
    for name, _media_type, data in images:
        try:
            write_atomically(os.path.join(folder, name), data)
        except OSError as error:
            raise _write_error(name, folder, error) from error


def _write_error(name: str | None, folder: str, error: OSError) -> RuntimeError:
    reason = error.strerror or str(error)
    if name is None:
        return RuntimeError(f"cannot create the picture folder {folder!r}: {reason}")
    return RuntimeError(f"cannot write picture {name!r} into {folder!r}: {reason}")


def run(source: Source, options: dict[str, Any], *, collect: bool, folder: str | None = None,
        link_prefix: str = "") -> RawDocument:
    """One conversion: the Markdown, the raw metadata and the pictures (when
    collected); with a folder, the pictures are written there and their links
    start with link_prefix."""
    if folder is None:
        return _convert.parse(source, **options, collect_images=collect)
    converted = _convert.parse(source, **options, collect_images=True, image_prefix=link_prefix)
    write_images(folder, converted[2])
    return converted


def _run(source: Source, images: ImageFolder, collect: bool, **options: Any) -> RawDocument:
    """A conversion whose pictures, with a folder given, go there and are
    linked by the folder's path."""
    if images is None:
        return run(source, options, collect=collect)
    folder = os.fsdecode(os.fspath(images))
    return run(source, options, collect=collect, folder=folder, link_prefix=link_target(os.path.join(folder, "")))


def read(source: Source, **options: Any) -> tuple[str, dict[str, Any]]:
    """The Markdown and the metadata, as ``parse`` gives them, without
    collecting the pictures' bytes (for the framework integrations)."""
    markdown, metadata, _ = _run(source, options.pop("images", None), False, **options)
    return markdown, metadata_values(metadata)


def plain_metadata(metadata: dict[str, Any]) -> dict[str, Any]:
    """Metadata with times as ISO 8601 strings: serialisable as JSON and
    accepted by every framework's metadata store."""
    return {key: value.isoformat() if isinstance(value, datetime) else value for key, value in metadata.items()}


def missing_extra(module: str, framework: str, extra: str) -> ImportError:
    """The error an integration raises when its framework is not installed."""
    return ImportError(f'{module} needs {framework}: pip install "marlune[{extra}]"')


def convert(source: Source, *, tables: TableMode = "auto", notes: bool = True, headers: bool = False,
            images: ImageFolder = None, equations: EquationMode = "latex", emphasis: bool = True,
            placeholders: bool = True) -> str:
    """Converts an HWP 5.0, HWPX or HWP 3.0 document to Markdown with its table
    structure, notes, links and pictures kept.

    ``source`` is a path (``str`` or ``os.PathLike``) or the document's bytes
    (``bytes``, ``bytearray``, ``memoryview``). ``tables``: ``"auto"`` (pipe
    tables, HTML where cells are merged or nested), ``"html"`` or ``"pipe"``.
    ``notes``: footnotes and endnotes as Markdown footnotes. ``headers``: page
    headers, footers and master pages, each once. ``images``: a folder the
    pictures are written to (created if missing); the links then point into it.
    ``equations``: ``"latex"`` (the equation editor's scripts translated to
    LaTeX, ``$…$`` inside text, ``$$`` blocks alone in a paragraph) or
    ``"script"`` (the scripts as written).
    ``emphasis``: bold, italic and strike-through as Markdown, superscript and
    subscript as HTML; ``False`` writes the text plain.
    ``placeholders``: click-here fields nobody filled in show their guide text,
    as the form does; ``False`` leaves them out.

    The conversion runs without the interpreter lock, so threads convert in
    parallel. A document that cannot be read raises ``RuntimeError`` with the
    same text as ``hwp_to_markdown``; a wrong argument type ``TypeError``, an
    unknown ``tables`` or ``equations`` value ``ValueError``."""
    # The Markdown only: the document's properties are not even read.
    if images is None:
        return _convert.convert(source, tables=tables, notes=notes, headers=headers, equations=equations,
                                emphasis=emphasis, placeholders=placeholders)
    return _run(source, images, False, tables=tables, notes=notes, headers=headers, metadata=False,
                equations=equations, emphasis=emphasis, placeholders=placeholders)[0]


def parse(source: Source, *, tables: TableMode = "auto", notes: bool = True, headers: bool = False,
          images: ImageFolder = None, equations: EquationMode = "latex", emphasis: bool = True,
          placeholders: bool = True) -> Document:
    """Converts like ``convert`` and returns a ``Document``: the Markdown, the
    document's metadata and its pictures' bytes (also written to ``images``
    when a folder is given)."""
    markdown, metadata, items = _run(source, images, True, tables=tables, notes=notes, headers=headers,
                                     equations=equations, emphasis=emphasis, placeholders=placeholders)
    return Document(markdown, metadata_values(metadata), [Image(*item) for item in items])


def equation_to_latex(script: str) -> str:
    """An equation editor script (``{a} over {b}``, ``sqrt x``, ``LEFT ( x
    RIGHT )``) as LaTeX (``\\frac{a}{b}``) on one line, as ``convert`` writes
    equations; an empty string for a script that shows nothing. What cannot be
    read as structure is kept as the characters it is, so the LaTeX renders."""
    return _convert.equation_to_latex(script)
