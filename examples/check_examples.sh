#!/usr/bin/env bash
# check_examples.sh PREFIX WAVHZ
# Builds every example against the library installed under PREFIX (/usr for
# the Debian packages) the way its comment says, runs it, and compares the
# file it writes with what WAVHZ (a wavhz of the build tree) writes for the
# same tone.
set -euo pipefail
prefix=$1
wavhz=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
examples=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# pkg-config and CMake look under PREFIX first; the programs find the
# library there at run time (an rpath for the linked ones, the full name for
# the loaded ones).
libdir=$(dirname "$(find "$prefix" -name 'libQuilloxWAVFrequency.so.1' -print -quit)")
export PKG_CONFIG_PATH=$libdir/pkgconfig
library=$libdir/libQuilloxWAVFrequency.so.1

same() {  # EXAMPLE FILE FREQUENCY_HZ LEVEL SECONDS
  "$wavhz" "expected-$2" "$3" "$4" "$5" >/dev/null
  cmp "expected-$2" "$2"
  echo "examples: $1 writes the same bytes as wavhz $3 Hz, level $4, $5 s"
}

# shellcheck disable=SC2046  # pkg-config's words are separate arguments
cc -std=c11 -Wall -Wextra -Werror -o link "$examples/c/link.c" \
  $(pkg-config --cflags --libs QuilloxWAVFrequency) -Wl,-rpath,"$libdir"
./link >/dev/null
same c/link.c a440.wav 440 10 2

# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o in_child "$examples/c/in_child.c" \
  $(pkg-config --cflags --libs QuilloxWAVFrequency) -Wl,-rpath,"$libdir"
./in_child | grep -q '^no-such-folder/child.wav: cannot be written (status 2); carrying on$'
same c/in_child.c child.wav 1000 10 1

# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o carry_on "$examples/c/carry_on.c" \
  $(pkg-config --cflags --libs QuilloxWAVFrequency) -Wl,-rpath,"$libdir"
./carry_on | grep -q '^no-such-folder/carried.wav: not written (status 2: No such file or directory); carrying on$'
same c/carry_on.c carried.wav 1000 10 1

# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o dlopen "$examples/c/dlopen.c" \
  $(pkg-config --cflags QuilloxWAVFrequency) -ldl
./dlopen "$library" >/dev/null
same c/dlopen.c plugin.wav 1000 10 1

cmake -S "$examples/cpp" -B cpp -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build cpp >/dev/null
cpp/tone cpp.wav -19999 25 3 >/dev/null
same cpp/ cpp.wav -19999 25 3

python3 "$examples/python/tone.py" python.wav 12345 -30 1 "$library" >/dev/null
same python/tone.py python.wav 12345 -30 1
