# shellcheck shell=bash
# How Windows programs run on this host (sourced by scripts/test.sh,
# scripts/demo.sh, tests/wine/lib.sh and bench/wine_bench.sh; the one place
# that decides it).
#
# The shipped program is the 32-bit korvalinex.exe. Where the kernel runs
# 32-bit x86 code, it runs under the 32-bit Wine loader, as on Windows.
# Some x86_64 kernels cannot execute 32-bit code at all ("Exec format
# error", even for the 32-bit Wine loader); there the 64-bit build of the
# same sources runs under the 64-bit loader in a 64-bit prefix.
#
#   KVX_WINE_ARCH=win32 | win64   forces the choice (default: by the host)
#
# kvx_wine_install installs what a script needs with the Wine set of the
# chosen architecture. When the host chose win32 (KVX_WINE_ARCH unset) and
# the 32-bit Wine packages cannot be had (say a package list of the i386
# architecture failed to download, so wine32:i386 has nothing to match),
# it says so in one line and goes on with win64. A failed package list is
# only a warning; a failed update or install is tried again.
#
#   KVX_APT_TRIES=3          tries of each update and install
#   KVX_APT_PAUSE=15         seconds between tries
#   KVX_APT_LOCK_WAIT=600    seconds to wait for another package manager
#
# Two switches for trying out that fallback on any host:
#   KVX_FAIL_I386_INSTALL=1  every :i386 package counts as missing and no
#                            install of it succeeds, as if the registry
#                            lacked it (the i386 architecture is not added)
#   KVX_ASSUME_32BIT_HOST=1  take the host to run 32-bit code
#
# After kvx_wine_choose:
#   KVX_WINE_ARCH       win32 or win64
#   KVX_WINE_LOADER     the Wine loader, called by its path
#   KVX_WINESERVER      the wine server that belongs to it
#   KVX_WIN_TOOLCHAIN   the CMake toolchain file of that build
#   KVX_WIN_CROSS       the cross compiler's prefix (i686-w64-mingw32, ...)
#   KVX_WIN_BUILD_NAME  a build directory name for that architecture
#   KVX_WINE_PACKAGES   the Debian packages that build and run it
#   KVX_WINE_NEEDS_I386 1 when those packages need the i386 architecture
#   KVX_WINE_CHOSEN_BY  user (KVX_WINE_ARCH was set), host, or fallback
#                       (kvx_wine_install went from win32 to win64)

KVX_HOST_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# True when this kernel executes a 32-bit x86 program: a 96-byte static ELF
# that only calls exit(42). Needs no package, so it answers on a fresh
# machine before anything is installed.
kvx_host_runs_32bit() {
  local probe rc elf
  probe=$(mktemp "${TMPDIR:-/tmp}/kvx-probe32.XXXXXX") || return 1
  elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
  elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
  elf+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'
  elf+='\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'
  elf+='\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'
  printf "$elf" >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  [[ $rc == 42 ]]
}

kvx_wine_choose() {
  local arch=${KVX_WINE_ARCH:-}
  case $arch in
    win32 | win64) KVX_WINE_CHOSEN_BY=user ;;
    "")
      KVX_WINE_CHOSEN_BY=host
      if [[ ${KVX_ASSUME_32BIT_HOST:-0} == 1 ]] ||
        { [[ -x /usr/lib/wine/wine ]] &&
        /usr/lib/wine/wine --version >/dev/null 2>&1; } ||
        kvx_host_runs_32bit; then
        arch=win32
      else
        arch=win64
      fi
      ;;
    *)
      echo "KVX_WINE_ARCH must be win32 or win64, not '$arch'" >&2
      return 2
      ;;
  esac
  KVX_WINE_ARCH=$arch
  if [[ $arch == win32 ]]; then
    KVX_WINE_LOADER=/usr/lib/wine/wine
    KVX_WINESERVER=/usr/lib/wine/wineserver32
    KVX_WIN_TOOLCHAIN=$KVX_HOST_ROOT/cmake/mingw-w64-i686.cmake
    KVX_WIN_CROSS=i686-w64-mingw32
    KVX_WIN_BUILD_NAME=build-win
    KVX_WINE_PACKAGES=(g++-mingw-w64-i686-posix wine wine32:i386)
    KVX_WINE_NEEDS_I386=1
  else
    KVX_WINE_LOADER=/usr/lib/wine/wine64
    KVX_WINESERVER=/usr/lib/wine/wineserver64
    KVX_WIN_TOOLCHAIN=$KVX_HOST_ROOT/cmake/mingw-w64-x86_64.cmake
    KVX_WIN_CROSS=x86_64-w64-mingw32
    KVX_WIN_BUILD_NAME=build-win64
    KVX_WINE_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64)
    KVX_WINE_NEEDS_I386=0
  fi
  export KVX_WINE_ARCH KVX_WINE_LOADER KVX_WINESERVER
}

# One line that says which Windows programs run here and how.
kvx_wine_describe() {
  local bits=32
  [[ $KVX_WINE_ARCH == win64 ]] && bits=64
  echo "Windows programs: the ${bits}-bit build under $KVX_WINE_LOADER" \
    "(prefix WINEARCH=$KVX_WINE_ARCH)"
}

# "win32", "win64" or "" (not a PE file): the machine field of a Windows
# program's header.
kvx_pe_arch() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [[ $offset =~ ^[0-9]+$ ]] || return 0
  [[ $(od -An -c -j"$offset" -N4 "$1" 2>/dev/null | tr -d ' ') == 'PE\0\0' ]] ||
    return 0
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  case $machine in
    014c) echo win32 ;;
    8664) echo win64 ;;
  esac
}

# Runs "$@" (apt-get or dpkg, as root) and shows its output. While another
# package manager holds the lock, tries again every 5 s, at most
# KVX_APT_LOCK_WAIT seconds in all, and shows the output of the try that
# got past the lock (or of the last one); gives the command's own status.
kvx_apt_run() {
  local - log rc waited=0 budget=${KVX_APT_LOCK_WAIT:-600} sudo=""
  local locked='Could not get lock|Unable to acquire the dpkg frontend lock|Unable to lock|locked by another process'
  set +e -o pipefail
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  log=$(mktemp "${TMPDIR:-/tmp}/kvx-apt.XXXXXX") || return 1
  $sudo "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  while ((rc != 0)) && grep -qE "$locked" "$log"; do
    if ((waited >= budget)); then
      ((waited)) && cat "$log"
      break
    fi
    ((waited)) ||
      echo "== another package manager holds the lock; waiting (at most $budget s)"
    sleep 5
    waited=$((waited + 5))
    $sudo "$@" >"$log" 2>&1
    rc=$?
    if ((rc == 0)) || ! grep -qE "$locked" "$log"; then
      cat "$log"
    fi
  done
  rm -f "$log"
  return "$rc"
}

# apt-get update, tried again after a pause when it fails ($1 tries in all,
# default KVX_APT_TRIES). A list that still cannot be had (a mirror in the
# middle of a sync, say) is a warning only: the install that follows finds
# out whether what is needed is there.
kvx_apt_update() {
  local try tries=${1:-${KVX_APT_TRIES:-3}} rc
  for ((try = 1; ; try++)); do
    rc=0
    kvx_apt_run apt-get update -qq || rc=$?
    ((rc)) || return 0
    if ((try >= tries)); then
      echo "== warning: apt-get update failed (exit $rc, try $try of $tries);" \
        "going on with the package lists there are" >&2
      return 0
    fi
    echo "== apt-get update failed (exit $rc, try $try of $tries);" \
      "again in ${KVX_APT_PAUSE:-15} s" >&2
    sleep "${KVX_APT_PAUSE:-15}"
  done
}

# One apt-get install of "$@"; with KVX_FAIL_I386_INSTALL=1 any :i386
# package among them makes it fail as a registry without that package would.
kvx_apt_install_once() {
  local p
  if [[ ${KVX_FAIL_I386_INSTALL:-0} == 1 ]]; then
    for p in "$@"; do
      if [[ $p == *:i386 ]]; then
        echo "E: Unable to locate package $p (KVX_FAIL_I386_INSTALL=1)" >&2
        return 100
      fi
    done
  fi
  DEBIAN_FRONTEND=noninteractive kvx_apt_run apt-get install -y -qq "$@"
}

# True when apt could install package $1 now (a dry run, no lock taken).
kvx_package_available() {
  [[ ${KVX_FAIL_I386_INSTALL:-0} == 1 && $1 == *:i386 ]] && return 1
  apt-get install -s -qq -o Debug::NoLocking=1 "$1" >/dev/null 2>&1
}

# True when package $1 is installed (an :i386 package never is with
# KVX_FAIL_I386_INSTALL=1).
kvx_package_installed() {
  [[ ${KVX_FAIL_I386_INSTALL:-0} == 1 && $1 == *:i386 ]] && return 1
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# Installs the packages in "$@" that are missing (with the i386
# architecture first when one of them is an :i386 package). An install that
# fails is tried again, KVX_APT_TRIES times in all, each time after a pause
# and one more apt-get update. When it still fails, KVX_NOT_INSTALLED holds
# the packages that cannot be had (those apt cannot resolve on their own;
# all the missing ones when each alone resolves), a line names them (not
# with KVX_INSTALL_QUIET=1), and the status is 1.
kvx_install_packages() {
  local p try tries=${KVX_APT_TRIES:-3} pause=${KVX_APT_PAUSE:-15} missing=()
  local i386=()
  KVX_NOT_INSTALLED=()
  for p in "$@"; do
    kvx_package_installed "$p" && continue
    missing+=("$p")
    [[ $p == *:i386 ]] && i386+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "== installing: ${missing[*]}"
  if ((${#i386[@]})) && [[ ${KVX_FAIL_I386_INSTALL:-0} != 1 ]] &&
    ! dpkg --print-foreign-architectures | grep -qx i386; then
    if ! kvx_apt_run dpkg --add-architecture i386; then
      KVX_NOT_INSTALLED=("${i386[@]}")
      echo "== cannot add the i386 architecture for ${i386[*]}" >&2
      return 1
    fi
    KVX_APT_UPDATED=0
  fi
  for ((try = 1; ; try++)); do
    if ((try > 1)); then
      kvx_apt_update 1
    elif ((!${KVX_APT_UPDATED:-0})); then
      kvx_apt_update
      KVX_APT_UPDATED=1
    fi
    kvx_apt_install_once "${missing[@]}" && return 0
    ((try < tries)) || break
    echo "== installing failed (try $try of $tries); again in $pause s" >&2
    sleep "$pause"
  done
  for p in "${missing[@]}"; do
    kvx_package_available "$p" || KVX_NOT_INSTALLED+=("$p")
  done
  if ((${#KVX_NOT_INSTALLED[@]})); then
    [[ ${KVX_INSTALL_QUIET:-0} == 1 ]] ||
      echo "== cannot be installed: ${KVX_NOT_INSTALLED[*]}" \
        "(apt has no installable version of it)" >&2
  else
    KVX_NOT_INSTALLED=("${missing[@]}")
    [[ ${KVX_INSTALL_QUIET:-0} == 1 ]] ||
      echo "== installing failed: ${missing[*]} (each can be resolved;" \
        "a download or dpkg error, see above)" >&2
  fi
  return 1
}

# Installs the packages in "$@" and the Wine set of the chosen architecture
# (after kvx_wine_choose). When the 32-bit set cannot be had and the host,
# not the user, chose win32, takes win64 instead: every KVX_WINE_* variable
# is then that of win64, and one line says so. Status 1 when a package
# without which nothing runs cannot be had; the line before names it.
kvx_wine_install() {
  kvx_install_packages "$@" || return 1
  if [[ $KVX_WINE_ARCH != win32 || $KVX_WINE_CHOSEN_BY != host ]]; then
    kvx_install_packages "${KVX_WINE_PACKAGES[@]}" && return 0
    [[ $KVX_WINE_ARCH == win32 ]] &&
      echo "== KVX_WINE_ARCH=win32 asks for the 32-bit Wine packages;" \
        "without it the 64-bit build would be tried" >&2
    return 1
  fi
  KVX_INSTALL_QUIET=1 kvx_install_packages "${KVX_WINE_PACKAGES[@]}" &&
    return 0
  local lacking=("${KVX_NOT_INSTALLED[@]}")
  KVX_WINE_ARCH=win64
  kvx_wine_choose || return 1
  KVX_WINE_CHOSEN_BY=fallback
  echo "== $(kvx_wine_describe): the 32-bit Wine packages cannot be" \
    "installed (${lacking[*]})"
  if ! kvx_install_packages "${KVX_WINE_PACKAGES[@]}"; then
    echo "== neither Wine set can be installed: 32-bit lacks ${lacking[*]}," \
      "64-bit lacks ${KVX_NOT_INSTALLED[*]}" >&2
    return 1
  fi
}

# As kvx_wine_install "${@ before --}", with the packages after "--"
# wanted but not needed: first all of them and the Wine set in one
# install (a single try); when that fails, kvx_wine_install with its tries
# and its fallback to win64, then each wanted package that is still
# missing on its own (one that cannot be had is only left out).
kvx_wine_install_with() {
  local p needed=() wanted=() after=0
  for p; do
    if [[ $p == -- ]]; then
      after=1
    elif ((after)); then
      wanted+=("$p")
    else
      needed+=("$p")
    fi
  done
  KVX_APT_TRIES=1 KVX_INSTALL_QUIET=1 kvx_install_packages \
    "${needed[@]}" "${KVX_WINE_PACKAGES[@]}" "${wanted[@]}" && return 0
  echo "== not all at once; the packages needed first, then the others"
  kvx_wine_install "${needed[@]}" || return 1
  for p in "${wanted[@]}"; do
    kvx_install_packages "$p" || true
  done
  return 0
}
