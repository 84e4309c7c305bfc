#!/usr/bin/env bash
# The quick start: installs what is missing (Debian packages, a group at a
# time, see scripts/packages.sh), configures, builds, then does what the
# first argument names (see usage below).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh

usage() {
  cat <<'USAGE'
usage: ./build.sh tone [OUTPUT FREQUENCY_HZ LEVEL SECONDS]
                         writes a tone (default: tone.wav, 440 Hz, level 10, 3 s)
       ./build.sh test     runs every test (Linux, sanitizers, fuzzing, and every
                         cross target under Wine or qemu-user), then reports
                         each target; QUILLOX_REQUIRE_ALL_TARGETS=1 makes a
                         target left untested fail the run
       ./build.sh package  Debian packages and Windows archives into dist/
       ./build.sh bench    runs the micro-benchmarks, the fallback rates and
                         how clean the tone is by how far into it a sample lies
       ./build.sh compare  times wavhz against sox, ffmpeg, numpy and the floor
       ./build.sh proofs   regenerates the fast sine's constants and bounds
                         (Sollya, MPFR) and fails where the code disagrees
       ./build.sh picture  draws docs/tone.png from tones wavhz writes (gnuplot)
       ./build.sh fresh    runs the two quick-start commands in a new minimal
                         Debian 12 (debootstrap, into build/fresh)
USAGE
}

build() {  # PRESET [CMAKE BUILD ARGUMENT...]
  # CMake's warnings go to standard error and show; a preset's variable
  # that no part of the project reads is a fault of the preset.
  local warnings
  warnings=$(cmake --preset "$1" 2>&1 >/dev/null) || { echo "$warnings" >&2; return 1; }
  if [ -n "$warnings" ]; then
    echo "$warnings" >&2
    if grep -q 'Manually-specified variables were not used' <<<"$warnings"; then
      return 1
    fi
  fi
  cmake --build --preset "$@" --parallel "$(nproc)"
}

# ---------------------------------------------------------------------------
# The report: a line for each target, what was built and what its tests
# gave, and for anything left out the reason.
report_targets=()
declare -A report_built=() report_tests=()
failed=false    # a test failed: the run fails
untested=false  # a target was left out: the run fails only when all are required
declare -A count=([passed]=0 [failed]=0 [skipped]=0)  # the tests of every target

report() {  # TARGET BUILT TESTS
  [ -n "${report_built[$1]+set}" ] || report_targets+=("$1")
  report_built[$1]=$2
  report_tests[$1]=$3
}

# Why GROUP's packages cannot be had, for the report.
not_installed() {  # GROUP
  echo "not installed: ${unavailable[$1]}"
}

print_report() {
  local target
  [ ${#report_targets[@]} -gt 0 ] || return 0
  echo
  echo "Targets:"
  printf '  %-14s %-6s %s\n' target built tests
  for target in "${report_targets[@]}"; do
    printf '  %-14s %-6s %s\n' "$target" "${report_built[$target]}" "${report_tests[$target]}"
  done
  # The closing line, summed over every target's ctest run.
  if [ $((count[passed] + count[failed] + count[skipped])) -gt 0 ]; then
    echo "tests: ${count[passed]} passed, ${count[failed]} failed, ${count[skipped]} skipped"
  fi
}

# Runs PRESET's tests (more ctest arguments may follow), keeps their log in
# build/PRESET/ctest.log and puts the counts into the report under TARGET.
run_tests() {  # TARGET PRESET [CTEST ARGUMENT...]
  local target=$1 preset=$2
  shift 2
  local log=build/$preset/ctest.log status=0
  ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=$?
  local total failures skipped
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log")
  failures=$(sed -n 's/.* \([0-9]*\) tests failed out of [0-9]*$/\1/p' "$log")
  skipped=$(grep -c '(Skipped)$' "$log" || true)
  if [ -z "$total" ]; then
    report "$target" yes "did not run (ctest status $status): see $log"
    failed=true
    count[failed]=$((count[failed] + 1))
    return
  fi
  local result="$((total - failures - skipped)) passed, $skipped skipped, $failures failed"
  count[passed]=$((count[passed] + total - failures - skipped))
  count[failed]=$((count[failed] + failures))
  count[skipped]=$((count[skipped] + skipped))
  # Which fast sample loops ran on this processor, and which it lacks.
  local ran lacked
  ran=$(sed -n 's/.*Test *#[0-9]*: SynthesisPaths.MatchTheReferenceLoop\/\([a-z0-9_]*\) .* Passed.*/\1/p' "$log" |
    { grep -v '^LibrarySine$' || true; } | tr '\n' ' ')
  lacked=$(sed -n 's/.*Test *#[0-9]*: SynthesisPaths.MatchTheReferenceLoop\/\([a-z0-9_]*\) .*Skipped.*/\1/p' "$log" |
    { grep -v '^LibrarySine$' || true; } | tr '\n' ' ')
  [ -z "$ran" ] || result+="; fast loops run: ${ran% }"
  [ -z "$lacked" ] || result+="; lacked here: ${lacked% }"
  local reruns
  reruns=$(grep -c "Wine's server dropped the program" \
    "build/$preset/Testing/Temporary/LastTest.log" 2>/dev/null || true)
  [ "${reruns:-0}" -eq 0 ] || result+=" ($reruns run twice: Wine's server dropped them)"
  report "$target" yes "$result"
  [ "$status" -eq 0 ] || failed=true
}

# ---------------------------------------------------------------------------
# Debian packages, Windows archives and their SHA256SUMS, into dist/: the
# arm64 and armhf packages and the archive of each Windows target whose
# compiler is installed.
package() {
  build package
  (cd build/package && rm -rf packages && cpack >/dev/null)
  local version description
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
  description=$(sed -n 's/^CMAKE_PROJECT_DESCRIPTION:STATIC=//p' build/package/CMakeCache.txt)
  rm -rf dist
  mkdir dist
  cp build/package/packages/*.deb dist/
  local preset label machine triple
  for preset in aarch64 armhf; do
    if ! need "$preset"; then
      report "$preset.deb" no "$(not_installed "$preset")"
      untested=true
      continue
    fi
    build "package-$preset"
    (cd "build/package-$preset" && rm -rf packages && cpack >/dev/null)
    cp "build/package-$preset"/packages/*.deb dist/
  done
  archives=()
  for preset in windows windows-i686; do
    case $preset in
      windows) label=win64 machine=i386:x86-64 triple=x86_64-w64-mingw32 ;;
      windows-i686) label=win32 machine=i386 triple=i686-w64-mingw32 ;;
    esac
    if ! need "$preset"; then
      report "$label.zip" no "$(not_installed "$preset")"
      untested=true
      continue
    fi
    # What the archive holds, and no test (whose build would run it).
    build "$preset" --target QuilloxWAVFrequency wavhz
    cmake -DBUILD="build/$preset" -DSOURCE=. -DOUT=dist -DLABEL=$label -DVERSION="$version" \
      -DMACHINE=$machine -DTRIPLE=$triple -DDESCRIPTION="$description" \
      -P packaging/windows_archive.cmake
    archives+=("$label")
  done
  (cd dist && sha256sum -- * >SHA256SUMS)
  ls -l dist
}

# ---------------------------------------------------------------------------
# ./build.sh test

# Every other target: Windows under Wine, Linux on ARM and 32-bit x86 under
# qemu-user.
cross_presets=(windows windows-i686 aarch64 armhf i686)

# Installs what PRESET's programs need to run here; sets cannot_run to why
# they cannot, or to nothing.
check_runner() {  # PRESET
  cannot_run=
  if [ "$1" = windows-i686 ] && ! kernel_runs_i386; then
    cannot_run="this kernel runs no 32-bit x86 programs, so no 32-bit Wine"
  elif ! need "$1-run"; then
    cannot_run=${unavailable[$1-run]//;/,}  # (a CMake list would split at ;)
  fi
}

test_everything() {
  # The report's lines in this order, whatever order the work goes in.
  local target
  for target in linux-x86_64 linux-asan fuzz "${cross_presets[@]}" packages; do
    report "$target" no "not reached"
  done
  need core || {
    echo "build.sh: the core build and test tools cannot be installed; nothing can be tested" >&2
    exit 1
  }
  # The code's style, as .clang-format describes it.
  git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
  build ci  # first: its wavhz writes the files that every other target must match
  build asan

  local fuzz_dir=$PWD/build/fuzz/run status
  if need fuzz; then
    build fuzz
    # A minute of fuzzing from the checked-in corpus. New inputs, the log
    # and any crashing input stay in build/fuzz/run, which each run starts
    # afresh.
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
      report fuzz yes "FAILED: an input in $fuzz_dir/artifacts"
      failed=true
    else
      grep -E '^(Done|stat::(number_of_executed_units|new_units_added))' "$fuzz_dir/log"
      report fuzz yes "${FUZZ_SECONDS:-60} s without a fault"
    fi
  else
    report fuzz no "$(not_installed fuzz)"
    untested=true
  fi

  # Every cross target whose compiler installs is built. Where its programs
  # cannot run, its tests that would run them skip with the reason, and
  # what can be checked without running them (the exports, entry point and
  # imports of the library) still is.
  local preset
  declare -A why_not_run=()
  local built_presets=()
  for preset in "${cross_presets[@]}"; do
    if ! need "$preset"; then
      report "$preset" no "$(not_installed "$preset")"
      untested=true
      continue
    fi
    check_runner "$preset"
    why_not_run[$preset]=$cannot_run
    cmake --preset "$preset" -DQUILLOX_CANNOT_RUN="${why_not_run[$preset]}" >/dev/null
    build "$preset"
    built_presets+=("$preset")
  done

  run_tests linux-asan asan
  for preset in "${built_presets[@]}"; do
    run_tests "$preset" "$preset"
    if [ -n "${why_not_run[$preset]}" ]; then
      report "$preset" yes "${report_tests[$preset]}; programs not run: ${why_not_run[$preset]}"
      untested=true
    fi
  done
  # Let Wine finish writing its prefixes.
  for preset in windows windows-i686; do
    cmake/run-under-wine.sh --wait "build/$preset/wine-prefix"
  done
  run_tests linux-x86_64 ci

  # The packages people install, and what they hold.
  if need packaging; then
    package
    local check=(packaging/check_packages.sh dist build/ci/wavhz)
    for preset in windows windows-i686; do
      local label=win64
      [ $preset = windows ] || label=win32
      if [[ " ${archives[*]} " == *" $label "* ]]; then
        # (Where Wine cannot run it, the report's line of the target says why.)
        [ -n "${why_not_run[$preset]}" ] || check+=("$label")
      fi
    done
    local log=build/check_packages.log
    if "${check[@]}" >"$log" 2>&1; then
      report packages yes "$(tail -n 1 "$log")"
    else
      report packages yes "FAILED: see the lines above"
      failed=true
    fi
    cat "$log"
  else
    report packages no "$(not_installed packaging)"
    untested=true
  fi

  print_report
  if $failed; then
    echo "build.sh: tests failed" >&2
    exit 1
  fi
  if $untested && [ "${QUILLOX_REQUIRE_ALL_TARGETS:-0}" = 1 ]; then
    echo "build.sh: QUILLOX_REQUIRE_ALL_TARGETS=1, and a target was left out (above)" >&2
    exit 1
  fi
}

case "${1:-}" in
  tone)
    need tone || exit 1
    build release
    shift
    [ $# -gt 0 ] || set -- tone.wav 440 10 3
    exec build/release/wavhz "$@"
    ;;
  test)
    test_everything
    ;;
  package)
    need tone && need packaging || exit 1
    package
    print_report
    ;;
  bench)
    need core || exit 1
    build ci
    build/ci/bench/quillox_bench --benchmark_counters_tabular=true
    build/ci/bench/fallback_rate
    build/ci/bench/tone_quality
    ;;
  compare)
    need core && need compare || exit 1
    build ci
    python3 bench/compare_tools.py build/ci/wavhz build/ci/bench/write_floor
    ;;
  picture)
    need tone && need picture || exit 1
    build release
    exec docs/plot_tone.sh build/release/wavhz docs/tone.png
    ;;
  proofs)
    need tone && need proofs || exit 1
    build proofs
    exec scripts/proofs.sh build/proofs
    ;;
  fresh)
    exec scripts/fresh_machine.sh
    ;;
  *)
    usage >&2
    exit 64
    ;;
esac
