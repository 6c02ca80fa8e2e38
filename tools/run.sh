#!/usr/bin/env bash
# Sets up, then opens the viewer on the bundled samples (extra arguments replace them).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null
if [ $# -eq 0 ]; then set -- samples; fi
exec build/korvela "$@"
