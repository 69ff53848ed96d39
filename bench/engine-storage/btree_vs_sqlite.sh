#!/bin/sh
# Runs the B-tree workloads and their SQLite twins and prints the time ratio of each pair
# (ours / SQLite; below 1.5 meets the goal). Usage: btree_vs_sqlite.sh [bench_engine_storage binary]
set -e
bin=${1:-build-rel/bench/engine-storage/bench_engine_storage}
out=$(mktemp)
"$bin" --benchmark_filter='BTree|SQLite' --benchmark_format=json >"$out"
python3 - "$out" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["real_time"] * scale
print(f"{'workload':<14}{'ours ms':>12}{'SQLite ms':>12}{'ratio':>8}")
for name in ("InsertInt", "InsertText", "Lookup", "RangeScan"):
    ours, peer = runs.get("BM_BTree" + name), runs.get("BM_SQLite" + name)
    if ours and peer:
        print(f"{name:<14}{ms(ours):>12.1f}{ms(peer):>12.1f}{ms(ours) / ms(peer):>8.2f}")
PY
rm -f "$out"
