#!/usr/bin/env bash
# Can an agent read the window pictures? Real apps on a headless desktop of 2880 × 1800 pixels,
# drawn at two pixels per point as on a Retina screen (GDK_SCALE=2 for GTK, a device scale
# factor of 2 for Chromium), each window made 2880 × 1800 and captured whole: GTK's widget
# factory, Mousepad showing a page of prose, Chromium showing a page of prose, a table
# and small print. Each capture is scaled to the widths agents ask for (1440, 1024 and 720
# pixels) by the screenshot method's own pipeline and by ImageMagick (`convert -resize`, Lanczos)
# to the same size at the same JPEG quality, and Tesseract reads every picture. Word accuracy
# is measured against Tesseract's reading of the full-size capture (the best reading there is
# of what the window shows): the share of its words found in any order, and in order (the
# order of blocks on a busy window changes with how Tesseract splits the page). Prints a table
# with PSNR against a Lanczos downscale too, then the rates of screenshot-bench. Asserts nothing.
#
#   bench/picture-legibility.sh [--keep FOLDER]   (--keep: leave the pictures and readings there)
set -euo pipefail
cd "$(dirname "$0")/.."
keep=""
[[ ${1:-} == --keep ]] && keep="$2"
scripts/install-deps
scripts/configure build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
scripts/build build/release pelko-picture-legibility screenshot-bench pelko-picture-oneshot \
  >/dev/null
tool="$PWD/build/release/bin/pelko-picture-legibility"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelko-legibility.XXXXXX")
trap 'rm -rf "$work"' EXIT
widths=(1440 1024 720)

# The page of text: the opening of the GPL, ordinary English prose in short lines.
head -n 120 /usr/share/common-licenses/GPL-3 >"$work/page.txt"
{
  echo '<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Legibility</title>'
  echo '<style>body{font-family:sans-serif;margin:16px;columns:2;font-size:15px}'
  echo 'small{font-size:12px} td{padding:2px 8px;font-size:13px}</style></head><body>'
  echo '<h2>Terms and conditions</h2>'
  # 160 lines from the terms on, read to the end (a `head` that stops reading early would end
  # the writer with SIGPIPE, and the script with it).
  sed -n '/TERMS AND CONDITIONS/,$p' /usr/share/common-licenses/GPL-3 | sed -n '1,160p' |
    sed 's/&/\&amp;/g; s/</\&lt;/g' |
    awk 'BEGIN { RS = "" } { print NR % 3 ? "<p>" $0 "</p>" : "<p><small>" $0 "</small></p>" }'
  echo '<table><tr><th>Release</th><th>Date</th><th>Size</th><th>Checksum</th></tr>'
  for i in $(seq 1 12); do
    echo "<tr><td>version $i.$((i * 7 % 10))</td><td>2024-$(printf %02d "$i")-1$((i % 9))</td>"
    echo "<td>$((i * 317 % 1000)) kB</td><td>a$((i * 7919))f$((i * 104729))</td></tr>"
  done
  echo '</table><p><small>Small print: the quick brown fox jumps over the lazy dog at twelve'
  echo 'pixels, and numbers such as 3.14159, 2,718 and 1/137 must read exactly.</small></p>'
  echo '</body></html>'
} >"$work/page.html"
sandbox=()
[[ $(id -u) -eq 0 ]] && sandbox=(--no-sandbox)  # Chromium starts as root only without it

# Captures the window of the command in the remaining arguments, started on its own desktop and
# grown to fill the screen, as $work/$1.ppm. Waits for a window of the process whose name
# matches $2 (a page's title shows once it has loaded).
capture() {
  local name="$1" title="$2"
  shift 2
  scripts/desktop-session --size 2880x1800x24 --wm --dbus -- bash -c '
    out="$1" title="$2"
    shift 2
    GDK_SCALE=2 "$@" >/dev/null 2>&1 &
    app=$!
    window=""
    for _ in $(seq 300); do
      window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | tail -n 1) || true
      [[ -n $window ]] && break
      sleep 0.1
    done
    [[ -n $window ]] || { echo "no window named $title" >&2; exit 1; }
    xdotool windowsize --sync "$window" 2880 1800 windowmove --sync "$window" 0 0
    sleep 3  # the app redraws at its new size
    import-im6.q16 -window "$window" -depth 8 "ppm:$out"
    kill "$app"
  ' capture "$work/$name.ppm" "$title" "$@"
}

capture widget-factory "Widget Factory|gtk3-widget-factory" gtk3-widget-factory
capture text-editor "page" mousepad "$work/page.txt"
capture chromium "^Legibility" chromium "${sandbox[@]}" --no-first-run --no-default-browser-check \
  --force-device-scale-factor=2 --user-data-dir="$work/chromium" "file://$work/page.html"

read_text() { OMP_THREAD_LIMIT=1 tesseract "$1" "${1%.*}" -l eng >/dev/null 2>&1; }

echo "picture-legibility: windows of 2880x1800 pixels at 2 per point; load averages $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-15s %5s %-9s | %-23s | %-23s | %-21s\n' "" "" "" "words found, any order" \
  "words found in order" "PSNR against Lanczos"
printf '%-15s %5s %-9s | %10s %12s | %10s %12s | %10s %10s\n' app width size ours ImageMagick \
  ours ImageMagick ours ImageMagick
for app in widget-factory text-editor chromium; do
  full="$work/$app.ppm"
  read_text "$full"
  reference="$work/$app.txt"
  for width in "${widths[@]}"; do
    ours="$work/$app-$width-ours.jpg" theirs="$work/$app-$width-im.jpg"
    size=$("$tool" picture "$full" "$width" "$ours")
    convert-im6.q16 "$full" -resize "$size!" -quality 72 "$theirs"
    read_text "$ours"
    read_text "$theirs"
    read -r oursAny oursInOrder < <("$tool" words "$reference" "${ours%.jpg}.txt")
    read -r theirsAny theirsInOrder < <("$tool" words "$reference" "${theirs%.jpg}.txt")
    printf '%-15s %5s %-9s | %9s%% %11s%% | %9s%% %11s%% | %7s dB %7s dB\n' "$app" "$width" \
      "$size" "$oursAny" "$theirsAny" "$oursInOrder" "$theirsInOrder" \
      "$("$tool" psnr "$full" "$ours")" "$("$tool" psnr "$full" "$theirs")"
  done
  echo "  ($(wc -w <"$reference") words in the full-size reading)"
done
[[ -n $keep ]] && mkdir -p "$keep" && cp "$work"/*.ppm "$work"/*.jpg "$work"/*.txt "$keep"/

echo
taskset -c 0 build/release/bin/screenshot-bench
