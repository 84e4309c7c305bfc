#!/usr/bin/env python3
"""Times wavhz against its peers writing the same tone, side by side in one run.

    bench/compare_tools.py WAVHZ WRITE_FLOOR [--dir DIR] [--runs N]

Each command writes a 600 s, 1,000 Hz, 16-bit mono 44.1 kHz tone at full
scale into DIR (default /dev/shm, so that the disk does not dominate):
wavhz, sox (its synth at 44.1 kHz, undithered), ffmpeg's sine source
(-18 dBFS, so raised to full scale by its volume filter), a numpy + scipy
script, and the floor: WRITE_FLOOR (bench/write_floor.cpp) allocates a
buffer of the file's size as the library does, touches every byte and
writes it once. The commands take turns, N rounds (default 5); the table
gives each one's median wall time, its ratio to wavhz and to the floor, its
peak memory, its file's peak sample and the tone's error: the whole file
against the best-fitting sine at the tool's own frequency (wavhz's plays at
999.99919 Hz), relative to that sine, where wavhz, its phase in single
precision, loses.
Debian's packages for the peers are installed when missing.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

SECONDS = 600
FREQUENCY = 1000
FILE_BYTES = 44 + SECONDS * 88200
PEERS = ["time", "sox", "ffmpeg", "python3-numpy", "python3-scipy"]
NUMPY_TONE = (
    "import sys, numpy as np, scipy.io.wavfile as wavfile\n"
    f"t = np.arange({SECONDS * 44100}) / 44100.0\n"
    f"samples = (np.sin(2 * np.pi * {FREQUENCY} * t) * 32767).astype(np.int16)\n"
    "wavfile.write(sys.argv[1], 44100, samples)\n"
)


def install_missing(packages):
    missing = [p for p in packages
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout != "install ok installed"]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    print("Installing " + " ".join(missing), file=sys.stderr)
    subprocess.run(sudo + ["apt-get", "update", "-qq"], check=True)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing,
                   check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def commands(wavhz, floor, folder):
    """(name, output file, argv, environment) of each command."""
    # A current numpy is slowed by the OpenBLAS overrides some machines set.
    numpy_env = {k: v for k, v in os.environ.items()
                 if k not in ("OPENBLAS_CORETYPE", "OPENBLAS_L2_SIZE")}
    table = [
        ("wavhz", "wavhz.wav", lambda out: [wavhz, out, str(FREQUENCY), "10", str(SECONDS)], None),
        ("ffmpeg", "ffmpeg.wav", lambda out: [
            "ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
            f"sine=frequency={FREQUENCY}:sample_rate=44100:duration={SECONDS}",
            "-af", "volume=32767/4095", "-c:a", "pcm_s16le", out], None),
        # The input's rate too: at sox's default of 48 kHz its synth is
        # resampled, 3 dB down.
        ("sox", "sox.wav", lambda out: ["sox", "-D", "-r", "44100", "-n", "-r", "44100", "-b", "16",
                                        "-c", "1", out, "synth", str(SECONDS), "sine",
                                        str(FREQUENCY)], None),
        ("numpy+scipy", "numpy.wav", lambda out: ["/usr/bin/python3", "-c", NUMPY_TONE, out],
         numpy_env),
        ("floor", "floor.bin", lambda out: [floor, out, str(FILE_BYTES)], None),
    ]
    return [(name, os.path.join(folder, file), argv(os.path.join(folder, file)), env)
            for name, file, argv, env in table]


def samples(path):
    """The 16-bit samples of the WAV file at `path` (its data chunk)."""
    import numpy as np
    with open(path, "rb") as wav:
        data = wav.read()
    at = 12
    while data[at:at + 4] != b"data":
        at += 8 + int.from_bytes(data[at + 4:at + 8], "little")
    size = int.from_bytes(data[at + 4:at + 8], "little")
    return np.frombuffer(data[at + 8:at + 8 + size], dtype="<i2").astype(np.float64)


def tone_error(path, plays_hz):
    """The error of the whole file against the best-fitting sine at plays_hz, in dB."""
    import numpy as np
    y = samples(path)
    angle = np.mod(np.arange(len(y)) * (2 * np.pi * plays_hz / 44100), 2 * np.pi)
    basis = np.stack([np.sin(angle), np.cos(angle), np.ones(len(y))], axis=1)
    fit, *_ = np.linalg.lstsq(basis, y, rcond=None)
    sine = basis[:, :2] @ fit[:2]
    residual = y - sine - fit[2]
    return 10 * np.log10(np.sum(residual ** 2) / np.sum(sine ** 2)), int(np.max(np.abs(y)))


def run(argv, env, folder):
    """Wall time in seconds and peak resident memory in bytes of one run."""
    # GNU time reads the peak: a child forked from this Python process would
    # count Python's own memory from before its exec.
    peak_file = os.path.join(folder, "peak.txt")
    start = time.perf_counter()
    status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv, env=env,
                            stdout=subprocess.DEVNULL).returncode
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    with open(peak_file) as peak:
        return wall, int(peak.read().split()[-1]) * 1024  # KiB, children included


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("wavhz")
    parser.add_argument("write_floor")
    parser.add_argument("--dir", default="/dev/shm")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    install_missing(PEERS)

    folder = os.path.join(args.dir, f"quillox-compare-{os.getpid()}")
    os.makedirs(folder)
    try:
        table = commands(os.path.abspath(args.wavhz), os.path.abspath(args.write_floor), folder)
        walls = {name: [] for name, _, _, _ in table}
        peaks = {name: 0 for name, _, _, _ in table}
        for _ in range(args.runs):
            for name, _, argv, env in table:
                wall, peak = run(argv, env, folder)
                walls[name].append(wall)
                peaks[name] = max(peaks[name], peak)
        sizes = {name: os.path.getsize(output) for name, output, _, _ in table}
        # The formula's phase factor is 6.28318, not 2 pi.
        plays = {"wavhz": FREQUENCY * 6.28318 / (2 * 3.141592653589793)}
        errors = {name: tone_error(output, plays.get(name, FREQUENCY))
                  for name, output, _, _ in table if name != "floor"}
    finally:
        shutil.rmtree(folder)

    median = {name: statistics.median(w) for name, w in walls.items()}
    ours = median["wavhz"]
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), "unknown processor")
    print(f"{SECONDS} s, {FREQUENCY} Hz tone into {args.dir}, median of {args.runs} runs; "
          f"{cpu}, {os.cpu_count()} cores")
    print()
    floor = median["floor"]
    print("| command | median wall | time / wavhz | time / floor | peak memory | file bytes "
          "| peak sample | tone error |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for name, _, _, _ in table:
        error, peak = errors.get(name, (None, None))
        quality = "" if error is None else f"{peak} | {error:.1f} dB"
        print(f"| {name} | {median[name]:.3f} s | {median[name] / ours:.2f} | "
              f"{median[name] / floor:.2f} | {peaks[name] / 2**20:.1f} MiB | {sizes[name]:,} | "
              f"{quality or ' | '} |")
    print()
    checks = [
        ("wavhz at most 1.5 x the floor", ours <= 1.5 * floor),
        ("wavhz at most 0.6 x ffmpeg", ours <= 0.6 * median["ffmpeg"]),
        ("sox at least 3 x wavhz", median["sox"] >= 3 * ours),
        ("numpy+scipy at least 3 x wavhz", median["numpy+scipy"] >= 3 * ours),
        ("wavhz peak memory at most file + 16 MiB", peaks["wavhz"] <= FILE_BYTES + 16 * 2**20),
    ]
    for label, ok in checks:
        print(f"{'met    ' if ok else 'MISSED '} {label}")


if __name__ == "__main__":
    main()
