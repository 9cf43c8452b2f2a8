"""The dual-rate 5.3/6.3 kbit/s speech codec with silence compression, for NumPy.

    enc = g7231.Encoder(rate=5.3)             # 8 kHz int16 in, packed frames out
    data = enc.encode(pcm)                    # len(pcm) a multiple of 240 (30 ms)
    speech = g7231.Decoder().decode(data)     # int16, 240 samples per frame
    for kind, rate, frame in g7231.frames(data): ...
    y = g7231.simulate(x, 16000)              # any rate, mono or (channels, n), aligned with x

Encoder and Decoder read their input in place and release the GIL while they code, so threads of a data
loader run at once, each with its own objects. simulate() and the file functions need scipy and soundfile;
g7231.dask spreads a batch of files over a dask.distributed cluster.
"""
from __future__ import annotations

import math
import os
import tempfile
import warnings
from pathlib import Path
from typing import Iterator, Optional, Tuple, Union

import numpy as np

from ._g7231 import FRAME_SAMPLES, Decoder, Encoder, __version__, frame_size, frame_type

__all__ = ["Encoder", "Decoder", "frames", "simulate", "encode_file", "decode_file", "__version__",
           "SAMPLE_RATE", "FRAME_SAMPLES", "DELAY_SAMPLES", "FrameKind"]

#: The codec's sample rate (Hz).
SAMPLE_RATE = 8000
#: Samples by which decoded speech lags the encoder's input (one 60-sample subframe, 7.5 ms, the encoder's
#: analysis delay), at both rates, with and without the postfilter: decoded sample n + 60 matches input
#: sample n.
DELAY_SAMPLES = 60

FrameKind = str  # "speech", "sid" or "untransmitted"
PathLike = Union[str, "os.PathLike[str]"]

_KINDS = {0: ("speech", 6.3), 1: ("speech", 5.3), 2: ("sid", None), 3: ("untransmitted", None)}
_RAW_SUFFIXES = (".raw", ".pcm")


def frames(data) -> Iterator[Tuple[FrameKind, Optional[float], bytes]]:
    """Iterates over the frames of a packed stream (the format of Encoder.encode and `g7231 encode`).

    Yields (kind, rate, frame): kind "speech", "sid" or "untransmitted"; rate 5.3 or 6.3 for speech frames
    and None for the others (they carry no rate); frame the frame's bytes. Raises ValueError on reaching a
    last frame cut short by the end of data, TypeError for data that is not bytes-like.
    """
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError(f"data must be a bytes-like object of packed frames, not {type(data).__name__}") from None
    if view.itemsize != 1:
        raise TypeError(f"data must be made of bytes, not of {view.itemsize}-byte items")
    if view.ndim != 1 or not view.c_contiguous:
        raise ValueError("data must be one-dimensional and contiguous; pass bytes(data)")
    view = view.cast("B")
    at = 0
    while at < len(view):
        size = frame_size(view[at])
        if at + size > len(view):
            raise ValueError(f"the packed stream ends inside its last frame: {len(view) - at} of its {size} "
                             f"bytes, at byte {at}")
        kind, rate = _KINDS[frame_type(view[at])]
        yield kind, rate, bytes(view[at:at + size])
        at += size


def simulate(x: np.ndarray, sample_rate: int, rate: float = 5.3, vad: bool = False,
             postfilter: bool = True) -> np.ndarray:
    """The telephone channel as one call: x coded at `rate` and decoded again, aligned with x.

    x: int16 or float (full scale ±1.0) samples at any sample rate, shape (n,) or (channels, n); each channel
    is coded on its own stream. The signal is taken to 8 kHz and back with scipy.signal.resample_poly, coded
    with the high-pass filter on and voice activity detection as `vad` says, decoded with or without the
    postfilter, and moved back by the codec's delay (DELAY_SAMPLES), so that output sample n lines up with
    input sample n. Returns an array of x's shape and dtype. Float samples beyond full scale are limited
    (with a warning); NaN or infinite samples raise ValueError, other dtypes TypeError.
    """
    from scipy.signal import resample_poly

    if not isinstance(x, np.ndarray):
        raise TypeError(f"x must be a NumPy array of int16 or float samples, not {type(x).__name__}")
    if x.dtype not in (np.int16, np.float32, np.float64):
        raise TypeError(f"x must hold int16, float32 or float64 samples, not dtype {x.dtype}")
    if x.ndim not in (1, 2):
        raise ValueError(f"x must have shape (n,) or (channels, n), not {x.shape}")
    if isinstance(sample_rate, bool) or not isinstance(sample_rate, (int, np.integer)) or sample_rate <= 0:
        raise ValueError(f"sample_rate must be a positive whole number of Hz, not {sample_rate!r}")
    Encoder(rate=rate)  # checks rate before any work
    is_float = x.dtype != np.int16
    if is_float and not np.isfinite(x).all():
        raise ValueError("x holds NaN or infinite samples")
    channels = x.reshape(1, -1) if x.ndim == 1 else x
    n = channels.shape[1]
    if n == 0:
        return x.copy()
    common = math.gcd(int(sample_rate), SAMPLE_RATE)
    up, down = SAMPLE_RATE // common, int(sample_rate) // common

    out = np.empty(channels.shape, np.float64)
    limited = 0
    for c, channel in enumerate(channels):
        signal = channel.astype(np.float64) * (32768.0 if is_float else 1.0)
        narrow = resample_poly(signal, up, down) if up != down else signal
        narrow = np.rint(narrow)
        limited += int(np.count_nonzero((narrow > 32767) | (narrow < -32768)))
        pcm = np.clip(narrow, -32768, 32767).astype(np.int16)
        m = len(pcm)
        frames_needed = -(-(m + DELAY_SAMPLES) // FRAME_SAMPLES)
        padded = np.zeros(frames_needed * FRAME_SAMPLES, np.int16)
        padded[:m] = pcm
        decoded = Decoder(postfilter=postfilter).decode(Encoder(rate=rate, vad=vad).encode(padded))
        coded = decoded[DELAY_SAMPLES:DELAY_SAMPLES + m].astype(np.float64)
        wide = resample_poly(coded, down, up) if up != down else coded
        out[c, :min(n, len(wide))] = wide[:n]
        out[c, len(wide):] = 0.0
    if limited and is_float:
        warnings.warn(f"simulate: {limited} samples beyond full scale were limited", stacklevel=2)
    if is_float:
        result = (out / 32768.0).astype(x.dtype)
    else:
        result = np.clip(np.rint(out), -32768, 32767).astype(np.int16)
    return result.reshape(x.shape)


def _is_raw(path: Path) -> bool:
    return path.suffix.lower() in _RAW_SUFFIXES


def _read_speech(src: Path) -> np.ndarray:
    """src as 8 kHz int16 samples: raw 16-bit little-endian PCM at 8 kHz for a .raw/.pcm name, else any
    file libsndfile reads, channels averaged and taken to 8 kHz."""
    if _is_raw(src):
        return np.fromfile(src, "<i2").astype(np.int16)
    import soundfile
    from scipy.signal import resample_poly

    audio, rate = soundfile.read(src, dtype="float64", always_2d=True)
    mono = audio.mean(axis=1) * 32768.0
    if rate != SAMPLE_RATE:
        common = math.gcd(int(rate), SAMPLE_RATE)
        mono = resample_poly(mono, SAMPLE_RATE // common, int(rate) // common)
    return np.clip(np.rint(mono), -32768, 32767).astype(np.int16)


def _write_in_place_of(dst: Path, write) -> None:
    """Calls write(temporary path) beside dst and renames the result to dst when complete, so that a
    failure leaves dst as it was and no partial file behind."""
    dst.parent.mkdir(parents=True, exist_ok=True)
    fd, tmp = tempfile.mkstemp(prefix=f".{dst.name}.", suffix=dst.suffix, dir=dst.parent)
    os.close(fd)
    try:
        write(Path(tmp))
        os.replace(tmp, dst)
    except BaseException:
        os.unlink(tmp)
        raise


def _check_distinct(src: Path, dst: Path) -> None:
    if dst.exists() and src.exists() and os.path.samefile(src, dst):
        raise ValueError(f"{src} and {dst} are the same file")


def _count(data: bytes) -> dict:
    """Frames of a packed stream by kind, a last frame cut short included."""
    counts = {"speech": 0, "sid": 0, "untransmitted": 0}
    at = 0
    while at < len(data):
        counts[_KINDS[frame_type(data[at])][0]] += 1
        at += frame_size(data[at])
    return counts


def encode_file(src: PathLike, dst: PathLike, *, rate: float = 5.3, vad: bool = True,
                highpass: bool = True) -> dict:
    """Codes an audio file into a file of packed frames, as `g7231 encode SRC DST` does.

    src: raw 16-bit little-endian PCM at 8 kHz for a .raw or .pcm name, else any file libsndfile reads (WAV,
    FLAC, AIFF...; channels averaged, other rates taken to 8 kHz with resample_poly). The last frame is
    completed with silence. dst appears only when complete. Returns {"frames": {"speech": n, "sid": n,
    "untransmitted": n}, "bytes": n, "seconds": duration coded}.
    """
    src, dst = Path(src), Path(dst)
    _check_distinct(src, dst)
    pcm = _read_speech(src)
    if len(pcm) == 0:
        raise ValueError(f"{src} holds no audio")
    padded = np.zeros(-(-len(pcm) // FRAME_SAMPLES) * FRAME_SAMPLES, np.int16)
    padded[:len(pcm)] = pcm
    data = Encoder(rate=rate, vad=vad, highpass=highpass).encode(padded)
    _write_in_place_of(dst, lambda tmp: tmp.write_bytes(data))
    return {"frames": _count(data), "bytes": len(data), "seconds": len(padded) / SAMPLE_RATE}


def decode_file(src: PathLike, dst: PathLike, *, postfilter: bool = True, sample_rate: int = SAMPLE_RATE) -> dict:
    """Decodes a file of packed frames into audio, as `g7231 decode SRC DST` does.

    dst: raw 16-bit little-endian PCM for a .raw or .pcm name, else a 16-bit file of the type its name says
    (.wav, .flac...), at sample_rate (8000 by default; others through resample_poly). A last frame cut short
    is concealed and counted. dst appears only when complete. Returns {"frames": {...}, "concealed": n,
    "bytes": n, "seconds": duration decoded}.
    """
    src, dst = Path(src), Path(dst)
    _check_distinct(src, dst)
    if isinstance(sample_rate, bool) or not isinstance(sample_rate, (int, np.integer)) or sample_rate <= 0:
        raise ValueError(f"sample_rate must be a positive whole number of Hz, not {sample_rate!r}")
    data = src.read_bytes()
    if not data:
        raise ValueError(f"{src} holds no frames")
    decoder = Decoder(postfilter=postfilter)
    speech = decoder.decode(data)
    counts = _count(data)
    seconds = len(speech) / SAMPLE_RATE
    if sample_rate != SAMPLE_RATE:
        from scipy.signal import resample_poly

        common = math.gcd(int(sample_rate), SAMPLE_RATE)
        wide = resample_poly(speech.astype(np.float64), int(sample_rate) // common, SAMPLE_RATE // common)
        speech = np.clip(np.rint(wide), -32768, 32767).astype(np.int16)

    def write(tmp: Path) -> None:
        if _is_raw(dst):
            speech.astype("<i2").tofile(tmp)
        else:
            import soundfile

            soundfile.write(tmp, speech, int(sample_rate), subtype="PCM_16")

    _write_in_place_of(dst, write)
    return {"frames": counts, "concealed": decoder.frames_concealed, "bytes": len(data), "seconds": seconds}
