"""LangChain document loaders for HWP and HWPX documents.

``MarluneLoader`` reads paths; ``MarluneParser`` parses blobs for
``GenericLoader`` and other blob loaders, from their bytes (no temporary
file). Each yields one ``Document`` per file: the faithful Markdown, and
metadata holding ``source`` and the document's own metadata (times as ISO
8601 strings). Options (``tables``, ``equations``, ``notes``, ``headers``, ``images``) go to
``marlune.convert`` unchanged. Needs ``pip install "marlune[langchain]"``.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator
from typing import Any, Literal

try:
    from langchain_core.document_loaders import BaseBlobParser, BaseLoader
    from langchain_core.document_loaders import Blob
    from langchain_core.documents import Document
except ImportError as error:
    from marlune._api import missing_extra

    raise missing_extra("marlune.langchain", "LangChain", "langchain") from error

from marlune._api import Source, plain_metadata, read

type OnError = Literal["raise", "skip"]


def _checked(on_error: str) -> OnError:
    if on_error not in ("raise", "skip"):
        raise ValueError(f"on_error must be 'raise' or 'skip', not {on_error!r}")
    return on_error  # type: ignore[return-value]


def _documents(data: Source, source: str, on_error: OnError, options: dict[str, Any]) -> Iterator[Document]:
    """The one Document of a file, or nothing when it fails and failures are skipped."""
    try:
        markdown, metadata = read(data, **options)
    except RuntimeError:
        if on_error == "skip":
            return
        raise
    yield Document(page_content=markdown, metadata={"source": source, **plain_metadata(metadata)})


class MarluneLoader(BaseLoader):
    """Loads HWP and HWPX files: ``file_path`` a path or an iterable of paths,
    read one at a time as documents are asked for. ``on_error="skip"`` leaves
    out a file that cannot be read instead of raising its ``RuntimeError``."""

    def __init__(self, file_path: str | os.PathLike[str] | Iterable[str | os.PathLike[str]], *,
                 on_error: OnError = "raise", **options: Any) -> None:
        self.file_path = file_path
        self.on_error = _checked(on_error)
        self.options = options

    def _paths(self) -> Iterable[str | os.PathLike[str]]:
        if isinstance(self.file_path, (str, bytes, os.PathLike)):
            return [self.file_path]
        return self.file_path

    def lazy_load(self) -> Iterator[Document]:
        for path in self._paths():
            yield from _documents(path, os.fsdecode(path), self.on_error, self.options)


class MarluneParser(BaseBlobParser):
    """Parses blobs holding HWP or HWPX documents (``GenericLoader``,
    ``FileSystemBlobLoader`` …) from ``blob.as_bytes()``."""

    def __init__(self, *, on_error: OnError = "raise", **options: Any) -> None:
        self.on_error = _checked(on_error)
        self.options = options

    def lazy_parse(self, blob: Blob) -> Iterator[Document]:
        yield from _documents(blob.as_bytes(), str(blob.source), self.on_error, self.options)
