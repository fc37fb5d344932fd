#!/usr/bin/env bash
# Times pelko-computer --own-desktop (release build): to `ready`, to the first `state` of the
# text editor opened inside, and to its end; headless, and as a window on a headless X screen
# with a window manager (scripts/desktop-session). Prints figures; asserts nothing.
#
#   bench/own-desktop-bench.sh [RUNS]    (default 6; the first run of each kind is left out)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-6}"
scripts/install-deps
scripts/configure build/release -DCMAKE_BUILD_TYPE=Release
scripts/build build/release pelko-computer own-desktop-bench | tail -n 1
echo "== headless (--headless)"
env -u DISPLAY -u WAYLAND_DISPLAY build/release/bin/own-desktop-bench \
  build/release/bin/pelko-computer "$runs" --headless
echo "== a window on an X11 screen (Xephyr in Xvfb with openbox)"
scripts/desktop-session --wm -- build/release/bin/own-desktop-bench \
  build/release/bin/pelko-computer "$runs"
echo "== a window on a Wayland screen (Xephyr on XWayland in headless mutter)"
computer/tests/own-desktop/wayland-session -- build/release/bin/own-desktop-bench \
  build/release/bin/pelko-computer "$runs"
