#!/usr/bin/env bash
# Runs each fuzz target for the given number of seconds on its corpus, one after the other at
# low priority, and prints the executions per target and any findings. Exits 1 when a
# target found something; the input is kept under <build dir>/findings/.
# Usage: fuzz/run.sh <seconds> [target...]    (default: every target)
# Environment: QUINDLE_FUZZ_BUILD (default build/fuzz), QUINDLE_FUZZ_NICE (default 19: the
# lowest priority; on a busy machine that stretches the first pass over the corpus, which
# -max_total_time does not bound).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUINDLE_FUZZ_BUILD:-$root/build/fuzz}
all=(fuzz_command_line fuzz_wav_read fuzz_wav_write fuzz_mpeg fuzz_daf fuzz_tone)

seconds=${1:?usage: fuzz/run.sh <seconds> [target...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

[ -d "$build/corpus" ] || "$root/fuzz/make_corpus.sh" "$build" >/dev/null
findings=$build/findings
logs=$build/logs
mkdir -p "$findings" "$logs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
printf '%-20s %12s %10s  %s\n' target executions exec/s result
for t in "${targets[@]}"; do
    bin=$build/fuzz/$t
    [ -x "$bin" ] || { echo "missing $bin: build the fuzz_targets in $build" >&2; exit 2; }
    mkdir -p "$build/corpus/$t"
    log=$logs/$t.log
    dict=()
    [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
    rc=0
    # New coverage is kept in the corpus; a hang of more than 10 s per input is a finding.
    nice -n "${QUINDLE_FUZZ_NICE:-19}" "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$t-" "${dict[@]}" "$build/corpus/$t" \
        >"$log" 2>&1 || rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    result=ok
    if [ "$rc" -ne 0 ]; then
        result="FINDING (exit $rc), log $log"
        status=1
    fi
    printf '%-20s %12s %10s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$result"
    if [ "$rc" -ne 0 ]; then
        grep -E 'ERROR|check failed|runtime error|SUMMARY|Test unit written' "$log" | head -8 | sed 's/^/    /'
    fi
done
exit $status
