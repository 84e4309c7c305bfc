#!/usr/bin/env bash
# Reruns every generator behind the constants and bounds of the fast sine
# and of the reference sine (proofs/), and the reference sine's exhaustive
# proof in its strict and MPFR modes; fails if the code disagrees with one
# of them.
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
echo "== proofs/phase_bounds.cpp"
"$build/proofs/phase_bounds" || status=1
echo "== proofs/reduction_search.cpp"
"$build/proofs/reduction_search" || status=1

echo "== proofs/sine_table.cpp"
if "$build/proofs/sine_table" | clang-format --assume-filename=src/tone/sine_table.h |
  diff -u src/tone/sine_table.h -; then
  echo "  holds: src/tone/sine_table.h is what the generator writes"
else
  echo "  FAILS: src/tone/sine_table.h differs from what the generator writes (above)"
  status=1
fi
# Strict with and without fused multiply-adds; against MPFR once, as the
# library is built here (ten minutes; the fused build's exact products are
# the same pairs, and `exhaustive_sine_fma mpfr` checks that too).
for variant in exhaustive_sine exhaustive_sine_fma; do
  [ -x "$build/proofs/$variant" ] || continue
  echo "== proofs/exhaustive_sine.cpp: $variant strict"
  "$build/proofs/$variant" strict || status=1
done
echo "== proofs/exhaustive_sine.cpp: exhaustive_sine mpfr"
"$build/proofs/exhaustive_sine" mpfr || status=1

if [ $status -eq 0 ]; then
  echo "proofs: every constant and bound agrees, in $((SECONDS - start)) s"
else
  echo "proofs: the code disagrees with a generator or a proof (FAILS above)" >&2
fi
exit $status
