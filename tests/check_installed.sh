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
# The installed wavhz is the build tree's.
"$prefix/bin/wavhz" "$work/installed.wav" 440 10 1 >/dev/null
"$build_dir/wavhz" "$work/built.wav" 440 10 1 >/dev/null
cmp "$work/installed.wav" "$work/built.wav"

"$source_dir/examples/check_examples.sh" "$prefix" "$build_dir/wavhz"
echo "installed tree works from $prefix"
