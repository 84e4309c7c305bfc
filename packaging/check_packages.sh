#!/usr/bin/env bash
# check_packages.sh DIST REFERENCE_WAVHZ [LABEL...]
# Checks what ./build.sh package wrote into DIST:
#  - lintian finds no errors in the Debian packages;
#  - the arm64 and armhf packages hold the library under their multiarch
#    folder, and it and wavhz are ELF files of their architecture;
#  - on CI's throwaway machines (CI=true, as root; .ci/run sets it): the
#    four packages install, wavhz from PATH writes the bytes REFERENCE_WAVHZ
#    (the build tree's) writes, so does the Python module from Debian's
#    python3, which raises OSError on failure, the man pages and completion
#    are found,
#    pkg-config and find_package find the library under /usr, and a purge
#    leaves nothing of them behind;
#  - each Windows archive's import libraries (MSVC's and MinGW's) name
#    WAVHZCreate and WAVHZTryCreate as that platform's linker wants; for each archive LABEL names (win64, win32),
#    its wavhz.exe, and hosts built against it with MinGW-w64 as its README
#    says (examples/cpp through its CMake package, examples/c/link.c through
#    its pkg-config file), write those bytes under Wine.
# Its last line sums up what was checked.
set -euo pipefail
dist=$(cd "$1" && pwd)
reference=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
run_under_wine=" $* "
summary=("lintian without errors or warnings")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$reference" "$work/reference.wav" 441 10 2 >/dev/null
"$reference" "$work/a440.wav" 440 10 2 >/dev/null  # what examples/c/link.c writes

echo "lintian:"
lintian_status=0
lintian --fail-on error,warning --display-info --tag-display-limit 0 "$dist"/*.deb \
  >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v 'root privileges' "$work/lintian.txt" || true
# Of the informational tags, the ones Debian's own build tools leave no
# cause for (dh_strip takes out the compiler's .comment).
if [ "$lintian_status" -ne 0 ] || grep -q 'binary-has-unneeded-section' "$work/lintian.txt"; then
  echo "lintian reports errors or warnings" >&2
  exit 1
fi
# What each package says of itself: its own first description line, the
# rest indented once; no placeholder address or home page; the runtime
# package co-installable across architectures, the framework stand-in in
# its private folder and its header nowhere; completion's reader
# suggested; a changelog in Debian's own form, without Markdown.
fail() { echo "$1" >&2; exit 1; }
summaries=$(for deb in "$dist"/*.deb; do
  echo "$(dpkg-deb -f "$deb" Package): $(dpkg-deb -f "$deb" Description | head -1)"
done | sort -u | sed 's/^[^:]*: //')
[ "$(sort <<<"$summaries" | uniq -d)" = "" ] || fail "packages share a summary line: $summaries"
for deb in "$dist"/*.deb; do
  name=$(basename "$deb")
  control=$(dpkg-deb -f "$deb")
  ! grep -q '^  ' <<<"$control" || fail "$name: a description line is indented twice"
  ! grep -qi 'example\.\|^Homepage:' <<<"$control" || fail "$name: a placeholder in its control"
  package=$(dpkg-deb -f "$deb" Package)
  mkdir -p "$work/unpacked/$package"
  dpkg-deb -x "$deb" "$work/unpacked/$package"
  changelog=$work/unpacked/$package/usr/share/doc/$package/changelog.Debian.gz
  zcat "$changelog" >"$work/changelog"
  dpkg-parsechangelog -l "$work/changelog" -S Version >/dev/null
  ! grep -q '[`|]' "$work/changelog" || fail "$name: Markdown in changelog.Debian"
  case $package in
    libquilloxwavfrequency1)
      [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] || fail "$name: not Multi-Arch: same"
      find "$work/unpacked/$package" -path '*/usr/lib/*/quillox/libQuilloxAppFramework.so.1' | grep -q . \
        || fail "$name: the framework stand-in is not in its private folder" ;;
    wavhz)
      [ "$(dpkg-deb -f "$deb" Suggests)" = bash-completion ] || fail "$name: bash-completion not suggested" ;;
  esac
done
! find "$work/unpacked" -name 'QuilloxAppFramework.h' -o -regex '.*/usr/lib/[^/]*/libQuilloxAppFramework.*' | grep . \
  || fail "the framework stand-in's header or library is in the system's folders"
summary+=("control fields and changelogs as Debian's")
# The man pages, as man itself reads them: no warning at all.
for page in "$(dirname "$reference")"/man/*.[0-9]; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then
    echo "man warns about $(basename "$page"):" >&2
    echo "$warnings" >&2
    exit 1
  fi
done
summary+=("man pages without warnings")

# The runtime packages' symbols files: a host that calls WAVHZTryCreate
# depends on the release that brought it.
for deb in "$dist"/libquilloxwavfrequency1_*.deb; do
  symbols=$(dpkg-deb -I "$deb" symbols)
  for line in " WAVHZCreate@Base 1.0.0.1" " WAVHZTryCreate@Base 1.0.0.1-2~"; do
    if ! grep -qx -- "$line" <<<"$symbols"; then
      echo "$(basename "$deb"): its symbols file lacks '$line'" >&2
      exit 1
    fi
  done
done
summary+=("symbols files name both exports")

for arch in arm64 armhf; do
  [ -e "$dist/libquilloxwavfrequency1_"*"_$arch.deb" ] || continue
  case $arch in
    arm64) triple=aarch64-linux-gnu class=ELF64 machine=AArch64 ;;
    armhf) triple=arm-linux-gnueabihf class=ELF32 machine=ARM ;;
  esac
  mkdir "$work/$arch"
  for deb in "$dist"/*_"$arch".deb; do
    dpkg-deb -x "$deb" "$work/$arch"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ]
  done
  dpkg-deb -c "$dist/libquilloxwavfrequency1_"*"_$arch.deb" >"$work/$arch.list"
  if ! grep -q " ./usr/lib/$triple/libQuilloxWAVFrequency.so.1 -> " "$work/$arch.list"; then
    echo "the $arch package holds no library in /usr/lib/$triple:" >&2
    cat "$work/$arch.list" >&2
    exit 1
  fi
  for file in "usr/lib/$triple/libQuilloxWAVFrequency.so.1" usr/bin/wavhz; do
    header=$(readelf -h "$work/$arch/$file")
    if ! grep -q "Class: *$class\$" <<<"$header" || ! grep -q "Machine: *$machine\$" <<<"$header"; then
      echo "the $arch package's $file is not $class $machine:" >&2
      echo "$header" >&2
      exit 1
    fi
  done
  echo "$arch: the library in /usr/lib/$triple; it and wavhz are $class $machine"
  summary+=("$arch: $machine ELF files")
done

packages=(libquilloxwavfrequency1 libquilloxwavfrequency-dev wavhz python3-quilloxwavfrequency)
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$dist"/*_"$(dpkg --print-architecture)".deb \
    "$dist"/*_all.deb >/dev/null
  [ "$(command -v wavhz)" = /usr/bin/wavhz ]
  wavhz "$work/installed.wav" 441 10 2 >/dev/null
  cmp "$work/reference.wav" "$work/installed.wav"
  # The module, imported from where the package put it, by Debian's own
  # interpreter (not one first on PATH).
  (cd / && /usr/bin/python3 - "$work" <<'PYTHON'
import errno, sys, quilloxwavfrequency
assert quilloxwavfrequency.__file__.startswith("/usr/lib/python3/dist-packages/")
quilloxwavfrequency.create(sys.argv[1] + "/python.wav", 441, 10, 2)
try:
    quilloxwavfrequency.create(sys.argv[1] + "/no/such/folder.wav", 441, 10, 2)
    sys.exit("no OSError")
except OSError as error:
    assert error.errno == errno.ENOENT, error
PYTHON
  )
  cmp "$work/reference.wav" "$work/python.wav"
  man -w wavhz >/dev/null
  man -w 3 WAVHZCreate >/dev/null
  [ "$(readlink -f "$(man -w 3 WAVHZTryCreate)")" = "$(man -w 3 WAVHZCreate)" ]
  # wavhz <TAB>, from where bash-completion loads it: an option completed.
  [ "$(bash -c 'source /usr/share/bash-completion/completions/wavhz
      COMP_WORDS=(wavhz --v) COMP_CWORD=1; _wavhz; echo "${COMPREPLY[*]}"')" = --version ]
  # Every example, built against /usr as its comment says.
  "$source_dir/examples/check_examples.sh" /usr "$reference"
  files=$(dpkg -L "${packages[@]}" | grep -v '^/usr$\|/$' | sort -u)
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null
  for package in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
      echo "$package is still installed" >&2
      exit 1
    fi
  done
  left=$(for file in $files; do [ -e "$file" ] && [ ! -d "$file" ] && echo "$file"; done || true)
  if [ -n "$left" ]; then
    echo "left behind after the purge:" >&2
    echo "$left" >&2
    exit 1
  fi
  echo "packages: installed, used (wavhz, the Python module, every example) and purged without a trace"
  summary+=("installed, used and purged")
else
  echo "skipped: installing the packages system-wide is for CI's throwaway machines (CI=true, root)"
  summary+=("not installed (not CI=true as root)")
fi

for zip in "$dist"/*.zip; do
  name=$(basename "$zip" .zip)
  mkdir -p "$work/$name"
  (cd "$work/$name" && cmake -E tar xf "$zip")
  case "$name" in
    *-win64) prefix=__imp_ ;;
    *) prefix=__imp__ ;;  # the C names, decorated only with the underscore of x86
  esac
  # Both exports, in the MSVC and the MinGW import library.
  for library in QuilloxWAVFrequency.lib libQuilloxWAVFrequency.dll.a; do
    for export in WAVHZCreate WAVHZTryCreate; do
      if ! llvm-nm-14 "$work/$name/$name/lib/$library" | grep -q " $prefix$export\$"; then
        echo "$name: $library does not name $prefix$export" >&2
        exit 1
      fi
    done
  done
  symbol="${prefix}WAVHZCreate and ${prefix}WAVHZTryCreate"
  label=${name##*-}
  if [[ $run_under_wine != *" $label "* ]]; then
    echo "$name: import libraries name $symbol; wavhz.exe not run here"
    summary+=("$label: import library checked")
    continue
  fi
  status=0
  "$source_dir/cmake/run-under-wine.sh" "$work/wine-$name" "$work/$name/$name/bin/wavhz.exe" \
    "$work/$name.wav" 441 10 2 >/dev/null || status=$?
  # Wine's server writes its registry on the way out: let it, before the
  # prefix is removed.
  "$source_dir/cmake/run-under-wine.sh" --wait "$work/wine-$name" 2>/dev/null || true
  [ "$status" -eq 0 ]
  cmp "$work/reference.wav" "$work/$name.wav"
  # Hosts built against the unpacked archive, the DLLs beside them.
  root=$work/$name/$name host=$work/host-$name
  triple=x86_64-w64-mingw32
  [ "$label" = win64 ] || triple=i686-w64-mingw32
  cmake -S "$source_dir/examples/cpp" -B "$host" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchains/$triple.cmake" \
    -DQuilloxWAVFrequency_DIR="$root/lib/cmake/QuilloxWAVFrequency" >/dev/null
  cmake --build "$host" >/dev/null
  # shellcheck disable=SC2046  # pkg-config's words are separate arguments
  "$triple-gcc-posix" -std=c11 -Wall -Wextra -Werror -static -o "$host/link.exe" \
    "$source_dir/examples/c/link.c" \
    $(PKG_CONFIG_LIBDIR="$root/lib/pkgconfig" pkg-config --cflags --libs QuilloxWAVFrequency)
  cp "$root"/bin/*.dll "$host/"
  (cd "$host" && "$source_dir/cmake/run-under-wine.sh" "$work/wine-$name" ./tone.exe cpp.wav 441 10 2 \
    && "$source_dir/cmake/run-under-wine.sh" "$work/wine-$name" ./link.exe) >/dev/null
  "$source_dir/cmake/run-under-wine.sh" --wait "$work/wine-$name" 2>/dev/null || true
  cmp "$work/reference.wav" "$host/cpp.wav"
  cmp "$work/a440.wav" "$host/a440.wav"
  echo "$name: import libraries name $symbol; wavhz.exe, examples/cpp (find_package) and" \
    "examples/c/link.c (pkg-config) built against it write the reference bytes under Wine"
  summary+=("$label: wavhz.exe and hosts built against the archive write the same bytes")
done
printf '%s; ' "${summary[@]:0:${#summary[@]}-1}"
echo "${summary[-1]}"
