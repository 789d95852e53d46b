"""Files written through a temporary file renamed into place, so that an
interrupted run never leaves a half-written one."""

from __future__ import annotations

import contextlib
import os
import signal
import tempfile

# Interrupts are held back while a file is written: one that arrives meanwhile
# takes effect once the temporary file is renamed into place or removed,
# never in between.
_INTERRUPTS = {signal.SIGINT, signal.SIGTERM}


def _umask() -> int:
    """The process's umask, read without changing it where Linux shows it
    (setting it to read it would race with other threads creating files)."""
    with contextlib.suppress(OSError, ValueError):
        with open("/proc/self/status", encoding="ascii", errors="replace") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_atomically(target: str, data: bytes) -> None:
    """Writes data to target through a temporary file in the same folder
    (created if missing), renamed into place."""
    folder = os.path.dirname(target) or os.curdir
    os.makedirs(folder, exist_ok=True)
    mode = 0o666 & ~_umask()
    temporary = None
    held = signal.pthread_sigmask(signal.SIG_BLOCK, _INTERRUPTS)
    try:
        fd, temporary = tempfile.mkstemp(dir=folder, prefix=".marlune-", suffix=".tmp")
        with os.fdopen(fd, "wb") as stream:
            os.fchmod(stream.fileno(), mode)
            stream.write(data)
        os.replace(temporary, target)
        temporary = None
    finally:
        if temporary is not None:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(temporary)
        signal.pthread_sigmask(signal.SIG_SETMASK, held)
