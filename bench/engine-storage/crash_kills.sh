#!/usr/bin/env bash
# The heavy variant of the random-kill crash test: a child process committing 100 change sets is
# killed at random moments KILLS times (default 100); after each kill the reopened file is checked.
# Prints the number of kills and of kills that left an unfinished commit to roll back.
# Usage: bench/engine-storage/crash_kills.sh [build folder] [kills]
set -euo pipefail
build=${1:-build-test}
report=$(mktemp)
trap 'rm -f "$report"' EXIT
NRD_CRASH_KILLS=${2:-100} "$build/tests/engine-storage/engine_storage_tests" --gtest_brief=1 \
  --gtest_filter='NRDCrashSafety.ChildKilledAtRandomDuringManyCommits' --gtest_output="xml:$report"
grep -o 'name="\(kills\|rollbacks\)" value="[0-9]*"' "$report"
