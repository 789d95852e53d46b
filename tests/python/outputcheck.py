"""What no conversion may ever give back, whatever the document holds: C0
control characters other than tab and line feed, lone surrogates, and
picture names that are not one safe file name."""

from __future__ import annotations

import re
from typing import Any

_UNCLEAN = re.compile(r"[\x00-\x08\x0b-\x1f\ud800-\udfff]")


def unclean_text(text: str) -> list[str]:
    """The forbidden characters of text, as their code points."""
    return [f"U+{ord(c):04X}" for c in _UNCLEAN.findall(text)]


def unsafe_name(name: str) -> bool:
    """Whether a picture name could leave its folder or upset a file system."""
    return (not name or name.startswith(".") or "/" in name or "\\" in name or bool(_UNCLEAN.search(name))
            or "\x7f" in name or len(name.encode("utf-8")) > 100)


def output_faults(markdown: str, metadata: dict[str, Any] | None = None,
                  images: list[tuple[str, str, bytes]] | None = None) -> list[str]:
    """Everything wrong with one conversion's output, empty when it is clean."""
    faults = [f"markdown {c}" for c in unclean_text(markdown)]
    for key, value in (metadata or {}).items():
        if isinstance(value, str):
            faults += [f"{key} {c}" for c in unclean_text(value)]
    names = [item[0] for item in images or []]
    faults += [f"unsafe name {name!r}" for name in names if unsafe_name(name)]
    if len({name.lower() for name in names}) != len(names):
        faults.append(f"names repeat: {names}")
    return faults
