"""HWP and HWPX archives converted on a Dask cluster.

``convert_bag(paths, **options)`` gives a ``dask.bag.Bag`` of one record per
document, ``{"path", "markdown", "metadata", "error"}``: a document that fails
is a record whose ``error`` holds the reader's text (``markdown`` and
``metadata`` None), never a failed task. Metadata times are ISO 8601 strings,
so records go straight to JSON Lines:

    convert_bag(paths).map(json.dumps).to_textfiles("out/*.jsonl")

Options (``tables``, ``equations``, ``notes``, ``headers``, ``images``) go to
``marlune.convert`` unchanged. The paths must be readable by the workers.
Needs ``pip install "marlune[dask]"``.
"""

from __future__ import annotations

import math
import os
from collections.abc import Iterable
from typing import Any

try:
    import dask.bag
except ImportError as error:
    from marlune._api import missing_extra

    raise missing_extra("marlune.dask", "Dask", "dask") from error

from marlune._api import plain_metadata, read


def convert_record(path: str, options: dict[str, Any]) -> dict[str, Any]:
    """One document's record; a failure is a value, not an exception."""
    try:
        markdown, metadata = read(path, **options)
    except RuntimeError as error:
        return {"path": path, "markdown": None, "metadata": None, "error": str(error)}
    return {"path": path, "markdown": markdown, "metadata": plain_metadata(metadata), "error": None}


# A task costs the scheduler about a millisecond and a document a fraction of
# one: a task should carry at least this many documents.
MIN_DOCUMENTS_PER_TASK = 64
MAX_TASKS = 100


def convert_bag(paths: Iterable[str | os.PathLike[str]], *, npartitions: int | None = None,
                **options: Any) -> dask.bag.Bag:
    """A bag converting every path, in the order given. ``npartitions``:
    how many tasks share the documents (default: one per 64 documents, at
    most 100)."""
    names = [os.fsdecode(path) for path in paths]
    if npartitions is None:
        npartitions = max(1, min(MAX_TASKS, math.ceil(len(names) / MIN_DOCUMENTS_PER_TASK)))
    return dask.bag.from_sequence(names, npartitions=npartitions).map(convert_record, options)
