"""The framework integrations against the real frameworks (installed by the
test extra): LangChain's loader and blob parser, LlamaIndex's reader, Dask's
bag and the command's --dask; each gives what marlune.convert gives."""

from __future__ import annotations

import contextlib
import json
import re
import os
import subprocess
import sys
import time
import warnings
from datetime import datetime, timezone
from pathlib import Path

import pytest

import hwpfixture as hf
import marlune
from marlune._api import plain_metadata

with warnings.catch_warnings():  # langchain-community announces its own retirement on import
    warnings.simplefilter("ignore", DeprecationWarning)
    from langchain_community.document_loaders.generic import GenericLoader
import psutil
from distributed import Client, LocalCluster
from llama_index.core import SimpleDirectoryReader

from marlune.dask import convert_bag
from marlune.langchain import MarluneLoader, MarluneParser
from marlune.llama_index import MarluneReader

MISSING = "IO error: No such file or directory (os error 2)"


@pytest.fixture
def archive(tmp_path: Path) -> Path:
    """Two documents, a damaged one and files that are not documents."""
    hf.write_document(tmp_path / "a.hwp", [hf.para("첫 문서") + hf.para("둘째 문단")])
    (tmp_path / "sub").mkdir()
    hf.write_document(tmp_path / "sub" / "b.hwp", [hf.para("둘째 문서"), hf.para("구역 2")])
    (tmp_path / "sub" / "broken.hwp").write_bytes(b"not a compound file" * 30)
    (tmp_path / "notes.txt").write_text("not a document")
    (tmp_path / "sub" / "image.png").write_bytes(b"\x89PNG")
    return tmp_path


def good(archive: Path) -> list[Path]:
    return [archive / "a.hwp", archive / "sub" / "b.hwp"]


def test_langchain_loader_gives_convert_output_and_json_metadata(archive):
    documents = MarluneLoader(good(archive), tables="html").load()
    assert [d.page_content for d in documents] == [marlune.convert(p, tables="html") for p in good(archive)]
    assert [d.metadata["source"] for d in documents] == [str(p) for p in good(archive)]
    assert documents[1].metadata["sections"] == 2 and documents[1].metadata["format"] == "hwp"
    assert json.loads(json.dumps([d.metadata for d in documents])) == [d.metadata for d in documents]
    assert MarluneLoader(archive / "a.hwp").load()[0].page_content == marlune.convert(archive / "a.hwp")


def test_langchain_loader_is_lazy(archive):
    asked = []

    def paths():
        yield archive / "a.hwp"
        asked.append("second")
        yield archive / "sub" / "broken.hwp"

    documents = MarluneLoader(paths()).lazy_load()
    assert next(documents).page_content == marlune.convert(archive / "a.hwp") and asked == []
    with pytest.raises(RuntimeError, match="Compound file error"):
        next(documents)


def test_langchain_on_error(archive):
    paths = [archive / "sub" / "broken.hwp", archive / "a.hwp", archive / "missing.hwp"]
    assert [d.metadata["source"] for d in MarluneLoader(paths, on_error="skip").load()] == [str(archive / "a.hwp")]
    with pytest.raises(RuntimeError, match=re.escape(MISSING)):
        MarluneLoader(paths[1:]).load()
    with pytest.raises(ValueError):
        MarluneLoader(paths, on_error="ignore")


def test_langchain_generic_loader_parses_blobs_of_a_glob(archive):
    loader = GenericLoader.from_filesystem(archive, glob="**/*.hwp", exclude=["**/broken.hwp"],
                                           parser=MarluneParser())
    documents = sorted(loader.load(), key=lambda d: d.metadata["source"])
    assert [d.page_content for d in documents] == [marlune.convert(p) for p in good(archive)]
    skipping = GenericLoader.from_filesystem(archive, glob="**/*", parser=MarluneParser(on_error="skip"))
    assert len(skipping.load()) == 2  # the text file, the picture and the damaged document give nothing


@pytest.mark.parametrize("workers", [None, 2])
def test_llama_index_reader_in_simple_directory_reader(archive, workers):
    reader = SimpleDirectoryReader(archive, recursive=True, required_exts=[".hwp"], exclude=["**/broken.hwp"],
                                   file_extractor={".hwp": MarluneReader(notes=False)})
    documents = sorted(reader.load_data(num_workers=workers), key=lambda d: d.metadata["file_path"])
    assert [d.text for d in documents] == [marlune.convert(p, notes=False) for p in good(archive)]
    assert documents[0].metadata["file_name"] == "a.hwp" and documents[0].metadata["format"] == "hwp"


def test_llama_index_reader_reads_through_fs_and_keeps_extra_info(archive):
    import fsspec

    document, = MarluneReader().load_data(archive / "a.hwp", extra_info={"origin": "x"},
                                          fs=fsspec.filesystem("file"))
    assert document.text == marlune.convert(archive / "a.hwp")
    assert document.metadata == {"sections": 1, "version": "5.0.3.0", "format": "hwp", "origin": "x"}


def test_metadata_times_become_iso_strings():
    when = datetime(2024, 1, 2, 3, 4, 5, tzinfo=timezone.utc)
    assert plain_metadata({"created": when, "sections": 1}) == {"created": "2024-01-02T03:04:05+00:00",
                                                                "sections": 1}


def running(pids: list[int]) -> list[int]:
    """The processes among pids that still run (a zombie has ended)."""
    alive = []
    for pid in pids:
        with contextlib.suppress(psutil.NoSuchProcess):
            if psutil.Process(pid).status() != psutil.STATUS_ZOMBIE:
                alive.append(pid)
    return alive


@pytest.fixture(scope="module")
def cluster():
    """Two worker processes; none may outlive the cluster."""
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster:
        with Client(cluster) as client:
            pids = list(client.run(os.getpid).values())
            yield cluster
    assert len(pids) == 2
    deadline = time.monotonic() + 10
    while running(pids) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert running(pids) == []


def test_dask_bag_equals_the_serial_conversion(archive, cluster):
    paths = [*good(archive), archive / "sub" / "broken.hwp", archive / "missing.hwp"]
    with Client(cluster):
        records = convert_bag(paths, tables="pipe").compute()
    assert [r["path"] for r in records] == [str(p) for p in paths]
    assert [r["markdown"] for r in records[:2]] == [marlune.convert(p, tables="pipe") for p in good(archive)]
    assert [r["metadata"]["sections"] for r in records[:2]] == [1, 2]
    assert [r["error"] for r in records] == [None, None, "Compound file error: not a compound file", MISSING]
    assert json.loads(json.dumps(records)) == records


def test_command_runs_a_batch_on_the_cluster(archive, cluster):
    proc = subprocess.run([sys.executable, "-m", "marlune", ".", "-o", "out", "--dask", cluster.scheduler_address],
                          cwd=archive, capture_output=True, timeout=120)
    assert proc.returncode == 1
    assert proc.stderr.decode().splitlines()[:1] == ["sub/broken.hwp: Compound file error: not a compound file"]
    for path in good(archive):
        relative = path.relative_to(archive).with_suffix(".md")
        assert (archive / "out" / relative).read_text() == marlune.convert(path) + "\n"


@pytest.mark.parametrize("module, framework, extra", [
    ("marlune.langchain", "langchain_core", "langchain"),
    ("marlune.llama_index", "llama_index", "llama-index"),
    ("marlune.dask", "dask", "dask"),
    ("marlune.mcp", "mcp", "mcp"),
    ("marlune.markitdown", "markitdown", "markitdown"),
])
def test_a_missing_framework_names_the_extra(module, framework, extra):
    code = f"import sys; sys.modules[{framework!r}] = None\ntry:\n import {module}\nexcept ImportError as e: print(e)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    assert f'pip install "marlune[{extra}]"' in out
