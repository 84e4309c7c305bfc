#!/usr/bin/env bash
# The quick start: installs what is missing (Debian packages), configures,
# builds, then does what the first argument names (see usage below).
set -euo pipefail
cd "$(dirname "$0")"

# Installs the named Debian packages that are not installed yet; a name
# such as wine32:i386 adds the i386 architecture first.
need() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "Installing ${missing[*]}" >&2
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

usage() {
  cat <<'USAGE'
usage: ./build.sh tone [OUTPUT FREQUENCY_HZ LEVEL SECONDS]
                         writes a tone (default: tone.wav, 440 Hz, full scale, 3 s)
       ./build.sh test     runs every test (Linux, sanitizers, fuzzing, and every
                         cross target under Wine or qemu-user)
       ./build.sh package  Debian packages and Windows archives into dist/
       ./build.sh bench    runs the micro-benchmarks
       ./build.sh compare  times wavhz against sox, ffmpeg, numpy and the floor
USAGE
}

# Debian packages, Windows archives and their SHA256SUMS, into dist/.
package() {
  build package
  (cd build/package && rm -rf packages && cpack >/dev/null)
  build windows
  build windows-i686
  local version
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
  rm -rf dist
  mkdir dist
  cp build/package/packages/*.deb dist/
  cmake -DBUILD=build/windows -DSOURCE=. -DOUT=dist -DLABEL=win64 -DVERSION="$version" \
    -DMACHINE=i386:x86-64 -DTRIPLE=x86_64-w64-mingw32 -P packaging/windows_archive.cmake
  cmake -DBUILD=build/windows-i686 -DSOURCE=. -DOUT=dist -DLABEL=win32 -DVERSION="$version" \
    -DMACHINE=i386 -DTRIPLE=i686-w64-mingw32 -P packaging/windows_archive.cmake
  (cd dist && sha256sum -- *.deb *.zip >SHA256SUMS)
  ls -l dist
}

build() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" --parallel "$(nproc)"
}

toolchain=(cmake make g++ libc6-dev)
# Every other target: Windows under Wine, Linux on ARM and 32-bit x86 under
# qemu-user.
cross_presets=(windows windows-i686 aarch64 armhf i686)
case "${1:-}" in
  tone)
    need "${toolchain[@]}"
    build release
    shift
    [ $# -gt 0 ] || set -- tone.wav 440 10 3
    exec build/release/wavhz "$@"
    ;;
  test)
    need "${toolchain[@]}" binutils valgrind pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
      libsndfile1-dev libmpfr-dev clang libclang-rt-14-dev googletest g++-mingw-w64-x86-64-posix wine wine64 \
      g++-mingw-w64-i686-posix wine32:i386 g++-aarch64-linux-gnu g++-arm-linux-gnueabihf \
      g++-i686-linux-gnu qemu-user clang-format dpkg-dev lintian llvm-14 file git
    # The code's style, as .clang-format describes it.
    git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
    build ci  # first: its wavhz writes the files that every other target must match
    build asan
    build fuzz
    for preset in "${cross_presets[@]}"; do build "$preset"; done
    # A minute of fuzzing from the checked-in corpus. New inputs, the log and
    # any crashing input stay in build/fuzz/run, which each run starts afresh.
    fuzz_dir=$PWD/build/fuzz/run
    rm -rf "$fuzz_dir"
    mkdir -p "$fuzz_dir/corpus" "$fuzz_dir/artifacts" "$fuzz_dir/folders"
    status=0
    TMPDIR=$fuzz_dir/folders ASAN_OPTIONS=quarantine_size_mb=4:malloc_context_size=4 \
      build/fuzz/tests/fuzz/tone_request_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" \
      -print_final_stats=1 -artifact_prefix="$fuzz_dir/artifacts/" "$fuzz_dir/corpus" \
      tests/fuzz/corpus >"$fuzz_dir/log" 2>&1 || status=$?
    rm -rf "$fuzz_dir/folders"
    if [ "$status" -ne 0 ]; then
      tail -n 60 "$fuzz_dir/log"
      echo "The fuzzer failed; its input is in $fuzz_dir/artifacts:" >&2
      ls -l "$fuzz_dir/artifacts" >&2
      echo "Replay it with build/ci/tests/fuzz_corpus_replay FILE" >&2
      exit 1
    fi
    grep -E '^(Done|stat::(number_of_executed_units|new_units_added))' "$fuzz_dir/log"
    ctest --preset asan
    # Wine's server can drop a program that connects just as the server
    # exits ("recvmsg: Connection reset by peer"): a failed test under Wine
    # gets one more run.
    for preset in "${cross_presets[@]}"; do
      retry=()
      [[ $preset == windows* ]] && retry=(--repeat until-pass:2)
      ctest --preset "$preset" "${retry[@]}"
    done
    # Let Wine finish.
    WINEPREFIX=$PWD/build/windows/wine-prefix /usr/lib/wine/wineserver64 -w
    ctest --preset ci
    # The packages people install, and what they hold.
    package
    packaging/check_packages.sh dist build/ci/wavhz
    ;;
  package)
    need "${toolchain[@]}" dpkg-dev lintian llvm-14 g++-mingw-w64-x86-64-posix \
      g++-mingw-w64-i686-posix libgtest-dev googletest wine wine64 wine32:i386
    package
    ;;
  bench)
    need "${toolchain[@]}" libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libmpfr-dev
    build ci
    build/ci/bench/quillox_bench --benchmark_counters_tabular=true
    ;;
  compare)
    need "${toolchain[@]}" python3 libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev \
      libmpfr-dev
    build ci
    python3 bench/compare_tools.py build/ci/wavhz build/ci/bench/write_floor
    ;;
  *)
    usage >&2
    exit 64
    ;;
esac
