#!/usr/bin/env bash
# Benchmarks of pelko-packets against its peers on this machine (cat and tcpdump). Prints
# figures and asserts nothing. Run as root (the capture needs a private network namespace).
#   bench/packets-bench.sh [build-dir]      (default build/release, an optimised build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target pelko-packets pelko-packets-bench-capture >/dev/null
tool="$build/bin/pelko-packets"

# --app-read of 100 MiB into a pipe, against cat of the same file, best of five runs each.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c $((100 * 1024 * 1024)) /dev/urandom >"$dir/file"
cat "$dir/file" >/dev/null  # both read from the page cache
best() {
    local best_ns=0 start end
    for _ in 1 2 3 4 5; do
        start=$(date +%s%N)
        "$@" | cat >/dev/null
        end=$(date +%s%N)
        if ((best_ns == 0 || end - start < best_ns)); then best_ns=$((end - start)); fi
    done
    echo "$best_ns"
}
tool_ns=$(best "$tool" --app-read "$dir" "$(stat -c %u "$dir")" file)
cat_ns=$(best cat "$dir/file")
awk -v t="$tool_ns" -v c="$cat_ns" 'BEGIN {
    printf "app-read of 100 MiB into a pipe (best of 5):\n"
    printf "  pelko-packets --app-read  %7.1f ms  %7.0f MiB/s\n", t / 1e6, 100 / (t / 1e9)
    printf "  cat                       %7.1f ms  %7.0f MiB/s\n", c / 1e6, 100 / (c / 1e9)
    printf "  time ratio pelko/cat      %7.2f\n", t / c
}'
echo
"$build/bin/pelko-packets-bench-capture" "${CAPTURE_SECONDS:-1}"
