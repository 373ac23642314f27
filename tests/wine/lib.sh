# shellcheck shell=bash
# Shared by the Wine end-to-end tests of the Windows program (sourced).
#
# Gives every test a Wine prefix of its own (a copy of a template prefix
# that is made once, then reused), an Xvfb display of its own, the board
# simulator on loopback and the program, and ends every process it started
# by its own PID when the test ends. Which Wine loader runs the program
# (and so which build of it) is decided in scripts/wine_host.sh; the
# program in KVX_WIN_BUILD must be that build.
#
# The board port: a test that sets KVX_BOARD_PORT=0 before sourcing this
# file gets a free loopback port of its own when its simulator starts
# (KVX_BOARD_PORT then holds it, and the program is started with
# "127.0.0.1 $KVX_BOARD_PORT"), so it can run beside any other. Any other
# caller gets the port the program was built for, 50290, shared by every
# run on this machine and so taken under a lock, one run at a time.
#
# Environment: KVX_WIN_BUILD (build directory with korvalinex.exe and
# kvx-drive.exe), KVX_SIM (simulator program), KVX_SOURCE_DIR (optional),
# KVX_WINEPREFIX (optional: where the template prefix goes, instead of the
# shared one of the tests), KVX_WINE_ARCH (optional: win32 or win64, see
# scripts/wine_host.sh).

set -u

KVX_BUILD_PORT=50290  # the port the program was built for
: "${KVX_BOARD_PORT:=$KVX_BUILD_PORT}"
if [[ $KVX_BOARD_PORT != 0 && $KVX_BOARD_PORT != "$KVX_BUILD_PORT" ]]; then
  echo "FAIL: KVX_BOARD_PORT is 0 (a port of its own) or $KVX_BUILD_PORT," \
    "not '$KVX_BOARD_PORT'" >&2
  exit 1
fi

: "${KVX_WIN_BUILD:?KVX_WIN_BUILD must name the Windows build directory}"
KVX_EXE="$KVX_WIN_BUILD/korvalinex.exe"
KVX_DRIVE_EXE="$KVX_WIN_BUILD/kvx-drive.exe"

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine_host.sh"
kvx_wine_choose || exit 1

# The template every run copies its prefix from; nothing runs in it.
KVX_WINE_TEMPLATE="${KVX_WINEPREFIX:-${TMPDIR:-/tmp}/kvx-wine-$UID}-$KVX_WINE_ARCH.template"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=$KVX_WINE_ARCH
# Programs Wine starts itself (wineboot's helpers, say) use the same loader.
export WINELOADER=$KVX_WINE_LOADER
# Windows-1252 as the ANSI code page of every process in the prefix.
unset LC_ALL LC_CTYPE
export LANG=en_US.UTF-8

# Every Wine program goes through the chosen loader and its server, never
# through whatever /usr/bin/wine would pick.
wine() { "$KVX_WINE_LOADER" "$@"; }
wineserver() { "$KVX_WINESERVER" "$@"; }

# The board port 50290 on loopback is shared by every run on this machine
# that uses it (other checkouts included): one at a time. A run in a
# network namespace of its own has a loopback of its own. The processes a
# test starts do not inherit the lock (8>&-), so none of them can hold it
# beyond the test.
if [[ $KVX_BOARD_PORT == "$KVX_BUILD_PORT" && ${KVX_BENCH_NETNS:-} != 1 ]]; then
  exec 8>"${TMPDIR:-/tmp}/kvx-wine-board-port.lock"
  if ! flock -w 240 8; then
    echo "FAIL: another Wine test held the board port for 4 minutes" >&2
    exit 1
  fi
fi

# KVX_WINE_KEEP=DIR keeps what a run showed and what the board got, for a
# comparison of two runs (scripts/compare_wine_runs.py): DIR/TEST/ (TEST
# the script's name without .sh, emptied first) gets the screenshots the
# test keeps (kvx_keep_screen), the command log of each simulator it
# started (wire-1.log, wire-2.log, ...: the simulator's --log) and the
# test's exit code (rc). Without it nothing is kept and nothing is done
# differently.
KVX_KEEP=""
KVX_SIM_STARTS=0
if [[ -n ${KVX_WINE_KEEP:-} ]]; then
  KVX_KEEP=$KVX_WINE_KEEP/$(basename "$0" .sh)
  if ! { rm -rf "$KVX_KEEP" && mkdir -p "$KVX_KEEP"; }; then
    echo "FAIL: cannot make $KVX_KEEP" >&2
    exit 1
  fi
fi

KVX_TMP=$(mktemp -d "${TMPDIR:-/tmp}/kvx-wine-test.XXXXXX")
# This run's prefix, and with it its own wine server: ending that server
# ends nothing of another run.
export WINEPREFIX="$KVX_TMP/prefix"
KVX_PIDS=()          # every process started here, in start order
KVX_XVFB_PID=""
KVX_WINE_USED=0
KVX_PROGRAM_PID=""
KVX_PROGRAM_RC=""    # exit code of the program, once kvx_wait_program_end saw it
export KVX_PROGRAM_RC
KVX_SIM_PID=""
KVX_SIM_CONTROL=""
KVX_DRIVE_PID=""     # the driver that serves this test's commands
KVX_DRIVE_IN=""      # file descriptor: commands to it
KVX_DRIVE_OUT=""     # file descriptor: its answers
KVX_FAILED=0

kvx_log() { echo "[$(date +%T)] $*"; }

kvx_fail() {
  KVX_FAILED=1
  echo "FAIL: $*" >&2
  exit 1
}

# Runs "$@" until it succeeds, at most $1 seconds (polling every 0.2 s).
kvx_wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while ! "$@"; do
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

kvx_alive() { kill -0 "$1" 2>/dev/null; }
kvx_dead() { ! kill -0 "$1" 2>/dev/null; }

# Ends one process: TERM, a bounded wait, then KILL.
kvx_stop_pid() {
  local pid=$1
  kvx_alive "$pid" || return 0
  kill "$pid" 2>/dev/null
  kvx_wait_for 5 kvx_dead "$pid" || kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

kvx_cleanup() {
  local rc=$?
  local i
  # The driver ends at the end of its input.
  kvx__close_driver
  # Programs first (newest first), the display last.
  for ((i = ${#KVX_PIDS[@]} - 1; i >= 0; i--)); do
    [[ ${KVX_PIDS[i]} == "$KVX_XVFB_PID" ]] && continue
    kvx_stop_pid "${KVX_PIDS[i]}"
  done
  if ((KVX_WINE_USED)); then
    timeout 20 "$KVX_WINESERVER" -k 2>/dev/null
    timeout 20 "$KVX_WINESERVER" -w 2>/dev/null
    kvx__forget_server
  fi
  [[ -n $KVX_XVFB_PID ]] && kvx_stop_pid "$KVX_XVFB_PID"
  if ((rc != 0 || KVX_FAILED)); then
    for f in "$KVX_TMP"/*.log; do
      [[ -s $f ]] || continue
      echo "---- $(basename "$f") (last lines) ----" >&2
      tail -n 30 "$f" >&2
    done
  fi
  if [[ -n $KVX_KEEP ]]; then
    for f in "$KVX_TMP"/wire-*.log; do
      [[ -f $f ]] && cp "$f" "$KVX_KEEP/"
    done
    echo "$rc" >"$KVX_KEEP/rc"
  fi
  rm -rf "$KVX_TMP"
  exit "$rc"
}
trap kvx_cleanup EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# Display and prefix
# ---------------------------------------------------------------------------

kvx_file_filled() { [[ -s $1 ]]; }

# A level log folder and the release zip's example alarm script (with its
# CR LF line ends) in a folder of its own, `$1` under KVX_TMP (default
# "alarm"): LOG_DIR and ALARM_DIR here, LOG_FOLDER and SCRIPT as the
# program takes them, ALARMS the file the script writes, and log_file the
# month's level log once there is one.
kvx_log_and_alarm_script() {
  LOG_DIR="$KVX_TMP/log"
  ALARM_DIR="$KVX_TMP/${1:-alarm}"
  mkdir -p "$LOG_DIR" "$ALARM_DIR"
  sed 's/\r*$/\r/' "$KVX_SOURCE_DIR/examples/alarm-beispiel.cmd" \
    >"$ALARM_DIR/alarm-beispiel.cmd"
  LOG_FOLDER="Z:${LOG_DIR//\//\\}"
  SCRIPT="Z:${ALARM_DIR//\//\\}\\alarm-beispiel.cmd"
  ALARMS="$ALARM_DIR/alarme.txt"
}
log_file() { ls "$LOG_DIR"/korvalinex-20[0-9][0-9]-[01][0-9].csv 2>/dev/null | head -n 1; }

kvx_start_display() {
  command -v Xvfb >/dev/null || kvx_fail "Xvfb is not installed"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$KVX_TMP/display" >"$KVX_TMP/xvfb.log" 2>&1 8>&- &
  KVX_XVFB_PID=$!
  KVX_PIDS+=("$KVX_XVFB_PID")
  kvx_wait_for 30 kvx_file_filled "$KVX_TMP/display" ||
    kvx_fail "Xvfb did not report a display"
  DISPLAY=":$(head -n 1 "$KVX_TMP/display")"
  export DISPLAY
  kvx_log "display $DISPLAY"
}

kvx_reg() { timeout 60 "$KVX_WINE_LOADER" reg add "$@" /f >/dev/null 2>&1 8>&-; }

# The template is ready for this Wine when it names its version.
kvx__template_ready() {
  [[ -f $KVX_WINE_TEMPLATE/.kvx-template &&
    $(cat "$KVX_WINE_TEMPLATE/.kvx-template") == "$("$KVX_WINE_LOADER" --version 2>&1)" ]]
}

# Makes the template prefix (about 10 s), in a shell of its own.
kvx__make_template() (
  export WINEPREFIX=$KVX_WINE_TEMPLATE
  rm -rf "$WINEPREFIX"
  if ! timeout 180 "$KVX_WINE_LOADER" wineboot -i >"$KVX_TMP/wineboot.log" 2>&1 8>&- 9>&-; then
    timeout 20 "$KVX_WINESERVER" -k 2>/dev/null
    echo "wineboot -i failed" >&2
    exit 1
  fi
  # Wine draws the frames itself and closes windows at once.
  kvx_reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N 9>&-
  # Plain text pixels, for colour checks on screenshots.
  kvx_reg 'HKCU\Control Panel\Desktop' /v FontSmoothing /t REG_SZ /d 0 9>&-
  # Nothing started by the shell may open a web browser.
  kvx_reg 'HKCU\Software\Wine\WineBrowser' /v Browsers /t REG_SZ /d false 9>&-
  kvx_reg 'HKCU\Software\Wine\WineBrowser' /v Mailers /t REG_SZ /d false 9>&-
  # The symbols of the caption buttons.
  [[ -f /usr/share/wine/fonts/marlett.ttf ]] &&
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  timeout 60 "$KVX_WINESERVER" -w
  "$KVX_WINE_LOADER" --version >"$WINEPREFIX/.kvx-template" 2>&1
)

# Copies the template into this run's prefix. The system folder (most of
# the prefix's size, only ever written by Wine when it updates a prefix)
# is shared by hard links; the copy is told never to update itself, so
# nothing writes to those files. Everything else is copied.
kvx__copy_template() {
  local from=$KVX_WINE_TEMPLATE to=$WINEPREFIX
  local sys=drive_c/windows/system32
  rm -rf "$to" && mkdir -p "$to" || return 1
  tar -C "$from" --exclude="./$sys" --exclude=./.kvx-template -cf - . |
    tar -C "$to" -xf - || return 1
  if ! cp -al "$from/$sys" "$to/${sys%/*}/" 2>/dev/null; then
    rm -rf "${to:?}/$sys"
    cp -a "$from/$sys" "$to/${sys%/*}/" || return 1
  fi
  echo disable >"$to/.update-timestamp"
}

# The wine server leaves its folder (named by the prefix's device and
# inode) behind; the prefix goes with the test, and so does the folder.
kvx__forget_server() {
  local dir id
  [[ -d $WINEPREFIX ]] || return 0
  dir=$(cat "$WINEPREFIX/wineserver" 2>/dev/null)
  [[ $dir == wine-* ]] && dir=${TMPDIR:-/tmp}/$dir || dir=/tmp/.wine-$UID
  printf -v id 'server-%s-%x' "$(stat -c %D "$WINEPREFIX")" \
    "$(stat -c %i "$WINEPREFIX")" || return 0
  rm -rf "${dir:?}/$id" 2>/dev/null
  return 0
}

# Gives this run its prefix: the template is made once (under a lock, so
# two runs never make it at the same time, and never while a run copies
# it), then copied (well under a second).
kvx_prepare_prefix() {
  kvx_log "$(kvx_wine_describe), prefix $WINEPREFIX from $KVX_WINE_TEMPLATE"
  [[ -x $KVX_WINE_LOADER ]] ||
    kvx_fail "$KVX_WINE_LOADER is not installed ($(kvx_wine_describe))"
  [[ -x $KVX_WINESERVER ]] || kvx_fail "$KVX_WINESERVER is not installed"
  KVX_WINE_USED=1
  exec 9>"$KVX_WINE_TEMPLATE.lock"
  flock -s -w 180 9 || kvx_fail "template $KVX_WINE_TEMPLATE is locked"
  if ! kvx__template_ready; then
    flock -x -w 180 9 || kvx_fail "template $KVX_WINE_TEMPLATE is locked"
    if ! kvx__template_ready; then
      kvx_log "making the template prefix $KVX_WINE_TEMPLATE"
      kvx__make_template || kvx_fail "the template prefix could not be made"
    fi
    flock -s -w 180 9 || kvx_fail "template $KVX_WINE_TEMPLATE is locked"
  fi
  kvx__copy_template || kvx_fail "could not copy the template prefix"
  flock -u 9
  exec 9>&-
  # One wine server for the whole test, started here with its own output,
  # so that it never holds the output of a driver command open.
  wineserver -p </dev/null >>"$KVX_TMP/wineserver.log" 2>&1 8>&- ||
    kvx_fail "the wine server did not start"
}

# ---------------------------------------------------------------------------
# Simulator
# ---------------------------------------------------------------------------

kvx_port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Ports for a board of its own: random ones below the range from which the
# system gives outgoing connections their ports, so that no connection
# made meanwhile (the program's own attempts included) can take the port
# while the board does not listen; where that range leaves no room, any
# free port the system gives.
kvx__own_ports() {
  local low high n
  read -r low high </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || low=0
  if ((low > 21000)); then
    for ((n = 0; n < 20; n++)); do
      echo $((20000 + (RANDOM * 32768 + RANDOM) % (low - 20000)))
    done
  else
    echo 0
  fi
}

kvx__sim_up_or_gone() { [[ -s $KVX_TMP/sim.ports ]] || kvx_dead "$1"; }

# Starts the simulator on the board port (KVX_BOARD_PORT=0: on a port of
# its own, which KVX_BOARD_PORT then holds); extra arguments go to it.
kvx_start_simulator() {
  : "${KVX_SIM:?KVX_SIM must name the simulator program}"
  local ports port log=()
  if [[ -n $KVX_KEEP ]]; then
    KVX_SIM_STARTS=$((KVX_SIM_STARTS + 1))
    log=(--log "$KVX_TMP/wire-$KVX_SIM_STARTS.log")
  fi
  if [[ $KVX_BOARD_PORT == 0 ]]; then
    mapfile -t ports < <(kvx__own_ports)
  else
    ports=("$KVX_BOARD_PORT")
    kvx_wait_for 30 kvx_port_free "$KVX_BOARD_PORT" ||
      kvx_fail "port $KVX_BOARD_PORT on 127.0.0.1 is in use"
  fi
  for port in "${ports[@]}"; do
    rm -f "$KVX_TMP/sim.ports"
    "$KVX_SIM" --address 127.0.0.1 --port "$port" --control-port 0 \
      --port-file "$KVX_TMP/sim.ports" --quiet "${log[@]}" "$@" \
      >"$KVX_TMP/sim.log" 2>&1 8>&- &
    KVX_SIM_PID=$!
    KVX_PIDS+=("$KVX_SIM_PID")
    kvx_wait_for 30 kvx__sim_up_or_gone "$KVX_SIM_PID" ||
      kvx_fail "the simulator did not start"
    [[ -s $KVX_TMP/sim.ports ]] && break
    # Ended at once: that port is taken (by another run, say).
    wait "$KVX_SIM_PID"
    unset 'KVX_PIDS[-1]'
    kvx_log "simulator on port $port: $(head -n 1 "$KVX_TMP/sim.log")"
  done
  [[ -s $KVX_TMP/sim.ports ]] || kvx_fail "the simulator found no free port"
  read -r KVX_BOARD_PORT KVX_SIM_CONTROL <"$KVX_TMP/sim.ports"
  [[ $KVX_BOARD_PORT =~ ^[0-9]+$ && $KVX_BOARD_PORT != 0 ]] ||
    kvx_fail "no board port from the simulator"
  [[ $KVX_SIM_CONTROL =~ ^[0-9]+$ ]] || kvx_fail "no control port"
  kvx_log "simulator pid $KVX_SIM_PID, board port $KVX_BOARD_PORT, control port $KVX_SIM_CONTROL"
}

# One control command; prints its reply (up to END for the long ones).
kvx_sim() {
  local line reply=""
  exec 7<>"/dev/tcp/127.0.0.1/$KVX_SIM_CONTROL" ||
    kvx_fail "simulator control channel unreachable"
  printf '%s\n' "$*" >&7
  case ${1,,} in
    log | replies | chunks | help)
      while IFS= read -r -t 30 line <&7; do
        line=${line%$'\r'}
        [[ $line == END ]] && break
        reply+="$line"$'\n'
      done
      ;;
    *)
      IFS= read -r -t 130 line <&7
      reply=${line%$'\r'}$'\n'
      ;;
  esac
  exec 7>&-
  printf '%s' "$reply"
}

# ---------------------------------------------------------------------------
# Screenshots kept for a comparison of two runs
# ---------------------------------------------------------------------------

# With KVX_WINE_KEEP set, keeps the test's last screenshot
# ($KVX_TMP/screen.png) as NAME.png and writes NAME.mask, one line
# "LEFT TOP RIGHT BOTTOM WHY=WHERE" (screen pixels, right and bottom
# excluded) for each further argument WHY=WHERE: an area the comparison of
# two runs leaves out, and why. WHY is "clock" (the area shows a time of
# day, a countdown or a measured duration) or "paced" (it shows readings of
# a well that moves in real time while the test waits on it). WHERE is
# WINDOW:CONTROL (the control's rectangle) or WINDOW:+X,Y,W,H (an area of
# the window's client area); WINDOW as kvx-drive names it (@main, a
# title), split off at the last colon. Without KVX_WINE_KEEP it does
# nothing.
kvx_keep_screen() {
  [[ -n $KVX_KEEP ]] || return 0
  kvx__keep "$KVX_TMP/screen.png" "$@"
}

# As kvx_keep_screen, for a view the test checks by its texts alone: with
# KVX_WINE_KEEP set, takes screenshots of its own until two in a row have
# the same pixels (at most 10 s) and keeps the last.
kvx_keep_settled_screen() {
  [[ -n $KVX_KEEP ]] || return 0
  import -window root "$KVX_TMP/settled.png" ||
    kvx_fail "no screenshot for $1"
  kvx_wait_for 30 kvx__settled || kvx_fail "the screen did not settle for $1"
  kvx__keep "$KVX_TMP/settled.png" "$@"
}

# A further screenshot has the pixels of the last one (settled.png); if
# not, it becomes the last one.
kvx__settled() {
  import -window root "$KVX_TMP/settled-next.png" || return 1
  if [[ $(compare -metric AE "$KVX_TMP/settled.png" \
    "$KVX_TMP/settled-next.png" null: 2>&1) == 0 ]]; then
    return 0
  fi
  mv "$KVX_TMP/settled-next.png" "$KVX_TMP/settled.png"
  return 1
}

# Keeps the screenshot $1 as $2.png, with the mask of the areas $3...
kvx__keep() {
  local from=$1 name=$2 arg why where window what rect ox oy x y w h
  shift 2
  cp "$from" "$KVX_KEEP/$name.png" ||
    kvx_fail "could not keep the screenshot $name"
  : >"$KVX_KEEP/$name.mask"
  for arg; do
    why=${arg%%=*}
    where=${arg#*=}
    [[ ($why == clock || $why == paced) && $where == *:* ]] ||
      kvx_fail "screenshot $name: a mask is clock=WHERE or paced=WHERE, not '$arg'"
    window=${where%:*}
    what=${where##*:}
    if [[ $what == +* ]]; then
      IFS=, read -r x y w h <<<"${what#+}"
      read -r ox oy <<<"$(kvx_drive origin "$window")"
      rect="$((ox + x)) $((oy + y)) $((ox + x + w)) $((oy + y + h))"
    else
      rect=$(kvx_drive rect "$window" "$what")
    fi
    [[ $rect =~ ^-?[0-9]+\ -?[0-9]+\ -?[0-9]+\ -?[0-9]+$ ]] ||
      kvx_fail "screenshot $name: no area for the mask $arg: '$rect'"
    echo "$rect $arg" >>"$KVX_KEEP/$name.mask"
  done
}

# ---------------------------------------------------------------------------
# The program and the driver
# ---------------------------------------------------------------------------

# Refuses a program that is not the build this host runs (a 32-bit
# korvalinex.exe cannot start under the 64-bit loader, and the other way).
kvx_check_exe() {
  local arch
  [[ -f $1 ]] || kvx_fail "no $1"
  arch=$(kvx_pe_arch "$1")
  [[ $arch == "$KVX_WINE_ARCH" ]] ||
    kvx_fail "$1 is a ${arch:-non-Windows} program; $(kvx_wine_describe)"
}

kvx_start_program() {
  kvx_check_exe "$KVX_EXE"
  kvx_check_exe "$KVX_DRIVE_EXE"
  (
    kvx__close_driver
    exec "$KVX_WINE_LOADER" "$KVX_EXE" "$@"
  ) >"$KVX_TMP/program.log" 2>&1 8>&- &
  KVX_PROGRAM_PID=$!
  KVX_PIDS+=("$KVX_PROGRAM_PID")
  kvx_log "program pid $KVX_PROGRAM_PID: $KVX_EXE ($KVX_WINE_ARCH) under $KVX_WINE_LOADER"
}

# Waits at most $1 seconds for the program to end; sets KVX_PROGRAM_RC.
kvx_wait_program_end() {
  kvx_wait_for "$1" kvx_dead "$KVX_PROGRAM_PID" || return 1
  wait "$KVX_PROGRAM_PID"
  KVX_PROGRAM_RC=$?
  return 0
}

# The test driver, under the same prefix and display: one process for all
# the commands of a test ("kvx-drive.exe serve"), which saves starting a
# Wine process for each (some 0.15 s of CPU). It is started by the first
# command the test's own shell gives (not one in a subshell), once the
# program runs; until then, and should it end, every command has a
# process of its own (kvx_drive_apart). A command that runs beside others
# (in the background) takes kvx_drive_apart.
kvx_drive() {
  if [[ -z $KVX_DRIVE_PID && $BASHPID == "$$" && -n $KVX_PROGRAM_PID ]]; then
    kvx__start_driver
  fi
  local rc
  if kvx__driver_up; then
    kvx__drive_served "$@"
    rc=$?
    ((rc != 255)) && return "$rc"
    # 255: the driver took no command.
  fi
  kvx_drive_apart "$@"
}

# The serving driver runs (a process that ended but is not yet waited for
# is no longer running).
kvx__driver_up() {
  local state=""
  [[ -n $KVX_DRIVE_PID && $KVX_DRIVE_PID != 0 ]] || return 1
  { read -r _ _ state _ </proc/"$KVX_DRIVE_PID"/stat; } 2>/dev/null
  [[ $state == [RSD] ]]
}

# A command in a driver process of its own.
kvx_drive_apart() {
  timeout 60 "$KVX_WINE_LOADER" "$KVX_DRIVE_EXE" "$@" 2>>"$KVX_TMP/drive.log" 8>&-
}

kvx__close_driver() {
  [[ -n $KVX_DRIVE_IN ]] && exec {KVX_DRIVE_IN}>&-
  [[ -n $KVX_DRIVE_OUT ]] && exec {KVX_DRIVE_OUT}<&-
  KVX_DRIVE_IN="" KVX_DRIVE_OUT=""
}

kvx__start_driver() {
  KVX_DRIVE_PID=0  # tried once only
  mkfifo "$KVX_TMP/drive.in" "$KVX_TMP/drive.out" || return 1
  "$KVX_WINE_LOADER" "$KVX_DRIVE_EXE" serve <"$KVX_TMP/drive.in" \
    >"$KVX_TMP/drive.out" 2>>"$KVX_TMP/drive.log" 8>&- &
  KVX_DRIVE_PID=$!
  KVX_PIDS+=("$KVX_DRIVE_PID")
  # Opened in the order the driver's shell opens them, before Wine starts.
  exec {KVX_DRIVE_IN}>"$KVX_TMP/drive.in" {KVX_DRIVE_OUT}<"$KVX_TMP/drive.out"
}

# One command to the driver: its count of arguments and the arguments,
# each ended by a zero byte; the answer "EXIT LENGTH", then the output.
kvx__drive_served() {
  local LC_ALL=C rc len out=""
  # A driver that ended meanwhile makes the writing fail, not the shell.
  if ! (
    trap '' PIPE
    printf '%d\0' "$#"
    (($# == 0)) || printf '%s\0' "$@"
  ) >&"$KVX_DRIVE_IN" 2>/dev/null; then
    return 255
  fi
  if ! read -r -t 60 rc len <&"$KVX_DRIVE_OUT" ||
    [[ ! $rc =~ ^[0-9]+$ || ! $len =~ ^[0-9]+$ ]] ||
    { ((len > 0)) && ! IFS= read -r -d '' -N "$len" -t 60 out <&"$KVX_DRIVE_OUT"; }; then
    # No whole answer within 60 s: the driver goes, the next commands run
    # one process each.
    echo "kvx-drive: no answer to '$*'; the serving driver is ended" >>"$KVX_TMP/drive.log"
    kill "$KVX_DRIVE_PID" 2>/dev/null
    return 124
  fi
  printf '%s' "$out"
  return "$rc"
}

kvx_expect_eq() {
  [[ $1 == "$2" ]] || kvx_fail "$3: expected '$2', got '$1'"
}

# Label or field $1 of the main window reads $2, or begins with it.
kvx_shows() { [[ $(kvx_drive text @main "$1") == "$2" ]]; }
kvx_shows_prefix() { [[ $(kvx_drive text @main "$1") == "$2"* ]]; }

# Waits until the main window is up, label 17 shows the board's data and
# the main loop has been entered (trackbar 102 then stands at 360).
kvx_await_main_loop() {
  kvx_drive wait @main 60000 || kvx_fail "main window did not appear"
  kvx__data_arrived() { [[ $(kvx_drive text @main 17) == *"uC: ATmega32"* ]]; }
  kvx_wait_for 30 kvx__data_arrived || kvx_fail "board data not shown in label 17"
  kvx__entered() { [[ $(kvx_drive trackbar @main 102) == "360 "* ]]; }
  kvx_wait_for 30 kvx__entered || kvx_fail "trackbar 102 never reached 360"
}

# A measurement at every tick of timer 123: the measurement switched off
# (button 86), the cycle period set to 0 (trackbar 102; label 53 follows),
# and switched on again (button 76). The first query after the loop entry
# showed the functions off; the next one shows them on. A click waits for
# an evaluation that is under way, whose proof takes some seconds more on
# a busy machine: each label is given 30 s.
kvx_measure_every_tick() {
  kvx_wait_for 30 kvx_shows_prefix 20 "Messung in " || kvx_fail "measurement never on"
  kvx_drive click @main 86 || kvx_fail "could not switch the measurement off"
  kvx_wait_for 30 kvx_shows 20 "keine Messung" || kvx_fail "label 20 after AUS"
  kvx_expect_eq "$(kvx_drive trackbar @main 102 0)" "0 4000 0 4000" "trackbar 102"
  kvx_wait_for 30 kvx_shows 53 "0 s" || kvx_fail "label 53 does not follow the trackbar"
  kvx_drive click @main 76 || kvx_fail "could not switch the measurement on"
  kvx_wait_for 30 kvx_shows_prefix 20 "Messung in " || kvx_fail "label 20 after EIN"
}
