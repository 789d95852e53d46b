"""A fingerprint of the faithful conversion over folders of documents, to
tell whether a change moved any output byte.

    python scripts/faithful-snapshot.py OUT.tsv FOLDER...        # record
    python scripts/faithful-snapshot.py OUT.tsv FOLDER... --compare OLD.tsv

Per document (every .hwp and .hwpx below each folder), three runs: the
defaults; headers, notes and HTML tables; and parse() with the pictures'
bytes collected. Each gives the SHA-256 of its Markdown (or of the error
text) and, for parse(), of the metadata and of every picture's name, media
type and bytes. With --compare, the documents whose line differs are
listed and the exit status is 1 when there are any.
"""

from __future__ import annotations

import argparse
import hashlib
import sys
from pathlib import Path

import marlune
from marlune import _convert


def digest(*parts: object) -> str:
    h = hashlib.sha256()
    for part in parts:
        h.update(part if isinstance(part, bytes) else repr(part).encode("utf-8", "surrogatepass"))
        h.update(b"\0")
    return h.hexdigest()[:24]


def outcome(function, *args, **kwargs) -> str:
    try:
        return digest(function(*args, **kwargs))
    except (RuntimeError, ValueError) as error:
        return "error:" + digest(str(error))


def parsed(path: str) -> str:
    markdown, metadata, images = _convert.parse(path, collect_images=True)
    return digest(markdown, sorted(metadata.items(), key=repr), *(b for item in images for b in item))


def fingerprint(path: str) -> str:
    return "\t".join((
        outcome(marlune.convert, path),
        outcome(marlune.convert, path, tables="html", headers=True, notes=True),
        outcome(parsed, path),
    ))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("folders", nargs="+")
    parser.add_argument("--compare")
    args = parser.parse_args()
    rows = {}
    for folder in args.folders:
        for path in sorted(Path(folder).rglob("*")):
            if path.is_file() and path.suffix.lower() in (".hwp", ".hwpx"):
                rows[str(path)] = fingerprint(str(path))
    Path(args.out).write_text("".join(f"{path}\t{line}\n" for path, line in rows.items()), encoding="utf-8")
    print(f"{len(rows)} documents fingerprinted")
    if not args.compare:
        return 0
    old = {}
    for line in Path(args.compare).read_text(encoding="utf-8").splitlines():
        path, rest = line.split("\t", 1)
        old[path] = rest
    differing = sorted(p for p in rows.keys() | old.keys() if rows.get(p) != old.get(p))
    for path in differing:
        print(f"differs: {path}")
    print(f"{len(differing)} of {len(rows)} documents differ")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
