"""Reads keyreport_bench's JSON: prints the target ratios from the medians, and writes the
chart's data (count, FormatDump GB/s, fill bound GB/s) to the file named second."""
import json
import sys

results = json.load(open(sys.argv[1]))
median = {}
for run in results["benchmarks"]:
    if run.get("aggregate_name") == "median":
        median[run["run_name"]] = run["bytes_per_second"] / 1e9

count = 16777216
dump = median[f"BM_FormatDump/{count}"]
bound = median[f"BM_FillBound/{count}"]
measure = median["BM_MeasureText/4096"]
byte_loop = median["BM_ByteLoopLength/4096"]
print(f"FormatDump at 16 MiB:      {dump:.2f} GB/s of input (target >= 1.5)")
print(f"  against the fill bound:  {100 * dump / bound:.0f}% of {bound:.2f} GB/s (target >= 40%)")
print(f"MeasureText at 4096 bytes: {measure:.2f} GB/s, {measure / byte_loop:.1f}x the byte loop"
      f" at {byte_loop:.2f} GB/s (target >= 3x)")

with open(sys.argv[2], "w") as data:
    for n in (40, 4096, 1048576, 16777216):
        data.write(f"{n} {median[f'BM_FormatDump/{n}']:.4f} {median[f'BM_FillBound/{n}']:.4f}\n")
