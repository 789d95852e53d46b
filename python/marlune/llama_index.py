"""A LlamaIndex reader for HWP and HWPX documents.

``MarluneReader`` gives one ``Document`` per file: the faithful Markdown as
text, the document's metadata (times as ISO 8601 strings) with ``extra_info``
on top. It reads through ``fs`` when one is given, and holds only plain
attributes, so it pickles for ``SimpleDirectoryReader(num_workers=…)``:

    SimpleDirectoryReader("archive", file_extractor={".hwp": MarluneReader(), ".hwpx": MarluneReader()})

Options (``tables``, ``equations``, ``notes``, ``headers``, ``images``) go to
``marlune.convert`` unchanged. Needs ``pip install "marlune[llama-index]"``.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Any

try:
    from llama_index.core.readers.base import BaseReader
    from llama_index.core.schema import Document
except ImportError as error:
    from marlune._api import missing_extra

    raise missing_extra("marlune.llama_index", "LlamaIndex", "llama-index") from error

from marlune._api import plain_metadata, read


class MarluneReader(BaseReader):
    """Reads HWP and HWPX files; failures raise ``RuntimeError`` with the
    reader's text (``SimpleDirectoryReader(raise_on_error=…)`` decides)."""

    def __init__(self, **options: Any) -> None:
        self.options = options

    def load_data(self, file: str | os.PathLike[str], extra_info: dict[str, Any] | None = None,
                  fs: Any = None) -> list[Document]:
        if fs is not None:
            with fs.open(os.fspath(file), "rb") as stream:
                markdown, metadata = read(stream.read(), **self.options)
        else:
            markdown, metadata = read(Path(file), **self.options)
        return [Document(text=markdown, metadata={**plain_metadata(metadata), **(extra_info or {})})]
