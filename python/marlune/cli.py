"""The `marlune` command: convert HWP documents to Markdown from the shell.

    marlune FILE.hwp                  Markdown on standard output
    marlune PATH... -o OUTDIR         every file given and every *.hwp under the
                                      directories given, as OUTDIR/<relative path>.md
    marlune --records FILE.hwp        the record listing of the first section
"""

from __future__ import annotations

import argparse
import contextlib
import multiprocessing
import os
import signal
import sys
import tempfile
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from pathlib import Path

from marlune import __version__
from marlune._marlune import hwp_debug_records, hwp_to_markdown

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130

# Record tags the converter reads, by their HWP 5.0 names.
TAG_NAMES = {
    66: "HWPTAG_PARA_HEADER",
    67: "HWPTAG_PARA_TEXT",
    71: "HWPTAG_CTRL_HEADER",
    72: "HWPTAG_LIST_HEADER",
    76: "HWPTAG_SHAPE_COMPONENT",
    77: "HWPTAG_TABLE",
    85: "HWPTAG_SHAPE_COMPONENT_PICTURE",
    87: "HWPTAG_CTRL_DATA",
    88: "HWPTAG_EQEDIT",
}


@dataclass(frozen=True)
class Job:
    source: str
    target: str | None  # None: the Markdown goes back to the caller


@dataclass(frozen=True)
class Outcome:
    source: str
    error: str | None = None
    markdown: str | None = None


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="marlune", description="Convert HWP 5.0 documents to Markdown.")
    parser.add_argument("paths", nargs="*", metavar="PATH",
                        help="HWP files, or directories searched for *.hwp (with -o)")
    parser.add_argument("-o", "--output", metavar="OUTDIR",
                        help="write OUTDIR/<relative path>.md for each document")
    parser.add_argument("-j", "--jobs", type=positive_int, default=os.cpu_count() or 1,
                        help="worker processes (default: the number of CPUs)")
    parser.add_argument("-q", "--quiet", action="store_true", help="no progress bar")
    parser.add_argument("--records", metavar="FILE",
                        help="print the record listing of FILE's first section")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


def is_hwp(path: Path) -> bool:
    return path.suffix.lower() == ".hwp"


def plan_jobs(paths: Sequence[str], output: str | None) -> list[Job]:
    """One job per document, in the order given; directories in sorted order."""
    jobs: list[Job] = []
    for given in paths:
        root = Path(given)
        if output is not None and root.is_dir():
            found = sorted(p for p in root.rglob("*") if p.is_file() and is_hwp(p))
            jobs += [Job(str(p), str(Path(output, p.relative_to(root)).with_suffix(".md"))) for p in found]
        elif output is not None:
            jobs.append(Job(given, str(Path(output, root.name).with_suffix(".md"))))
        else:
            jobs.append(Job(given, None))
    return jobs


# Interrupts are held back while a document is written: one that arrives
# meanwhile takes effect once the temporary file is renamed into place or
# removed, never in between.
_INTERRUPTS = {signal.SIGINT, signal.SIGTERM}


def _new_file_mode() -> int:
    """The mode an ordinary new file gets: 0666 less the umask."""
    mask = os.umask(0)
    os.umask(mask)
    return 0o666 & ~mask


def write_atomically(target: str, text: str) -> None:
    """Writes through a temporary file in the same folder, renamed into place,
    so that an interrupted run never leaves a half-written document."""
    folder = os.path.dirname(target) or "."
    os.makedirs(folder, exist_ok=True)
    mode = _new_file_mode()
    temporary = None
    held = signal.pthread_sigmask(signal.SIG_BLOCK, _INTERRUPTS)
    try:
        fd, temporary = tempfile.mkstemp(dir=folder, prefix=".marlune-", suffix=".tmp")
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as stream:
            os.fchmod(stream.fileno(), mode)
            stream.write(text)
        os.replace(temporary, target)
        temporary = None
    finally:
        if temporary is not None:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(temporary)
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def os_error_text(error: OSError) -> str:
    """An OSError in the module's own wording."""
    if error.errno is None:
        return f"IO error: {error}"
    return f"IO error: {os.strerror(error.errno)} (os error {error.errno})"


@contextlib.contextmanager
def readable_path(source: str) -> Iterator[str]:
    """The module takes UTF-8 paths. A file name that is not UTF-8 (it comes
    from the command line with its bytes escaped) is opened here and handed
    over as its descriptor's path under /proc/self/fd."""
    try:
        source.encode("utf-8")
    except UnicodeEncodeError:
        fd = os.open(os.fsencode(source), os.O_RDONLY | os.O_CLOEXEC)
        try:
            yield f"/proc/self/fd/{fd}"
        finally:
            os.close(fd)
        return
    yield source


def convert(job: Job) -> Outcome:
    try:
        with readable_path(job.source) as path:
            markdown = hwp_to_markdown(path)
    except RuntimeError as error:
        return Outcome(job.source, error=str(error))
    except OSError as error:
        return Outcome(job.source, error=os_error_text(error))
    if job.target is None:
        return Outcome(job.source, markdown=markdown)
    try:
        write_atomically(job.target, markdown + "\n" if markdown else "")
    except OSError as error:
        return Outcome(job.source, error=f"cannot write {job.target}: {error.strerror or error}")
    return Outcome(job.source)


def _init_worker() -> None:
    # Ctrl-C is the parent's to handle; the parent ends workers with SIGTERM,
    # whose default action is safe because writes hold it back (see above).
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def run_jobs(jobs: list[Job], workers: int) -> Iterator[Outcome]:
    """Outcomes in the order of the jobs, whichever finishes first."""
    if workers <= 1 or len(jobs) <= 1:
        yield from map(convert, jobs)
        return
    pool = multiprocessing.get_context("fork").Pool(min(workers, len(jobs)), initializer=_init_worker)
    try:
        yield from pool.imap(convert, jobs, chunksize=1)
        pool.close()
    finally:
        pool.terminate()
        pool.join()


def progress(total: int, quiet: bool):  # -> tqdm or None
    if quiet or total <= 1 or not sys.stderr.isatty():
        return None
    from tqdm import tqdm

    return tqdm(total=total, file=sys.stderr, unit="doc")


def _silence_stdout() -> None:
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())


def convert_all(jobs: list[Job], workers: int, quiet: bool) -> int:
    out = sys.stdout.buffer
    bar = progress(len(jobs), quiet)
    failed = False
    first = True
    try:
        for outcome in run_jobs(jobs, workers):
            if outcome.error is not None:
                failed = True
                message = f"{outcome.source}: {outcome.error}"
                if bar is not None:
                    bar.write(message, file=sys.stderr)
                else:
                    print(message, file=sys.stderr, flush=True)
            elif outcome.markdown is not None:
                if not first:
                    out.write(b"\n")
                out.write(outcome.markdown.encode("utf-8") + b"\n")
                out.flush()
                first = False
            if bar is not None:
                bar.update()
    except BrokenPipeError:
        # The reader went away (marlune x.hwp | head): the rest is not wanted,
        # and the status still tells whether what was converted failed.
        _silence_stdout()
    finally:
        if bar is not None:
            bar.close()
    return EXIT_FAILED if failed else EXIT_OK


def print_records(path: str) -> int:
    try:
        with readable_path(path) as readable:
            records = hwp_debug_records(readable)
    except RuntimeError as error:
        print(f"{path}: {error}", file=sys.stderr)
        return EXIT_FAILED
    except OSError as error:
        print(f"{path}: {os_error_text(error)}", file=sys.stderr)
        return EXIT_FAILED
    lines = []
    for tag, level, size in records:
        name = TAG_NAMES.get(tag)
        lines.append(f"{tag} {level} {size}" + (f" {name}" if name else ""))
    sys.stdout.buffer.write(("\n".join(lines) + "\n" if lines else "").encode("utf-8"))
    return EXIT_OK


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        if args.records is not None:
            if args.paths or args.output:
                parser.error("--records takes one FILE and no other paths")
            return print_records(args.records)
        if not args.paths:
            parser.error("no input: give at least one PATH")
        if args.output is None:
            for given in args.paths:
                if os.path.isdir(given):
                    parser.error(f"{given} is a directory: use -o OUTDIR to convert a folder")
        return convert_all(plan_jobs(args.paths, args.output), args.jobs, args.quiet)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader of --records output went away: not an error of ours.
        _silence_stdout()
        return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
