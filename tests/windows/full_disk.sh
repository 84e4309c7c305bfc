#!/bin/sh
# full_disk.sh RUNNER... WAVHZ_EXE
# wavhz.exe on a full disk (a 1 MiB tmpfs mounted for the test, which Wine
# sees as part of drive Z:): status 2 with the system's reason, an existing
# file keeps every byte, a new file is not left behind. Needs root; skips
# (77) without.
set -u
[ "$(id -u)" -eq 0 ] || { echo "skipped: mounting a small disk needs root"; exit 77; }
disk=$(mktemp -d)
if ! mount -t tmpfs -o size=1m tmpfs "$disk"; then
  rmdir "$disk"
  echo "skipped: no tmpfs could be mounted"
  exit 77
fi
trap 'umount "$disk"; rmdir "$disk"' EXIT
head -c 100000 /dev/zero | tr '\0' k >"$disk/existing.wav"
free=$(df -B1 --output=avail "$disk" | tail -n 1)
fallocate -l $((free - 8192)) "$disk/filler"
before=$(cd "$disk" && ls -l && sha256sum existing.wav)
failed=0
for name in existing.wav new.wav; do
  output=$("$@" "Z:$disk/$name" 440 10 20 2>&1)
  status=$?
  printf '%s\n' "$output"
  [ "$status" -eq 77 ] && exit 77
  if [ "$status" -ne 2 ] || ! printf '%s\n' "$output" | grep -q "^wavhz: cannot write '.*$name': ."; then
    echo "full_disk: $name: status $status, expected 2 and the reason" >&2
    failed=1
  fi
done
after=$(cd "$disk" && ls -l && sha256sum existing.wav)
if [ "$before" != "$after" ]; then
  printf 'full_disk: the disk changed:\n%s\n---\n%s\n' "$before" "$after" >&2
  failed=1
fi
exit $failed
