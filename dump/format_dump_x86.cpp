// The whole-line kernels of x86-64: the table kernel, an SSSE3 kernel that makes a line in a
// few byte shuffles and five 16-byte stores, and an AVX2 kernel that makes two lines at once,
// one in each 128-bit lane. Each vector function carries its own target, so the file builds
// for any x86-64 CPU, and GetDumpKernels offers a kernel only where the CPU has its
// instructions.
#include "dump/dump_kernel.h"
#include "dump/format_dump_shuffles.h"

#include <immintrin.h>

namespace {

[[gnu::target("ssse3"), gnu::always_inline]] inline __m128i LoadVector(const ByteVector& bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i
LoadVectorTwice(const ByteVector& bytes) {
    return _mm256_broadcastsi128_si256(LoadVector(bytes));
}

// One line of 16 bytes from source, five stores. Inlined into its loop by the loop's caller,
// which is flattened: a procedure with a target of its own cannot be forced inline into the
// loop template, which has none.
[[gnu::target("ssse3")]] inline void PutLineSsse3(char* line, const char* source,
                                                  const std::uint64_t (&address)[1]) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    const __m128i high =
        _mm_shuffle_epi8(LoadVector(DigitVector), _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
    const __m128i low = _mm_shuffle_epi8(LoadVector(DigitVector), _mm_and_si128(bytes, nibble));
    const __m128i firstPairs = _mm_unpacklo_epi8(high, low);
    const __m128i lastPairs = _mm_unpackhi_epi8(high, low);
    // A byte b is shown when b + 1, as a signed byte, is above 0x20: 0x20 to 0x7E.
    const __m128i shown =
        _mm_cmpgt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(1)), _mm_set1_epi8(0x20));
    const __m128i show =
        _mm_or_si128(_mm_and_si128(shown, bytes), _mm_andnot_si128(shown, _mm_set1_epi8('.')));

    const __m128i first =
        _mm_or_si128(_mm_shuffle_epi8(firstPairs, LoadVector(FirstShuffle)), LoadVector(FirstFill));
    const __m128i second = _mm_or_si128(_mm_shuffle_epi8(firstPairs, LoadVector(SecondShuffle)),
                                        LoadVector(SecondFill));
    const __m128i third = _mm_or_si128(
        _mm_shuffle_epi8(_mm_alignr_epi8(lastPairs, firstPairs, 15), LoadVector(ThirdShuffle)),
        LoadVector(ThirdFill));
    const __m128i fourth = _mm_or_si128(
        _mm_shuffle_epi8(_mm_alignr_epi8(show, lastPairs, 8), LoadVector(FourthShuffle)),
        LoadVector(FourthFill));
    const __m128i fifth = _mm_or_si128(_mm_srli_si128(show, 2), LoadVector(FifthFill));

    auto* out = reinterpret_cast<__m128i*>(line);
    _mm_storeu_si128(out,
                     _mm_or_si128(first, _mm_cvtsi64_si128(static_cast<long long>(address[0]))));
    _mm_storeu_si128(out + 1, second);
    _mm_storeu_si128(out + 2, third);
    _mm_storeu_si128(out + 3, fourth);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + FifthColumn), fifth);
}

[[gnu::target("ssse3"), gnu::flatten]] void PutLinesSsse3(char* line, const char* source,
                                                          std::uint32_t lines) {
    LineCursor at = StartLines(line, source);
    PutLineGroups<1, PutLineSsse3>(&at, lines);
}

// Two lines from 32 bytes of source: the same steps as PutLineSsse3, the first line in the
// low lane and the second in the high lane; the lanes' pieces are then paired into 32-byte
// stores of columns 0-31 and 32-63, and columns 63-78 go out as 16 bytes.
[[gnu::target("avx2")]] inline void PutLinePairAvx2(char* line, const char* source,
                                                    const std::uint64_t (&address)[2]) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
    const __m256i high = _mm256_shuffle_epi8(LoadVectorTwice(DigitVector),
                                             _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble));
    const __m256i low =
        _mm256_shuffle_epi8(LoadVectorTwice(DigitVector), _mm256_and_si256(bytes, nibble));
    const __m256i firstPairs = _mm256_unpacklo_epi8(high, low);
    const __m256i lastPairs = _mm256_unpackhi_epi8(high, low);
    const __m256i shown =
        _mm256_cmpgt_epi8(_mm256_add_epi8(bytes, _mm256_set1_epi8(1)), _mm256_set1_epi8(0x20));
    const __m256i show = _mm256_blendv_epi8(_mm256_set1_epi8('.'), bytes, shown);

    const __m256i addresses = _mm256_set_epi64x(0, static_cast<long long>(address[1]), 0,
                                                static_cast<long long>(address[0]));
    const __m256i first = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(firstPairs, LoadVectorTwice(FirstShuffle)),
                        LoadVectorTwice(FirstFill)),
        addresses);
    const __m256i second =
        _mm256_or_si256(_mm256_shuffle_epi8(firstPairs, LoadVectorTwice(SecondShuffle)),
                        LoadVectorTwice(SecondFill));
    const __m256i third =
        _mm256_or_si256(_mm256_shuffle_epi8(_mm256_alignr_epi8(lastPairs, firstPairs, 15),
                                            LoadVectorTwice(ThirdShuffle)),
                        LoadVectorTwice(ThirdFill));
    const __m256i fourth = _mm256_or_si256(
        _mm256_shuffle_epi8(_mm256_alignr_epi8(show, lastPairs, 8), LoadVectorTwice(FourthShuffle)),
        LoadVectorTwice(FourthFill));
    const __m256i fifth = _mm256_or_si256(_mm256_srli_si256(show, 2), LoadVectorTwice(FifthFill));

    char* const next = line + DumpLineSize;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(line),
                        _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(line + 32),
                        _mm256_permute2x128_si256(third, fourth, 0x20));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + FifthColumn), _mm256_castsi256_si128(fifth));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(next),
                        _mm256_permute2x128_si256(first, second, 0x31));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(next + 32),
                        _mm256_permute2x128_si256(third, fourth, 0x31));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(next + FifthColumn),
                     _mm256_extracti128_si256(fifth, 1));
}

// Pairs of lines, and a last odd line through the SSSE3 line procedure.
[[gnu::target("avx2"), gnu::flatten]] void PutLinesAvx2(char* line, const char* source,
                                                        std::uint32_t lines) {
    LineCursor at = StartLines(line, source);
    PutLineGroups<2, PutLinePairAvx2>(&at, lines / 2);
    PutLineGroups<1, PutLineSsse3>(&at, lines % 2);
}

// Best first. GetDumpKernels starts the list at the best kernel the CPU runs; every kernel
// after that one runs too, down to the table kernel.
constexpr DumpKernel X86KernelTable[] = {
    {"avx2", PutLinesAvx2},
    {"ssse3", PutLinesSsse3},
    TableKernel,
};
constexpr std::uint32_t X86KernelCount = sizeof X86KernelTable / sizeof X86KernelTable[0];

const DumpKernel* ChooseBestKernel() {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("ssse3")) {
        return &X86KernelTable[2];
    }
    return __builtin_cpu_supports("avx2") ? &X86KernelTable[0] : &X86KernelTable[1];
}

// The kernel chosen, once the first dump asks. A plain pointer set on first use rather than
// a function-local static: the program has one thread, and a guarded static would bring the
// C++ runtime's guard functions, and with them libstdc++, into the Linux program.
const DumpKernel* BestKernel = nullptr;

} // namespace

DumpKernelList GetDumpKernels() {
    if (BestKernel == nullptr) {
        BestKernel = ChooseBestKernel();
    }
    return {BestKernel, static_cast<std::uint32_t>(X86KernelTable + X86KernelCount - BestKernel)};
}
