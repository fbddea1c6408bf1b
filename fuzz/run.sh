#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time: first over its committed regression
# corpus, then mutating from it. Usage: fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
status=0
shopt -s nullglob
for target in "$build"/fuzz/*; do
    [ -x "$target" ] && [ -f "$target" ] || continue
    name=$(basename "$target")
    corpus="$here/corpus/$name"
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    echo "== $name: ${seconds}s"
    if ! QT_QPA_PLATFORM=offscreen "$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=0 "$work" >"$work.log" 2>&1; then
        echo "!! $name failed:"; tail -n 60 "$work.log"
        status=1
    else
        grep -E '^(#[0-9]+.*DONE|Done)' "$work.log" | tail -n 1 || true
    fi
    rm -rf "$work" "$work.log"
done
exit $status
