#!/usr/bin/env bash
# check_installed.sh BUILD_DIR VERSION
# Installs the build in BUILD_DIR into a temporary prefix, moved once before
# use (the tree is relocatable), checks what it holds, and builds and runs
# every example against it (examples/check_examples.sh).
set -euo pipefail
build_dir=$(cd "$1" && pwd)
version=$2  # the project's
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

pc_dir=$(dirname "$(find "$prefix" -name QuilloxWAVFrequency.pc)")
[ "$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion QuilloxWAVFrequency)" = "$version" ]
[ -f "$prefix/share/man/man1/wavhz.1.gz" ]
[ -f "$prefix/share/man/man3/WAVHZCreate.3.gz" ]
[ -f "$prefix/share/bash-completion/completions/wavhz" ]
# No program or library, built or installed, looks for libraries in the
# working directory: every entry of its search path is absolute or starts
# at $ORIGIN (an empty one is the working directory, as is a relative one).
mapfile -t binaries < <(find "$build_dir" "$prefix" -maxdepth 3 -type f \
                          \( -name 'libQuillox*.so.*' -o -name wavhz \) -not -path '*/completions/*')
[ "${#binaries[@]}" -eq 6 ]  # wavhz, the library and the framework, twice
for file in "${binaries[@]}"; do
  search_path=$(readelf -d "$file" | sed -n 's/.*(R[A-Z]*PATH).*\[\(.*\)\]$/\1/p')
  [ -n "$search_path" ] || continue
  IFS=: read -r -a entries <<<"$search_path:"  # the ':' keeps a last empty entry
  for entry in "${entries[@]}"; do
    case $entry in
      /* | '$ORIGIN' | '$ORIGIN'/*) ;;
      *) echo "$file looks for libraries in '$entry' ($search_path)" >&2; exit 1 ;;
    esac
  done
done
# The installed wavhz is the build tree's.
"$prefix/bin/wavhz" "$work/installed.wav" 440 10 1 >/dev/null
"$build_dir/wavhz" "$work/built.wav" 440 10 1 >/dev/null
cmp "$work/installed.wav" "$work/built.wav"

"$source_dir/examples/check_examples.sh" "$prefix" "$build_dir/wavhz"
echo "installed tree works from $prefix"
