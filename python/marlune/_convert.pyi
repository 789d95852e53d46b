import os
from typing import Literal

def convert(
    source: str | os.PathLike[str] | os.PathLike[bytes] | bytes | bytearray | memoryview,
    /,
    tables: Literal["auto", "html", "pipe"] = "auto",
    notes: bool = True,
    headers: bool = False,
    equations: Literal["latex", "script"] = "latex",
    emphasis: bool = True,
    placeholders: bool = True,
) -> str:
    """Converts an HWP or HWPX document (a path, or its bytes) and returns its
    Markdown only; the document's properties and pictures are not read. The
    interpreter lock is released while converting."""

def parse(
    source: str | os.PathLike[str] | os.PathLike[bytes] | bytes | bytearray | memoryview,
    /,
    *,
    tables: Literal["auto", "html", "pipe"] = "auto",
    notes: bool = True,
    headers: bool = False,
    collect_images: bool = False,
    image_prefix: str = "",
    metadata: bool = True,
    equations: Literal["latex", "script"] = "latex",
    emphasis: bool = True,
    placeholders: bool = True,
) -> tuple[str, dict[str, str | int], list[tuple[str, str, bytes]]]:
    """Converts an HWP or HWPX document (a path, or its bytes) and returns
    (markdown, metadata, images): metadata with times as integer microseconds
    since the epoch, images as (name, media_type, data) tuples (empty unless
    collect_images). The interpreter lock is released while converting."""

def texts(
    source: str | os.PathLike[str] | os.PathLike[bytes] | bytes | bytearray | memoryview,
    /,
    *,
    tables: Literal["auto", "html", "pipe"] = "auto",
    notes: bool = True,
    headers: bool = False,
    collect_images: bool = False,
    image_prefix: str = "",
    metadata: bool = True,
    equations: Literal["latex", "script"] = "latex",
    emphasis: bool = True,
    placeholders: bool = True,
) -> list[str]:
    """The text pieces the document's tree holds (paragraph texts cut at note
    marks, picture captions) from the parts the options render: what a reader
    of the Markdown must see. For tests."""

def equation_to_latex(script: str, /) -> str:
    """The equation editor's script as LaTeX, on one line."""

def _set_streamed_section_bytes(size: int, /) -> int:
    """For tests: compressed HWP sections stored in at least size bytes are
    walked as they inflate (0: every one); returns the size it replaces."""

def _set_hwpx_run_bytes(size: int, /) -> int:
    """For tests: HWPX sections are parsed in runs of about size bytes, a
    larger element as a skeleton whose rest is parsed as it is walked;
    returns the size it replaces."""
