"""The package codes exactly as the C++ library does: its bytes and samples against those of the g7231
program on the bundled speech, at both rates, with and without voice activity detection and postfilter."""
import re

import numpy as np
import pytest

import g7231
from conftest import ROOT


@pytest.mark.parametrize("rate,vad", [(5.3, True), (6.3, True), (5.3, False), (6.3, False)])
def test_encode_and_decode_equal_the_library(speech, run, tmp_path, rate, vad):
    for name, x in speech.items():
        raw = tmp_path / f"{name}.raw"
        x.astype("<i2").tofile(raw)
        coded = tmp_path / f"{name}.g723"
        run("encode", "--rate", rate, *([] if vad else ["--no-vad"]), raw, coded)
        data = g7231.Encoder(rate=rate, vad=vad).encode(x)
        assert data == coded.read_bytes(), name
        for postfilter in (True, False):
            decoded = tmp_path / f"{name}.{postfilter}.raw"
            run("decode", "--format", "packed", *([] if postfilter else ["--no-postfilter"]), coded, decoded)
            y = g7231.Decoder(postfilter=postfilter).decode(data)
            np.testing.assert_array_equal(y, np.fromfile(decoded, "<i2"), err_msg=f"{name} postfilter={postfilter}")


def test_a_stream_coded_in_pieces_and_switching_rate_is_one_stream(speech):
    x = np.concatenate(list(speech.values()))[:240 * 300]
    whole = g7231.Encoder(rate=5.3).encode(x)
    encoder = g7231.Encoder(rate=5.3)
    pieces = [encoder.encode(x[a:a + 240 * 7]) for a in range(0, 240 * 150, 240 * 7)]
    # The state runs on across calls: the pieces are the whole stream's first 150 frames.
    head = b"".join(pieces)
    assert whole.startswith(head)
    encoder.rate = 6.3
    assert encoder.rate == 6.3
    tail = encoder.encode(x[len(pieces) * 240 * 7:])
    frames = list(g7231.frames(head + tail))
    assert len(frames) == 300
    switch = len(pieces) * 7
    assert {rate for kind, rate, _ in frames[:switch] if kind == "speech"} == {5.3}
    assert {rate for kind, rate, _ in frames[switch:] if kind == "speech"} == {6.3}
    assert len(g7231.Decoder().decode(head + tail)) == len(x)


def test_version_is_the_projects():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    assert g7231.__version__ == re.search(r"project\(g7231 VERSION ([\d.]+)", cmake).group(1)
