// The byte shuffles and fills from which the vector kernels build a dump line. Both x86's
// pshufb and Arm's tbl give a zero byte for an index past the table (pshufb where the index's
// high bit is set, tbl for any index above 15), so the same tables serve SSSE3, AVX2 and NEON.
#pragma once

#include "dump/dump_kernel.h"

#include <cstdint>

// A shuffle index that gives a zero byte.
constexpr std::uint8_t Z = 0x80;

using ByteVector = std::uint8_t[16];

// The hexadecimal digits, looked up by nibble.
alignas(16) inline constexpr ByteVector DigitVector = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                       '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// A line is stored as five 16-byte pieces: columns 0-15, 16-31, 32-47, 48-63 and 63-78. The
// digit pairs of bytes 0-7 (first eight pairs) and 8-15 (last eight) are shuffled into their
// columns; each piece's shuffle leaves zeros where its spaces, dash, CR LF or address go, and
// its fill supplies them.
//
// Columns 0-15: the address (merged in from the address word), two spaces, pairs 0 and 1.
alignas(16) inline constexpr ByteVector FirstShuffle = {Z, Z, Z, Z, Z, Z, Z, Z,
                                                        Z, Z, 0, 1, Z, 2, 3, Z};
alignas(16) inline constexpr ByteVector FirstFill = {0,   0,   0, 0, 0,   0, 0, 0,
                                                     ' ', ' ', 0, 0, ' ', 0, 0, ' '};
// Columns 16-31: pairs 2 to 6 and the high digit of pair 7, from the first eight pairs.
alignas(16) inline constexpr ByteVector SecondShuffle = {4, 5,  Z,  6, 7,  Z,  8, 9,
                                                         Z, 10, 11, Z, 12, 13, Z, 14};
alignas(16) inline constexpr ByteVector SecondFill = {0,   0, ' ', 0,   0, ' ', 0,   0,
                                                      ' ', 0, 0,   ' ', 0, 0,   ' ', 0};
// Columns 32-47: the low digit of pair 7, the dash, pairs 8 to 11. Shuffled from the last
// digit of the first eight pairs followed by the first 15 of the last eight.
alignas(16) inline constexpr ByteVector ThirdShuffle = {0, Z, Z, Z, 1, 2, Z, 3,
                                                        4, Z, 5, 6, Z, 7, 8, Z};
alignas(16) inline constexpr ByteVector ThirdFill = {0, ' ', '-', ' ', 0,   0, ' ', 0,
                                                     0, ' ', 0,   0,   ' ', 0, 0,   ' '};
// Columns 48-63: pairs 12 to 15, two spaces, display characters 0 to 2. Shuffled from pairs
// 12 to 15 followed by the first eight display characters.
alignas(16) inline constexpr ByteVector FourthShuffle = {0, 1, Z, 2, 3, Z, 4, 5,
                                                         Z, 6, 7, Z, Z, 8, 9, 10};
alignas(16) inline constexpr ByteVector FourthFill = {0,   0, ' ', 0,   0,   ' ', 0, 0,
                                                      ' ', 0, 0,   ' ', ' ', 0,   0, 0};
// Columns 63-78: display characters 2 to 15, shifted down by two, and CR LF.
alignas(16) inline constexpr ByteVector FifthFill = {0, 0, 0, 0, 0, 0, 0,    0,
                                                     0, 0, 0, 0, 0, 0, '\r', '\n'};

// The fifth piece overlaps the fourth by one column, so that it ends with the line.
constexpr std::uint32_t FifthColumn = DumpLineSize - 16;
