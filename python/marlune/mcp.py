"""An MCP server that lets an assistant read the HWP and HWPX documents on disk.

    marlune mcp [--root DIR ...] [--max-bytes N]
    python -m marlune.mcp [--root DIR ...]

Served over stdio with the official Python SDK (``pip install "marlune[mcp]"``).
Tools: ``list_documents``, ``read_document`` (the faithful Markdown, paged),
``document_metadata`` and ``document_images``. Only regular files under the
roots (default: the working directory) are served: a path is resolved
(symlinks, ``..``) before the check, opened without following a final
symlink, and the opened file's own path checked again, so a link swapped in
between is refused too. Nothing is written to disk. Conversions run in worker
threads (the core releases the interpreter lock); a document that cannot be
read is an error result for that call alone.
"""

from __future__ import annotations

import argparse
import collections
import contextlib
import os
import stat
import sys
import threading
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from datetime import datetime, timezone
from pathlib import Path
from typing import Any, Literal

try:
    from mcp.server.mcpserver import Image, MCPServer
    from mcp.server.mcpserver.exceptions import ToolError
except ImportError as error:
    from marlune._api import missing_extra

    raise missing_extra("marlune.mcp", "the MCP Python SDK", "mcp") from error

import marlune
from marlune._api import plain_metadata, read

DOCUMENT_SUFFIXES = (".hwp", ".hwpx")
DEFAULT_MAX_BYTES = 256 * 1024 * 1024
LISTED_AT_MOST = 1000
SCANNED_AT_MOST = 200_000
# Media types an MCP client can show as an image; other pictures are listed.
SHOWN_MEDIA_TYPES = {"image/png", "image/jpeg", "image/gif", "image/webp"}
IMAGE_BYTES_AT_MOST = 16 * 1024 * 1024

INSTRUCTIONS = """\
Reads Korean word-processor documents (HWP 5.0 .hwp, HWPX .hwpx) from the user's disk as Markdown:
tables keep their cells, footnotes come as Markdown footnotes, equations as LaTeX.
Use list_documents to find files, read_document to read one (long documents come in pages:
call again with the next offset the reply gives), document_metadata for title, author and dates,
and document_images to look at the pictures."""


@dataclass
class Library:
    """The folders the server may read from, and what it remembers of recent conversions."""

    roots: list[Path]
    max_bytes: int = DEFAULT_MAX_BYTES
    _recent: collections.OrderedDict[tuple[Any, ...], str] = field(default_factory=collections.OrderedDict)
    _lock: threading.Lock = field(default_factory=threading.Lock)

    def under_root(self, path: Path) -> bool:
        return any(path == root or path.is_relative_to(root) for root in self.roots)

    def resolve(self, given: str) -> Path:
        """The real path of a document the caller names, relative paths
        against the first root; a ToolError unless it lies under a root."""
        if not given or "\0" in given:
            raise ToolError("give the path of an .hwp or .hwpx file")
        candidate = Path(os.path.expanduser(given))
        if not candidate.is_absolute():
            candidate = self.roots[0] / candidate
        resolved = Path(os.path.realpath(candidate))
        if not self.under_root(resolved):
            raise ToolError(f"{given}: outside the folders this server may read ({self.roots_text()})")
        return resolved

    def roots_text(self) -> str:
        return ", ".join(str(root) for root in self.roots)

    def shown(self, path: Path) -> str:
        """A path as the tools report it: relative to the first root when under it."""
        with contextlib.suppress(ValueError):
            return str(path.relative_to(self.roots[0]))
        return str(path)

    @contextlib.contextmanager
    def opened(self, given: str) -> Iterator[tuple[Path, int, os.stat_result]]:
        """The document opened for reading: its real path, descriptor and status."""
        path = self.resolve(given)
        if path.suffix.lower() not in DOCUMENT_SUFFIXES:
            raise ToolError(f"{given}: not an HWP or HWPX document (.hwp, .hwpx)")
        try:
            fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NOFOLLOW | os.O_NONBLOCK)
        except OSError as error:
            raise ToolError(f"{given}: cannot open: {error.strerror or error}") from None
        try:
            # What was opened, not what was checked: a component swapped for a
            # symlink since the check shows here.
            with contextlib.suppress(OSError):
                if not self.under_root(Path(os.readlink(f"/proc/self/fd/{fd}"))):
                    raise ToolError(f"{given}: outside the folders this server may read ({self.roots_text()})")
            status = os.fstat(fd)
            if not stat.S_ISREG(status.st_mode):
                raise ToolError(f"{given}: not a regular file")
            if status.st_size > self.max_bytes:
                raise ToolError(f"{given}: {status.st_size} bytes, over this server's limit of {self.max_bytes}")
            yield path, fd, status
        finally:
            os.close(fd)

    def document_bytes(self, given: str) -> tuple[Path, os.stat_result, bytes]:
        with self.opened(given) as (path, fd, status):
            with os.fdopen(os.dup(fd), "rb") as stream:
                data = stream.read(self.max_bytes + 1)
        if len(data) > self.max_bytes:
            raise ToolError(f"{given}: over this server's limit of {self.max_bytes} bytes")
        return path, status, data

    def markdown(self, given: str, options: dict[str, Any]) -> str:
        """The document's faithful Markdown; the last few are kept, so that
        reading a long document page by page converts it once."""
        path, status, data = self.document_bytes(given)
        key = (str(path), status.st_size, status.st_mtime_ns, tuple(sorted(options.items())))
        with self._lock:
            if key in self._recent:
                self._recent.move_to_end(key)
                return self._recent[key]
        markdown = converted(given, lambda: marlune.convert(data, **options))
        with self._lock:
            self._recent[key] = markdown
            while len(self._recent) > 8:
                self._recent.popitem(last=False)
        return markdown


def converted[T](given: str, conversion: Any) -> T:
    """A conversion's result, or a ToolError carrying the document's error."""
    try:
        return conversion()
    except (RuntimeError, ValueError) as error:
        raise ToolError(f"{given}: {error}") from None


def page_end(markdown: str, offset: int, max_chars: int) -> int:
    """Where a page starting at offset ends: at most max_chars on, at the
    last line break in the page's final fifth when there is one."""
    end = min(len(markdown), offset + max_chars)
    if end == len(markdown):
        return end
    newline = markdown.rfind("\n", offset + max_chars * 4 // 5, end)
    return newline + 1 if newline >= 0 else end


def page_note(offset: int, end: int, total: int) -> str:
    if end >= total:
        return f"[characters {offset}–{end} of {total}: the end of the document]"
    return (f"[characters {offset}–{end} of {total}: more follows; "
            f"call read_document again with offset={end}]")


def modified_text(seconds: float) -> str:
    return datetime.fromtimestamp(seconds, timezone.utc).isoformat(timespec="seconds").replace("+00:00", "Z")


def list_under(library: Library, directory: str, pattern: str) -> dict[str, Any]:
    folder = library.resolve(directory)
    if not folder.is_dir():
        raise ToolError(f"{directory}: not a folder")
    found: list[tuple[str, int, float]] = []
    scanned = 0
    try:
        for candidate in folder.glob(pattern):
            scanned += 1
            if scanned > SCANNED_AT_MOST:
                break
            if candidate.suffix.lower() not in DOCUMENT_SUFFIXES:
                continue
            real = Path(os.path.realpath(candidate))
            if not library.under_root(real):
                continue
            with contextlib.suppress(OSError):
                status = real.stat()
                if stat.S_ISREG(status.st_mode):
                    found.append((library.shown(real), status.st_size, status.st_mtime))
    except (ValueError, NotImplementedError) as error:  # a pattern glob refuses
        raise ToolError(f"{pattern}: {error}") from None
    found = sorted(set(found))
    documents = [{"path": path, "size": size, "modified": modified_text(mtime)}
                 for path, size, mtime in found[:LISTED_AT_MOST]]
    return {"folder": str(folder), "documents": documents, "count": len(found),
            "truncated": len(found) > LISTED_AT_MOST or scanned > SCANNED_AT_MOST}


def build_server(library: Library) -> MCPServer:
    server = MCPServer("marlune", instructions=INSTRUCTIONS, version=marlune.__version__)

    @server.tool()
    def list_documents(directory: str = ".", pattern: str = "**/*.hwp*") -> dict[str, Any]:
        """Lists HWP and HWPX documents under a folder the server may read.

        directory: a folder, relative to the server's first root or absolute under a root.
        pattern: a glob relative to the folder ("**/*.hwp*" searches every subfolder).
        Returns each document's path (give it to the other tools), size in bytes and
        modification time, sorted by path, at most 1000 ("truncated" tells if there were more)."""
        return list_under(library, directory, pattern)

    @server.tool(structured_output=False)
    def read_document(path: str, tables: Literal["auto", "html", "pipe"] = "auto", notes: bool = True,
                      headers: bool = False, equations: Literal["latex", "script"] = "latex",
                      offset: int = 0, max_chars: int = 50000) -> list[str]:
        """Reads an HWP or HWPX document as Markdown, one page of text at a time.

        tables: "auto" (pipe tables, HTML where cells are merged or nested), "html" or "pipe".
        notes: footnotes and endnotes as Markdown footnotes. headers: also page headers and footers.
        equations: "latex" (as $...$ / $$...$$) or "script" (the editor's own equation script).
        offset, max_chars: the page; a long document is read with repeated calls, each
        starting at the offset the previous reply gives as next."""
        if offset < 0 or max_chars < 1:
            raise ToolError("offset must be 0 or more and max_chars at least 1")
        options = {"tables": tables, "notes": notes, "headers": headers}
        if CONVERT_TAKES_EQUATIONS:
            options["equations"] = equations
        markdown = library.markdown(path, options)
        offset = min(offset, len(markdown))
        end = page_end(markdown, offset, max_chars)
        return [markdown[offset:end], page_note(offset, end, len(markdown))]

    @server.tool()
    def document_metadata(path: str) -> dict[str, Any]:
        """What an HWP or HWPX document says about itself: title, subject, author, keywords,
        created and modified (ISO 8601), sections, format and version, each when present."""
        _path, _status, data = library.document_bytes(path)
        _markdown, metadata = converted(path, lambda: read(data))
        return plain_metadata(metadata)

    @server.tool(structured_output=False)
    def document_images(path: str, max_images: int = 8) -> list[Any]:
        """The pictures stored in an HWP or HWPX document, in document order, as images
        (PNG, JPEG, GIF, WebP; at most max_images). Pictures in other formats, or beyond
        the limit, are listed by name, type and size."""
        if max_images < 0:
            raise ToolError("max_images must be 0 or more")
        _path, _status, data = library.document_bytes(path)
        images = converted(path, lambda: marlune.parse(data).images)
        shown: list[Any] = []
        listed: list[str] = []
        for image in images:
            showable = image.media_type in SHOWN_MEDIA_TYPES and len(image.data) <= IMAGE_BYTES_AT_MOST
            if showable and len(shown) < max_images:
                shown.append(Image(data=image.data, format=image.media_type.removeprefix("image/")))
                listed.append(f"- {image.name} ({image.media_type}, {len(image.data)} bytes): shown")
            else:
                listed.append(f"- {image.name} ({image.media_type}, {len(image.data)} bytes)")
        summary = f"{len(images)} pictures in {path}" + (":\n" + "\n".join(listed) if listed else ".")
        return [summary, *shown]

    return server


def _convert_takes_equations() -> bool:
    import inspect

    return "equations" in inspect.signature(marlune.convert).parameters


CONVERT_TAKES_EQUATIONS = _convert_takes_equations()


def build_parser(prog: str = "marlune mcp") -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=prog, description="Serve HWP and HWPX documents to an assistant over MCP (stdio).")
    parser.add_argument("--root", action="append", metavar="DIR",
                        help="a folder whose documents may be read (repeatable; default: the working directory)")
    parser.add_argument("--max-bytes", type=int, default=DEFAULT_MAX_BYTES, metavar="N",
                        help=f"largest document served, in bytes (default {DEFAULT_MAX_BYTES})")
    return parser


def library_from(args: argparse.Namespace, parser: argparse.ArgumentParser) -> Library:
    roots = []
    for given in args.root or [os.curdir]:
        root = Path(os.path.realpath(given))
        if not root.is_dir():
            parser.error(f"--root {given}: not a folder")
        roots.append(root)
    if args.max_bytes < 1:
        parser.error("--max-bytes must be at least 1")
    return Library(roots, args.max_bytes)


def main(argv: Sequence[str] | None = None, prog: str = "marlune mcp") -> int:
    parser = build_parser(prog)
    library = library_from(parser.parse_args(argv), parser)
    build_server(library).run("stdio")
    return 0


if __name__ == "__main__":
    sys.exit(main(prog="python -m marlune.mcp"))
