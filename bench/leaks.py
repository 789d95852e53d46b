"""Memory over repeated conversions: RSS must stay flat.

    python bench/leaks.py [--dir DIR] [--passes 200] [--damaged] [--max-growth-kib 2048]

Converts every document of the corpus folder (each distinct content once;
.md and .tsv files are not documents) with hwp_to_markdown and
hwp_debug_records, ``--passes`` times over in this one process, and prints
the resident set size (VmRSS from /proc/self/status) after the first pass
and after passes 50, 100 and 200 (scaled to ``--passes``).

Documents the module refuses (not a compound file, password, ...) are kept:
their error paths must not leak either.  ``--damaged`` adds damaged copies of
each document (cut in half, cut past the header sector, a FAT entry of the
first section set to free) so that more error paths run.

The exit status is 1 when RSS grew by more than ``--max-growth-kib`` between
the first checkpoint after warm-up (pass 50) and the last pass.
"""

from __future__ import annotations

import argparse
import hashlib
import struct
import sys
import tempfile
import time
from pathlib import Path

from marlune import hwp_debug_records, hwp_to_markdown

ROOT = Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"


def rss_kib() -> int:
    with open("/proc/self/status", encoding="ascii") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS line in /proc/self/status")


def corpus_files(folder: Path) -> list[Path]:
    seen: set[str] = set()
    files = []
    for path in sorted(folder.rglob("*")):
        if not path.is_file() or path.suffix.lower() in (".md", ".tsv"):
            continue
        digest = hashlib.sha256(path.read_bytes()).hexdigest()
        if digest not in seen:
            seen.add(digest)
            files.append(path)
    return files


def damaged_copies(files: list[Path], out: Path) -> list[Path]:
    """A few damaged copies of each document, written under ``out``."""
    copies = []
    for i, path in enumerate(files):
        data = path.read_bytes()
        variants = [data[:len(data) // 2], data[:513]]
        if len(data) >= 1024 and data[:8] == b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
            # The first FAT sector's entry for sector 1 (often a stream's
            # second sector) set to free: a chain that stops in the middle.
            first_fat = struct.unpack_from("<I", data, 76)[0]
            offset = (first_fat + 1) * 512 + 4
            if offset + 4 <= len(data):
                broken = bytearray(data)
                struct.pack_into("<I", broken, offset, 0xFFFFFFFF)
                variants.append(bytes(broken))
        for k, variant in enumerate(variants):
            copy = out / f"{i:04d}-{k}.hwp"
            copy.write_bytes(variant)
            copies.append(copy)
    return copies


def one_pass(paths: list[str]) -> tuple[int, int]:
    """Convert every path with both functions; count results and errors."""
    results = errors = 0
    for path in paths:
        for function in (hwp_to_markdown, hwp_debug_records):
            try:
                function(path)
                results += 1
            except RuntimeError:
                errors += 1
    return results, errors


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dir", type=Path, default=CORPUS, help="corpus folder (default: %(default)s)")
    parser.add_argument("--passes", type=int, default=200)
    parser.add_argument("--damaged", action="store_true", help="also convert damaged copies")
    parser.add_argument("--max-growth-kib", type=int, default=2048)
    args = parser.parse_args()

    if not args.dir.is_dir():
        print(f"corpus folder not found: {args.dir}", file=sys.stderr)
        return 2
    files = corpus_files(args.dir)
    with tempfile.TemporaryDirectory(prefix="marlune-leaks-") as scratch:
        extra = damaged_copies(files, Path(scratch)) if args.damaged else []
        paths = [str(p) for p in files + extra]
        checkpoints = sorted({1, *(args.passes * k // 4 for k in (1, 2, 4))} - {0})

        print(f"{len(files)} documents" + (f" + {len(extra)} damaged copies" if extra else "")
              + f", both functions, {args.passes} passes")
        print(f"RSS before the first pass: {rss_kib()} KiB")
        figures: dict[int, int] = {}
        started = time.monotonic()
        for n in range(1, args.passes + 1):
            results, errors = one_pass(paths)
            if n in checkpoints:
                figures[n] = rss_kib()
                print(f"after pass {n:4d}: RSS {figures[n]:7d} KiB   "
                      f"({results} results, {errors} RuntimeError per pass, "
                      f"{time.monotonic() - started:.1f}s)", flush=True)

    warm = figures[min(k for k in figures if k > 1)] if len(figures) > 1 else figures[1]
    growth = figures[max(figures)] - warm
    print(f"growth from pass {min(k for k in figures if k > 1) if len(figures) > 1 else 1} "
          f"to pass {max(figures)}: {growth:+d} KiB "
          f"(first pass to last: {figures[max(figures)] - figures[1]:+d} KiB)")
    if growth > args.max_growth_kib:
        print(f"RSS grew by more than {args.max_growth_kib} KiB", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
