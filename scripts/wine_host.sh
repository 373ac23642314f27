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
# After kvx_wine_choose:
#   KVX_WINE_ARCH       win32 or win64
#   KVX_WINE_LOADER     the Wine loader, called by its path
#   KVX_WINESERVER      the wine server that belongs to it
#   KVX_WIN_TOOLCHAIN   the CMake toolchain file of that build
#   KVX_WIN_CROSS       the cross compiler's prefix (i686-w64-mingw32, ...)
#   KVX_WIN_BUILD_NAME  a build directory name for that architecture
#   KVX_WINE_PACKAGES   the Debian packages that build and run it
#   KVX_WINE_NEEDS_I386 1 when those packages need the i386 architecture

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
    win32 | win64) ;;
    "")
      if { [[ -x /usr/lib/wine/wine ]] &&
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

# Installs the packages in "$@" that are missing, with the i386
# architecture first when KVX_WINE_NEEDS_I386 is 1 and any is missing.
kvx_install_packages() {
  local sudo="" p missing=()
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "== installing: ${missing[*]}"
  if [[ ${KVX_WINE_NEEDS_I386:-0} == 1 ]]; then
    $sudo dpkg --add-architecture i386 || return 1
  fi
  $sudo apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}
