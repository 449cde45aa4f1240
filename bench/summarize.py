"""Reads keyreport_bench's JSON and prints the medians as tables, in GB/s of input (10^9
bytes), then the target ratios. Writes the chart's data (count, FormatDump GB/s, fill bound
GB/s) to the file named second."""
import json
import sys

results = json.load(open(sys.argv[1]))
median = {}
for run in results["benchmarks"]:
    if run.get("aggregate_name") == "median":
        median[run["run_name"]] = run["bytes_per_second"] / 1e9

counts = (40, 4096, 1048576, 16777216)
names = {40: "40 B", 4096: "4 KiB", 1048576: "1 MiB", 16777216: "16 MiB"}
print("| GB/s of input | " + " | ".join(names[n] for n in counts) + " |")
print("|---|" + "---:|" * len(counts))
for name in ("FormatDump", "FillBound"):
    row = (f"{median[f'BM_{name}/{n}']:.2f}" for n in counts)
    print(f"| BM_{name} | " + " | ".join(row) + " |")
row = (f"{100 * median[f'BM_FormatDump/{n}'] / median[f'BM_FillBound/{n}']:.0f}%" for n in counts)
print("| FormatDump / FillBound | " + " | ".join(row) + " |")

lengths = (16, 64, 256, 1024, 4096)
print()
print("| GB/s of input | " + " | ".join(f"{n} B" for n in lengths) + " |")
print("|---|" + "---:|" * len(lengths))
for name in ("MeasureText", "ByteLoopLength"):
    row = (f"{median[f'BM_{name}/{n}']:.2f}" for n in lengths)
    print(f"| BM_{name} | " + " | ".join(row) + " |")
row = (f"{median[f'BM_MeasureText/{n}'] / median[f'BM_ByteLoopLength/{n}']:.1f}x" for n in lengths)
print("| MeasureText / byte loop | " + " | ".join(row) + " |")
print()
print(f"BM_LocateKey (500 bytes, key at the end): {median['BM_LocateKey']:.2f} GB/s")

count = 16777216
dump = median[f"BM_FormatDump/{count}"]
bound = median[f"BM_FillBound/{count}"]
measure = median["BM_MeasureText/4096"]
byte_loop = median["BM_ByteLoopLength/4096"]
print()
print("== Targets")
print(f"FormatDump at 16 MiB:      {dump:.2f} GB/s of input (target >= 1.5)")
print(f"  against the fill bound:  {100 * dump / bound:.0f}% of {bound:.2f} GB/s (target >= 40%)")
print(f"MeasureText at 4096 bytes: {measure / byte_loop:.1f}x the byte loop (target >= 3x)")

with open(sys.argv[2], "w") as data:
    for n in counts:
        data.write(f"{n} {median[f'BM_FormatDump/{n}']:.4f} {median[f'BM_FillBound/{n}']:.4f}\n")
