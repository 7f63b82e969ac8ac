# Shared by tools/main.sh and tools/test.sh: packages, builds and the private
# services (Xvfb display, PulseAudio, Wine prefix) the programs run against.
# Sourced, not run.

OSTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OSTREL_BUILD="$OSTREL_ROOT/build"

OSTREL_PACKAGES=(
  g++ cmake ninja-build
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 xvfb xauth x11-utils libgl1-mesa-dri
  pulseaudio pulseaudio-utils
  doctest-dev python3 python3-pytest python3-pil
  clang libclang-rt-14-dev
  ffmpeg imagemagick xdotool
)

log_step() { printf '==> %s\n' "$*"; }

ostrel_install_packages() {
  local missing=()
  local package
  for package in "${OSTREL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log_step "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

ostrel_build_windows() {
  log_step "building the Windows programs"
  cmake -S "$OSTREL_ROOT" -B "$OSTREL_BUILD/windows" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$OSTREL_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  ninja -C "$OSTREL_BUILD/windows" -j2 --quiet
}

ostrel_build_native() {
  log_step "building the core natively with sanitizers"
  cmake -S "$OSTREL_ROOT" -B "$OSTREL_BUILD/native" -G Ninja >/dev/null
  ninja -C "$OSTREL_BUILD/native" -j2 --quiet
}

OSTREL_XVFB_PID=""
OSTREL_PULSE_STARTED=""

# A private X display on a free number, of the given size (default 1920x1080).
ostrel_start_display() {
  local size=${1:-1920x1080}
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  OSTREL_XVFB_PID=$!
  local number=""
  read -r -t 20 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
  log_step "private display $DISPLAY ($size)"
}

# PulseAudio with a null sink, its sockets in a folder of ours.
ostrel_start_pulseaudio() {
  export PULSE_RUNTIME_PATH="$OSTREL_BUILD/pulse"
  export XDG_RUNTIME_DIR="$OSTREL_BUILD/pulse"
  mkdir -p "$PULSE_RUNTIME_PATH"
  chmod 700 "$PULSE_RUNTIME_PATH"
  pulseaudio --kill >/dev/null 2>&1 || true
  if pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
       --load=module-null-sink --load=module-native-protocol-unix >/dev/null 2>&1; then
    OSTREL_PULSE_STARTED=1
    # The sink's monitor is the default input: Wine has no loopback capture,
    # so the test build records the computer's sound from there. The daemon
    # may need a moment before it takes commands.
    local try
    for try in 1 2 3 4 5 6 7 8 9 10; do
      pactl set-default-source null.monitor >/dev/null 2>&1 &&
        pactl info 2>/dev/null | grep -q 'Default Source: null.monitor' && break
      sleep 0.5
    done
    log_step "PulseAudio with a null sink"
  else
    echo "PulseAudio did not start; sound tests will see no devices" >&2
  fi
}

# One Wine prefix, kept under the build folder and reused once initialised.
ostrel_prepare_wine() {
  export WINEPREFIX="$OSTREL_BUILD/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  # A persistent server for the run, and Wine's services started here, away
  # from any test's output pipes (they outlive the program that starts them).
  wineserver -p >/dev/null 2>&1 || true
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log_step "making the Wine prefix"
    wineboot --init </dev/null >/dev/null 2>&1 || true
  else
    wineboot </dev/null >/dev/null 2>&1 || true
  fi
  # Direct3D calls run on the calling thread: with Wine's command-stream
  # thread every read-back of a picture waits for a hand-over between threads,
  # which costs recordings most of their frames.
  wine reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
  # A program that faults prints the debugger's backtrace and ends, rather
  # than waiting behind Wine's crash dialog until a test's time runs out.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
}

ostrel_stop_services() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -n "$OSTREL_PULSE_STARTED" ]; then
    pulseaudio --kill >/dev/null 2>&1 || true
    OSTREL_PULSE_STARTED=""
  fi
  if [ -n "$OSTREL_XVFB_PID" ]; then
    kill "$OSTREL_XVFB_PID" 2>/dev/null || true
    wait "$OSTREL_XVFB_PID" 2>/dev/null || true
    OSTREL_XVFB_PID=""
  fi
}

# For benchmarks: a private 1920x1080 screen, the Wine prefix, a scratch
# folder in OSTREL_WORK and a data folder inside it; all ended at exit.
ostrel_start_bench_session() {
  trap 'rm -rf "${OSTREL_WORK:-}"; ostrel_stop_services' EXIT
  ostrel_start_display 1920x1080 >/dev/null
  ostrel_prepare_wine
  OSTREL_WORK=$(mktemp -d)
  OSTREL_DATA_DIR=$(winepath -w "$OSTREL_WORK/data")
  export OSTREL_DATA_DIR
}

# Benchmarks: OstrelDriver with its arguments, quietly.
ostrel_driver() { wine "$OSTREL_BUILD/windows/OstrelDriver.exe" "$@" </dev/null 2>/dev/null; }

# Benchmarks: the test build's tray program in the background (its process
# in OSTREL_TRAY), saving captures in the folder given (a Linux path), with
# any further settings lines given; returns once its main window exists.
ostrel_start_bench_tray() {
  local caps=$1
  shift
  mkdir -p "$OSTREL_WORK/data" "$caps"
  { printf '[ostrel]\r\nfolder=%s\r\n' "$(winepath -w "$caps")"; [ $# -eq 0 ] || printf '%s\r\n' "$@"; } >"$OSTREL_WORK/data/settings.ini"
  wine "$OSTREL_BUILD/windows/OstrelWindowsTest.exe" </dev/null >/dev/null 2>&1 &
  OSTREL_TRAY=$!
  for _ in $(seq 1 100); do
    wine "$OSTREL_BUILD/windows/OstrelDriver.exe" find NIRAOstrelWindowsMain </dev/null >/dev/null 2>&1 && break
    sleep 0.2
  done
}
