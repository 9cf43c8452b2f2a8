"""Builds the Python package g7231: the package in python/g7231 and its extension module g7231._g7231.

The extension is compiled from the library's own sources, the list CMakeLists.txt gives (so the two builds
never drift apart), with the same optimisation as the CMake release build, and linked into the module
(position-independent, nothing else exported). The version is the CMake project's. Needs setuptools and
pybind11 only, both from Debian's packages, and no network:

    /usr/bin/python3 -m venv --system-site-packages .venv && .venv/bin/pip install --no-build-isolation .
"""
import os
import platform
import re
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

ROOT = Path(__file__).resolve().parent
CMAKE = (ROOT / "CMakeLists.txt").read_text()
VERSION = re.search(r"project\(g7231 VERSION (\d+\.\d+\.\d+)", CMAKE).group(1)


def library_sources():
    """The codec library's sources as CMakeLists.txt lists them (the x86 kernels on x86 only)."""
    block = CMAKE[CMAKE.index("set(G7231_CORE_SOURCES"):CMAKE.index("configure_file(include/g7231/version.h.in")]
    sources = re.findall(r"[\w/]+\.cpp", block)
    if not is_x86():
        sources = [s for s in sources if "/x86/" not in s]
    missing = [s for s in sources if not (ROOT / s).is_file()]
    if not sources or missing:
        raise RuntimeError(f"setup.py cannot read the library's sources from CMakeLists.txt (missing: {missing})")
    return sources + ["api/c_api.cpp"]


def library_headers():
    """Every header the sources include, so that a changed header rebuilds the module."""
    return sorted(str(p.relative_to(ROOT)) for d in ("api", "bitstream", "codec", "fixedpoint", "include")
                  for p in (ROOT / d).rglob("*") if p.suffix in (".h", ".inc"))


def is_x86():
    return re.match(r"^(x86_64|AMD64|amd64|i[3-6]86)$", platform.machine()) is not None


def version_header():
    """include/g7231/version.h.in filled in, as CMake's configure_file writes it; its directory."""
    major, minor, patch = VERSION.split(".")
    text = (ROOT / "include/g7231/version.h.in").read_text()
    for key, value in (("PROJECT_VERSION_MAJOR", major), ("PROJECT_VERSION_MINOR", minor),
                       ("PROJECT_VERSION_PATCH", patch), ("PROJECT_VERSION", VERSION)):
        text = text.replace(f"@{key}@", value)
    directory = ROOT / "build" / "python-setup" / "include"
    header = directory / "g7231" / "version.h"
    header.parent.mkdir(parents=True, exist_ok=True)
    if not header.exists() or header.read_text() != text:
        header.write_text(text)
    return str(directory.relative_to(ROOT))


os.chdir(ROOT)
# Two compilers at a time unless G7231_BUILD_JOBS says otherwise.
ParallelCompile("G7231_BUILD_JOBS", default=2).install()

extension = Pybind11Extension(
    "g7231._g7231",
    ["python/g7231_module.cpp"] + library_sources(),
    depends=library_headers(),
    include_dirs=[".", "include", version_header()],
    define_macros=[("G7231_X86_KERNELS", None)] if is_x86() else [],
    cxx_std=20,
    # The release build's optimisation; -fno-wrapv undoes the interpreter's own flag, which the codec's
    # exact integer arithmetic does not need and which costs speed.
    extra_compile_args=["-O3", "-DNDEBUG", "-fno-wrapv", "-g0"],
)

setup(
    version=VERSION,
    ext_modules=[extension],
    cmdclass={"build_ext": build_ext},
    # Intermediate files beside the CMake builds, out of the source tree.
    options={"build": {"build_base": "build/python-setup"}, "egg_info": {"egg_base": "build/python-setup"}},
)
