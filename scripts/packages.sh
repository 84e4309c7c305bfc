# shellcheck shell=bash
# Sourced by build.sh: the Debian packages each purpose needs, and `need`,
# which installs the missing ones a group at a time.
#
# Groups are installed one by one, so that a group that cannot be had (a
# mirror that serves a broken index, a package held back) takes no other
# with it. Whoever calls `need` decides what a missing group means: the core
# group ends the run, a cross target's group leaves that target out, and the
# report at the end says why (`unavailable`).

# Packages of each group. A target's tools come in two groups: those that
# build it, and those that run its programs ("-run").
packages_for() {  # GROUP
  case $1 in
    tone) echo cmake make g++ libc6-dev ;;
    core)
      echo cmake make g++ libc6-dev binutils valgrind pkg-config libgtest-dev libgmock-dev \
        libbenchmark-dev libsndfile1-dev libmpfr-dev clang-format file git btrfs-progs xfsprogs python3 python3-pytest python3-numpy python3-pip python3-fusepy
      ;;
    fuzz) echo clang libclang-rt-14-dev ;;
    windows) echo g++-mingw-w64-x86-64-posix googletest ;;
    windows-run) echo wine wine64 ;;
    windows-i686) echo g++-mingw-w64-i686-posix googletest ;;
    windows-i686-run) echo wine wine64 wine32:i386 ;;
    aarch64) echo g++-aarch64-linux-gnu googletest ;;
    armhf) echo g++-arm-linux-gnueabihf googletest ;;
    i686) echo g++-i686-linux-gnu googletest ;;
    aarch64-run | armhf-run | i686-run) echo qemu-user ;;
    packaging) echo dpkg-dev file lintian llvm-14 man-db ;;
    compare) echo python3 ;;
    proofs) echo sollya libmpfr-dev clang-format ;;
    picture) echo gnuplot-nox ;;
    fresh) echo debootstrap git ;;
    *)
      echo "packages_for: no group '$1'" >&2
      return 1
      ;;
  esac
}

# Why each group that could not be installed was not; empty for the others.
declare -A unavailable=()
package_lists_refreshed=false

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

installed() {  # PACKAGE
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs the packages of GROUP that are missing. Tries with the package
# lists the machine has first; only when that fails are the lists refreshed,
# once a run, and a refresh that fails for some indexes (a mirror caught
# mid-sync) is a warning: apt-get then works with the lists it has. Returns
# 1, with the reason in unavailable[GROUP], when the group cannot be had.
need() {  # GROUP
  local group=$1 package missing=()
  for package in $(packages_for "$group"); do
    installed "$package" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "build.sh: installing for $group: ${missing[*]}" >&2

  # An i386 package needs the architecture; it is taken away again if the
  # group then cannot be installed, so that later refreshes do not fetch
  # its indexes for nothing.
  local added_i386=false
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    added_i386=true
    package_lists_refreshed=false
  fi

  local log
  log=$(mktemp)
  # With the lists the machine has (a newly added architecture has none).
  if ! $added_i386 && try_install "${missing[@]}" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  if ! $package_lists_refreshed; then
    package_lists_refreshed=true
    local status=0
    as_root apt-get update -qq >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      echo "build.sh: warning: apt-get update failed (status $status); going on with the" \
        "package lists it has:" >&2
      grep -E '^(E|W|Err):' "$log" | head -n 4 | sed 's/^/  /' >&2
    fi
  fi
  if try_install "${missing[@]}" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  local why
  why=$(grep -m 1 -E '^E: ' "$log" | sed 's/^E: //')
  unavailable[$group]="apt-get cannot install ${missing[*]}: ${why:-see the output below}"
  echo "build.sh: ${unavailable[$group]}" >&2
  sed 's/^/  /' "$log" | tail -n 12 >&2
  rm -f "$log"
  if $added_i386 && ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
    as_root dpkg --remove-architecture i386 || true
  fi
  return 1
}

try_install() {  # PACKAGE...
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "$@"
}

# Whether this kernel runs 32-bit x86 programs at all (some are built
# without that support): a 93-byte i386 program that exits with status 42,
# written into build/ (a temporary folder may be mounted noexec).
kernel_runs_i386() {
  local probe status=0
  mkdir -p build
  probe=$(mktemp -p build)
  # The ELF header: 32-bit, little-endian, an executable for i386, entry
  # 0x08048054, program headers at 52;
  {
    printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0'
    # e_shoff, e_flags, e_ehsize, e_phentsize, e_phnum, e_shentsize,
    # e_shnum, e_shstrndx; then one loadable segment of the whole file at
    # 0x08048000; then the code: xor ebx,ebx; mov bl,42; xor eax,eax;
    # inc eax; int 0x80.
    printf '\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0'
    printf '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0'
    printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'
  } >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}
