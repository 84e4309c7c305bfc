#!/usr/bin/env bash
# fresh_machine.sh (./build.sh fresh): what the README's quick start does on
# a new machine. Makes a minimal Debian 12 with debootstrap, from this
# machine's apt sources, in build/fresh/root; clones this repository's
# committed HEAD into it; and runs the two quick-start commands there as
# root, in a mount namespace of their own (/proc, /sys and /dev bound in),
# with CI=true as on CI's throwaway machines. Needs root. Ends with the
# times of both commands and the test command's report of every target;
# the whole output is kept in build/fresh/log.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh_machine.sh: debootstrap and the mounts need root" >&2
  exit 1
fi
need fresh || exit 1

fresh=$PWD/build/fresh
root=$fresh/root
# The first Debian mirror this machine's sources name.
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
  2>/dev/null | grep -o -m 1 -E 'https?://[^ ]*/debian/?( |$)' | tr -d ' ' || true)
mirror=${mirror:-http://deb.debian.org/debian}

# (Its mounts live and die with the namespace; never remove what one still holds.)
if grep -q " $fresh/" /proc/self/mounts; then
  echo "fresh_machine.sh: something is still mounted under $fresh" >&2
  exit 1
fi
rm -rf "$fresh"
mkdir -p "$fresh"
log=$fresh/log
echo "fresh_machine.sh: a minimal Debian 12 from $mirror into $root (log: $log)"
start=$SECONDS
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$log" 2>&1 || {
  tail -n 20 "$log" >&2
  exit 1
}
# This machine's apt sources, and the keys they name.
rm -f "$root/etc/apt/sources.list"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && cp "$file" "$root$file"
done
for key in $(grep -h -o -E 'signed-by=[^] ]*|Signed-By: *[^ ]*' /etc/apt/sources.list \
  /etc/apt/sources.list.d/* 2>/dev/null | sed -E 's/^(signed-by=|Signed-By: *)//' | sort -u); do
  [ -f "$key" ] && [ ! -e "$root$key" ] && mkdir -p "$root$(dirname "$key")" && cp "$key" "$root$key"
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet "$PWD" "$root/root/QuilloxWAVFrequency"
echo "fresh_machine.sh: Debian ready in $((SECONDS - start)) s; running the quick start"

# shellcheck disable=SC2016
unshare --mount --propagation private bash -c '
  set -e
  root=$1
  # Its root a mount point of its own, as on a real machine.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  exec chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "
      set -e
      cd /root/QuilloxWAVFrequency
      start=\$SECONDS
      ./build.sh tone
      echo \"fresh machine: ./build.sh tone passed in \$((SECONDS - start)) s\"
      start=\$SECONDS
      ./build.sh test
      echo \"fresh machine: ./build.sh test passed in \$((SECONDS - start)) s\""
' fresh "$root" >>"$log" 2>&1 || status=$?

sed -n '/^Targets:/,$p' "$log" | grep -v '^fresh machine' || true
grep '^fresh machine' "$log" || true
if [ "${status:-0}" -ne 0 ]; then
  tail -n 40 "$log"
  echo "fresh_machine.sh: the quick start failed on a fresh machine (status $status); see $log" >&2
  exit 1
fi
