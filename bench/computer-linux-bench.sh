#!/usr/bin/env bash
# One `state` read of a real application on a real (headless) desktop: GTK's widget factory
# against a naive reader that asks libatspi for every attribute of every object one call at a
# time and against dogtail dumping the same window; then Chromium and Firefox on a page of
# 2,000 paragraphs with a link in each, the first read and warm reads against dogtail. D-Bus
# calls, the waits for answers, and wall time. Prints figures; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps
scripts/configure build/release -DCMAKE_BUILD_TYPE=Release
scripts/build build/release pelko-computer-linux-bench pelko-dbus-call-counter >/dev/null
counter="$PWD/build/release/lib/libpelko-dbus-call-counter.so"
scripts/desktop-session --wm --accessibility --app gtk3-widget-factory -- bash -c '
  LD_PRELOAD="$1" build/release/bin/pelko-computer-linux-bench
  echo "dogtail (python3-dogtail) on the same window:"
  LD_PRELOAD="$1" PELKO_DBUS_CALLS_REPORT=1 /usr/bin/python3 bench/dogtail-dump.py 2>&1 |
    sed "s/^dbus-calls: /  dogtail D-Bus calls (dump and finding the app): /"
' bench "$counter"

page="$PWD/build/release/bench-2000-links.html"
{
  echo '<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Links</title></head><body>'
  for i in $(seq 1 2000); do
    echo "<p>Paragraph $i says a few words, with <a href=\"#p$i\">link number $i</a> inside it.</p>"
  done
  echo '</body></html>'
} >"$page"
sandbox=()
[[ $(id -u) -eq 0 ]] && sandbox=(--no-sandbox)  # Chromium starts as root only without it

# Each browser in a session of its own, started just before the benchmark, so that its first
# read is the first any reader makes; the page has loaded when the window is named after it.
browser() {
  local app="$1" registry="$2"
  shift 2
  echo
  scripts/desktop-session --wm --accessibility -- bash -c '
    counter="$1" app="$2" registry="$3"
    shift 3
    "$@" >/dev/null 2>&1 &
    for _ in $(seq 600); do xdotool search --name "^Links" >/dev/null 2>&1 && break; sleep 0.1; done
    LD_PRELOAD="$counter" build/release/bin/pelko-computer-linux-bench "$app" 10 none
    echo "dogtail (python3-dogtail) on the same window:"
    LD_PRELOAD="$counter" PELKO_DBUS_CALLS_REPORT=1 /usr/bin/python3 bench/dogtail-dump.py \
      "$registry" 2>&1 | sed "s/^dbus-calls: /  dogtail D-Bus calls (dump and finding the app): /"
    kill %1
  ' bench "$counter" "$app" "$registry" "$@"
}
browser Chromium Chromium chromium "${sandbox[@]}" --no-first-run \
  --user-data-dir="${TMPDIR:-/tmp}/pelko-bench-chromium.$$" "file://$page"
browser "Firefox ESR" Firefox firefox-esr --no-remote "file://$page"
rm -rf "${TMPDIR:-/tmp}/pelko-bench-chromium.$$"
