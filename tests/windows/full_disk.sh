#!/bin/sh
# full_disk.sh RUNNER... WAVHZ_EXE
# wavhz.exe on a full disk, which Wine sees as part of drive Z:: a 1 MiB
# tmpfs (which reserves room), a loop-mounted ext2 image (which cannot, so
# the room is counted) and an XFS image where the existing file is a
# reflinked copy (overwriting it takes new blocks, which Wine's allocation
# does not reserve). On each: status 2 with the system's reason, an
# existing file keeps every byte, a new file is not left behind. Needs
# root; skips (77) without.
set -u
[ "$(id -u)" -eq 0 ] || { echo "skipped: mounting a small disk needs root"; exit 77; }
work=$(mktemp -d)
trap 'umount "$work/tmpfs" "$work/ext2" "$work/xfs" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/tmpfs" "$work/ext2" "$work/xfs"
truncate -s 2M "$work/ext2.img"
if ! mount -t tmpfs -o size=1m tmpfs "$work/tmpfs" ||
   ! mkfs.ext2 -q -F -m 0 -b 1024 "$work/ext2.img" ||
   ! mount -o loop "$work/ext2.img" "$work/ext2"; then
  echo "skipped: no tmpfs or no loop-mounted ext2 here"
  exit 77
fi
disks="$work/tmpfs $work/ext2"
truncate -s 300M "$work/xfs.img"
if mkfs.xfs -q -f -m reflink=1 "$work/xfs.img" 2>/dev/null &&
   mount -o loop "$work/xfs.img" "$work/xfs"; then
  disks="$disks $work/xfs"
else
  echo "no loop-mounted XFS here: its case left out"
fi
failed=0
for disk in $disks; do
  head -c 2000000 /dev/zero | tr '\0' k >"$disk/original.wav"
  if [ "$disk" = "$work/xfs" ]; then  # the original kept: the blocks stay shared
    cp --reflink=always "$disk/original.wav" "$disk/existing.wav"
  else
    head -c 100000 "$disk/original.wav" >"$disk/existing.wav"
    rm "$disk/original.wav"
  fi
  # ext2 cannot reserve: the filler is written, and leaves 8 KiB free.
  free=$(df -B1 --output=avail "$disk" | tail -n 1)
  head -c $((free - 8192)) /dev/zero >"$disk/filler" 2>/dev/null
  sync
  before=$(cd "$disk" && ls -l existing.wav filler && sha256sum existing.wav)
  for name in existing.wav new.wav; do
    output=$("$@" "Z:$disk/$name" 440 10 20 2>&1)
    status=$?
    printf '%s\n' "$output"
    [ "$status" -eq 77 ] && exit 77
    if [ "$status" -ne 2 ] ||
       ! printf '%s\n' "$output" | grep -q "^wavhz: cannot write '.*$name': ."; then
      echo "full_disk: $disk/$name: status $status, expected 2 and the reason" >&2
      failed=1
    fi
  done
  after=$(cd "$disk" && ls -l existing.wav filler && sha256sum existing.wav)
  if [ "$before" != "$after" ] || [ -e "$disk/new.wav" ]; then
    printf 'full_disk: %s changed:\n%s\n---\n%s\n' "$disk" "$before" "$after" >&2
    ls -l "$disk" >&2
    failed=1
  fi
done
exit $failed
