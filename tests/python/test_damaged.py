"""Damaged copies of real documents: whatever is broken, both functions must
return (a str, a list of records) or raise RuntimeError, in a child process
that ends normally and answers within a time limit.

Each document of the corpus folder is damaged in a fixed, seeded way:

* truncated: cut at 1/8 .. 7/8 of its length, just past the header sector,
  after the first sector, one byte short;
* container bytes: random bytes changed anywhere, in the header, and in the
  FAT, MiniFAT and directory sectors;
* section bytes: a section inflated, bytes or record headers changed or the
  records cut short, then compressed again and the container rebuilt; the
  compressed data itself cut or changed;
* sections swapped: Section0 and Section1 exchanged, Section0 dropped,
  emptied, replaced by DocInfo, stored the other way than the FileHeader
  says;
* chains broken: one FAT or MiniFAT entry of a chain (a section, the
  FileHeader, the directory, the mini stream, the MiniFAT) set to free, end
  of chain, itself, the chain's start, a FAT sector mark, past the end of the
  file or of the table; a FAT sector listed in the header moved;
* directory broken: the entries of Section0, the FileHeader, the root and
  BodyText given wrong sizes, start sectors and types, or child and sibling
  links that loop or point outside the directory.

The copies are written under tmp_path and converted in batches by a worker
process that prints one line per file; a file that kills the worker or does
not answer in time is reported and the batch goes on after it.  Rebuilding a
document from its own streams, undamaged, must give the same results as the
original: that keeps the container reader below honest.
"""

from __future__ import annotations

import hashlib
import os
import random
import re
import selectors
import signal
import struct
import subprocess
import sys
import time
import zlib
from array import array
from collections.abc import Callable, Iterator
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

import pytest

import hwpfixture as hf
from conftest import corpus_path

# --------------------------------------------------------------------------
# A small compound-file reader, enough to find and damage the parts
# --------------------------------------------------------------------------

MAXREGSECT = 0xFFFFFFFA          # larger sector ids are marks, not sectors
_STORAGE, _STREAM, _ROOT = 1, 2, 5
_SECTION = re.compile(r"BodyText/Section(\d+)")


class ContainerError(ValueError):
    """The bytes are not a compound file this reader can walk."""


@dataclass
class Entry:
    name: str
    kind: int
    left: int
    right: int
    child: int
    start: int
    size: int
    index: int


@dataclass
class Container:
    """Header fields, the FAT and MiniFAT, the directory tree by path."""

    data: bytes
    sector_size: int = 0
    cutoff: int = 0
    dir_start: int = 0
    minifat_start: int = 0
    fat_sectors: list[int] = field(default_factory=list)
    difat_sectors: list[int] = field(default_factory=list)
    fat: array = field(default_factory=lambda: array("I"))
    minifat: array = field(default_factory=lambda: array("I"))
    minifat_sectors: list[int] = field(default_factory=list)
    dir_sectors: list[int] = field(default_factory=list)
    entries: list[Entry] = field(default_factory=list)
    paths: dict[str, Entry] = field(default_factory=dict)
    mini_stream: bytes = b""

    @classmethod
    def parse(cls, data: bytes) -> Container:
        c = cls(data)
        if len(data) < 512 or data[:8] != hf.CFB_MAGIC:
            raise ContainerError("no compound-file signature")
        shift, mini_shift = struct.unpack_from("<HH", data, 30)
        if shift not in (9, 12) or mini_shift != 6:
            raise ContainerError(f"sector shifts {shift}/{mini_shift}")
        c.sector_size = 1 << shift
        (n_fat, c.dir_start, _, c.cutoff, c.minifat_start, n_minifat,
         difat_start, n_difat) = struct.unpack_from("<8I", data, 44)

        # FAT sectors: 109 in the header, the rest in chained DIFAT sectors.
        listed = list(struct.unpack_from("<109I", data, 76))
        sid = difat_start
        for _ in range(n_difat):
            if sid >= MAXREGSECT or sid in c.difat_sectors:
                raise ContainerError("broken DIFAT chain")
            c.difat_sectors.append(sid)
            ids = c._ids(sid)
            listed += ids[:-1]
            sid = ids[-1]
        c.fat_sectors = listed[:n_fat]
        if len(c.fat_sectors) < n_fat or any(s >= MAXREGSECT for s in c.fat_sectors):
            raise ContainerError("FAT sectors missing")
        for s in c.fat_sectors:
            c.fat.extend(c._ids(s))

        c.dir_sectors = c.chain(c.dir_start)
        directory = b"".join(c.sector(s) for s in c.dir_sectors)
        for off in range(0, len(directory) - 127, 128):
            raw = directory[off:off + 128]
            name_len, kind = struct.unpack_from("<HB", raw, 64)
            left, right, child = struct.unpack_from("<III", raw, 68)
            start, size = struct.unpack_from("<IQ", raw, 116)
            if c.sector_size == 512:
                size &= 0xFFFFFFFF
            name = raw[:max(0, min(name_len, 64) - 2)].decode("utf-16-le", "surrogatepass")
            c.entries.append(Entry(name, kind, left, right, child, start, size, len(c.entries)))
        if not c.entries or c.entries[0].kind != _ROOT:
            raise ContainerError("no root entry")

        root = c.entries[0]
        c.mini_stream = b"".join(c.sector(s) for s in c.chain(root.start))[:root.size]
        if n_minifat:
            c.minifat_sectors = c.chain(c.minifat_start)
            for s in c.minifat_sectors:
                c.minifat.extend(c._ids(s))
        c._walk("", root.child, set())
        return c

    def _ids(self, sid: int) -> array:
        ids = array("I", self.sector(sid))
        if sys.byteorder == "big":
            ids.byteswap()
        return ids

    def sector(self, sid: int) -> bytes:
        offset = (sid + 1) * self.sector_size
        if sid >= MAXREGSECT or offset + self.sector_size > len(self.data):
            raise ContainerError(f"sector {sid} outside the file")
        return self.data[offset:offset + self.sector_size]

    def chain(self, start: int, mini: bool = False) -> list[int]:
        table = self.minifat if mini else self.fat
        out: list[int] = []
        seen: set[int] = set()
        sid = start
        while sid != hf.ENDOFCHAIN:
            if sid >= len(table) or sid in seen:
                raise ContainerError(f"broken chain from {start}")
            seen.add(sid)
            out.append(sid)
            sid = table[sid]
        return out

    def _walk(self, prefix: str, top: int, seen: set[int]) -> None:
        pending = [top]
        while pending:
            i = pending.pop()
            if i == hf.NOSTREAM:
                continue
            if i >= len(self.entries) or i in seen:
                raise ContainerError("broken directory tree")
            seen.add(i)
            e = self.entries[i]
            pending += [e.left, e.right]
            path = f"{prefix}/{e.name}" if prefix else e.name
            self.paths[path] = e
            if e.kind == _STORAGE:
                self._walk(path, e.child, seen)

    def is_mini(self, e: Entry) -> bool:
        return e.size < self.cutoff

    def stream(self, path: str) -> bytes:
        e = self.paths[path]
        if e.kind != _STREAM:
            raise ContainerError(f"{path} is not a stream")
        if e.size == 0:
            return b""
        if self.is_mini(e):
            m = self.mini_stream
            data = b"".join(m[s * 64:s * 64 + 64] for s in self.chain(e.start, mini=True))
        else:
            data = b"".join(self.sector(s) for s in self.chain(e.start))
        if len(data) < e.size:
            raise ContainerError(f"{path} shorter than its size")
        return data[:e.size]

    def streams(self) -> dict[str, bytes]:
        return {p: self.stream(p) for p, e in self.paths.items() if e.kind == _STREAM}

    def storages(self) -> list[str]:
        return [p for p, e in self.paths.items() if e.kind == _STORAGE]

    def entry_offset(self, e: Entry) -> int:
        """File offset of a directory entry."""
        per = self.sector_size // 128
        return (self.dir_sectors[e.index // per] + 1) * self.sector_size + e.index % per * 128

    def fat_entry_offset(self, sid: int, mini: bool = False) -> int:
        """File offset of the FAT (or MiniFAT) entry that says what follows sid."""
        per = self.sector_size // 4
        index, within = divmod(sid, per)
        holder = (self.minifat_sectors if mini else self.fat_sectors)[index]
        return (holder + 1) * self.sector_size + within * 4

    def structure_ranges(self) -> list[tuple[int, int]]:
        """Header, FAT, DIFAT, MiniFAT and directory sectors, as byte ranges."""
        ss = self.sector_size
        ranges = [(0, 512)]
        for s in self.fat_sectors + self.difat_sectors + self.minifat_sectors + self.dir_sectors:
            ranges.append(((s + 1) * ss, (s + 2) * ss))
        return ranges


# --------------------------------------------------------------------------
# The corpus, read once
# --------------------------------------------------------------------------

@dataclass
class Doc:
    name: str                          # path under the corpus folder
    digest: str
    data: bytes
    container: Container | None = None
    streams: dict[str, bytes] = field(default_factory=dict)
    storages: list[str] = field(default_factory=list)
    compressed: bool = False
    sections: list[str] = field(default_factory=list)      # in number order
    inflated: dict[str, bytes] = field(default_factory=dict)

    @property
    def label(self) -> str:
        return f"{self.digest[:10]}:{self.name}"


def load_doc(path: Path, root: Path) -> Doc:
    data = path.read_bytes()
    doc = Doc(str(path.relative_to(root)), hashlib.sha256(data).hexdigest(), data)
    try:
        doc.container = Container.parse(data)
        doc.streams = doc.container.streams()
        doc.storages = doc.container.storages()
    except ContainerError:
        doc.container = None
        return doc
    header = doc.streams.get("FileHeader", b"")
    doc.compressed = len(header) >= 40 and bool(header[36] & 1)
    numbered = sorted((int(m.group(1)), p) for p in doc.streams if (m := _SECTION.fullmatch(p)))
    doc.sections = [p for _, p in numbered]
    for p in doc.sections:
        raw = doc.streams[p]
        if not doc.compressed:
            doc.inflated[p] = raw
            continue
        try:
            inflater = zlib.decompressobj(-15)
            doc.inflated[p] = inflater.decompress(raw) + inflater.flush()
        except zlib.error:
            pass
    return doc


@pytest.fixture(scope="module")
def corpus_docs() -> list[Doc]:
    root = corpus_path()
    seen: set[str] = set()
    docs = []
    for path in sorted(root.rglob("*")):
        if not path.is_file() or path.suffix.lower() in (".md", ".tsv"):
            continue
        doc = load_doc(path, root)
        if doc.digest not in seen:
            seen.add(doc.digest)
            docs.append(doc)
    assert docs, f"no documents under {root}"
    return docs


# --------------------------------------------------------------------------
# Running files through both functions in a child process
# --------------------------------------------------------------------------

# One line per file: index, then each function's outcome: "str:<digest>",
# "list:<digest>", "RuntimeError", or "bad:<what>".  Address space is capped
# so that runaway allocation fails inside the module instead of the machine
# (not under AddressSanitizer, which reserves far more address space).
WORKER = r"""
import hashlib, os, resource, sys
if "ASAN_OPTIONS" not in os.environ and "san" not in os.environ.get("LD_PRELOAD", ""):
    limit = 4 << 30
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
from marlune import hwp_debug_records, hwp_to_markdown

def outcome(function, path):
    try:
        result = function(path)
    except RuntimeError as error:
        if type(error) is not RuntimeError:
            return "bad:" + type(error).__name__
        return "RuntimeError"
    except BaseException as error:
        return "bad:" + type(error).__name__ + ":" + repr(str(error))[:200].replace(" ", "_")
    if function is hwp_to_markdown:
        if type(result) is not str:
            return "bad:returned-" + type(result).__name__
        return "str:" + hashlib.sha1(result.encode("utf-8", "surrogatepass")).hexdigest()[:16]
    if type(result) is not list or not all(
            type(r) is tuple and len(r) == 3 and all(type(v) is int for v in r) for r in result):
        return "bad:records-" + type(result).__name__
    return "list:" + hashlib.sha1(repr(result).encode()).hexdigest()[:16]

paths = open(sys.argv[1], encoding="utf-8").read().split("\n")
for index in range(int(sys.argv[2]), len(paths)):
    md = outcome(hwp_to_markdown, paths[index])
    rec = outcome(hwp_debug_records, paths[index])
    sys.stdout.write(f"{index} {md} {rec}\n")
    sys.stdout.flush()
"""

_ANSWER = re.compile(r"(\d+) (\S+) (\S+)")
STARTUP_SECONDS = 60      # interpreter start and import, on a loaded machine
STALL_SECONDS = 20        # one file; a sound one takes milliseconds
MAX_FAILURES = 20         # stop restarting workers past this many


@dataclass
class Run:
    outcomes: dict[int, tuple[str, str]]
    failures: list[str]               # crashes, hangs, bad outcomes
    stderr: str


def _watch(args: list[str], stall: float) -> tuple[bytes, bytes, int | None]:
    """Run a worker; kill it when no line arrives for ``stall`` seconds.
    Returns stdout, stderr and the exit status (None when it was killed)."""
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    out, err = bytearray(), bytearray()
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ, out)
    sel.register(proc.stderr, selectors.EVENT_READ, err)
    deadline = time.monotonic() + STARTUP_SECONDS
    open_pipes = 2
    killed = False
    try:
        while open_pipes:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                proc.kill()
                killed = True
                break
            for key, _ in sel.select(remaining):
                chunk = os.read(key.fileobj.fileno(), 1 << 16)
                if not chunk:
                    sel.unregister(key.fileobj)
                    open_pipes -= 1
                elif key.data is out:
                    out += chunk
                    if b"\n" in chunk:
                        deadline = time.monotonic() + stall
                else:
                    err += chunk
    finally:
        sel.close()
        proc.wait()
        proc.stdout.close()
        proc.stderr.close()
    return bytes(out), bytes(err), None if killed else proc.returncode


def run_files(paths: list[Path], names: list[str], list_file: Path,
              worker: str = WORKER, stall: float = STALL_SECONDS) -> Run:
    """Run ``paths`` through ``worker``; a file that ends a worker or gets no
    answer is a failure, and a fresh worker goes on with the next file."""
    list_file.write_text("\n".join(map(str, paths)), encoding="utf-8")
    run = Run({}, [], "")
    start = 0
    while start < len(paths) and len(run.failures) < MAX_FAILURES:
        out, err, status = _watch([sys.executable, "-c", worker, str(list_file), str(start)], stall)
        run.stderr += err.decode("utf-8", "replace")
        for line in out.decode("utf-8", "replace").splitlines():
            answer = _ANSWER.fullmatch(line)
            if answer is None:          # something else wrote to stdout
                run.failures.append(f"stray output {line[:200]!r}")
                continue
            run.outcomes[int(answer[1])] = (answer[2], answer[3])
        done = [i for i in run.outcomes if i >= start]
        following = max(done) + 1 if done else start
        if status == 0 and following == len(paths):
            break
        if following >= len(paths):     # every file answered, then a bad exit
            run.failures.append(f"worker exit status {status} after the last file")
            break
        if status is None:
            why = f"no answer within {stall}s"
        elif status < 0:
            why = f"killed by {signal.Signals(-status).name}"
        else:
            why = f"worker exit status {status}"
        run.failures.append(f"{why}: {names[following]} ({paths[following]})")
        start = following + 1
    for index, (md, rec) in sorted(run.outcomes.items()):
        if not (md == "RuntimeError" or md.startswith("str:")) or \
                not (rec == "RuntimeError" or rec.startswith("list:")):
            run.failures.append(f"{md} / {rec}: {names[index]} ({paths[index]})")
    return run


# --------------------------------------------------------------------------
# Damage
# --------------------------------------------------------------------------

Damage = Iterator[tuple[str, bytes]]      # (what was done, damaged bytes)


def _rng(family: str, doc: Doc, *seed: object) -> random.Random:
    return random.Random(":".join([family, doc.digest, *map(str, seed)]))


def truncated(doc: Doc) -> Damage:
    n = len(doc.data)
    cuts = {n * k // 8 for k in range(1, 8)} | {512, 513, 1024, n - 1}
    for cut in sorted(c for c in cuts if 0 < c < n):
        yield f"cut at {cut} of {n}", doc.data[:cut]


def container_bytes(doc: Doc) -> Damage:
    n = len(doc.data)
    structure = doc.container.structure_ranges() if doc.container else [(0, min(n, 512))]
    for seed in range(6):
        rng = _rng("bytes", doc, seed)
        data = bytearray(doc.data)
        changed = []
        for _ in range(rng.randint(1, 8)):
            where = rng.random()
            if where < 0.5:
                lo, hi = 0, n
            elif where < 0.65:
                lo, hi = 0, min(n, 512)
            else:
                lo, hi = rng.choice(structure)
                hi = min(hi, n)
            if lo >= hi:
                continue
            pos = rng.randrange(lo, hi)
            data[pos] ^= rng.randint(1, 255)
            changed.append(pos)
        yield f"bytes changed at {changed}", bytes(data)


def _records(body: bytes) -> list[int]:
    """Offsets of the record headers of an inflated section."""
    offsets, pos = [], 0
    while pos + 4 <= len(body):
        offsets.append(pos)
        head = struct.unpack_from("<I", body, pos)[0]
        size, pos = head >> 20, pos + 4
        if size == 0xFFF:
            if pos + 4 > len(body):
                break
            size, pos = struct.unpack_from("<I", body, pos)[0], pos + 4
        pos += size
    return offsets


def _rebuild(doc: Doc, replace: dict[str, bytes | None], header: bytes | None = None) -> bytes:
    """The document's streams, with ``replace`` applied (None drops a stream),
    in a freshly written container."""
    streams = dict(doc.streams)
    for path, data in replace.items():
        if data is None:
            streams.pop(path, None)
        else:
            streams[path] = data
    if header is not None:
        streams["FileHeader"] = header
    return hf.write_cfb(streams, doc.storages)


def _store(doc: Doc, body: bytes) -> bytes:
    return hf.deflate_raw(body) if doc.compressed else body


def section_bytes(doc: Doc) -> Damage:
    targets = [p for p in dict.fromkeys(doc.sections[:1] + doc.sections[-1:]) if p in doc.inflated]
    for path in targets:
        body = doc.inflated[path]
        if not body:
            continue
        for seed in range(3):
            rng = _rng("section", doc, path, seed)
            data = bytearray(body)
            spots = sorted(rng.randrange(len(data)) for _ in range(rng.randint(1, 8)))
            for pos in spots:
                data[pos] ^= rng.randint(1, 255)
            yield f"{path}: inflated bytes changed at {spots}", _rebuild(doc, {path: _store(doc, data)})
        heads = _records(body)
        for seed in range(3):
            rng = _rng("records", doc, path, seed)
            data = bytearray(body)
            pos = rng.choice(heads)
            head = struct.unpack_from("<I", data, pos)[0]
            tag, level, size = head & 0x3FF, head >> 10 & 0x3FF, head >> 20
            choice = rng.choice(["size+", "size-", "long-size", "level", "tag"])
            if choice == "size+":
                size = min(0xFFE, size + rng.randint(1, 300))
            elif choice == "size-":
                size = max(0, size - rng.randint(1, 300))
            elif choice == "long-size":
                size = 0xFFF      # the next four bytes now read as a size
            elif choice == "level":
                level = rng.choice([0, level + 1, level + 7, 1023])
            else:
                tag = rng.randrange(1024)
            struct.pack_into("<I", data, pos, tag | level << 10 | size << 20)
            yield (f"{path}: record at {pos} {choice}",
                   _rebuild(doc, {path: _store(doc, data)}))
        rng = _rng("cut", doc, path)
        cut = rng.randrange(len(body))
        yield f"{path}: inflated records cut at {cut}", _rebuild(doc, {path: _store(doc, body[:cut])})
        if doc.compressed:
            stored = doc.streams[path]
            yield f"{path}: compressed data cut in half", _rebuild(doc, {path: stored[:len(stored) // 2]})
            data = bytearray(stored)
            pos = rng.randrange(len(data))
            data[pos] ^= rng.randint(1, 255)
            yield f"{path}: compressed byte {pos} changed", _rebuild(doc, {path: bytes(data)})


def sections_swapped(doc: Doc) -> Damage:
    s = doc.streams
    if "BodyText/Section0" in s and "BodyText/Section1" in s:
        yield "Section0 <-> Section1", _rebuild(
            doc, {"BodyText/Section0": s["BodyText/Section1"], "BodyText/Section1": s["BodyText/Section0"]})
        yield "Section0 dropped, Section1 kept", _rebuild(doc, {"BodyText/Section0": None})
        yield "Section1 = Section0", _rebuild(doc, {"BodyText/Section1": s["BodyText/Section0"]})
    if "BodyText/Section0" in s:
        yield "Section0 emptied", _rebuild(doc, {"BodyText/Section0": b""})
        if "DocInfo" in s:
            yield "Section0 = DocInfo", _rebuild(doc, {"BodyText/Section0": s["DocInfo"]})
        header = s.get("FileHeader", b"")
        if len(header) >= 40:
            flipped = header[:36] + bytes([header[36] ^ 1]) + header[37:]
            yield "FileHeader compression bit flipped", _rebuild(doc, {}, header=flipped)
        if "BodyText/Section0" in doc.inflated and doc.compressed:
            yield "Section0 stored inflated", _rebuild(
                doc, {"BodyText/Section0": doc.inflated["BodyText/Section0"]})
    if "BodyText/Section0" in s and doc.sections[-1] != "BodyText/Section0":
        yield "last section = Section0", _rebuild(doc, {doc.sections[-1]: s["BodyText/Section0"]})


def _chain_targets(c: Container) -> list[tuple[str, list[int], bool]]:
    """Chains worth breaking: (label, sector ids, in the MiniFAT)."""
    targets = []
    for path in ("BodyText/Section0", "FileHeader"):
        e = c.paths.get(path)
        if e is not None and e.kind == _STREAM and e.size > 0:
            mini = c.is_mini(e)
            targets.append((path, c.chain(e.start, mini), mini))
    targets.append(("directory", c.dir_sectors, False))
    root = c.entries[0]
    if root.size:
        targets.append(("mini stream", c.chain(root.start), False))
    if c.minifat_sectors:
        targets.append(("MiniFAT", c.minifat_sectors, False))
    return targets


LARGE_DOCUMENT = 128 * 1024
LARGE_DOCUMENT_COPIES = 24


def chains_broken(doc: Doc) -> Damage:
    # Every break for an ordinary document; a seeded sample for the few large
    # ones, whose copies would otherwise take most of the time in file writes.
    damage = _chain_breaks(doc)
    if len(doc.data) <= LARGE_DOCUMENT:
        yield from damage
        return
    copies = list(damage)
    rng = _rng("chains", doc)
    keep = sorted(rng.sample(range(len(copies)), min(len(copies), LARGE_DOCUMENT_COPIES)))
    yield from (copies[i] for i in keep)


def _chain_breaks(doc: Doc) -> Damage:
    c = doc.container
    n_sectors = (len(doc.data) - 1) // c.sector_size
    for label, chain, mini in _chain_targets(c):
        limit = len(c.minifat if mini else c.fat)
        past_file = len(c.mini_stream) // 64 if mini else n_sectors
        for pos in sorted({0, len(chain) // 2, len(chain) - 1}):
            sid = chain[pos]
            offset = c.fat_entry_offset(sid, mini)
            current = struct.unpack_from("<I", doc.data, offset)[0]
            values = {"free": hf.FREESECT, "end": hf.ENDOFCHAIN, "self": sid, "start": chain[0],
                      "FAT mark": hf.FATSECT, "past the file": past_file,
                      "past the table": limit + 1000}
            done = {current}
            for what, value in values.items():
                if value in done:
                    continue
                done.add(value)
                data = bytearray(doc.data)
                struct.pack_into("<I", data, offset, value)
                yield f"{label} chain, link {pos} of {len(chain)}: {what}", bytes(data)
    # The header's list of FAT sectors.
    for k in sorted({0, len(c.fat_sectors) - 1}):
        for what, value in (("free", hf.FREESECT), ("directory", c.dir_start),
                            ("past the file", n_sectors + 5)):
            data = bytearray(doc.data)
            struct.pack_into("<I", data, 76 + 4 * k, value)
            yield f"FAT sector {k} listed as {what}", bytes(data)


def directory_broken(doc: Doc) -> Damage:
    """Directory entries that lie: sizes, start sectors, types, and sibling
    or child links that loop or point outside the directory."""
    c = doc.container
    n_sectors = (len(doc.data) - 1) // c.sector_size
    n_entries = len(c.entries)
    for path in ("BodyText/Section0", "FileHeader"):
        e = c.paths.get(path)
        if e is None:
            continue
        at = c.entry_offset(e)
        fields = [("size 0", 120, "<Q", 0), ("size 4 GiB - 1", 120, "<Q", 0xFFFFFFFF),
                  ("size just under the mini-stream cutoff", 120, "<Q", c.cutoff - 1),
                  ("size at the mini-stream cutoff", 120, "<Q", c.cutoff),
                  ("size doubled", 120, "<Q", e.size * 2 + 1),
                  ("start at end of chain", 116, "<I", hf.ENDOFCHAIN),
                  ("start past the file", 116, "<I", n_sectors + 3),
                  ("start at the directory", 116, "<I", c.dir_start),
                  ("a storage", 66, "<B", _STORAGE), ("the root", 66, "<B", _ROOT),
                  ("unused", 66, "<B", 0), ("child of itself", 76, "<I", e.index),
                  ("left of itself", 68, "<I", e.index),
                  ("right past the directory", 72, "<I", n_entries + 9)]
        for what, where, fmt, value in fields:
            data = bytearray(doc.data)
            struct.pack_into(fmt, data, at + where, value)
            yield f"{path} entry: {what}", bytes(data)
    for path, e in [("root", c.entries[0]), ("BodyText", c.paths.get("BodyText"))]:
        if e is None:
            continue
        at = c.entry_offset(e)
        for what, where, value in [("child is the root", 76, 0), ("child of itself", 76, e.index),
                                   ("child past the directory", 76, n_entries + 9),
                                   ("no child", 76, hf.NOSTREAM), ("right is the root", 72, 0)]:
            data = bytearray(doc.data)
            struct.pack_into("<I", data, at + where, value)
            yield f"{path} entry: {what}", bytes(data)


FAMILIES: dict[str, tuple[Callable[[Doc], Damage], Callable[[Doc], bool]]] = {
    "truncated": (truncated, lambda d: True),
    "container-bytes": (container_bytes, lambda d: True),
    "section-bytes": (section_bytes, lambda d: bool(d.inflated)),
    "sections-swapped": (sections_swapped, lambda d: bool(d.sections)),
    "chains-broken": (chains_broken, lambda d: d.container is not None),
    "directory-broken": (directory_broken, lambda d: d.container is not None),
}

# Fewer damaged copies than this means the corpus was not read as expected
# and the family would test next to nothing.
MIN_COPIES = {"truncated": 1000, "container-bytes": 600, "section-bytes": 1000,
              "sections-swapped": 300, "chains-broken": 3000, "directory-broken": 2000}

BATCH = 2000


def _damage_and_run(docs: list[Doc], family: str, tmp_path: Path) -> tuple[int, list[str], str]:
    """Write the family's damaged copies in batches; each batch runs in a
    worker while the next one is written.  Copies that passed are deleted at
    the end (deleting between batches slows the writes down severalfold)."""
    make, applies = FAMILIES[family]
    out_dir = tmp_path / family
    out_dir.mkdir()
    runs: list[Future[Run]] = []
    written: list[Path] = []

    def run_batch(batch: list[tuple[Path, str]], number: int) -> Run:
        return run_files([p for p, _ in batch], [n for _, n in batch], tmp_path / f"list{number}.txt")

    pending: list[tuple[Path, str]] = []
    with ThreadPoolExecutor(max_workers=1) as pool:
        for doc in docs:
            if not applies(doc):
                continue
            for what, data in make(doc):
                path = out_dir / f"{len(written):06d}.hwp"
                path.write_bytes(data)
                written.append(path)
                pending.append((path, f"{doc.label} [{what}]"))
                if len(pending) >= BATCH:
                    runs.append(pool.submit(run_batch, pending, len(runs)))
                    pending = []
        if pending:
            runs.append(pool.submit(run_batch, pending, len(runs)))
    results = [r.result() for r in runs]
    failures = [f for r in results for f in r.failures]
    kept = {f.rsplit(" (", 1)[-1].rstrip(")") for f in failures}
    for path in written:                 # keep only what failed, for a look
        if str(path) not in kept:
            path.unlink()
    return len(written), failures, "".join(r.stderr for r in results)


@pytest.mark.parametrize("family", list(FAMILIES))
def test_damaged_copies_convert_or_fail_cleanly(corpus_docs, family, tmp_path):
    started = time.monotonic()
    total, failures, stderr = _damage_and_run(corpus_docs, family, tmp_path)
    print(f"\n{family}: {total} damaged copies in {time.monotonic() - started:.1f}s")
    assert not failures, f"{len(failures)} of {total} damaged copies failed:\n" + "\n".join(failures)
    assert total >= MIN_COPIES[family]
    # Nothing reaches the terminal from the container library either.
    assert stderr == ""


def test_rebuilt_documents_convert_like_the_originals(corpus_docs, tmp_path):
    # Undamaged streams written into a fresh container: same results as the
    # original, so the streams the damage starts from are the real ones.
    docs = [d for d in corpus_docs if d.sections]
    assert len(docs) >= 100
    paths, names = [], []
    for i, doc in enumerate(docs):
        original = tmp_path / f"{i:04d}-original.hwp"
        original.write_bytes(doc.data)
        rebuilt = tmp_path / f"{i:04d}-rebuilt.hwp"
        rebuilt.write_bytes(_rebuild(doc, {}))
        paths += [original, rebuilt]
        names += [doc.label, doc.label + " [rebuilt]"]
    run = run_files(paths, names, tmp_path / "list.txt")
    assert not run.failures, "\n".join(run.failures)
    differ = [names[i] for i in range(0, len(paths), 2) if run.outcomes[i] != run.outcomes[i + 1]]
    assert differ == []


def test_container_reader_reads_back_what_was_written():
    # The reader the damage relies on, over containers with mini and large
    # streams, nested storages, several directory sectors and a DIFAT sector.
    rng = random.Random(7)
    streams = {f"S{i}": rng.randbytes(rng.choice([0, 1, 63, 64, 65, 4095, 4096, 5000]))
               for i in range(40)}
    streams["A/B/deep"] = b"deep" * 2000
    streams["Huge"] = bytes(113 * 128 * 512)        # needs more than 109 FAT sectors
    c = Container.parse(hf.write_cfb(streams, ["Empty"]))
    assert c.difat_sectors
    assert len(c.dir_sectors) > 1
    assert c.streams() == streams
    assert sorted(c.storages()) == ["A", "A/B", "Empty"]
    # Directory entries are found where their names are.
    for path in ("S39", "A/B/deep", "Huge"):
        at = c.entry_offset(c.paths[path])
        name = path.rsplit("/", 1)[-1].encode("utf-16-le")
        assert c.data[at:at + len(name)] == name
    # Each chain's last FAT entry is found where the writer put the end mark.
    e = c.paths["A/B/deep"]
    last = c.chain(e.start)[-1]
    assert struct.unpack_from("<I", c.data, c.fat_entry_offset(last))[0] == hf.ENDOFCHAIN
    e = c.paths["S3"]
    if 0 < e.size < c.cutoff:
        last = c.chain(e.start, mini=True)[-1]
        assert struct.unpack_from("<I", c.data, c.fat_entry_offset(last, mini=True))[0] == hf.ENDOFCHAIN


@pytest.mark.parametrize("data", [b"", b"x" * 600, hf.CFB_MAGIC + bytes(600)],
                         ids=["empty", "not-a-container", "zero-header"])
def test_container_reader_refuses_what_it_cannot_walk(data):
    with pytest.raises(ContainerError):
        Container.parse(data)


# A stand-in for the worker whose files say what it should do with them.
FAKE_WORKER = r"""
import os, signal, sys, time
paths = open(sys.argv[1], encoding="utf-8").read().split("\n")
for index in range(int(sys.argv[2]), len(paths)):
    kind = open(paths[index], encoding="utf-8").read()
    if kind == "killed":
        os.kill(os.getpid(), signal.SIGKILL)
    if kind == "hang":
        time.sleep(120)
    answer = {"ok": "str:0 list:0", "error": "RuntimeError RuntimeError",
              "bad": "bad:TypeError list:0", "bad-records": "str:0 bad:records-dict"}[kind]
    print(index, answer, flush=True)
sys.exit(3 if kind == "ok" and index == 7 else 0)
"""


def test_runner_reports_each_bad_file_and_goes_on(tmp_path):
    # The runner must point at the file that killed the worker or hung it,
    # carry on with the next one, and flag outcomes other than the three
    # allowed; an exit status after the last answer is a failure too.
    kinds = ["ok", "killed", "ok", "hang", "error", "bad", "bad-records", "ok"]
    paths = []
    for i, kind in enumerate(kinds):
        paths.append(tmp_path / f"{i}.txt")
        paths[-1].write_text(kind, encoding="utf-8")
    names = [f"file{i}-{k}" for i, k in enumerate(kinds)]
    run = run_files(paths, names, tmp_path / "list.txt", worker=FAKE_WORKER, stall=1.5)
    assert sorted(run.outcomes) == [0, 2, 4, 5, 6, 7]
    assert [f.split(" (")[0] for f in run.failures] == [
        "killed by SIGKILL: file1-killed",
        "no answer within 1.5s: file3-hang",
        "worker exit status 3 after the last file",
        "bad:TypeError / list:0: file5-bad",
        "str:0 / bad:records-dict: file6-bad-records",
    ]
