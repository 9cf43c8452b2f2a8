"""A batch of audio files coded on a dask.distributed cluster, one file per task.

    from dask.distributed import Client, LocalCluster
    import g7231.dask

    with LocalCluster(n_workers=4, threads_per_worker=1) as cluster, Client(cluster) as client:
        records = g7231.dask.transcode(paths, "coded", client, rate=6.3)

For a real cluster give a Client connected to its scheduler, Client("tcp://scheduler:8786"): every worker
needs this package installed and must see the input paths and out_dir (a shared file system).
"""
from __future__ import annotations

import os
import time
from pathlib import Path
from typing import Iterable, List

from . import decode_file, encode_file

__all__ = ["transcode"]

_OUTPUT_SUFFIX = {"encode": ".g723", "decode": ".wav"}


def _one(src: str, dst: str, command: str, options: dict) -> dict:
    """Codes one file on a worker; any failure becomes the record's error rather than the task's."""
    started = time.perf_counter()
    record = {"path": src, "output": dst, "error": None}
    try:
        coder = encode_file if command == "encode" else decode_file
        record.update(coder(src, dst, **options))
    except Exception as error:  # reported in the file's record; the other files go on
        record["error"] = f"{type(error).__name__}: {error}"
    record["task_seconds"] = time.perf_counter() - started
    return record


def transcode(paths: Iterable[os.PathLike | str], out_dir: os.PathLike | str, client, *,
              command: str = "encode", **options) -> List[dict]:
    """Codes each file of paths into out_dir on the cluster behind client (a dask.distributed Client).

    command "encode" (the default) writes out_dir/NAME.g723 with g7231.encode_file (options: rate, vad,
    highpass); "decode" writes out_dir/NAME.wav from packed frames with g7231.decode_file (options:
    postfilter, sample_rate). Returns one record per path, in order: {"path", "output", "frames" (by kind),
    "bytes", "seconds" (of speech), "task_seconds", "error"}; a file that fails has its message in "error"
    (None otherwise) and the others are coded all the same. Two inputs with the same NAME would write the
    same output, and are refused with ValueError before anything runs.
    """
    if command not in _OUTPUT_SUFFIX:
        raise ValueError(f"command must be 'encode' or 'decode', not {command!r}")
    sources = [os.fspath(p) for p in paths]
    out = Path(out_dir)
    outputs = [str(out / (Path(s).stem + _OUTPUT_SUFFIX[command])) for s in sources]
    seen = {}
    for src, dst in zip(sources, outputs):
        if dst in seen:
            raise ValueError(f"{seen[dst]} and {src} would both be written to {dst}")
        seen[dst] = src
    out.mkdir(parents=True, exist_ok=True)
    futures = client.map(_one, sources, outputs, command=command, options=options, pure=False)
    records = []
    for src, dst, future in zip(sources, outputs, futures):
        try:
            records.append(future.result())
        except Exception as error:  # the task itself was lost (a worker died, say)
            records.append({"path": src, "output": dst, "error": f"{type(error).__name__}: {error}"})
    return records
