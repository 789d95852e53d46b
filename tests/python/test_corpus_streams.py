"""Opt-in: every stream of every document in the shared corpora reads
byte-identical through our compound-file reader and through olefile, an
independent reader. Run with ``make check-streams`` (which builds the stream
dump tool and sets MARLUNE_CFB_DUMP to it)."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

from conftest import REPO_ROOT

olefile = pytest.importorskip("olefile")
DUMP = os.environ.get("MARLUNE_CFB_DUMP")
pytestmark = pytest.mark.skipif(not DUMP, reason="set MARLUNE_CFB_DUMP (make check-streams)")


def our_streams(path: Path) -> dict[str, bytes | str]:
    """Stream path -> bytes, or the error text; "" -> error for the file."""
    out = subprocess.run([DUMP, str(path)], capture_output=True, check=True).stdout
    streams: dict[str, bytes | str] = {}
    pos = 0
    while pos < len(out):
        end = out.index(b"\n", pos)
        fields = out[pos:end].decode("utf-8", "surrogateescape").split("\t")
        pos = end + 1
        if fields[0] == "error":
            return {"": fields[1]}
        name = fields[0].lstrip("/")
        if fields[1] == "error":
            streams[name] = fields[2]
            continue
        size = int(fields[1])
        streams[name] = out[pos:pos + size]
        pos += size
    return streams


def olefile_streams(path: Path) -> dict[str, bytes | str]:
    try:
        ole = olefile.OleFileIO(str(path))
    except Exception as error:  # olefile raises OSError or its own errors
        return {"": f"{type(error).__name__}: {error}"}
    streams: dict[str, bytes | str] = {}
    with ole:
        for parts in ole.listdir(streams=True, storages=False):
            name = "/".join(parts)
            try:
                streams[name] = ole.openstream(parts).read()
            except Exception as error:
                streams[name] = f"{type(error).__name__}: {error}"
    return streams


@pytest.mark.parametrize("folder", ["corpus", "corpus-diverse"])
def test_every_stream_matches_olefile(folder: str) -> None:
    root = REPO_ROOT.parent / "shared" / folder
    if not root.is_dir():
        pytest.skip(f"{root} not present")
    files = sorted(p for p in root.rglob("*") if p.is_file() and p.suffix.lower() == ".hwp")
    compared = 0
    mismatches: list[str] = []
    notes: list[str] = []
    for path in files:
        ours, theirs = our_streams(path), olefile_streams(path)
        label = path.relative_to(root).as_posix()
        if "" in ours or "" in theirs:
            if ours.keys() != theirs.keys():
                notes.append(f"{label}: ours {ours.get('', 'opens')!r}, olefile {theirs.get('', 'opens')!r}")
            continue
        if ours.keys() != theirs.keys():
            mismatches.append(f"{label}: stream lists differ: {sorted(ours.keys() ^ theirs.keys())}")
        for name in ours.keys() & theirs.keys():
            a, b = ours[name], theirs[name]
            if isinstance(a, bytes) and isinstance(b, bytes):
                compared += 1
                if a != b:
                    mismatches.append(f"{label}: {name}: {len(a)} bytes here, {len(b)} in olefile")
            elif isinstance(a, bytes) != isinstance(b, bytes):
                notes.append(f"{label}: {name}: ours {a if isinstance(a, str) else 'reads'}, "
                             f"olefile {b if isinstance(b, str) else 'reads'}")
    print(f"\n{folder}: {len(files)} files, {compared} streams identical, {len(notes)} notes")
    for note in notes:
        print("  note:", note)
    assert not mismatches, "\n".join(mismatches)
