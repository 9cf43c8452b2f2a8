"""Shared fixtures of the Python package's tests: the bundled speech and the g7231 program, whose output
is the C++ library's, as the reference."""
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
SPEECH_DIR = ROOT / "samples" / "speech"


def find_program():
    """The g7231 program: $G7231_PROGRAM, else one built by a preset in this checkout."""
    if os.environ.get("G7231_PROGRAM"):
        return Path(os.environ["G7231_PROGRAM"])
    for preset in ("test", "release"):
        candidate = ROOT / "build" / preset / "g7231"
        if candidate.exists():
            return candidate
    return None


@pytest.fixture(scope="session")
def program():
    path = find_program()
    if path is None or not path.exists():
        pytest.fail("the g7231 program is needed as the reference: build it (cmake --workflow --preset release) "
                    "or set G7231_PROGRAM")
    return path


@pytest.fixture(scope="session")
def run(program):
    """Runs the g7231 program with arguments; fails the test on a non-zero exit."""
    def run_program(*args):
        done = subprocess.run([str(program), "-q", *map(str, args)], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
    return run_program


@pytest.fixture(scope="session")
def speech():
    """Each bundled speech file as 8 kHz int16 samples, cut to whole 30 ms frames."""
    files = {}
    for path in sorted(SPEECH_DIR.glob("*.raw")):
        x = np.fromfile(path, "<i2").astype(np.int16)
        files[path.stem] = x[:len(x) // 240 * 240]
    assert files, f"no speech in {SPEECH_DIR}"
    return files
