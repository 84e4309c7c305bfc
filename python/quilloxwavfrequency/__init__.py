"""Exact sine tones written to WAV files, through the QuilloxWAVFrequency
shared library.

    import quilloxwavfrequency as wavhz
    wavhz.create("tone.wav", 1000, 10, 5)      # 5 s of 1 kHz, full scale
    data = wavhz.samples(1000, 10, 1)          # the same tone's samples

The tone is 44,100 samples a second, signed 16-bit, one channel, the same
bytes on every processor. `level` gives the amplitude as level // 10
towards zero: -9 to 9 are silence (every sample -1), 10 to 19 full scale.

A failure raises and the interpreter carries on: OSError (its errno and
the file name) when the file cannot be written, MemoryError when the tone
does not fit in memory; ValueError, OverflowError or TypeError for
arguments the library would refuse or wrap, before it is called.

The library is looked for as QUILLOX_WAV_FREQUENCY_LIBRARY names it, else
as libQuilloxWAVFrequency.so.1 (QuilloxWAVFrequency.dll on Windows) where
the system's loader finds libraries.
"""
import ctypes
import operator
import os
import sys
import tempfile

try:
    import numpy as _numpy
except ImportError:  # samples() then gives bytes
    _numpy = None

__all__ = ["create", "samples", "MAX_SECONDS", "MAX_NAME_BYTES", "SAMPLE_RATE"]

SAMPLE_RATE = 44100
MAX_SECONDS = 48695  # WAVHZ_MAX_SECONDS: longer tones' sizes do not fit 32 bits
MAX_NAME_BYTES = 199  # WAVHZ_MAX_NAME_BYTES, the whole path once converted

_DONE = 999
_NO_MEMORY = 1
_HEADER_BYTES = 44
_INT32 = (-(2 ** 31), 2 ** 31 - 1)

_try_create = None  # the library's WAVHZTryCreate, once loaded


def _library_function():
    global _try_create
    if _try_create is None:
        name = os.environ.get("QUILLOX_WAV_FREQUENCY_LIBRARY") or (
            "QuilloxWAVFrequency.dll" if os.name == "nt" else "libQuilloxWAVFrequency.so.1")
        if os.name == "nt":
            library = ctypes.WinDLL(name, use_last_error=True)
        else:
            library = ctypes.CDLL(name, use_errno=True)
        function = library.WAVHZTryCreate
        # The path is NUL-terminated UTF-16 (wchar_t on Windows, char16_t
        # elsewhere), passed as bytes so that the same code serves both.
        function.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_uint32]
        function.restype = ctypes.c_int32
        _try_create = function
    return _try_create


def _whole(value, name):
    """`value` as an int: TypeError for what is no integer (True and 1.0
    included)."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    return operator.index(value)


def _int32(value, name):
    number = _whole(value, name)
    if not _INT32[0] <= number <= _INT32[1]:
        raise OverflowError(f"{name} {number} is outside {_INT32[0]}..{_INT32[1]}")
    return number


def _arguments(frequency_hz, level, seconds):
    frequency_hz = _int32(frequency_hz, "frequency_hz")
    level = _int32(level, "level")
    seconds = _whole(seconds, "seconds")
    if seconds < 0:
        raise ValueError(f"seconds must not be negative, not {seconds}")
    if seconds > MAX_SECONDS:
        raise OverflowError(f"seconds {seconds} is above {MAX_SECONDS}, the longest tone "
                            "whose WAV sizes fit 32 bits")
    return frequency_hz, level, seconds


def _utf16(path):
    """The path as the library takes it: UTF-16 code units in the
    processor's byte order, then a NUL unit. A name that is not valid text
    keeps its lone surrogates, which the library refuses (EILSEQ)."""
    text = os.fsdecode(path)
    if "\0" in text:
        raise ValueError("the path contains a NUL character")
    codec = "utf-16-le" if sys.byteorder == "little" else "utf-16-be"
    return text.encode(codec, "surrogatepass") + b"\0\0"


def create(path, frequency_hz, level, seconds):
    """Writes `seconds` whole seconds of a sine of `frequency_hz` hertz at
    `level` to the file `path` (str, bytes or os.PathLike), replacing any
    file of that name as the library's file-safety rules say. Returns None.

    Raises OSError (errno and filename set: FileNotFoundError,
    PermissionError, ...) when the file cannot be written, MemoryError when
    the tone does not fit in memory, and ValueError, OverflowError or
    TypeError for arguments out of range, before anything is written."""
    frequency_hz, level, seconds = _arguments(frequency_hz, level, seconds)
    name = os.fspath(path)
    encoded = _utf16(name)
    function = _library_function()
    status = function(encoded, frequency_hz, level, seconds)
    if status == _DONE:
        return None
    if status == _NO_MEMORY:
        raise MemoryError(f"a tone of {seconds} s does not fit in memory")
    if os.name == "nt":
        error = ctypes.get_last_error()
        raise OSError(None, ctypes.FormatError(error), name, error)
    error = ctypes.get_errno()
    raise OSError(error, os.strerror(error), name)


def samples(frequency_hz, level, seconds):
    """The samples of the tone create() writes, in time order: a NumPy
    int16 array where NumPy is installed, else bytes of little-endian
    int16. Raises as create() does."""
    with tempfile.TemporaryDirectory(prefix="quillox-") as folder:
        path = os.path.join(folder, "tone.wav")
        create(path, frequency_hz, level, seconds)
        with open(path, "rb") as tone:
            tone.seek(_HEADER_BYTES)
            data = tone.read()
    if _numpy is None:
        return data
    return _numpy.frombuffer(data, dtype="<i2").astype(_numpy.int16)
