#!/usr/bin/env bash
# One `state` read of GTK's widget factory on a real (headless) desktop, against a naive reader
# that asks libatspi for every attribute of every object one call at a time, and against
# dogtail dumping the same window: D-Bus calls, the waits for answers, and wall time. Prints
# figures; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps
scripts/configure build/release -DCMAKE_BUILD_TYPE=Release
scripts/build build/release pelko-computer-linux-bench pelko-dbus-call-counter >/dev/null
counter="$PWD/build/release/lib/libpelko-dbus-call-counter.so"
exec scripts/desktop-session --wm --accessibility --app gtk3-widget-factory -- bash -c '
  LD_PRELOAD="$1" build/release/bin/pelko-computer-linux-bench
  echo "dogtail (python3-dogtail) on the same window:"
  LD_PRELOAD="$1" PELKO_DBUS_CALLS_REPORT=1 /usr/bin/python3 bench/dogtail-dump.py 2>&1 |
    sed "s/^dbus-calls: /  dogtail D-Bus calls (dump and finding the app): /"
' bench "$counter"
