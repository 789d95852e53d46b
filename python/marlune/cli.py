"""The `marlune` command: convert HWP and HWPX documents to Markdown from the shell.

    marlune FILE.hwp                  Markdown on standard output (the faithful conversion)
    marlune PATH... -o OUTDIR         every file given and every *.hwp and *.hwpx under the
                                      directories given, as OUTDIR/<relative path>.md
    marlune --exact FILE.hwp          hwp_to_markdown's output instead
    marlune --records FILE.hwp        the record listing of the first section
    marlune mcp [--root DIR ...]      serve documents to an assistant over MCP (marlune[mcp])
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import functools
import importlib.util
import multiprocessing
import os
import re
import signal
import sys
import time
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from datetime import datetime
from multiprocessing.connection import Connection, wait
from multiprocessing.context import BaseContext
from multiprocessing.process import BaseProcess
from pathlib import Path
from typing import Any

from marlune import __version__
from marlune._api import link_target, metadata_values, run
from marlune._files import write_atomically
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
    name: str = ""  # the document's relative path without suffix: its picture folder under --images


@dataclass(frozen=True)
class Settings:
    """How every document of a run is converted."""
    exact: bool = False
    tables: str = "auto"
    equations: str = "latex"
    notes: bool = True
    headers: bool = False
    emphasis: bool = True
    placeholders: bool = True  # unfilled click-here fields show their guide text
    images: str | None = None  # the folder pictures are written under
    front_matter: bool = False
    base: str = os.curdir  # picture links of standard output are relative to this folder


@dataclass(frozen=True)
class Outcome:
    source: str
    error: str | None = None
    markdown: str | None = None
    kind: str | None = None  # what sort of failure, for the closing summary


def error_kind(message: str) -> str:
    """The sort of a conversion error, from its text: the words before the
    first colon ("Compound file error", "distribution document", "IO error")
    or the whole message when it has none ("Invalid HWP signature")."""
    head, colon, _ = message.partition(":")
    return head.strip() if colon and head.strip() else message.strip()


def failure(source: str, message: str, kind: str | None = None) -> Outcome:
    return Outcome(source, error=message, kind=kind or error_kind(message))


def positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, not {value}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="marlune", description="Convert HWP 5.0 and HWPX documents to Markdown.",
        epilog="marlune mcp [--root DIR ...] serves documents to an assistant over MCP "
               "(pip install \"marlune[mcp]\"; marlune mcp --help). "
               "본 제품은 한글과컴퓨터의 한글 문서 파일(.hwp) 공개 문서를 참고하여 개발하였습니다.")
    parser.add_argument("paths", nargs="*", metavar="PATH",
                        help="HWP or HWPX files, or directories searched for *.hwp and *.hwpx (with -o)")
    parser.add_argument("-o", "--output", metavar="OUTDIR",
                        help="write OUTDIR/<relative path>.md for each document")
    parser.add_argument("-j", "--jobs", type=positive_int, default=os.cpu_count() or 1,
                        help="worker processes (default: the number of CPUs)")
    parser.add_argument("--dask", metavar="SCHEDULER_ADDRESS",
                        help="convert on the Dask cluster at this address instead of local processes "
                             "(the workers must see the files and OUTDIR; needs marlune[dask])")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="no progress bar, and no summary at the end of a run of several documents")
    parser.add_argument("--exact", action="store_true",
                        help="write hwp_to_markdown's exact output (*.hwp only) instead of the faithful conversion")
    faithful = parser.add_argument_group("faithful conversion")
    faithful.add_argument("--tables", choices=("auto", "html", "pipe"),
                          help="tables as pipe tables with HTML where cells are merged (auto, the default), "
                               "always HTML, or always pipe tables")
    faithful.add_argument("--equations", choices=("latex", "script"),
                          help="equations as LaTeX (latex, the default) or as the equation editor's scripts")
    faithful.add_argument("--no-notes", action="store_true", help="leave out footnotes and endnotes")
    faithful.add_argument("--no-emphasis", action="store_true",
                          help="write bold, italic, strike-through, superscript and subscript as plain text")
    faithful.add_argument("--headers", action="store_true",
                          help="write page headers, footers and master pages, each once")
    faithful.add_argument("--no-placeholders", action="store_true",
                          help="leave out click-here fields nobody filled in (their guide text)")
    faithful.add_argument("--images", metavar="DIR",
                          help="write the pictures of each document to DIR/<document name>/ and link them")
    faithful.add_argument("--front-matter", action="store_true",
                          help="begin each document with its metadata as a YAML block")
    parser.add_argument("--records", metavar="FILE",
                        help="print the record listing of FILE's first section")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


def settings_from(args: argparse.Namespace, parser: argparse.ArgumentParser) -> Settings:
    if args.exact:
        given = [flag for flag, value in (("--tables", args.tables), ("--equations", args.equations),
                                          ("--no-notes", args.no_notes), ("--no-emphasis", args.no_emphasis),
                                          ("--headers", args.headers),
                                          ("--no-placeholders", args.no_placeholders), ("--images", args.images),
                                          ("--front-matter", args.front_matter)) if value]
        if given:
            parser.error(f"{', '.join(given)}: not with --exact (options of the faithful conversion)")
        return Settings(exact=True)
    return Settings(tables=args.tables or "auto", equations=args.equations or "latex", notes=not args.no_notes,
                    headers=args.headers, emphasis=not args.no_emphasis, placeholders=not args.no_placeholders,
                    images=args.images, front_matter=args.front_matter)


def document_suffixes(settings: Settings) -> tuple[str, ...]:
    """What a folder is searched for: the exact conversion reads HWP 5.0 only."""
    return (".hwp",) if settings.exact else (".hwp", ".hwpx")


@dataclass
class Plan:
    jobs: list[Job]
    skipped: int = 0  # files under the folders given that are not documents this run converts


def plan(paths: Sequence[str], output: str | None, suffixes: tuple[str, ...] = (".hwp",)) -> Plan:
    """One job per document, in the order given; directories in sorted order."""
    jobs: list[Job] = []
    skipped = 0
    for given in paths:
        root = Path(given)
        if output is not None and root.is_dir():
            files = sorted(p for p in root.rglob("*") if p.is_file())
            for p in files:
                if p.suffix.lower() not in suffixes:
                    skipped += 1
                    continue
                relative = p.relative_to(root)
                jobs.append(Job(str(p), str(Path(output, relative).with_suffix(".md")),
                                str(relative.with_suffix(""))))
        elif output is not None:
            jobs.append(Job(given, str(Path(output, root.name).with_suffix(".md")), root.stem))
        else:
            jobs.append(Job(given, None, root.stem))
    return Plan(jobs if output is None else separate_targets(jobs), skipped)


def plan_jobs(paths: Sequence[str], output: str | None, suffixes: tuple[str, ...] = (".hwp",)) -> list[Job]:
    return plan(paths, output, suffixes).jobs


def separate_targets(jobs: list[Job]) -> list[Job]:
    """No two documents write one file. A document given twice is converted
    once; documents that differ only in their suffix (doc.hwp beside
    doc.hwpx) keep it in their Markdown's name and picture folder's
    (doc.hwp.md, doc.hwpx.md). Raises ValueError when that still leaves two
    documents on one file (a/x.hwp and b/x.hwp given as files)."""
    sources: dict[str | None, dict[str, None]] = {}  # by target, in order, each once
    for job in jobs:
        sources.setdefault(job.target, {})[job.source] = None
    separated: list[Job] = []
    seen: set[tuple[str, str | None]] = set()
    for job in jobs:
        if (job.source, job.target) in seen:
            continue
        seen.add((job.source, job.target))
        sharing = list(sources[job.target])
        if len(sharing) > 1:
            if len({Path(source).suffix for source in sharing}) < len(sharing):
                raise ValueError(f"{' and '.join(sharing)} would be written to one file, {job.target}")
            suffix = Path(job.source).suffix
            job = Job(job.source, str(Path(str(job.target)).with_suffix(suffix + ".md")), job.name + suffix)
        separated.append(job)
    return separated


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


# Characters a YAML double-quoted scalar must escape: the quote, the
# backslash, line breaks and everything YAML does not count as printable.
_YAML_ESCAPED = re.compile(r'[^\t\x20-\x7e\xa0-\u2027\u202a-\ud7ff\ue000-\ufefe\uff00-\ufffd\U00010000-\U0010ffff]|["\\]')


def _yaml_char(match: re.Match[str]) -> str:
    char = match.group()
    if char in '"\\':
        return "\\" + char
    code = ord(char)
    return f"\\u{code:04x}" if code <= 0xFFFF else f"\\U{code:08x}"


def yaml_value(value: Any) -> str:
    """A metadata value as a YAML scalar: strings double-quoted, times in
    ISO 8601, numbers as they are."""
    if isinstance(value, datetime):
        return value.isoformat().replace("+00:00", "Z")
    if isinstance(value, str):
        return '"' + _YAML_ESCAPED.sub(_yaml_char, value) + '"'
    return str(value)


def front_matter(metadata: dict[str, Any]) -> str:
    lines = "".join(f"{key}: {yaml_value(value)}\n" for key, value in metadata.items())
    return f"---\n{lines}---\n\n"


def image_folder(job: Job, settings: Settings) -> tuple[str, str]:
    """Where a document's pictures go (DIR/<document name>/) and the prefix of
    their links: relative to the .md file, or to the current directory when
    the Markdown goes to standard output."""
    assert settings.images is not None
    folder = os.path.join(settings.images, job.name or Path(job.source).stem)
    start = os.path.dirname(os.path.abspath(job.target)) if job.target is not None else settings.base
    return folder, link_target(os.path.join(os.path.relpath(folder, start), ""))


def faithful_text(job: Job, settings: Settings) -> str:
    options = {"tables": settings.tables, "equations": settings.equations, "notes": settings.notes,
               "headers": settings.headers, "emphasis": settings.emphasis, "placeholders": settings.placeholders}
    folder, prefix = image_folder(job, settings) if settings.images is not None else (None, "")
    markdown, metadata, _images = run(job.source, options, collect=False, folder=folder, link_prefix=prefix)
    if settings.front_matter:
        return front_matter(metadata_values(metadata)) + markdown
    return markdown


# The signature of the 1990s format, which the exact conversion does not read.
HWP3_SIGNATURE = b"HWP Document File V3.00"


def is_hwp3(path: str) -> bool:
    """Whether the file starts with that signature; a file that cannot be
    read is left to the conversion, which reports it in its own words."""
    try:
        with open(path, "rb") as file:
            return file.read(len(HWP3_SIGNATURE)) == HWP3_SIGNATURE
    except OSError:
        return False


def exact_text(job: Job) -> str:
    with readable_path(job.source) as path:
        if is_hwp3(path):
            raise RuntimeError("HWP 3.0 documents are not supported")
        return hwp_to_markdown(path)


def convert(settings: Settings, job: Job) -> Outcome:
    try:
        markdown = exact_text(job) if settings.exact else faithful_text(job, settings)
    except RuntimeError as error:
        return failure(job.source, str(error))
    except OSError as error:
        return failure(job.source, os_error_text(error), "IO error")
    if job.target is None:
        return Outcome(job.source, markdown=markdown)
    try:
        write_atomically(job.target, (markdown + "\n").encode("utf-8") if markdown else b"")
    except OSError as error:
        return failure(job.source, f"cannot write {job.target}: {error.strerror or error}", "cannot write")
    return Outcome(job.source)


# Ctrl-C, held back in the parent while a worker starts so that none ever
# reaches a worker before it ignores it.
_CTRL_C = {signal.SIGINT}


def _serve(connection: Connection, settings: Settings) -> None:
    """A worker: converts each job the parent sends and sends back its
    outcome (or the exception it raised), until it is ended with SIGTERM.
    Ctrl-C is the parent's to handle; SIGTERM keeps its default action,
    which is safe because writes hold it back."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, _CTRL_C)
    while True:
        try:
            job = connection.recv()
        except EOFError:  # the parent is gone
            return
        try:
            reply: Outcome | Exception = convert(settings, job)
        except Exception as error:  # raised again in the parent
            reply = error
        connection.send(reply)


def _start_worker(context: BaseContext, settings: Settings) -> tuple[BaseProcess, Connection]:
    """A forked worker and the parent's end of the pipe it alone uses."""
    ours, theirs = context.Pipe()
    held = signal.pthread_sigmask(signal.SIG_BLOCK, _CTRL_C)
    try:
        process = context.Process(target=_serve, args=(theirs, settings), daemon=True)
        process.start()
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)
        theirs.close()
    return process, ours


def _reply(connection: Connection, process: BaseProcess, job: Job) -> Outcome:
    """The outcome a worker sends back, or a failure if it ended instead."""
    try:
        reply = connection.recv()
    except EOFError:
        process.join()
        return failure(job.source, f"the worker converting it ended (exit status {process.exitcode})",
                       "the worker converting it ended")
    if isinstance(reply, Exception):
        raise reply
    return reply


def run_jobs(jobs: list[Job], workers: int, settings: Settings = Settings()) -> Iterator[Outcome]:
    """Outcomes in the order of the jobs, whichever finishes first.

    Each worker talks to the parent over a pipe of its own, never through a
    queue shared by all: a worker ended half-way through sending a result
    leaves behind no lock the parent or another worker would wait on, so
    ending the batch on Ctrl-C cannot hang (a multiprocessing pool's shared
    result queue can stay locked by a worker its terminate() ended)."""
    if workers <= 1 or len(jobs) <= 1:
        yield from map(functools.partial(convert, settings), jobs)
        return
    context = multiprocessing.get_context("fork")
    processes: dict[Connection, BaseProcess] = {}
    converting: dict[Connection, int] = {}  # a busy worker's pipe: the index of its job
    waiting = iter(range(len(jobs)))
    finished: dict[int, Outcome] = {}

    def hand_next_job(connection: Connection) -> None:
        index = next(waiting, None)
        if index is not None:
            connection.send(jobs[index])
            converting[connection] = index

    try:
        for _ in range(min(workers, len(jobs))):
            process, connection = _start_worker(context, settings)
            processes[connection] = process
            hand_next_job(connection)
        for index in range(len(jobs)):
            while index not in finished:
                for connection in wait(list(converting)):
                    done = converting.pop(connection)
                    finished[done] = _reply(connection, processes[connection], jobs[done])
                    if not processes[connection].is_alive():  # replaced, so the batch goes on
                        connection.close()
                        process, connection = _start_worker(context, settings)
                        processes[connection] = process
                    hand_next_job(connection)
            yield finished.pop(index)
    finally:
        for process in processes.values():
            process.terminate()
        for connection, process in processes.items():
            process.join()
            connection.close()


class ClusterUnreachable(Exception):
    """--dask named a scheduler that could not be reached."""


def on_cluster(job: Job) -> Job:
    """A job that any worker runs alike, whatever its current directory."""
    target = os.path.abspath(job.target) if job.target is not None else None
    return dataclasses.replace(job, source=os.path.abspath(job.source), target=target)


def run_on_dask(jobs: list[Job], address: str, settings: Settings) -> Iterator[Outcome]:
    """Outcomes in the order of the jobs, converted by the cluster's workers
    exactly as local workers would (each writes its own -o output)."""
    from distributed import Client

    settings = dataclasses.replace(settings, base=os.path.abspath(settings.base))
    if settings.images is not None:
        settings = dataclasses.replace(settings, images=os.path.abspath(settings.images))
    try:
        client = Client(address)
    except OSError as error:
        raise ClusterUnreachable(f"cannot reach the Dask scheduler at {address}: {error}") from error
    with client:
        futures = client.map(functools.partial(convert, settings), [on_cluster(job) for job in jobs], pure=False)
        for job, future in zip(jobs, futures):
            yield dataclasses.replace(future.result(), source=job.source)


def progress(total: int, quiet: bool):  # -> tqdm or None
    if quiet or total <= 1 or not sys.stderr.isatty():
        return None
    from tqdm import tqdm

    return tqdm(total=total, file=sys.stderr, unit="doc")


def _silence_stdout() -> None:
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())


@dataclass
class Tally:
    """What a run has done so far, for the summary it ends with."""
    planned: int
    skipped: int = 0
    converted: int = 0
    failed: dict[str, int] = dataclasses.field(default_factory=dict)  # by kind of error
    started: float = dataclasses.field(default_factory=time.monotonic)

    def count(self, outcome: Outcome) -> None:
        if outcome.error is None:
            self.converted += 1
        else:
            kind = outcome.kind or error_kind(outcome.error)
            self.failed[kind] = self.failed.get(kind, 0) + 1

    def summary(self) -> str:
        """One line: converted, failed by kind (most frequent first), skipped
        (with the documents an interruption left unconverted), time taken."""
        failed = sum(self.failed.values())
        parts = [f"{self.converted} converted"]
        if failed:
            kinds = sorted(self.failed.items(), key=lambda item: (-item[1], item[0]))
            parts.append(f"{failed} failed ({', '.join(f'{kind}: {n}' for kind, n in kinds)})")
        not_reached = self.planned - self.converted - failed
        skipped = self.skipped + not_reached
        if skipped:
            parts.append(f"{skipped} skipped" + (f" ({not_reached} not reached)" if not_reached else ""))
        return f"marlune: {', '.join(parts)} in {time.monotonic() - self.started:.2f} s"


def convert_all(jobs: list[Job], workers: int, quiet: bool, settings: Settings = Settings(),
                dask: str | None = None, tally: Tally | None = None) -> int:
    out = sys.stdout.buffer
    bar = progress(len(jobs), quiet)
    failed = False
    first = True
    outcomes = run_jobs(jobs, workers, settings) if dask is None else run_on_dask(jobs, dask, settings)
    try:
        for outcome in outcomes:
            if tally is not None:
                tally.count(outcome)
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


def serve_mcp(argv: Sequence[str]) -> int:
    """`marlune mcp …`: the MCP server, when its extra is installed."""
    try:
        from marlune import mcp
    except ImportError as error:
        print(f"marlune mcp: {error}", file=sys.stderr)
        return EXIT_USAGE
    return mcp.main(argv)


def main(argv: Sequence[str] | None = None) -> int:
    arguments = sys.argv[1:] if argv is None else list(argv)
    # `mcp` names the server unless a file or folder of that name is meant.
    if arguments[:1] == ["mcp"] and not os.path.exists("mcp"):
        return serve_mcp(arguments[1:])
    parser = build_parser()
    args = parser.parse_args(arguments)
    tally: Tally | None = None
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
        settings = settings_from(args, parser)
        if args.dask is not None and importlib.util.find_spec("distributed") is None:
            parser.error('--dask needs Dask: pip install "marlune[dask]"')
        started = time.monotonic()
        try:
            planned = plan(args.paths, args.output, document_suffixes(settings))
        except ValueError as collision:
            parser.error(str(collision))
        if not args.quiet and (args.output is not None or len(planned.jobs) > 1):
            tally = Tally(len(planned.jobs), planned.skipped, started=started)
        status = convert_all(planned.jobs, args.jobs, args.quiet, settings, args.dask, tally)
        if tally is not None:
            print(tally.summary(), file=sys.stderr, flush=True)
        return status
    except KeyboardInterrupt:
        if tally is not None:
            print(tally.summary(), file=sys.stderr)
        print("interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except ClusterUnreachable as error:
        print(error, file=sys.stderr)
        return EXIT_FAILED
    except BrokenPipeError:
        # The reader of --records output went away: not an error of ours.
        _silence_stdout()
        return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
