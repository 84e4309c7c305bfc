"""The module over the library: the same bytes as the library writes, and
every kind of failure raised as Python's own exception, after which the
interpreter carries on."""
import errno
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import quilloxwavfrequency as wavhz

# The first 44 bytes of every 1 s tone.
HEADER_1S = bytes.fromhex("52494646ac58010057415645666d74201000000001000100"
                          "44ac0000885801000200100064617461 88580100".replace(" ", ""))


def test_writes_the_file_the_library_writes(tmp_path):
    path = tmp_path / "tone.wav"
    assert wavhz.create(path, 1000, 10, 1) is None  # os.PathLike
    data = path.read_bytes()
    assert data[:44] == HEADER_1S and len(data) == 88244
    wavhz.create(str(tmp_path / "str.wav"), 1000, 10, 1)
    wavhz.create(os.fsencode(tmp_path / "bytes.wav"), 1000, 10, 1)
    assert (tmp_path / "str.wav").read_bytes() == data == (tmp_path / "bytes.wav").read_bytes()
    # Silence is -1, not 0.
    silence = wavhz.samples(440, 9, 1)
    assert (silence if isinstance(silence, bytes) else silence.tobytes()) == b"\xff\xff" * 44100


def test_samples_are_the_files(tmp_path, monkeypatch):
    path = tmp_path / "tone.wav"
    wavhz.create(path, -19999, 25, 1)
    expected = path.read_bytes()[44:]
    got = wavhz.samples(-19999, 25, 1)
    if wavhz._numpy is not None:
        assert got.dtype == wavhz._numpy.int16 and got.tobytes() == expected
    monkeypatch.setattr(wavhz, "_numpy", None)
    assert wavhz.samples(-19999, 25, 1) == expected
    assert wavhz.samples(1000, 10, 0) == b""


@pytest.mark.parametrize("name, kind, number", [
    ("missing/tone.wav", FileNotFoundError, errno.ENOENT),
    (".", IsADirectoryError, errno.EISDIR),
    ("a\udc80.wav", OSError, errno.EILSEQ),  # a name that is not valid text
    ("n" * 200, OSError, errno.ENAMETOOLONG),
])
def test_a_file_that_cannot_be_written_raises_oserror(tmp_path, name, kind, number):
    path = os.path.join(tmp_path, name)
    with pytest.raises(kind) as raised:
        wavhz.create(path, 440, 10, 1)
    assert raised.value.errno == number and raised.value.filename == path
    wavhz.create(tmp_path / "after.wav", 440, 10, 0)  # and it carries on


@pytest.mark.parametrize("arguments, kind", [
    ((440, 10, -1), ValueError),  # never wrapped to 4,294,967,295 s
    ((440, 10, wavhz.MAX_SECONDS + 1), OverflowError),
    ((440, 10, 2 ** 32 + 1), OverflowError),
    ((2 ** 31, 10, 1), OverflowError),
    ((440, -2 ** 31 - 1, 1), OverflowError),
    ((440.0, 10, 1), TypeError),
    ((440, True, 1), TypeError),
])
def test_arguments_the_library_would_refuse_or_wrap_raise_first(tmp_path, arguments, kind):
    path = tmp_path / "never.wav"
    with pytest.raises(kind):
        wavhz.create(path, *arguments)
    assert not path.exists()
    with pytest.raises(ValueError):
        wavhz.create(str(tmp_path) + "/a\0b.wav", 440, 10, 1)


def test_a_tone_that_does_not_fit_in_memory_raises_memoryerror(tmp_path):
    # In a child interpreter whose address space is limited to what it
    # already has and 64 MiB: a 3600 s tone (318 MB) cannot be had.
    script = textwrap.dedent(f"""
        import resource, quilloxwavfrequency as wavhz
        with open("/proc/self/status") as status:
            size = next(int(line.split()[1]) for line in status if line.startswith("VmSize"))
        limit = (size << 10) + (64 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            wavhz.create({str(tmp_path / "big.wav")!r}, 440, 10, 3600)
        except MemoryError:
            wavhz.create({str(tmp_path / "small.wav")!r}, 440, 10, 0)
            print("carried on")
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            env=os.environ, check=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "carried on\n"
    assert not (tmp_path / "big.wav").exists() and (tmp_path / "small.wav").exists()


def test_pip_installs_it_from_a_checkout(tmp_path):
    # `pip install ./python`, offline (no index, no isolated build: the
    # setuptools already there build it), from a copy so that the build's
    # leftovers stay out of the checkout; the installed module writes the
    # same tone.
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    checkout = tmp_path / "python"
    shutil.copytree(here, checkout, ignore=shutil.ignore_patterns("__pycache__", "tests"))
    installed = tmp_path / "installed"
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-index",
                    "--no-build-isolation", "--no-deps", "--target", str(installed),
                    str(checkout)], capture_output=True, check=True)
    script = ("import sys, quilloxwavfrequency as m; print(m.__file__); "
              "m.create(sys.argv[1], 1000, 10, 1)")
    result = subprocess.run([sys.executable, "-c", script, str(tmp_path / "pip.wav")],
                            capture_output=True, text=True, check=True,
                            env={**os.environ, "PYTHONPATH": str(installed)})
    assert result.stdout.startswith(str(installed))
    wavhz.create(tmp_path / "here.wav", 1000, 10, 1)
    assert (tmp_path / "pip.wav").read_bytes() == (tmp_path / "here.wav").read_bytes()
