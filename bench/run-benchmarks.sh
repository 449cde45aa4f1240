#!/usr/bin/env bash
# Measures the formatter against the usual dump tools and in process, and prints the figures
# the README quotes.
#
#   bash bench/run-benchmarks.sh [ROUNDS]
#
# 1. Whole processes: dumpfile, xxd, hexdump -C and od each dump the same 64 MiB file to
#    /dev/null, in ROUNDS (default 7) rounds that take the four tools in turn, so that any
#    drift in the machine's load falls on all of them alike. Prints the median wall time of
#    each and its ratio to dumpfile's.
# 2. In process: keyreport_bench, 5 repetitions in random order; prints the medians and the
#    target ratios worked out from them. The results go to build/release/bench/results.json
#    (and .txt), the chart to docs/format-dump-gbps.png.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
bin=build/release/bench

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
input=$work/input.bin
head -c $((64 * 1024 * 1024)) /dev/urandom >"$input"

tools=(dumpfile xxd hexdump od)
run_tool() {
    case $1 in
    dumpfile) "$bin/dumpfile" "$input" ;;
    xxd) xxd "$input" ;;
    hexdump) hexdump -C "$input" ;;
    od) od -A x -t x1z -v "$input" ;;
    esac >/dev/null
}

# One untimed pass each: the file and the programs are in the page cache from here on.
for tool in "${tools[@]}"; do run_tool "$tool"; done

declare -A times
for ((round = 0; round < rounds; round++)); do
    # Start each round with a different tool.
    for ((i = 0; i < ${#tools[@]}; i++)); do
        tool=${tools[(i + round) % ${#tools[@]}]}
        start=$(date +%s%N)
        run_tool "$tool"
        end=$(date +%s%N)
        times[$tool]+="$(((end - start) / 1000)) "
    done
done

median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "== Whole process, 64 MiB to /dev/null, median of $rounds rounds"
base=$(echo "${times[dumpfile]}" | median)
printf '%-10s %10s %10s\n' tool 'median ms' 'x dumpfile'
for tool in "${tools[@]}"; do
    us=$(echo "${times[$tool]}" | median)
    awk -v t="$tool" -v us="$us" -v base="$base" \
        'BEGIN {printf "%-10s %10.1f %10.1f\n", t, us / 1000, us / base}'
done

echo
echo "== In process: keyreport_bench, medians of 5 repetitions in random order"
"$bin/keyreport_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$bin/results.json" \
    --benchmark_out_format=json >"$bin/results.txt" 2>&1
python3 bench/summarize.py "$bin/results.json" "$bin/format-dump-gbps.dat"
mkdir -p docs
gnuplot -e "data='$bin/format-dump-gbps.dat'; output='docs/format-dump-gbps.png'" \
    bench/format-dump-gbps.gp
echo "chart: docs/format-dump-gbps.png"
