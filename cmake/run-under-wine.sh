#!/usr/bin/env bash
# run-under-wine.sh PREFIX PROGRAM [ARGUMENTS...]
# Runs a Windows program under Wine with the Wine prefix PREFIX (made once,
# under a lock, as tests start in parallel), and no debug noise.
# run-under-wine.sh --wait PREFIX
# Waits until the Wine server of PREFIX has ended (and written the prefix).
#
# Wine's own `wine` script picks its loader by what is installed, not by the
# program, and exits 0 having run nothing when the 32-bit loader is missing.
# Here the loader is chosen from the program's PE header, and a program that
# cannot be started fails the run; it is skipped (status 77) only where the
# kernel itself cannot run 32-bit programs.
set -euo pipefail
export WINEDEBUG=-all
# Wine takes the ANSI code page from the Unix locale. The same one for every
# caller: without a locale (a fresh machine, env -i) it would pick one
# without "é", which the tests expect in a Western code page.
export LC_ALL=C.UTF-8

if [ "$1" = --wait ]; then
  [ -f "$2/system.reg" ] || exit 0
  export WINEPREFIX
  WINEPREFIX=$(cd "$2" && pwd)
  # The server of the prefix's own architecture.
  server=/usr/lib/wine/wineserver64
  grep -qx '#arch=win32' "$WINEPREFIX/system.reg" && server=/usr/lib/wine/wineserver32
  exec "$server" -w
fi

export WINEPREFIX=$1
shift
export WINEDLLOVERRIDES="mscoree,mshtml="  # no prompts for Mono or Gecko

program=$1
[ -f "$program" ] || program=$program.exe
# The machine field of the PE header: 8664 for x86-64, 014c for i386.
pe_offset=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$program" | tr -d ' ')
case "$machine" in
  8664) loader=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver64 ;;
  014c)
    loader=/usr/lib/wine/wine server=/usr/lib/wine/wineserver32
    # A 32-bit prefix: a 64-bit one refuses the 32-bit server.
    export WINEARCH=win32
    if [ ! -x "$loader" ]; then
      echo "run-under-wine: $loader is missing: install wine32:i386" >&2
      exit 1
    fi
    if ! "$loader" --version >/dev/null 2>&1; then
      echo "run-under-wine: skipped: this kernel cannot run 32-bit programs" \
           "($loader does not start)" >&2
      exit 77
    fi
    ;;
  *)
    echo "run-under-wine: $program is not a Windows program for x86 (machine '$machine')" >&2
    exit 1
    ;;
esac
if [ ! -x "$loader" ]; then
  echo "run-under-wine: $loader is missing: install wine64" >&2
  exit 1
fi
export WINELOADER=$loader WINESERVER=$server

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" bash -c \
    '[ -f "$WINEPREFIX/system.reg" ] || { "$WINELOADER" wineboot -i; "$WINESERVER" -w; } >/dev/null 2>&1 || true'
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run-under-wine: Wine could not make the prefix $WINEPREFIX" >&2
    exit 1
  fi
fi

# Wine's server can drop a program that connects just as the server exits:
# the program then fails, wherever it was, with "recvmsg: Connection reset
# by peer". That failure alone gets one more run, and says so; any other is
# the program's own. (Its standard error is shown after it ends.)
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for run in 1 2; do
  status=0
  "$loader" "$@" 2>"$errors" || status=$?
  cat "$errors" >&2
  if [ "$status" -eq 0 ] || [ "$run" -eq 2 ] ||
     ! grep -q 'recvmsg: Connection reset by peer' "$errors"; then
    exit "$status"
  fi
  echo "run-under-wine: Wine's server dropped the program (recvmsg: Connection reset" \
       "by peer); running it once more" >&2
done
