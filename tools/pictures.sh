#!/usr/bin/env bash
# Makes the README's pictures (docs/pictures/*.png) from the test build under
# Wine on a private 1280x800 screen, with tools/pictures.py. Run after
# tools/test.sh (or tools/main.sh) has built the programs:
#
#   bash tools/pictures.sh
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap 'rm -rf "${OSTREL_WORK:-}"; ostrel_stop_services' EXIT
ostrel_start_display 1280x800 >/dev/null
ostrel_prepare_wine
OSTREL_WORK=$(mktemp -d)
OSTREL_DATA_DIR=$(winepath -w "$OSTREL_WORK/data")
export OSTREL_WORK OSTREL_DATA_DIR OSTREL_BUILD
/usr/bin/python3 "$(dirname "$0")/pictures.py"
