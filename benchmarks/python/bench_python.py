"""Whole-file coding through the Python package against the C++ library, and with 1, 2 and 4 threads.

    PYTHONPATH=build/bench/python /usr/bin/python3 benchmarks/python/bench_python.py build/bench/g7231bench

The speech is ten copies of all bundled speech (as scripts/bench uses). The C++ figure is g7231bench, which
codes the same speech frame by frame through the C++ interface (reading and writing files as it goes); the
Python figure is one call of Encoder.encode or Decoder.decode on the whole array. Both are timed best of N,
by processor time (the fair figure on a shared machine) and by wall time. The thread figures code one copy
of the speech per thread, each on its own encoder, and give the speed-up of the total work in wall time.
With valgrind installed, the instructions of whole-file coding (valgrind --tool=callgrind, the stable figure
on a shared machine) on one copy of the speech: the Python run less one that stops before coding, against
g7231bench.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy as np

import g7231

ROOT = Path(__file__).resolve().parents[2]


def best(runs, fn):
    """Best of runs (processor seconds, wall seconds) of fn(), which returns the two."""
    results = [fn() for _ in range(runs)]
    return min(r[0] for r in results), min(r[1] for r in results)


def timed_call(fn):
    cpu, wall = time.process_time(), time.perf_counter()
    fn()
    return time.process_time() - cpu, time.perf_counter() - wall


def timed_program(args):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - wall
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), wall


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("g7231bench", help="the g7231bench program of a release build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--copies", type=int, default=10)
    args = parser.parse_args()

    once = np.concatenate([np.fromfile(p, "<i2") for p in sorted((ROOT / "samples/speech").glob("*.raw"))])
    once = once[:len(once) // 240 * 240].astype(np.int16)
    speech = np.tile(once, args.copies)
    seconds = len(speech) / 8000
    print(f"g7231 {g7231.__version__} from {Path(g7231.__file__).parent}; {seconds:.0f} s of speech, "
          f"best of {args.runs}\n")
    print(f"{'task':34} {'C++ cpu s':>10} {'Python cpu s':>13} {'ratio':>7} {'C++ wall':>9} {'Py wall':>8} {'ratio':>7}")
    with tempfile.TemporaryDirectory() as work:
        raw = os.path.join(work, "speech.raw")
        speech.astype("<i2").tofile(raw)
        out = os.path.join(work, "out")
        for mode, rate in (("encode53", 5.3), ("encode63", 6.3)):
            cxx = best(args.runs, lambda: timed_program([args.g7231bench, mode, raw, out]))
            py = best(args.runs, lambda: timed_call(lambda: g7231.Encoder(rate=rate).encode(speech)))
            report(f"encode {rate} kbit/s (VAD, high-pass)", cxx, py)
        records = os.path.join(work, "speech.53")
        subprocess.run([args.g7231bench, "encode53", raw, records], check=True)
        packed = g7231.Encoder(rate=5.3).encode(speech)
        cxx = best(args.runs, lambda: timed_program([args.g7231bench, "decode", records, out]))
        py = best(args.runs, lambda: timed_call(lambda: g7231.Decoder().decode(packed)))
        report("decode 5.3 kbit/s (postfilter)", cxx, py)

    if shutil.which("valgrind"):
        instructions(args.g7231bench, once)

    share = np.tile(once, 2)
    print(f"\nThreads, each encoding its own copy of {len(share) / 8000:.0f} s of speech at 5.3 kbit/s "
          f"({os.cpu_count()} processors; processor time / wall time is the number of cores kept busy):")
    single = None
    for threads in (1, 2, 4):
        def work():
            with ThreadPoolExecutor(threads) as pool:
                list(pool.map(lambda _: g7231.Encoder().encode(share), range(threads)))
        runs = [timed_call(work) for _ in range(args.runs)]
        cpu, wall = min(runs, key=lambda r: r[1])
        throughput = threads * len(share) / 8000 / wall
        single = single or throughput
        print(f"  {threads} thread(s): {wall:6.3f} s wall, {throughput:6.0f} x real time, "
              f"{throughput / single:4.2f} x one thread, {cpu / wall:4.2f} cores busy")


# Codes once.raw through the package as the command line says: "none" loads it only.
_CODE = """import sys, numpy as np, g7231
x = np.fromfile(sys.argv[2], "<i2").astype(np.int16)
if sys.argv[1] != "none": data = g7231.Encoder(rate=5.3).encode(x)
if sys.argv[1] == "decode": g7231.Decoder().decode(data)
"""


def instructions(g7231bench, once):
    def count(command, work):
        out = os.path.join(work, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", *command], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return next(int(line.split()[1]) for line in open(out) if line.startswith("summary:"))

    with tempfile.TemporaryDirectory() as work:
        raw, coded = os.path.join(work, "once.raw"), os.path.join(work, "once.53")
        once.astype("<i2").tofile(raw)
        py = {mode: count([sys.executable, "-c", _CODE, mode, raw], work) for mode in ("none", "encode", "decode")}
        cxx_encode = count([g7231bench, "encode53", raw, coded], work)
        cxx_decode = count([g7231bench, "decode", coded, os.path.join(work, "out.raw")], work)
    frames = len(once) // 240
    print(f"\nInstructions per frame (callgrind, {frames} frames, 5.3 kbit/s):")
    for task, p, c in (("encode", py["encode"] - py["none"], cxx_encode),
                       ("decode", py["decode"] - py["encode"], cxx_decode)):
        print(f"  {task}: Python {p / frames:,.0f}, g7231bench {c / frames:,.0f}, ratio {p / c:.4f}")


def report(task, cxx, py):
    print(f"{task:34} {cxx[0]:10.3f} {py[0]:13.3f} {py[0] / cxx[0]:7.3f} {cxx[1]:9.3f} {py[1]:8.3f} {py[1] / cxx[1]:7.3f}")


if __name__ == "__main__":
    sys.exit(main())
