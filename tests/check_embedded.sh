#!/usr/bin/env bash
# check_embedded.sh WAVHZ
# Builds examples/embed, a host project that takes in the library with
# FetchContent, and checks what embedding promises: the target
# QuilloxWAVFrequency::QuilloxWAVFrequency writes WAVHZ's bytes; nothing
# but the library is built (no wavhz, man pages or CPack configuration);
# cmake --install adds nothing of the project unless QUILLOX_INSTALL=ON,
# and then the library, its framework in its private folder and the
# header, not wavhz. And the header compiles as C11 and as C++11.
set -euo pipefail
wavhz=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cmake -S "$source_dir/examples/embed" -B build -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build build --parallel "$(nproc)" >/dev/null
build/tone embedded.wav 441 10 2 >/dev/null
"$wavhz" expected.wav 441 10 2 >/dev/null
cmp expected.wav embedded.wav
built=$(find build \( -name wavhz -o -name '*.gz' -o -name 'CPack*Config.cmake' \) -print)
if [ -n "$built" ]; then
  echo "embedded, the project made more than the library:" >&2
  echo "$built" >&2
  exit 1
fi

installed() {  # PREFIX: the files under it, relative, sorted
  (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | sort)
}
cmake --install build --prefix "$work/host" >/dev/null
[ "$(installed host)" = bin/tone ] || { echo "installed beside the host's own:" >&2; installed host >&2; exit 1; }

cmake -S "$source_dir/examples/embed" -B build -DQUILLOX_INSTALL=ON >/dev/null
cmake --build build >/dev/null
cmake --install build --prefix "$work/with-library" >/dev/null
listing=$(installed with-library)
for file in lib/libQuilloxWAVFrequency.so.1 lib/quillox/libQuilloxAppFramework.so.1 \
            include/QuilloxWAVFrequency.h lib/cmake/QuilloxWAVFrequency/QuilloxWAVFrequencyConfig.cmake; do
  grep -qx "$file" <<<"$listing" || { echo "QUILLOX_INSTALL=ON installed no $file:" >&2; echo "$listing" >&2; exit 1; }
done
if grep -q 'wavhz\|QuilloxAppFramework.h' <<<"$listing"; then
  echo "QUILLOX_INSTALL=ON alone installed wavhz or the framework's header:" >&2
  echo "$listing" >&2
  exit 1
fi

printf '#include <QuilloxWAVFrequency.h>\nint call(void) { return WAVHZTryCreate(WAVHZ_PATH("t.wav"), 1, 2, 3); }\n' >uses_header.c
cc -std=c11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$source_dir/include" -Ibuild/_deps/quilloxwavfrequency-build/include uses_header.c
c++ -std=c++11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -x c++ -I"$source_dir/include" -Ibuild/_deps/quilloxwavfrequency-build/include uses_header.c
echo "embedded with FetchContent: the library alone built, nothing installed unless asked; the header compiles as C11 and C++11"
