"""Runs the real Glyphwright.exe under Wine for end-to-end tests and converts paths between Linux and Wine."""
import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD_DIR = os.path.abspath(os.environ.get("GW_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "x86")))
# The build root holds one folder per architecture: x86 (the 32-bit program) and x64 (the 64-bit one).
BUILD_ROOT = os.path.dirname(BUILD_DIR)
EXE = os.path.join(BUILD_DIR, "Glyphwright.exe")


def build_arch(build_dir):
    """The architecture ("x86" or "x64") a build folder was configured for."""
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("GW_ARCH:"):
                    return line.strip().split("=", 1)[1]
    except OSError:
        pass
    return "x86"


ARCH = build_arch(BUILD_DIR)
# Whether this machine runs 32-bit code (scripts/test.sh probes it); only then can the 32-bit program run here.
X86_RUNS = os.environ.get("GW_X86_RUNS", "1") == "1"


def win_path(path):
    """Windows form of a Linux path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(*args, timeout=120, env=None, exe=None, display=False, cwd=None):
    """Runs the program with the given arguments; returns the completed process (exit code in returncode).

    Without display=True the program gets no X display, as a script on a server would: no window can appear,
    so no message box can wait for a click.
    """
    full_env = dict(os.environ)
    full_env.setdefault("WINEDEBUG", "-all")
    if not display:
        full_env.pop("DISPLAY", None)
    if env:
        full_env.update(env)
    # "wine" is the build folder's own (scripts/wine-env.sh puts it first on PATH): the loader of its architecture.
    return subprocess.run(["wine", exe or EXE, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=timeout, env=full_env, cwd=cwd)


def tool(*args, timeout=60):
    """Runs a Linux tool and returns its completed process with text output."""
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)


def tool_bytes(*args, timeout=60):
    """Runs a Linux tool and returns what it wrote to its standard output, as bytes."""
    return subprocess.run(list(args), stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                          check=True).stdout


class TempDirTest(unittest.TestCase):
    """A test case with a fresh temporary folder (self.tmp) that is removed afterwards."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="gwtest-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)
