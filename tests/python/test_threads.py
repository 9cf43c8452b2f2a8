"""Four threads coding at once, each with its own objects, give the bytes and samples of one thread."""
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import g7231


def test_four_threads_give_the_single_thread_results(speech):
    jobs = [(x, rate) for x in speech.values() for rate in (5.3, 6.3)]

    def code(job):
        x, rate = job
        data = g7231.Encoder(rate=rate).encode(x)
        return data, g7231.Decoder().decode(data)

    alone = [code(job) for job in jobs]
    with ThreadPoolExecutor(4) as pool:
        together = list(pool.map(code, jobs))
    for (a_bytes, a_pcm), (b_bytes, b_pcm) in zip(alone, together):
        assert a_bytes == b_bytes
        np.testing.assert_array_equal(a_pcm, b_pcm)


def test_threads_sharing_one_encoder_take_turns(speech):
    # Calls on one object are serialised: each call codes whole, and the stream is the frames of the calls
    # in some order, never a corrupted mixture.
    x = speech["hts1a"][:240 * 10]
    shared = g7231.Encoder(vad=False)
    with ThreadPoolExecutor(4) as pool:
        outputs = list(pool.map(lambda _: shared.encode(x), range(8)))
    assert all(len(data) == 10 * 20 for data in outputs)


def test_coding_lets_other_python_threads_run(speech):
    # With the GIL held, this thread would stand still for the whole call; released, it keeps running
    # (its longest pause is then scheduling, far below the call's length).
    x = np.tile(np.concatenate(list(speech.values())), 6)
    x = x[:len(x) // 240 * 240]
    done = threading.Event()
    took = []

    def code():
        start = time.perf_counter()
        g7231.Encoder().encode(x)
        took.append(time.perf_counter() - start)
        done.set()

    worker = threading.Thread(target=code)
    last, longest = time.perf_counter(), 0.0
    worker.start()
    while not done.is_set():
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    worker.join()
    assert longest < took[0] / 3, (longest, took[0])
