// Throughput of the formatter and the text primitives. Every benchmark reports the bytes of
// input it handled, so that their bytes per second compare directly.
#include "dump/dump_kernel.h"
#include "platform/platform.h"
#include "text/text.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <vector>

namespace {

// Source bytes of every value in an order no branch predictor learns.
std::vector<char> MakeSource(std::uint32_t count) {
    std::vector<char> bytes(count);
    std::uint32_t state = 0x2545F491u;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::uint32_t DumpSize(std::uint32_t count) {
    return CountDumpLines(count) * DumpLineSize + 1;
}

void ReleaseBlock(char* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

void BM_FormatDump(benchmark::State& state) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const std::vector<char> source = MakeSource(count);
    for (auto _ : state) {
        char* dump = FormatDump(source.data(), count);
        benchmark::DoNotOptimize(dump);
        benchmark::ClobberMemory();
        ReleaseBlock(dump);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// FormatDump's work with the table kernel forced: a new block, the dump, the block freed.
void BM_FormatDumpTables(benchmark::State& state) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const std::vector<char> source = MakeSource(count);
    for (auto _ : state) {
        char* dump = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, DumpSize(count)));
        PutDump(dump, source.data(), count, TableKernel.putLines);
        benchmark::DoNotOptimize(dump);
        benchmark::ClobberMemory();
        ReleaseBlock(dump);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// The bound no formatter beats: the same allocation, filled once at memset speed.
void BM_FillBound(benchmark::State& state) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const std::uint32_t size = DumpSize(count);
    for (auto _ : state) {
        char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
        std::memset(block, ' ', size);
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
        ReleaseBlock(block);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// A text of length nonzero bytes, then its zero, starting on a word boundary.
std::vector<char> MakeText(std::uint32_t length) {
    std::vector<char> text(length + 8, '\0');
    for (std::uint32_t i = 0; i < length; ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    return text;
}

// Measures a text of the benchmark's length with measure, over and over.
void MeasureLength(benchmark::State& state, std::uint32_t (*measure)(const char*)) {
    const auto length = static_cast<std::uint32_t>(state.range(0));
    const std::vector<char> text = MakeText(length);
    for (auto _ : state) {
        const char* at = text.data();
        benchmark::DoNotOptimize(at);
        benchmark::DoNotOptimize(measure(at));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
}

void BM_MeasureText(benchmark::State& state) {
    MeasureLength(state, MeasureText);
}

// The plain length loop MeasureText is measured against: one byte, one test.
[[gnu::noinline]] std::uint32_t ByteLoopLength(const char* text) {
    std::uint32_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

void BM_ByteLoopLength(benchmark::State& state) {
    MeasureLength(state, ByteLoopLength);
}

// The program's case: 500 bytes read into a zero-filled buffer, the key in the last five.
void BM_LocateKey(benchmark::State& state) {
    constexpr std::uint32_t ReadSize = 500;
    std::vector<char> text(756, '\0');
    for (std::uint32_t i = 0; i < ReadSize; ++i) {
        text[i] = "name=value&s"[i % 12];
    }
    std::memcpy(text.data() + ReadSize - 5, "str1=", 5);
    for (auto _ : state) {
        const char* at = text.data();
        benchmark::DoNotOptimize(at);
        benchmark::DoNotOptimize(LocateKey(at, "str1="));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * ReadSize);
}

} // namespace

BENCHMARK(BM_FormatDump)->Arg(40)->Arg(4096)->Arg(1 << 20)->Arg(1 << 24);
BENCHMARK(BM_FormatDumpTables)->Arg(40)->Arg(4096)->Arg(1 << 20)->Arg(1 << 24);
BENCHMARK(BM_FillBound)->Arg(40)->Arg(4096)->Arg(1 << 20)->Arg(1 << 24);
BENCHMARK(BM_MeasureText)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_ByteLoopLength)->RangeMultiplier(4)->Range(16, 4096);
BENCHMARK(BM_LocateKey);

// The kernel FormatDump uses goes into the context the benchmark prints first (and into its
// JSON). Blocks of any size come from the heap's own memory and go back to it when freed, so that
// each iteration measures the formatting and the memory it writes, and not the kernel mapping
// and zeroing fresh pages for every block (on this virtual machine that alone costs more than
// the formatting; the dumpfile comparison still pays it once, as any process does).
int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::AddCustomContext("format_dump_kernel", GetDumpKernels().kernels[0].name);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
