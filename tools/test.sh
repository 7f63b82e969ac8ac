#!/usr/bin/env bash
# Builds everything and runs every test: the core's unit tests natively under
# AddressSanitizer/UBSan, the unit tests under Wine, and the end-to-end tests
# against the real programs. Starts and stops its own display, sound server
# and Wine prefix; leaves no process behind.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

started=$(date +%s)
ostrel_install_packages
ostrel_build_native
ostrel_build_windows

trap ostrel_stop_services EXIT
ostrel_start_display 1920x1080
ostrel_start_pulseaudio
ostrel_prepare_wine

status=0
log_step "unit tests"
ctest --test-dir "$OSTREL_BUILD/native" --output-on-failure || status=1
# A small volume, where the glue tests decide how much space is left.
small=$(mktemp -d)
if mount -t tmpfs -o size=700m tmpfs "$small" 2>/dev/null; then
  export OSTREL_SMALL_VOLUME="$small"
else
  echo "no small volume could be mounted (root is needed): the glue tests of running out of space are skipped" >&2
fi
ctest --test-dir "$OSTREL_BUILD/windows" --output-on-failure --timeout 600 || status=1
unset OSTREL_SMALL_VOLUME
umount "$small" 2>/dev/null || true
rmdir "$small"

log_step "end-to-end tests"
export OSTREL_BUILD
/usr/bin/python3 -m pytest -q -p no:cacheprovider "$OSTREL_ROOT/tests/e2e" || status=1

ostrel_stop_services
trap - EXIT
echo "tests took $(( $(date +%s) - started )) s"
exit $status
