"""Reads keyreport_bench's JSON and prints the medians as tables, in GB/s of input (10^9
bytes), then the ratios the performance page quotes. Writes the chart's data (count, then GB/s
of FormatDump, of FormatDump with the table kernel, and of the fill bound) to the file named
second."""
import json
import sys

results = json.load(open(sys.argv[1]))
kernel = results["context"].get("format_dump_kernel", "?")
median = {}
for run in results["benchmarks"]:
    if run.get("aggregate_name") == "median":
        median[run["run_name"]] = run["bytes_per_second"] / 1e9


def gbps(name, n):
    return median[f"BM_{name}/{n}"]


def table(sizes, heads, names, ratios):
    """A row of GB/s for each benchmark in names, then a row for each (title, first, second,
    form) in ratios: first's GB/s over second's."""
    print("| GB/s of input | " + " | ".join(heads) + " |")
    print("|---|" + "---:|" * len(sizes))
    for name in names:
        print(f"| BM_{name} | " + " | ".join(f"{gbps(name, n):.2f}" for n in sizes) + " |")
    for title, first, second, form in ratios:
        cells = (form(gbps(first, n) / gbps(second, n)) for n in sizes)
        print(f"| {title} | " + " | ".join(cells) + " |")


def percent(r):
    return f"{100 * r:.0f}%"


def times(r):
    return f"{r:.1f}x"


print(f"FormatDump's kernel on this CPU: {kernel}")
print()
counts = (40, 4096, 1048576, 16777216)
table(counts, ("40 B", "4 KiB", "1 MiB", "16 MiB"), ("FormatDump", "FormatDumpTables", "FillBound"),
      (("FormatDump / FillBound", "FormatDump", "FillBound", percent),
       ("FormatDumpTables / FillBound", "FormatDumpTables", "FillBound", percent),
       ("FormatDump / FormatDumpTables", "FormatDump", "FormatDumpTables", times)))

lengths = (16, 64, 256, 1024, 4096)
print()
table(lengths, [f"{n} B" for n in lengths], ("MeasureText", "ByteLoopLength"),
      (("MeasureText / byte loop", "MeasureText", "ByteLoopLength", times),))
print()
print(f"BM_LocateKey (500 bytes, key at the end): {median['BM_LocateKey']:.2f} GB/s")

print()
print("== Ratios")
for n, head in ((4096, "4 KiB"), (1048576, "1 MiB")):
    dump = gbps("FormatDump", n)
    print(f"FormatDump at {head}: {dump:.2f} GB/s of input, "
          f"{dump / gbps('FormatDumpTables', n):.1f}x the table kernel")
n = 16777216
print(f"FormatDump at 16 MiB: {percent(gbps('FormatDump', n) / gbps('FillBound', n))} of "
      f"BM_FillBound's {gbps('FillBound', n):.2f} GB/s")
print(f"MeasureText at 4096 bytes: {times(gbps('MeasureText', 4096) / gbps('ByteLoopLength', 4096))} "
      "the byte loop")

with open(sys.argv[2], "w") as data:
    data.write(f"# kernel {kernel}\n")
    for n in counts:
        data.write(f"{n} {gbps('FormatDump', n):.4f} {gbps('FormatDumpTables', n):.4f} "
                   f"{gbps('FillBound', n):.4f}\n")
