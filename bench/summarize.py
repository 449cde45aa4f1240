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

def table(sizes, heads, first, second, ratio_name, ratio):
    """One table: a row of GB/s for each benchmark, then the row of their ratio."""
    print("| GB/s of input | " + " | ".join(heads) + " |")
    print("|---|" + "---:|" * len(sizes))
    for name in (first, second):
        print(f"| BM_{name} | " + " | ".join(f"{median[f'BM_{name}/{n}']:.2f}" for n in sizes) + " |")
    cells = (ratio(median[f"BM_{first}/{n}"] / median[f"BM_{second}/{n}"]) for n in sizes)
    print(f"| {ratio_name} | " + " | ".join(cells) + " |")


counts = (40, 4096, 1048576, 16777216)
table(counts, ("40 B", "4 KiB", "1 MiB", "16 MiB"), "FormatDump", "FillBound",
      "FormatDump / FillBound", lambda r: f"{100 * r:.0f}%")

lengths = (16, 64, 256, 1024, 4096)
print()
table(lengths, (f"{n} B" for n in lengths), "MeasureText", "ByteLoopLength",
      "MeasureText / byte loop", lambda r: f"{r:.1f}x")
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
