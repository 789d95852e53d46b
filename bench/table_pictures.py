"""Counts picture links written inside tables by the faithful conversion.

A picture inside a table is a Markdown image (``![``) on a pipe-table line or
an ``<img`` / ``![`` between ``<table>`` and ``</table>``. Prints one line per
document with any, then the totals, for each table mode asked.

    python bench/table_pictures.py DIR [DIR ...] [--tables auto,pipe,html]
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

import marlune

_PICTURE = re.compile(r"!\[|<img\b")


def pictures_in_tables(markdown: str) -> int:
    count = 0
    depth = 0
    for line in markdown.split("\n"):
        opened = line.count("<table>")
        if depth > 0 or opened or line.startswith("|"):
            count += len(_PICTURE.findall(line))
        depth = max(0, depth + opened - line.count("</table>"))
    return count


def documents(folders: list[str]) -> list[Path]:
    found: list[Path] = []
    for folder in folders:
        found += sorted(p for p in Path(folder).rglob("*") if p.suffix.lower() in (".hwp", ".hwpx"))
    return found


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("folders", nargs="+")
    parser.add_argument("--tables", default="auto")
    parser.add_argument("-v", "--verbose", action="store_true")
    arguments = parser.parse_args()
    paths = documents(arguments.folders)
    for mode in arguments.tables.split(","):
        total = with_any = 0
        for path in paths:
            try:
                markdown = marlune.convert(path, tables=mode)
            except RuntimeError:
                continue
            count = pictures_in_tables(markdown)
            total += count
            with_any += count > 0
            if count and arguments.verbose:
                print(f"{count:6d}  {path}")
        print(f"tables={mode}: {total} picture links inside tables in {with_any} of {len(paths)} documents")
    return 0


if __name__ == "__main__":
    sys.exit(main())
