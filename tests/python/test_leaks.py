"""Repeated conversions must not grow the C heap: a service converts
thousands of files, damaged ones included, in one process."""

import ctypes
import ctypes.util
import os
from pathlib import Path

import pytest

import hwpfixture as hf
from marlune import hwp_debug_records, hwp_to_markdown

REGRESSIONS = Path(__file__).resolve().parents[1] / "regressions"


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def heap_in_use() -> int:
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    mallinfo2 = getattr(libc, "mallinfo2", None)
    if mallinfo2 is None or os.environ.get("LD_PRELOAD"):
        pytest.skip("needs glibc's own allocator (mallinfo2)")
    mallinfo2.restype = MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


def convert_repeatedly(path: str, times: int) -> None:
    for _ in range(times):
        for function in (hwp_to_markdown, hwp_debug_records):
            try:
                function(path)
            except RuntimeError:
                pass


DOCUMENTS = {
    "sound document": lambda: hf.hwp_document([hf.para("본문") + hf.table([["a", "b"]]) + hf.equation("x")]),
    "not a compound file": lambda: b"plain text, not a container",
    "root entry with sibling links": lambda: (REGRESSIONS / "document" / "libgsf-root-sibling-leak.hwp").read_bytes(),
}


@pytest.mark.parametrize("make", DOCUMENTS.values(), ids=DOCUMENTS.keys())
def test_repeated_conversion_keeps_the_heap_flat(tmp_path, make):
    path = tmp_path / "doc.hwp"
    path.write_bytes(make())
    convert_repeatedly(str(path), 50)  # warm caches and one-time set-up
    before = heap_in_use()
    convert_repeatedly(str(path), 2000)
    # 2,000 leaked blocks of even 50 bytes would show as 100 KB.
    assert heap_in_use() - before < 64 * 1024
