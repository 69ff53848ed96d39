#!/usr/bin/env bash
# Compares the load time of our GEDCOM reader with Debian's libgedcom-perl (Gedcom.pm) on the same
# synthetic trees and prints the ratio (peer time / our time; above 1 means we are faster).
# Usage: bench/core/gedcom-pm-ratio.sh [BUILD_DIR] [N ...]     (defaults: build-release, 1000 10000 100000)
# Needs a build with benchmarks (bench_core, trevolan-synth) and: apt-get install libgedcom-perl
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-build-release}"
[[ "$build" = /* ]] || build="$root/$build"
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000)
perl -MGedcom -e 1 2>/dev/null || { echo "Gedcom.pm is missing: apt-get install libgedcom-perl" >&2; exit 1; }
for tool in "$build/bench/core/bench_core" "$build/tools/trevolan-synth"; do
  [ -x "$tool" ] || { echo "missing $tool (configure with -DTREVOLAN_BENCH=ON and build)" >&2; exit 1; }
done
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
now() { date +%s.%N; }
printf "%-8s %-7s %12s %12s %8s\n" persons coding "ours ms" "Gedcom.pm ms" ratio
for n in "${sizes[@]}"; do
  for coding in utf8 cp1251; do
    file="$tmp/tree-$n-$coding.ged"
    "$build/tools/trevolan-synth" "$n" "$coding" "$file"
    name=$([ "$coding" = utf8 ] && echo BM_LoadUtf8 || echo BM_LoadCp1251)
    ours=$("$build/bench/core/bench_core" --benchmark_filter="^$name/$n\$" --benchmark_format=json 2>/dev/null |
      python3 -c 'import json,sys; b=json.load(sys.stdin)["benchmarks"][0]; print(b["real_time"] * {"ms":1,"us":1e-3,"ns":1e-6,"s":1e3}[b["time_unit"]])')
    t0=$(now)
    perl -MGedcom -e 'my $g = Gedcom->new(gedcom_file => $ARGV[0], read_only => 1); my @i = $g->individuals; die "no persons\n" unless @i;' "$file"
    t1=$(now)
    peer=$(python3 -c "print(($t1 - $t0) * 1000)")
    printf "%-8s %-7s %12.1f %12.1f %8.2f\n" "$n" "$coding" "$ours" "$peer" "$(python3 -c "print($peer / $ours)")"
  done
done
