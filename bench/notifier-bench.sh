#!/usr/bin/env bash
# Notification latency of pelko-notifier against dunst with notify-send, on a private headless
# X11 desktop with a session bus (scripts/desktop-session). Prints figures; asserts nothing.
#   bench/notifier-bench.sh [build-dir] [runs]    (default build/release, an optimised build; 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-20}
scripts/install-deps
scripts/configure "$build" -DCMAKE_BUILD_TYPE=Release
scripts/build "$build" pelko-notifier pelko-notifier-desktop-bench >/dev/null
exec scripts/desktop-session --dbus -- "$build/bin/pelko-notifier-desktop-bench" "$runs"
