"""Peak memory of a conversion against the size of the document's largest
section: each document converted (marlune.convert, the Markdown built as a
Python str) in a fresh process, its peak RSS read from the kernel.

    python bench/memory.py [--mib 64 200] [--hwp-mib 255] [--mix tiny long tables] [--keep DIR]

Sections are built from our fixture writers, one chunk repeated: "tiny" is
many small elements (one-character runs, line breaks, tabs), "long" is long
text runs, "tables" is a table per paragraph, "bigtable" one paragraph
holding one table of all the rows, "onecell" one paragraph holding a table
of one cell that holds all the paragraphs, "oneparagraph" one paragraph of
all the runs, "onetext" one paragraph of one run of one text. The bound checked is 2.5 times
the inflated section plus 128 MiB, for the whole process (the interpreter
with marlune imported, measured the same way, is printed as the base).
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))

import hwpfixture as hf  # noqa: E402
import hwpxfixture as xf  # noqa: E402

MIB = 1 << 20
BOUND_FACTOR = 2.5
BOUND_EXTRA = 128 * MIB


def hwpx_chunk(mix: str) -> str:
    """About 64 KiB of section content of one kind."""
    if mix == "tiny":
        run = xf.run(xf.t("가", xf.TAB, "b"), xf.LINE_BREAK)
        return "".join(xf.p(run, run, run) for _ in range(300))
    if mix == "long":
        return "".join(xf.p("긴 문장의 본문 텍스트 " * 300) for _ in range(7))
    if mix == "bigtable":
        return "".join("<hp:tr>" + "".join(xf.cell(f"{r}-{c}", r, c) for c in range(4)) + "</hp:tr>"
                       for r in range(80))
    if mix == "onecell":
        return "".join(xf.p(f"{n} 번째 문단의 본문 텍스트") for n in range(500))
    if mix == "oneparagraph":
        return "".join(xf.run(xf.t(f"{n} 번째 조각 "), xf.LINE_BREAK, char=n % 2) for n in range(1000))
    if mix == "onetext":
        return "긴 문장의 본문 텍스트 " * 2000
    cells = [[xf.cell(f"{r}-{c}", r, c) for c in range(4)] for r in range(4)]
    return "".join(xf.p(xf.table(cells, 4, 4)) for _ in range(40))


def hwpx_frame(mix: str) -> tuple[str, str]:
    """What the repeated chunks stand in: the section itself, or one
    paragraph's table (of many rows, or of one cell)."""
    inner = {"bigtable": xf.p(xf.run("\x00")), "onecell": xf.p(xf.run("\x00")), "oneparagraph": '<hp:p id="0" paraPrIDRef="0" styleIDRef="0">\x00</hp:p>',
             "onetext": xf.p(xf.run("<hp:t>\x00</hp:t>"))}.get(mix, "\x00")
    head, tail = xf.section(inner).split("\x00")
    if mix == "bigtable":
        return head + '<hp:tbl rowCnt="0" colCnt="4">', "</hp:tbl>" + tail
    if mix == "onecell":
        return (head + '<hp:tbl rowCnt="1" colCnt="1"><hp:tr><hp:tc><hp:subList>',
                '</hp:subList><hp:cellAddr colAddr="0" rowAddr="0"/></hp:tc></hp:tr></hp:tbl>' + tail)
    return head, tail


def hwpx_package(mib: int, mix: str, path: Path) -> int:
    """Writes a package whose one section holds about mib MiB of XML; returns
    the section's size."""
    chunk = hwpx_chunk(mix).encode()
    head, tail = (part.encode() for part in hwpx_frame(mix))
    repeats = max(1, mib * MIB // len(chunk))
    base = xf.package([xf.section(xf.p("x"))])
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as out:
        with zipfile.ZipFile(__import__("io").BytesIO(base)) as source:
            for info in source.infolist():
                if info.filename != "Contents/section0.xml":
                    out.writestr(info, source.read(info))
        with out.open("Contents/section0.xml", "w", force_zip64=True) as section:
            section.write(head)
            for _ in range(repeats):
                section.write(chunk)
            section.write(tail)
    return len(head) + len(tail) + repeats * len(chunk)


def hwp_document(mib: int, path: Path) -> int:
    """Writes an HWP document whose one section inflates to about mib MiB of
    records (paragraphs of text, a table now and then); returns that size."""
    chunk = b"".join(hf.para(f"{n} 번째 문단의 본문 텍스트입니다. " * 4) for n in range(200))
    chunk += hf.para(hf.with_control("", 11, "tbl ")) + hf.table([["a", "b"], ["c", "d"]])
    repeats = max(1, mib * MIB // len(chunk))
    compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
    deflated = b"".join(compressor.compress(chunk) for _ in range(repeats)) + compressor.flush()
    data = hf.hwp_document([b""], extra_streams={"BodyText/Section0": deflated})
    path.write_bytes(data)
    return repeats * len(chunk)


def peak_rss(code: str) -> int:
    """The peak RSS in bytes of a fresh interpreter running code."""
    process = subprocess.Popen([sys.executable, "-c", code])
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        raise RuntimeError(f"conversion failed with status {status}")
    return usage.ru_maxrss * 1024


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, nargs="*", default=[64, 200])
    parser.add_argument("--hwp-mib", type=int, nargs="*", default=[255])
    parser.add_argument("--mix", nargs="*",
                        default=["tiny", "long", "tables", "bigtable", "onecell", "oneparagraph", "onetext"])
    parser.add_argument("--keep", type=Path, help="folder to keep the documents in")
    args = parser.parse_args()
    base = peak_rss("import marlune")
    print(f"base (interpreter with marlune imported): {base / MIB:.0f} MiB")
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        folder = args.keep or Path(scratch)
        folder.mkdir(parents=True, exist_ok=True)
        cases = [(f"hwpx {mix} {mib} MiB", folder / f"{mix}-{mib}.hwpx", mix, mib)
                 for mib in args.mib for mix in args.mix]
        cases += [(f"hwp {mib} MiB", folder / f"sections-{mib}.hwp", None, mib) for mib in args.hwp_mib]
        for label, path, mix, mib in cases:
            size = hwpx_package(mib, mix, path) if mix else hwp_document(mib, path)
            peak = peak_rss(f"import marlune; marlune.convert({str(path)!r})")
            bound = BOUND_FACTOR * size + BOUND_EXTRA
            verdict = "ok" if peak <= bound else "OVER"
            failed |= peak > bound
            print(f"{label:24} section {size / MIB:7.1f} MiB  peak {peak / MIB:7.0f} MiB  "
                  f"{peak / size:5.2f}x  bound {bound / MIB:6.0f} MiB  {verdict}", flush=True)
            if args.keep is None:
                path.unlink()
    return 1 if failed else 0


if __name__ == "__main__":
    raise SystemExit(main())
