#!/usr/bin/env bash
# Measures the formatter against the usual dump tools and in process, and prints the figures
# docs/performance.md quotes.
#
#   bash bench/run-benchmarks.sh [--chart FILE] [ROUNDS] [all|tools|inprocess]
#
# tools: dumpfile, xxd, hexdump -C and od -A x -t x1z -v each dump the same 64 MiB file to
#   /dev/null, in ROUNDS (default 7) rounds that take the four tools in turn, so that any drift
#   in the machine's load falls on all of them alike. Prints the median wall, user and system time of
#   each and its wall time's ratio to dumpfile's.
# inprocess: keyreport_bench, 5 repetitions in random order; prints the kernel FormatDump
#   uses, the medians (FormatDump with that kernel and with the table kernel forced, against
#   the fill bound) and the ratios worked out from them. The results go to
#   build/release/bench/results.json (and .txt), the chart to
#   build/release/bench/format-dump-gbps.png, or to FILE with --chart: --chart
#   docs/format-dump-gbps.png replaces the documentation's chart.
set -euo pipefail
chart=""
if [[ ${1:-} == --chart ]]; then
    [[ $# -ge 2 ]] || { echo "run-benchmarks: --chart needs a file name" >&2; exit 2; }
    chart=$(realpath -m -- "$2") # named from the folder the script was started in
    shift 2
fi
cd "$(dirname "$0")/.."
bin=build/release/bench
chart=${chart:-$bin/format-dump-gbps.png}
rounds=${1:-7}
parts=${2:-all}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

compare_tools() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    local input=$work/input.bin
    head -c $((64 * 1024 * 1024)) /dev/urandom >"$input"
    # Written just now, the file sits in the page cache in 4 KiB pages, and mapping those one
    # at a time costs dumpfile about 20 ms more on a virtual machine (xxd and the others, which
    # read into a buffer, do not map it). Flushed and evicted, it is read back below as any
    # file read from disk is: through readahead, which keeps it in large folios.
    sync "$input"
    python3 -c 'import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)' "$input"

    # Each tool and the command it runs, as the table names it.
    local tools=(dumpfile xxd hexdump od)
    local -A command=([dumpfile]=dumpfile [xxd]=xxd [hexdump]="hexdump -C"
        [od]="od -A x -t x1z -v")
    run_tool() {
        case $1 in
        dumpfile) "$bin/dumpfile" "$input" ;;
        *) ${command[$1]} "$input" ;;
        esac >/dev/null
    }

    # One untimed pass each: the file and the programs are in the page cache from here on.
    for tool in "${tools[@]}"; do run_tool "$tool"; done

    # Wall, user and system seconds of each run, from the shell's own timer.
    local -A wall user system
    local TIMEFORMAT='%3R %3U %3S' round i tool r u s
    for ((round = 0; round < rounds; round++)); do
        # Each round starts with a different tool.
        for ((i = 0; i < ${#tools[@]}; i++)); do
            tool=${tools[(i + round) % ${#tools[@]}]}
            read -r r u s < <({ time run_tool "$tool"; } 2>&1)
            wall[$tool]+="$r "
            user[$tool]+="$u "
            system[$tool]+="$s "
        done
    done

    echo "== Whole process, 64 MiB to /dev/null, medians of $rounds rounds"
    local base
    base=$(echo "${wall[dumpfile]}" | median)
    printf '| %-17s | %8s | %8s | %8s | %11s |\n' tool 'wall ms' 'user ms' 'sys ms' 'x dumpfile'
    printf '|%s|\n' '---|---:|---:|---:|---:'
    for tool in "${tools[@]}"; do
        r=$(echo "${wall[$tool]}" | median)
        u=$(echo "${user[$tool]}" | median)
        s=$(echo "${system[$tool]}" | median)
        awk -v t="${command[$tool]}" -v r="$r" -v u="$u" -v s="$s" -v base="$base" 'BEGIN {
            printf "| %-17s | %8.0f | %8.0f | %8.0f | %11.1f |\n", t, r * 1000, u * 1000, s * 1000, r / base
        }'
    done
    echo
    awk -v r="$(echo "${wall[xxd]}" | median)" -v base="$base" \
        'BEGIN { printf "== Ratio\ndumpfile against xxd, wall time: %.1fx\n", r / base }'
}

measure_in_process() {
    echo "== In process: keyreport_bench, medians of 5 repetitions in random order"
    "$bin/keyreport_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true --benchmark_out="$bin/results.json" \
        --benchmark_out_format=json >"$bin/results.txt" 2>&1
    python3 bench/summarize.py "$bin/results.json" "$bin/format-dump-gbps.dat"
    mkdir -p "$(dirname "$chart")"
    local kernel
    kernel=$(sed -n 's/^# kernel //p' "$bin/format-dump-gbps.dat")
    gnuplot -e "data='$bin/format-dump-gbps.dat'; kernel='$kernel'; output='$chart'" \
        bench/format-dump-gbps.gp
    echo "chart: $chart"
}

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
if [[ $parts != inprocess ]]; then compare_tools; fi
if [[ $parts == all ]]; then echo; fi
if [[ $parts != tools ]]; then measure_in_process; fi
