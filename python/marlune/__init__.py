"""HWP 5.0 documents to Markdown."""

from importlib.metadata import PackageNotFoundError, version

from marlune._marlune import hwp_debug_records, hwp_to_markdown

try:
    __version__ = version("marlune")
except PackageNotFoundError:  # running from a source tree
    __version__ = "0+unknown"

__all__ = ["hwp_to_markdown", "hwp_debug_records"]
