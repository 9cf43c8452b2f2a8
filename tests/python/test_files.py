"""encode_file and decode_file: the g7231 program's bytes for raw files, any audio file in, and nothing
partial or overwritten when a run fails."""
import numpy as np
import pytest

soundfile = pytest.importorskip("soundfile")

import g7231  # noqa: E402


def test_raw_files_code_as_the_program_does(speech, run, tmp_path):
    x = speech["morig"][:-100]  # a last frame completed with silence, as the program completes it
    raw = tmp_path / "in.raw"
    x.astype("<i2").tofile(raw)
    run("encode", "--rate", "6.3", raw, tmp_path / "program.g723")
    record = g7231.encode_file(raw, tmp_path / "ours.g723", rate=6.3)
    assert (tmp_path / "ours.g723").read_bytes() == (tmp_path / "program.g723").read_bytes()
    assert record["bytes"] == (tmp_path / "ours.g723").stat().st_size and record["seconds"] == pytest.approx(len(x) / 8000, abs=0.03)
    run("decode", "--format", "packed", tmp_path / "program.g723", tmp_path / "program.raw")
    decoded = g7231.decode_file(tmp_path / "ours.g723", tmp_path / "ours.raw")
    assert (tmp_path / "ours.raw").read_bytes() == (tmp_path / "program.raw").read_bytes()
    assert decoded["concealed"] == 0 and sum(decoded["frames"].values()) == sum(record["frames"].values())


def test_audio_files_in_and_out(speech, tmp_path):
    x = speech["hts2a"][:240 * 50]
    stereo = np.stack([x, x], axis=1)
    soundfile.write(tmp_path / "in.flac", np.repeat(stereo, 2, axis=0), 16000)  # 16 kHz stereo
    record = g7231.encode_file(tmp_path / "in.flac", tmp_path / "out.g723")
    assert record["seconds"] == pytest.approx(1.5)
    g7231.decode_file(tmp_path / "out.g723", tmp_path / "out.wav", sample_rate=16000)
    y, rate = soundfile.read(tmp_path / "out.wav", dtype="int16")
    assert rate == 16000 and y.shape == (24000,)


def test_a_failed_run_leaves_the_output_as_it_was(tmp_path):
    (tmp_path / "bad.wav").write_bytes(b"not audio at all")
    (tmp_path / "out.g723").write_bytes(b"keep me")
    with pytest.raises(Exception):
        g7231.encode_file(tmp_path / "bad.wav", tmp_path / "out.g723")
    with pytest.raises(ValueError, match="same file"):
        g7231.encode_file(tmp_path / "out.g723", tmp_path / "out.g723")
    (tmp_path / "empty.g723").write_bytes(b"")
    with pytest.raises(ValueError, match="no frames"):
        g7231.decode_file(tmp_path / "empty.g723", tmp_path / "out.g723")
    assert (tmp_path / "out.g723").read_bytes() == b"keep me"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["bad.wav", "empty.g723", "out.g723"]
