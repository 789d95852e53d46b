"""HWP 5.0 and HWPX documents to Markdown.

``convert``/``parse``: the faithful conversion (real table structure, notes,
links, pictures, metadata, equations as LaTeX), run without the interpreter lock.
``equation_to_latex``: the equation translator on its own.
``hwp_to_markdown``/``hwp_debug_records``: the exact conversion, unchanged.
Framework integrations live in ``marlune.langchain``, ``marlune.llama_index``
and ``marlune.dask``, imported only when asked for.
"""

from importlib.metadata import PackageNotFoundError, version

from marlune._api import Document, Image, convert, equation_to_latex, parse
from marlune._marlune import hwp_debug_records, hwp_to_markdown

try:
    __version__ = version("marlune")
except PackageNotFoundError:  # running from a source tree
    __version__ = "0+unknown"

__all__ = ["convert", "parse", "equation_to_latex", "Document", "Image", "hwp_to_markdown", "hwp_debug_records"]
