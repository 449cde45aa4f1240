// The whole-line kernels of 64-bit Arm: a NEON kernel that makes a line as the SSSE3 kernel
// does, in a few table lookups and five 16-byte stores, and the table kernel. NEON is part of
// the base architecture, so every arm64 CPU runs both and there is nothing to choose at run
// time.
#include "dump/dump_kernel.h"
#include "dump/format_dump_shuffles.h"

#include <arm_neon.h>

namespace {

[[gnu::always_inline]] inline uint8x16_t LoadVector(const ByteVector& bytes) {
    return vld1q_u8(bytes);
}

// The piece of a line that shuffle picks out of pairs, with fill in the bytes it leaves zero.
[[gnu::always_inline]] inline uint8x16_t PutPiece(uint8x16_t pairs, const ByteVector& shuffle,
                                                  const ByteVector& fill) {
    return vorrq_u8(vqtbl1q_u8(pairs, LoadVector(shuffle)), LoadVector(fill));
}

// One line of 16 bytes from source, five stores.
[[gnu::always_inline]] inline void PutLineNeon(char* text, const char* source,
                                               const std::uint64_t (&address)[1]) {
    auto* line = reinterpret_cast<std::uint8_t*>(text);
    const uint8x16_t bytes = vld1q_u8(reinterpret_cast<const std::uint8_t*>(source));
    const uint8x16_t digits = LoadVector(DigitVector);
    const uint8x16_t high = vqtbl1q_u8(digits, vshrq_n_u8(bytes, 4));
    const uint8x16_t low = vqtbl1q_u8(digits, vandq_u8(bytes, vdupq_n_u8(0x0F)));
    const uint8x16_t firstPairs = vzip1q_u8(high, low);
    const uint8x16_t lastPairs = vzip2q_u8(high, low);
    // A byte b is shown when b - 0x20, unsigned, is below 0x5F: 0x20 to 0x7E.
    const uint8x16_t shown = vcltq_u8(vsubq_u8(bytes, vdupq_n_u8(0x20)), vdupq_n_u8(0x5F));
    const uint8x16_t show = vbslq_u8(shown, bytes, vdupq_n_u8('.'));

    // vextq_u8(a, b, n) is bytes n onward of a followed by b, as alignr(b, a, n) on x86.
    const uint8x16_t address16 = vcombine_u8(vcreate_u8(address[0]), vdup_n_u8(0));
    vst1q_u8(line, vorrq_u8(PutPiece(firstPairs, FirstShuffle, FirstFill), address16));
    vst1q_u8(line + 16, PutPiece(firstPairs, SecondShuffle, SecondFill));
    vst1q_u8(line + 32, PutPiece(vextq_u8(firstPairs, lastPairs, 15), ThirdShuffle, ThirdFill));
    vst1q_u8(line + 48, PutPiece(vextq_u8(lastPairs, show, 8), FourthShuffle, FourthFill));
    vst1q_u8(line + FifthColumn, vorrq_u8(vextq_u8(show, vdupq_n_u8(0), 2), LoadVector(FifthFill)));
}

void PutLinesNeon(char* line, const char* source, std::uint32_t lines) {
    LineCursor at = StartLines(line, source);
    PutLineGroups<1, PutLineNeon>(&at, lines);
}

// Best first, ending with the table kernel.
constexpr DumpKernel NeonKernelTable[] = {
    {"neon", PutLinesNeon},
    TableKernel,
};

} // namespace

DumpKernelList GetDumpKernels() {
    return {NeonKernelTable, sizeof NeonKernelTable / sizeof NeonKernelTable[0]};
}
