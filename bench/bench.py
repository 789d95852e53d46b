"""Conversion speed against the inflate floor, and scaling with document size.

    python bench/bench.py --floor build/bench/marlune_floor [--dir DIR] [--repeats 5]

Per document: file size, inflated section bytes, output characters, best time
of hwp_to_markdown, best time of the floor (zlib inflating the stored sections
already in memory: what any converter must do) and their ratio. Then the
totals against both floors (zlib's, and libdeflate's inflating the same
streams), the median and slowest tenth of the per-document ratios, a scaling
run over synthetic documents of 1, 4, 16 and 64 units and a record-heavy
document (a section of 64 MiB of empty records), each converted in a fresh
process so that its peak RSS is its own.
"""

from __future__ import annotations

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))

SCALES = (1, 4, 16, 64)


def best_time(function, argument, repeats: int) -> tuple[float, object]:
    best = float("inf")
    result = None
    for _ in range(repeats):
        start = time.perf_counter_ns()
        result = function(argument)
        best = min(best, time.perf_counter_ns() - start)
    return best / 1e9, result


def floor_times(floor: str, paths: list[str], repeats: int) -> list[tuple[float, int, bool, float, float]]:
    """Per path: best zlib floor seconds, section bytes, whether they are
    compressed, best libdeflate floor seconds, best zlib seconds with the
    DocInfo stream inflated too."""
    out = subprocess.run([floor, str(repeats), *paths], check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        ns, inflated, compressed, libdeflate_ns, with_doc_info_ns = line.split()
        rows.append((int(ns) / 1e9, int(inflated), compressed != "0", int(libdeflate_ns) / 1e9,
                     int(with_doc_info_ns) / 1e9))
    return rows


def hwpx_floor_times(floor: str, paths: list[str], repeats: int) -> list[tuple[float, int, float, float]]:
    """Per package: best zlib floor seconds, section bytes, best libdeflate
    floor seconds, best zlib seconds with the header part inflated too."""
    out = subprocess.run([floor, str(repeats), *paths], check=True, capture_output=True, text=True).stdout
    return [(int(ns) / 1e9, int(inflated), int(ld) / 1e9, int(with_header) / 1e9)
            for ns, inflated, ld, with_header in map(str.split, out.splitlines())]


def against(label: str, seconds: float, zlib_floor: float, libdeflate_floor: float) -> str:
    return (f"{label}: {seconds * 1e3:.1f} ms = {seconds / zlib_floor:.2f}x the zlib floor "
            f"({zlib_floor * 1e3:.1f} ms), {seconds / libdeflate_floor:.2f}x the libdeflate floor "
            f"({libdeflate_floor * 1e3:.1f} ms)")


def peak_rss_bytes() -> int:
    # VmHWM belongs to this process image; ru_maxrss would carry the parent's
    # peak across fork and exec.
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def corpus_files(folder: Path) -> list[str]:
    skip = {".md", ".tsv"}
    return sorted(str(p) for p in folder.rglob("*") if p.is_file() and p.suffix.lower() not in skip)


def faithful_throughput(paths: list[str], threads: int) -> float:
    """Documents per second converting the paths (four times over) with
    marlune.convert on the given number of threads, best of five rounds. The
    threads take paths from one shared iterator, so what is measured is the
    conversions side by side, not a pool's per-task bookkeeping."""
    import threading

    import marlune

    def work(pending) -> None:
        for path in pending:
            marlune.convert(path)

    work_list = paths * 4
    best = float("inf")
    for _ in range(5):
        pending = iter(work_list)
        workers = [threading.Thread(target=work, args=(pending,)) for _ in range(threads)]
        start = time.perf_counter()
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        best = min(best, time.perf_counter() - start)
    return len(work_list) / best


def run_corpus(floor: str, folder: Path, repeats: int) -> None:
    import marlune
    from marlune import hwp_to_markdown

    def convert(path: str) -> str | None:
        try:
            return hwp_to_markdown(path)
        except RuntimeError:
            return None

    paths = corpus_files(folder)
    rows = []
    for path in paths:
        seconds, markdown = best_time(convert, path, repeats)
        if markdown is not None:
            faithful, _ = best_time(marlune.convert, path, repeats)
            rows.append((path, os.path.getsize(path), len(markdown), seconds, faithful))
    floors = floor_times(floor, [r[0] for r in rows], repeats)

    print(f"{'document':50} {'bytes':>9} {'inflated':>9} {'chars':>8} {'convert':>9} {'floor':>9} {'ratio':>6}"
          f" {'faithful':>9}")
    total_convert = total_floor = total_inflated = total_faithful = total_libdeflate = 0.0
    total_with_doc_info = 0.0
    for (path, size, chars, seconds, faithful), (floor_s, inflated, _, libdeflate_s, with_doc_info_s) in zip(rows, floors):
        name = os.path.relpath(path, folder)
        name = name if len(name) <= 50 else "…" + name[-49:]
        ratio = seconds / floor_s if floor_s > 0 else float("nan")
        print(f"{name:50} {size:9d} {inflated:9d} {chars:8d} {seconds * 1e6:7.0f}µs {floor_s * 1e6:7.0f}µs {ratio:6.2f}"
              f" {faithful * 1e6:7.0f}µs")
        total_convert += seconds
        total_floor += floor_s
        total_inflated += inflated
        total_faithful += faithful
        total_libdeflate += libdeflate_s
        total_with_doc_info += with_doc_info_s
    print()
    print(f"documents: {len(rows)} converted of {len(paths)} files")
    print(f"conversion: {len(rows) / total_convert:,.0f} documents/s, "
          f"{total_inflated / 1e6 / total_convert:,.1f} MB/s of inflated section data")
    print(f"total conversion / total floor: {total_convert * 1e3:.1f} ms / {total_floor * 1e3:.1f} ms "
          f"= {total_convert / total_floor:.2f}")
    print(f"faithful conversion (marlune.convert) / exact: {total_faithful * 1e3:.1f} ms / "
          f"{total_convert * 1e3:.1f} ms = {total_faithful / total_convert:.2f}")
    print(f"floors: zlib {total_floor * 1e3:.1f} ms, libdeflate {total_libdeflate * 1e3:.1f} ms "
          f"= zlib / libdeflate {total_floor / total_libdeflate:.2f}")
    print(against("exact", total_convert, total_floor, total_libdeflate))
    print(against("faithful", total_faithful, total_floor, total_libdeflate))
    print(f"faithful against the zlib floor with DocInfo inflated too (it holds the headings, lists and "
          f"pictures the faithful conversion reads): {total_with_doc_info * 1e3:.1f} ms, "
          f"{total_faithful / total_with_doc_info:.2f}x")
    converted = [r[0] for r in rows]
    one, two = faithful_throughput(converted, 1), faithful_throughput(converted, 2)
    print(f"faithful throughput: 1 thread {one:,.0f} documents/s, 2 threads {two:,.0f} documents/s "
          f"= {two / one:.2f}x")
    # Stored (uncompressed) documents have nothing to inflate: no floor.
    compressed = [(row[3], floor[0]) for row, floor in zip(rows, floors) if floor[2]]
    if compressed:
        print(f"compressed documents only ({len(compressed)}): "
              f"{sum(c for c, _ in compressed) * 1e3:.1f} ms / {sum(f for _, f in compressed) * 1e3:.1f} ms "
              f"= {sum(c for c, _ in compressed) / sum(f for _, f in compressed):.2f}")
    ratios = sorted(convert / floor_s for convert, floor_s in compressed)
    if ratios:
        tenth = ratios[len(ratios) * 9 // 10:]
        print(f"per-document ratio: median {ratios[len(ratios) // 2]:.2f}, "
              f"90th percentile {tenth[0]:.2f}, slowest tenth mean {sum(tenth) / len(tenth):.2f}, "
              f"worst {ratios[-1]:.2f}")
    print(f"peak RSS: {peak_rss_bytes() / 2**20:.1f} MiB")


def run_hwpx_corpus(floor: str, folder: Path, repeats: int) -> None:
    """HWPX packages: marlune.convert against the inflate floor of their
    section parts, per document and per MiB of section XML."""
    from marlune import convert

    def try_convert(path: str) -> str | None:
        try:
            return convert(path)
        except RuntimeError:
            return None

    paths = sorted(str(p) for p in folder.rglob("*.hwpx") if p.is_file())
    rows = []
    for path in paths:
        seconds, markdown = best_time(try_convert, path, repeats)
        if markdown is not None:
            rows.append((path, seconds))
    floors = hwpx_floor_times(floor, [r[0] for r in rows], repeats)
    total_convert = sum(seconds for _, seconds in rows)
    total_floor = sum(floor[0] for floor in floors)
    total_libdeflate = sum(floor[2] for floor in floors)
    total_mib = sum(floor[1] for floor in floors) / 2**20
    slowest = sorted(((seconds / floor_s, path, seconds, floor_s) for (path, seconds), (floor_s, *_) in
                      zip(rows, floors) if floor_s > 0), reverse=True)[:5]
    print()
    print(f"HWPX: {len(rows)} converted of {len(paths)} packages, {total_mib:.1f} MiB of section XML")
    print(f"  per document: convert {total_convert / len(rows) * 1e6:,.0f} µs, "
          f"floor {total_floor / len(rows) * 1e6:,.0f} µs")
    print(f"  per MiB of section XML: convert {total_convert * 1e3 / total_mib:.2f} ms, "
          f"floor {total_floor * 1e3 / total_mib:.2f} ms")
    print(f"  total conversion / total floor: {total_convert * 1e3:.1f} ms / {total_floor * 1e3:.1f} ms "
          f"= {total_convert / total_floor:.2f}")
    print("  " + against("conversion", total_convert, total_floor, total_libdeflate))
    total_with_header = sum(floor[3] for floor in floors)
    print(f"  with the header part in the zlib floor (it holds the headings, lists and emphasis): "
          f"{total_with_header * 1e3:.1f} ms, conversion {total_convert / total_with_header:.2f}x")
    for ratio, path, seconds, floor_s in slowest:
        print(f"  {ratio:6.2f}  {seconds * 1e6:8.0f}µs {floor_s * 1e6:8.0f}µs  {os.path.relpath(path, folder)}")


def unit_section(unit: int) -> bytes:
    """One unit: 2,000 paragraphs, a 200-row table with nested tables, 50
    click-here fields, 20 equations and 20 pictures."""
    import hwpfixture as hf

    out = bytearray()
    for i in range(2000):
        out += hf.para(f"{unit}단원 {i}번째 문단: 한글 문서를 Markdown으로 바꾸는 변환기의 성능을 잽니다.")
    nested = hf.table([["안쪽", "표"], ["1", "2"]], level=3)
    rows = [[f"{r}행", f"값 {r * 7}", [f"비고 {r}", nested] if r % 10 == 0 else "-"] for r in range(200)]
    out += hf.para("표") + hf.table(rows, level=1)
    for i in range(50):
        out += hf.para(hf.para_text("성명: ", hf.field_start(), f"이름 {i}", hf.field_end(), hf.PARA_END))
        out += hf.clk_field_header("이름을 입력하세요", modified=True) + hf.ctrl_data_name(f"name{i}")
    for i in range(20):
        out += hf.para(f"수식 {i}") + hf.equation(f"x_{i} = {{-b +- sqrt {{b^2 - 4ac}}}} over {{2a}}")
    for i in range(20):
        out += hf.para(f"그림 {i}") + hf.picture(caption=[f"그림 {i}. 설명"])
    return bytes(out)


def write_scaled(folder: Path) -> list[Path]:
    import hwpfixture as hf

    unit = unit_section(0)
    paths = []
    for units in SCALES:
        path = folder / f"units{units}.hwp"
        # The units follow one another in a single section, so the document's
        # largest section grows with it.
        path.write_bytes(hf.hwp_document([unit * units]))
        paths.append(path)
    return paths


def measure_one(path: str, repeats: int) -> None:
    """Run in a fresh process: prints best seconds, chars, baseline and peak RSS."""
    from marlune import hwp_to_markdown

    baseline = peak_rss_bytes()
    markdown = hwp_to_markdown(path)
    peak = peak_rss_bytes()  # of one conversion, before repeats keep two results alive
    chars, out_bytes = len(markdown), len(markdown.encode("utf-8"))
    del markdown
    seconds, _ = best_time(hwp_to_markdown, path, repeats)
    print(seconds, chars, out_bytes, baseline, peak)


def run_scaling(floor: str, repeats: int) -> None:
    with tempfile.TemporaryDirectory() as tmp:
        paths = write_scaled(Path(tmp))
        floors = floor_times(floor, [str(p) for p in paths], repeats)
        print()
        print(f"{'units':>5} {'inflated':>10} {'out bytes':>10} {'convert':>9} {'ms/MB':>7} {'floor ms/MB':>11} "
              f"{'RSS+':>8} {'limit':>8}")
        per_mb_one = None
        for units, path, (floor_s, inflated, *_) in zip(SCALES, paths, floors):
            # Small documents take a millisecond: more repeats, and the best of
            # three fresh processes (whose memory layouts differ), make their
            # time steady. RSS is the largest of the three.
            tries = max(repeats, repeats * SCALES[-1] // units)
            runs = []
            for _ in range(3):
                line = subprocess.run([sys.executable, __file__, "--measure", str(path), "--repeats", str(tries)],
                                      check=True, capture_output=True, text=True).stdout.split()
                runs.append((float(line[0]), *map(int, line[1:])))
            seconds = min(run[0] for run in runs)
            _chars, out_bytes, baseline, peak = max(runs, key=lambda run: run[4] - run[3])[1:]
            per_mb = seconds * 1e3 / (inflated / 1e6)
            per_mb_one = per_mb_one or per_mb
            limit = 4 * inflated + out_bytes  # the one section is the largest
            print(f"{units:5d} {inflated:10d} {out_bytes:10d} {seconds * 1e3:7.1f}ms {per_mb:7.2f} "
                  f"{floor_s * 1e3 / (inflated / 1e6):11.2f} {(peak - baseline) / 2**20:6.1f}Mi "
                  f"{limit / 2**20:6.1f}Mi")
        print(f"time per MB at {SCALES[-1]} units / at 1 unit: {per_mb / per_mb_one:.2f}")


def run_record_heavy(repeats: int) -> None:
    """A small file whose one section inflates to 64 MiB of empty records
    (16 M four-byte headers): the record list, not the text, sets the peak."""
    import hwpfixture as hf

    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "records64.hwp"
        path.write_bytes(hf.hwp_document([bytes(64 << 20)]))
        line = subprocess.run([sys.executable, __file__, "--measure", str(path), "--repeats", str(repeats)],
                              check=True, capture_output=True, text=True).stdout.split()
        seconds, peak = float(line[0]), int(line[4])
        print()
        print(f"record-heavy: {path.stat().st_size / 1024:.0f} KB file, 64 MiB of empty records: "
              f"{seconds * 1e3:.0f} ms, peak RSS {peak / 2**20:.0f} MiB")


def run_hwp3_twins(folder: Path, repeats: int) -> None:
    """HWP 3.0 files against their HWP 5.0 twins (the same documents saved
    again): the faithful conversion's time per MiB of input file for each."""
    from marlune import convert

    print()
    print("HWP 3.0 against HWP 5.0 twins (faithful conversion, ms per MiB of file)")
    totals = [0.0, 0.0, 0, 0]
    for old in sorted(folder.glob("hwp3-sample*.hwp")):
        twins = sorted(folder.glob(old.stem + "-hwp5*.hwp"))
        if "-hwp5" in old.stem or not twins:
            continue
        old_s, _ = best_time(convert, str(old), repeats)
        new_s, _ = best_time(convert, str(twins[0]), repeats)
        old_mib, new_mib = old.stat().st_size / 2**20, twins[0].stat().st_size / 2**20
        totals = [totals[0] + old_s, totals[1] + new_s, totals[2] + old.stat().st_size,
                  totals[3] + twins[0].stat().st_size]
        print(f"  {old.name:28} 3.0 {old_s * 1e3 / old_mib:7.1f}   5.0 {new_s * 1e3 / new_mib:7.1f}")
    if totals[2]:
        print(f"  all: 3.0 {totals[0] * 1e3 / (totals[2] / 2**20):.1f} ms/MiB, "
              f"5.0 {totals[1] * 1e3 / (totals[3] / 2**20):.1f} ms/MiB")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--floor", help="the marlune_floor helper")
    parser.add_argument("--dir", default=str(ROOT.parent / "shared" / "corpus"))
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--measure", help=argparse.SUPPRESS)
    parser.add_argument("--hwpx-floor", help="the marlune_floor_hwpx helper")
    parser.add_argument("--hwpx-dir", default=str(ROOT.parent / "shared" / "corpus-hwpx"))
    args = parser.parse_args()
    if args.measure:
        measure_one(args.measure, args.repeats)
        return
    folder = Path(args.dir)
    if folder.is_dir():
        run_corpus(args.floor, folder, args.repeats)
    else:
        print(f"no documents at {folder}; set BENCH_DIR=", file=sys.stderr)
    run_scaling(args.floor, args.repeats)
    if args.hwpx_floor and Path(args.hwpx_dir).is_dir():
        run_hwpx_corpus(args.hwpx_floor, Path(args.hwpx_dir), args.repeats)
    hwp3 = ROOT.parent / "shared" / "hwp3"
    if hwp3.is_dir():
        run_hwp3_twins(hwp3, args.repeats)
    run_record_heavy(1)


if __name__ == "__main__":
    main()
