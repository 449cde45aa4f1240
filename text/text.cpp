// The text and console primitives: the key search, the word-at-a-time length, the console
// writer and the key wait, on the platform's own calls.
#include "text/text.h"

#include "platform/platform.h"

namespace {

// A word read from text storage; may_alias because the storage is bytes.
using TextWord [[gnu::may_alias]] = std::uint32_t;

constexpr std::uint32_t LowBits = 0x01010101u;
constexpr std::uint32_t HighBits = 0x80808080u;

// Bit 7 of each byte of the result is set where the word may hold a zero byte; the lowest
// flagged byte is always the first zero (a byte >= 0x80 is never flagged, and another byte
// only when a zero lies below it).
constexpr std::uint32_t ZeroFlags(std::uint32_t word) {
    return (word - LowBits) & ~word & HighBits;
}

// Offset in the word of its first zero byte, given nonzero flags: low half first.
constexpr std::uint32_t FirstFlagged(std::uint32_t flags) {
    if ((flags & 0x8080u) != 0) {
        return (flags & 0x80u) != 0 ? 0 : 1;
    }
    return (flags & 0x800000u) != 0 ? 2 : 3;
}

} // namespace

const char* LocateKey(const char* text, const char* key) {
    std::uint32_t length = 0;
    while (key[length] != '\0') {
        ++length;
    }
    for (const char* candidate = text;; ++candidate) {
        std::uint32_t same = 0;
        while (same < length && candidate[same] == key[same]) {
            ++same;
        }
        if (same == length) {
            return candidate;
        }
        if (candidate[length] == '\0') {
            return nullptr;
        }
    }
}

// Word-at-a-time length, written here rather than taken from strlen: the Windows executable
// links no C runtime, so the program brings its own routines. Bytes are taken one at a time
// up to a 4-byte boundary, then in aligned words, four to a pass; an aligned word never
// crosses a page, so the scan cannot fault past the zero. The last word may hold up to three
// bytes past the text's storage, which the address sanitizer would flag, hence its exemption
// here.
[[gnu::no_sanitize_address]] std::uint32_t MeasureText(const char* text) {
    const char* byte = text;
    while ((reinterpret_cast<std::uintptr_t>(byte) & 3) != 0) {
        if (*byte == '\0') {
            return static_cast<std::uint32_t>(byte - text);
        }
        ++byte;
    }
    const TextWord* word = reinterpret_cast<const TextWord*>(byte);
    std::uint32_t flags;
    for (;;) {
        if ((flags = ZeroFlags(word[0])) != 0) {
            break;
        }
        if ((flags = ZeroFlags(word[1])) != 0) {
            word += 1;
            break;
        }
        if ((flags = ZeroFlags(word[2])) != 0) {
            word += 2;
            break;
        }
        if ((flags = ZeroFlags(word[3])) != 0) {
            word += 3;
            break;
        }
        word += 4;
    }
    const char* zero = reinterpret_cast<const char*>(word) + FirstFlagged(flags);
    return static_cast<std::uint32_t>(zero - text);
}

std::uint32_t PrintText(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, MeasureText(text), &written, nullptr);
    return written;
}

int AwaitKey() {
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
    do {
        Sleep(1);
    } while (_kbhit() == 0);
    return _getch();
}
