#!/usr/bin/env bash
# run-under-wine.sh PREFIX PROGRAM [ARGUMENTS...]
# Runs a Windows program under Wine: no debug noise, and the Wine prefix
# PREFIX, made once (under a lock, as tests start in parallel).
set -euo pipefail
export WINEDEBUG=-all
export WINEPREFIX=$1
shift
export WINEDLLOVERRIDES="mscoree,mshtml="  # no prompts for Mono or Gecko
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  flock "$WINEPREFIX.lock" bash -c '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1'
fi
exec wine "$@"
