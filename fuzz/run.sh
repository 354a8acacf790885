#!/usr/bin/env bash
# Runs each fuzz target for <seconds> on its corpus, one after the other; exits 1 on a finding
# (kept under <build>/findings/). Environment: QUINDLE_FUZZ_BUILD (default build/fuzz),
# QUINDLE_FUZZ_NICE (default 19; a busy machine then stretches the first corpus pass).
# Usage: fuzz/run.sh <seconds> [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUINDLE_FUZZ_BUILD:-$root/build/fuzz}
seconds=${1:?usage: fuzz/run.sh <seconds> [target...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_file fuzz_command_line)
[ -d "$build/corpus" ] || "$root/fuzz/make_corpus.sh" "$build" >/dev/null
mkdir -p "$build/findings" "$build/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
    bin=$build/fuzz/$t log=$build/logs/$t.log
    [ -x "$bin" ] || { echo "missing $bin: build the fuzz_targets in $build" >&2; exit 2; }
    mkdir -p "$build/corpus/$t"
    rc=0  # a hang of more than 10 s per input is a finding
    nice -n "${QUINDLE_FUZZ_NICE:-19}" "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
        "$build/corpus/$t" >"$log" 2>&1 || rc=$?
    printf '%-20s %12s execs  ' "$t" "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
    if [ "$rc" -eq 0 ]; then echo ok; else
        echo "FINDING (exit $rc), log $log"
        grep -E 'ERROR|check failed|runtime error|SUMMARY|Test unit written' "$log" | head -8 | sed 's/^/    /'
        status=1
    fi
done
exit $status
