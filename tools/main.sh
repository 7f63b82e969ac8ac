#!/usr/bin/env bash
# Builds the programs and the installer, and shows the tray program running. With a display it
# starts there (Ctrl+C ends it). Without one it starts on a private display,
# shows its log and a screenshot of that screen, then asks it to end the way
# the installer does (WM_CLOSE) and reports its exit code.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

ostrel_install_packages
ostrel_build_windows
bin="$OSTREL_BUILD/windows"
echo "built: $bin/OstrelWindows.exe"
echo "installer (carries that program; run it on Windows, /S for a silent install): $bin/OstrelSetup.exe"

trap ostrel_stop_services EXIT
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  ostrel_prepare_wine
  log_step "starting NIRA Ostrel on $DISPLAY (look for its tray icon; Ctrl+C ends it)"
  wine "$bin/OstrelWindows.exe"
  exit $?
fi

ostrel_start_display 1920x1080
ostrel_prepare_wine
demo="$OSTREL_BUILD/demo"
rm -rf "$demo"
mkdir -p "$demo"
OSTREL_DATA_DIR=$(winepath -w "$demo/data")
export OSTREL_DATA_DIR
log_step "starting NIRA Ostrel with its data folder in $demo/data"
wine "$bin/OstrelWindows.exe" </dev/null >/dev/null 2>&1 &
app=$!
if ! wine "$bin/OstrelDriver.exe" wait NIRAOstrelWindowsMain 30 >/dev/null 2>&1; then
  echo "NIRA Ostrel did not come up" >&2
  exit 1
fi
sleep 2  # let the tray draw its icon
import -window root "$demo/screen.png"
log_step "it is running; its log:"
cat "$demo/data/ostrel.log"
echo
echo "screenshot of the private screen (tray icon at the top left): $demo/screen.png"
log_step "a screenshot by the program's screenshot self-test"
if wine "$bin/OstrelWindows.exe" --selftest-screenshot "$(winepath -w "$demo/shots")" >/dev/null 2>&1; then
  echo "saved: $(ls "$demo"/shots/*.png)"
else
  # Wine has no Windows.Graphics.Capture; the test build's stand-in copies the screen with GDI.
  echo "the shipping program says: $(sed -n 2p "$demo/shots/result.txt" | tr -d '\r')"
  wine "$bin/OstrelWindowsTest.exe" --selftest-screenshot "$(winepath -w "$demo/shots")" >/dev/null 2>&1 || true
  echo "the test build saved: $(ls "$demo"/shots/*.png 2>/dev/null || echo nothing)"
fi
log_step "asking it to end (WM_CLOSE to NIRAOstrelWindowsMain)"
wine "$bin/OstrelDriver.exe" close NIRAOstrelWindowsMain >/dev/null 2>&1
code=0
wait "$app" || code=$?
echo "NIRA Ostrel ended with exit code $code"
exit "$code"
