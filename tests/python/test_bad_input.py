"""Wrong input is refused with TypeError or ValueError and a message saying what is wrong."""
import numpy as np
import pytest

import g7231

frame = np.zeros(240, np.int16)
nan = np.zeros(1600, np.float32)
nan[5] = np.nan

CASES = [
    ("float pcm", lambda: g7231.Encoder().encode(frame.astype(np.float32)), TypeError, "int16 samples, not dtype float32"),
    ("int32 pcm", lambda: g7231.Encoder().encode(frame.astype(np.int32)), TypeError, "not dtype int32"),
    ("byte-swapped pcm", lambda: g7231.Encoder().encode(frame.astype(">i2")), TypeError, "int16"),
    ("list pcm", lambda: g7231.Encoder().encode([0] * 240), TypeError, "not list"),
    ("2-D pcm", lambda: g7231.Encoder().encode(np.zeros((2, 240), np.int16)), ValueError, "shape (2, 240)"),
    ("strided pcm", lambda: g7231.Encoder().encode(np.zeros(480, np.int16)[::2]), ValueError, "contiguous"),
    ("partial frame", lambda: g7231.Encoder().encode(np.zeros(250, np.int16)), ValueError, "250 samples, not a multiple of 240"),
    ("bad rate", lambda: g7231.Encoder(rate=8.0), ValueError, "5.3 or 6.3"),
    ("rate as text", lambda: g7231.Encoder(rate="5.3"), TypeError, "5.3 or 6.3"),
    ("bad rate set", lambda: setattr(g7231.Encoder(), "rate", 5300), ValueError, "5.3 or 6.3"),
    ("text to decode", lambda: g7231.Decoder().decode("abc"), TypeError, "bytes-like"),
    ("int16 to decode", lambda: g7231.Decoder().decode(frame), TypeError, "made of bytes"),
    ("text frames", lambda: list(g7231.frames("abc")), TypeError, "bytes-like"),
    ("int16 frames", lambda: list(g7231.frames(frame)), TypeError, "made of bytes"),
    ("NaN", lambda: g7231.simulate(nan, 16000), ValueError, "NaN"),
    ("infinity", lambda: g7231.simulate(np.full(800, np.inf), 8000), ValueError, "infinite"),
    ("int32 signal", lambda: g7231.simulate(np.zeros(800, np.int32), 8000), TypeError, "dtype int32"),
    ("3-D signal", lambda: g7231.simulate(np.zeros((1, 2, 800), np.int16), 8000), ValueError, "shape"),
    ("list signal", lambda: g7231.simulate([0.0] * 800, 8000), TypeError, "NumPy array"),
    ("zero sample rate", lambda: g7231.simulate(np.zeros(800, np.int16), 0), ValueError, "sample_rate"),
    ("fractional sample rate", lambda: g7231.simulate(np.zeros(800, np.int16), 8000.5), ValueError, "sample_rate"),
    ("bad simulate rate", lambda: g7231.simulate(np.zeros(800, np.int16), 8000, rate=7), ValueError, "5.3 or 6.3"),
]


@pytest.mark.parametrize("call,error,message", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_bad_input_is_refused_clearly(call, error, message):
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        call()


def test_an_encoder_is_unchanged_by_a_refused_call(speech):
    x = speech["hts2a"][:240 * 20]
    encoder = g7231.Encoder()
    with pytest.raises(ValueError):
        encoder.encode(x[:250])
    assert encoder.encode(x) == g7231.Encoder().encode(x)


def test_float_beyond_full_scale_is_limited_with_a_warning():
    with pytest.warns(UserWarning, match="limited"):
        y = g7231.simulate(np.full(2400, 1.5, np.float32), 8000)
    assert np.isfinite(y).all()
