#!/usr/bin/env bash
# Runs each fuzz target for a while and reports what it did.
# Usage: run.sh BUILD SECONDS [TARGET...]   (default: every fuzz_* in BUILD/bin)
#
# Each target starts from its kept corpus (tests/fuzz/corpus/NAME, never
# written) and grows a working corpus in BUILD/fuzz-run/NAME/corpus. Findings
# (crash-*, leak-*, timeout-*, oom-* files) land beside it; keep one as a
# named regression input in the kept corpus, with a test, once it is fixed.
# Prints one line per target: executions, coverage (edges), features,
# working corpus size, findings. Exit code 1 when anything was found.
set -uo pipefail

build=$(cd "$1" && pwd)
seconds=$2
shift 2
here="$(cd "$(dirname "$0")" && pwd)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/bin/fuzz_*; do targets+=("$(basename "$exe" | sed 's/^fuzz_//')"); done
fi

# The targets log refused commands; only errors are worth the time here.
export VLR_LOG_LEVEL=error
export XDG_DATA_HOME="$build/fuzz-run/xdg"

found_any=0
printf '%-18s %12s %8s %8s %8s %s\n' target executions cov ft corpus findings
for t in "${targets[@]}"; do
  work="$build/fuzz-run/$t"
  mkdir -p "$work/corpus"
  rm -f "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 -rss_limit_mb=2048 \
    -max_len=8192 -artifact_prefix="$work/" "$work/corpus" "$here/corpus/$t" >"$work/log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n1)
  last=$(grep -E '^#[0-9]+' "$work/log" | tail -n1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(find "$work/corpus" -type f | wc -l)
  findings=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) -printf '%f ' )
  if [ -n "$findings" ] || [ "$rc" -ne 0 ]; then
    found_any=1
    [ -z "$findings" ] && findings="exit code $rc (see $work/log)"
  else
    findings=none
  fi
  printf '%-18s %12s %8s %8s %8s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "$findings"
done
exit $found_any
