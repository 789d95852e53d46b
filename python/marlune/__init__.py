"""HWP 5.0 documents to Markdown."""

from marlune._marlune import hwp_debug_records, hwp_to_markdown

__all__ = ["hwp_to_markdown", "hwp_debug_records"]
