#!/usr/bin/env bash
# check_installed.sh BUILD_DIR VERSION
# Installs the build in BUILD_DIR into a temporary prefix, then builds the C
# host against it twice, with CMake's find_package and with pkg-config, and
# runs both. The prefix is moved once before use: the tree is relocatable.
set -euo pipefail
build_dir=$1
version=$2  # the project's
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

cmake -S "$source_dir" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
"$work/cmake-host/consumer_host" "$work/by-cmake.wav"
(cd "$work" && "$work/cmake-host/consumer_cpp_host")

pc_dir=$(dirname "$(find "$prefix" -name QuilloxWAVFrequency.pc)")
export PKG_CONFIG_PATH=$pc_dir
[ "$(pkg-config --modversion QuilloxWAVFrequency)" = "$version" ]
# shellcheck disable=SC2046
cc -std=c11 -o "$work/pc-host" "$source_dir/../c_host.c" \
  $(pkg-config --cflags --libs QuilloxWAVFrequency) \
  -Wl,-rpath,"$(pkg-config --variable=libdir QuilloxWAVFrequency)"
"$work/pc-host" "$work/by-pkg-config.wav"

cmp "$work/by-cmake.wav" "$work/by-pkg-config.wav"
"$prefix/bin/wavhz" "$work/by-wavhz.wav" 440 10 1 >/dev/null
cmp "$work/by-cmake.wav" "$work/by-wavhz.wav"
[ -f "$prefix/share/man/man1/wavhz.1.gz" ]
[ -f "$prefix/share/man/man3/WAVHZCreate.3.gz" ]
[ -f "$prefix/share/bash-completion/completions/wavhz" ]
echo "installed tree works from $prefix"
