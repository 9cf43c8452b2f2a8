"""Frames of a packed stream, concealment, and the telephone channel of simulate()."""
import numpy as np
import pytest
from scipy.signal import resample_poly

import g7231


@pytest.fixture(scope="module")
def stream(speech):
    """Speech, then digital silence, then speech again: every frame kind at 5.3 kbit/s."""
    x = speech["hts1a"]
    return g7231.Encoder(rate=5.3, vad=True).encode(np.concatenate([x, np.zeros(240 * 40, np.int16), x]))


def test_frames_walk_the_stream_in_kinds_rates_and_natural_lengths(stream):
    frames = list(g7231.frames(stream))
    sizes = {("speech", 5.3): 20, ("sid", None): 4, ("untransmitted", None): 1}
    assert {(kind, rate) for kind, rate, _ in frames} == set(sizes)
    assert all(len(frame) == sizes[kind, rate] for kind, rate, frame in frames)
    assert b"".join(frame for _, _, frame in frames) == stream
    high = g7231.Encoder(rate=6.3, vad=False).encode(np.tile(np.int16([900, -900]), 1200))
    assert [(kind, rate, len(frame)) for kind, rate, frame in g7231.frames(high)] == [("speech", 6.3, 24)] * 10
    with pytest.raises(ValueError, match="ends inside its last frame: 23 of its 24 bytes"):
        list(g7231.frames(high[:-1]))


def test_damaged_cut_and_lost_frames_are_concealed_and_counted(stream):
    decoder = g7231.Decoder()
    speech_frames = [frame for kind, _, frame in g7231.frames(stream) if kind == "speech"]
    first = decoder.decode(speech_frames[0])
    assert first.dtype == np.int16 and first.shape == (240,) and decoder.frames_concealed == 0
    # Cut short: one frame, concealed, no exception.
    assert decoder.decode(speech_frames[1][:10]).shape == (240,) and decoder.frames_concealed == 1
    assert decoder.lost().shape == (240,) and decoder.frames_concealed == 2
    # Any bytes at all decode to whole frames without raising.
    noise = np.random.default_rng(1).integers(0, 256, 5000, dtype=np.uint8)
    y = decoder.decode(noise)
    assert y.dtype == np.int16 and len(y) % 240 == 0 and len(y) > 0
    assert decoder.decode(b"").shape == (0,)
    # bytearray, memoryview and uint8 arrays are read in place like bytes.
    a, b, c = (g7231.Decoder().decode(v) for v in (stream, bytearray(stream), np.frombuffer(stream, np.uint8)))
    np.testing.assert_array_equal(a, b)
    np.testing.assert_array_equal(a, c)


def lag_of_peak(x, y, span=400):
    """The lag at which y best matches x (positive: y late)."""
    n = len(x)
    c = np.fft.irfft(np.fft.rfft(y, 2 * n) * np.conj(np.fft.rfft(x, 2 * n)))
    lags = np.r_[0:span + 1, -span:0]
    return int(lags[np.argmax(np.r_[c[:span + 1], c[-span:]])])


@pytest.mark.parametrize("sample_rate", [8000, 16000, 44100])
@pytest.mark.parametrize("dtype", [np.int16, np.float32])
@pytest.mark.parametrize("channels", [None, 2])
def test_simulate_keeps_shape_dtype_and_alignment(speech, sample_rate, dtype, channels):
    x8 = speech["hts1a"][:240 * 60].astype(np.float64)
    x = resample_poly(x8, sample_rate // 100, 80) if sample_rate != 8000 else x8
    x = x.astype(np.int16) if dtype == np.int16 else (x / 32768).astype(np.float32)
    if channels:
        x = np.stack([x, np.roll(x, 1234)])
    y = g7231.simulate(x, sample_rate, rate=6.3)
    assert y.shape == x.shape and y.dtype == x.dtype
    for a, b in zip(x.reshape(-1, x.shape[-1]), y.reshape(-1, y.shape[-1])):
        assert lag_of_peak(a.astype(np.float64), b.astype(np.float64)) == 0
        assert np.corrcoef(a, b)[0, 1] > 0.7  # speech through the channel, not noise
