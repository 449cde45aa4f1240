// LocateKey over any key and text laid out as the run lays it out; what must hold is in
// docs/testing.md. Input: one byte that gives the key's length, the key, then the text. The key
// ends early at a zero byte, as a zero-terminated key does.
#include "tests/support/reference.h"
#include "text/text.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::size_t keyLength = std::min<std::size_t>(data[0], size - 1);
    const std::string key(std::string(bytes + 1, keyLength).c_str());
    const std::size_t loaded = std::min<std::size_t>(size - 1 - keyLength, 500);
    std::vector<char> text(bytes + 1 + keyLength, bytes + 1 + keyLength + loaded);
    text.resize(loaded + 256, '\0');
    text.shrink_to_fit();

    const char* found = LocateKey(text.data(), key.c_str());
    const long expected = ReferenceLocate(std::string(text.data(), text.size()), key);
    if (found == nullptr ? expected != -1 : found - text.data() != expected) {
        std::abort();
    }
    return 0;
}
