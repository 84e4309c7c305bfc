#!/usr/bin/env bash
# The install logic of scripts/packages.sh against stand-ins for apt-get,
# dpkg and dpkg-query (in a folder put first on PATH) that can fail the
# refresh of the package lists, refuse a package, or serve lists that are
# out of date until refreshed. Each case: what `need` was asked, what the
# stand-ins did, and the status and messages that must come of it.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export SOURCE_DIR=$source_dir
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stubs=$work/bin
mkdir -p "$stubs"

# The stand-ins keep the machine's state in files under $STATE: installed
# (one package a line), arches (foreign architectures), refused (packages
# apt-get cannot install), update_status, stale (lists out of date until an
# update) and log (each apt-get and dpkg change, a line each).
cat >"$stubs/dpkg-query" <<'EOF'
#!/bin/sh
package=${3:-}
if [ -z "$package" ]; then  # the architectures of what is installed
  sed -n 's/.*:\(i386\)$/\1/p' "$STATE/installed"
  exit 0
fi
grep -qx -- "$package" "$STATE/installed" || exit 1
printf 'install ok installed'
EOF
cat >"$stubs/dpkg" <<'EOF'
#!/bin/sh
case $1 in
  --print-foreign-architectures) cat "$STATE/arches" ;;
  --add-architecture) echo "$2" >>"$STATE/arches"; echo "dpkg $*" >>"$STATE/log" ;;
  --remove-architecture) grep -vx "$2" "$STATE/arches" >"$STATE/a"; mv "$STATE/a" "$STATE/arches"
    echo "dpkg $*" >>"$STATE/log" ;;
esac
EOF
cat >"$stubs/apt-get" <<'EOF'
#!/bin/sh
command=$1
shift
if [ "$command" = update ]; then
  echo update >>"$STATE/log"
  rm -f "$STATE/stale"
  status=$(cat "$STATE/update_status")
  [ "$status" -eq 0 ] || echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit "$status"
fi
packages=$(printf '%s\n' "$@" | grep -v '^-')
echo "install" $packages >>"$STATE/log"
if [ -e "$STATE/stale" ]; then
  echo "E: Unable to locate package $(echo $packages | cut -d' ' -f1)"
  exit 100
fi
for package in $packages; do
  if grep -qx -- "$package" "$STATE/refused"; then
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
printf '%s\n' $packages >>"$STATE/installed"
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/*

failures=0
# check NAME EXPECTED_STATUS EXPECTED_LOG EXPECTED_MESSAGE -- COMMAND...
# Runs COMMAND (bash code, with scripts/packages.sh sourced) against the
# state made by the setup lines on standard input.
check() {
  local name=$1 expected_status=$2 expected_log=$3 expected_message=$4
  shift 5
  export STATE=$work/$name
  mkdir -p "$STATE"
  : >"$STATE/installed"; : >"$STATE/arches"; : >"$STATE/refused"; : >"$STATE/log"
  echo 0 >"$STATE/update_status"
  (cd "$STATE" && bash -e)  # the setup
  local status=0
  PATH=$stubs:$PATH bash -c "set -euo pipefail; cd '$source_dir' && source scripts/packages.sh && $*" \
    >"$STATE/out" 2>&1 || status=$?
  local log
  log=$(paste -sd '|' "$STATE/log")
  local message_ok=true
  if [ -z "$expected_message" ]; then
    [ ! -s "$STATE/out" ] || message_ok=false
  else
    grep -qF -- "$expected_message" "$STATE/out" || message_ok=false
  fi
  if [ "$status" -ne "$expected_status" ] || [ "$log" != "$expected_log" ] || ! $message_ok; then
    echo "FAILED $name: status $status (expected $expected_status)"
    echo "  apt log:  $log"
    echo "  expected: $expected_log"
    echo "  expected a message with: ${expected_message:-(nothing)}"
    sed 's/^/  | /' "$STATE/out"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

check nothing_missing 0 "" "" -- need fuzz <<'EOF'
printf 'clang\nlibclang-rt-14-dev\n' >installed
EOF

check current_lists_need_no_refresh 0 "install clang libclang-rt-14-dev" \
  "installing for fuzz: clang libclang-rt-14-dev" -- need fuzz </dev/null

check failed_refresh_is_a_warning 0 \
  "install clang libclang-rt-14-dev|update|install clang libclang-rt-14-dev" \
  "warning: apt-get update failed (status 100)" -- need fuzz <<'EOF'
touch stale
echo 100 >update_status
EOF

check lists_refreshed_once_a_run 0 \
  "install clang libclang-rt-14-dev|update|install clang libclang-rt-14-dev|install qemu-user" \
  "installing for aarch64-run" -- 'need fuzz && need aarch64-run' <<'EOF'
touch stale
EOF

# The mirror's i386 index is broken: the group is refused, the others are
# not, the reason is kept for the report, and the architecture added for
# the group is taken away again.
check refused_group_takes_no_other 0 \
  "dpkg --add-architecture i386|update|install wine wine64 wine32:i386|dpkg --remove-architecture i386|install qemu-user" \
  "windows-i686-run: apt-get cannot install wine wine64 wine32:i386: Unable to correct problems, you have held broken packages." \
  -- '! need windows-i686-run && need armhf-run &&
      echo "windows-i686-run: ${unavailable[windows-i686-run]}" && [ -z "$(cat "$STATE/arches")" ]' <<'EOF'
echo wine32:i386 >refused
echo 100 >update_status
EOF

# Without its core tools the test command ends at once, saying why.
check core_missing_ends_the_run 1 "install cmake|update|install cmake" \
  "the core build and test tools cannot be installed" -- './build.sh test' <<'EOF'
source "$SOURCE_DIR/scripts/packages.sh"
packages_for core | tr ' ' '\n' | grep -vx cmake >installed
echo cmake >refused
EOF

[ "$failures" -eq 0 ] || exit 1
