#!/usr/bin/env bash
# Shows the system at work. For now: decodes a sample EDID block.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
BUILD_DIR="$here/build" "$here/scripts/build.sh" -DPNLMON_BUILD_TESTS=OFF -DPNLMON_BUILD_BENCH=OFF
"$here/build/tools/pnlmon-decode/pnlmon-decode" edid "$here/examples/edid/sample-vga.bin"
