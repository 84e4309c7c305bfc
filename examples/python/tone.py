#!/usr/bin/env python3
"""Writes a test tone through QuilloxWAVFrequency from Python, with ctypes.

    python3 tone.py OUTPUT FREQUENCY_HZ LEVEL SECONDS [LIBRARY]

LIBRARY defaults to the installed library (libQuilloxWAVFrequency.so.1, or
QuilloxWAVFrequency.dll on Windows). A failed request raises OSError with
the library's reason, and the script could carry on. The module in
python/ (quilloxwavfrequency) does the same with its arguments checked.
"""
import ctypes
import os
import sys


def load(library=None):
    if library is None:
        library = ("QuilloxWAVFrequency.dll" if os.name == "nt"
                   else "libQuilloxWAVFrequency.so.1")
    create = ctypes.CDLL(library, use_errno=True).WAVHZTryCreate
    # The path is NUL-terminated UTF-16 (wchar_t on Windows, char16_t
    # elsewhere): passed as raw bytes, so the same code serves both.
    create.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32,
                       ctypes.c_uint32]
    create.restype = ctypes.c_int32
    return create


def utf16_path(path):
    """The path as the library wants it: UTF-16 code units in the
    processor's byte order, then a NUL unit."""
    codec = "utf-16-le" if sys.byteorder == "little" else "utf-16-be"
    return os.fsdecode(path).encode(codec, "surrogatepass") + b"\0\0"


def main(argv):
    if len(argv) not in (5, 6):
        sys.exit(__doc__)
    create = load(argv[5] if len(argv) == 6 else None)
    status = create(utf16_path(argv[1]), int(argv[2]), int(argv[3]),
                    int(argv[4]))
    if status != 999:  # WAVHZ_DONE; else 1 (no memory) or 2 (cannot write)
        error = ctypes.get_errno()
        raise OSError(error, os.strerror(error), argv[1])
    print(f"{argv[1]}: {os.path.getsize(argv[1])} bytes")


if __name__ == "__main__":
    main(sys.argv)
