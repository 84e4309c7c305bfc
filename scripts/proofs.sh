#!/usr/bin/env bash
# Reruns every generator behind the fast sine's constants and bounds
# (proofs/) and fails if src/tone/fast_sine.h disagrees with one of them.
# Called by `./build.sh proofs` with the build directory of the proofs preset.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: scripts/proofs.sh BUILD_DIRECTORY}
start=$SECONDS
status=0

echo "== proofs/sine_coefficients.sollya"
sollya proofs/sine_coefficients.sollya >"$build/sine_coefficients.txt"
cat "$build/sine_coefficients.txt"
echo "== proofs/sine_bounds.cpp"
"$build/proofs/sine_bounds" "$build/sine_coefficients.txt" || status=1
echo "== proofs/reduction_search.cpp"
"$build/proofs/reduction_search" || status=1

if [ $status -eq 0 ]; then
  echo "proofs: every constant and bound agrees, in $((SECONDS - start)) s"
else
  echo "proofs: the header disagrees with a generator (FAILS above)" >&2
fi
exit $status
