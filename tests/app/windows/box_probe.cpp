// Test-only helper, run under Wine beside keyreport.exe and never shipped: finds the open
// message box, reports what it shows and, if asked, presses its OK button.
//
//   box_probe look  <milliseconds>   waits up to that long for a box and reports it
//   box_probe press <milliseconds>   the same, then presses the box's button
//   box_probe count                  reports how many boxes are open now
//
// The report goes to standard output as lines "key=value": caption, text and button (the
// first button's text), each read as Unicode text and given as the hexadecimal bytes of its
// UTF-8 form, so that every character arrives exactly as the box holds it; acp, the ANSI code
// page in which a box reads a text of bytes; buttons (the count), button_id, the box's place
// on the screen as left, top, right, bottom, and its button's as button_left, button_top,
// button_right, button_bottom. The exit code is 0 when a box was found (or counted), else 1.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char DialogClass[] = "#32770";

struct BoxFacts {
    HWND box;
    HWND button;
    std::uint32_t buttons;
    HWND text;
};

void Put(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
              &written, nullptr);
}

void PutField(const char* key, const char* value) {
    Put(key);
    Put("=");
    Put(value);
    Put("\n");
}

void PutHex(const char* key, const char* value) {
    static char digits[2 * 4096 + 1];
    constexpr char Hex[] = "0123456789abcdef";
    char* at = digits;
    for (; *value != '\0'; ++value) {
        const auto byte = static_cast<unsigned char>(*value);
        *at++ = Hex[byte >> 4];
        *at++ = Hex[byte & 15];
    }
    *at = '\0';
    PutField(key, digits);
}

void PutNumber(const char* key, long value) {
    char digits[24];
    _ltoa(value, digits, 10);
    PutField(key, digits);
}

bool IsClass(HWND window, const char* name) {
    char found[64] = {};
    GetClassNameA(window, found, sizeof found);
    return lstrcmpiA(found, name) == 0;
}

BOOL CALLBACK CountBox(HWND window, LPARAM count) {
    if (IsWindowVisible(window) && IsClass(window, DialogClass)) {
        ++*reinterpret_cast<std::uint32_t*>(count);
    }
    return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
    if (IsWindowVisible(window) && IsClass(window, DialogClass)) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The box's buttons and its text: the one static control that holds text (the icon, when
// there is one, is a static control without).
BOOL CALLBACK NoteChild(HWND child, LPARAM facts) {
    BoxFacts& box = *reinterpret_cast<BoxFacts*>(facts);
    if (!IsWindowVisible(child)) {
        return TRUE;
    }
    if (IsClass(child, "Button")) {
        if (box.buttons++ == 0) {
            box.button = child;
        }
    } else if (IsClass(child, "Static") && GetWindowTextLengthA(child) > 0) {
        box.text = child;
    }
    return TRUE;
}

HWND AwaitBox(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND box = nullptr;
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            return box;
        }
        if (GetTickCount() - start >= milliseconds) {
            return nullptr;
        }
        Sleep(20);
    }
}

// A window's place on the screen as the fields prefix + left, top, right and bottom.
void PutPlace(const char* prefix, HWND window) {
    RECT place = {};
    GetWindowRect(window, &place);
    const char* const names[] = {"left", "top", "right", "bottom"};
    const long sides[] = {place.left, place.top, place.right, place.bottom};
    for (std::uint32_t i = 0; i < 4; ++i) {
        char key[32];
        lstrcpyA(key, prefix);
        lstrcatA(key, names[i]);
        PutNumber(key, sides[i]);
    }
}

// A window's text as a key's field, read as UTF-16 and written as UTF-8; empty without a window.
void PutWindowText(const char* key, HWND window) {
    // Each UTF-16 unit gives at most three bytes of UTF-8, so any text read fits PutHex.
    static WCHAR wide[1024];
    static char text[3 * 1024 + 1];
    wide[0] = L'\0';
    if (window != nullptr) {
        GetWindowTextW(window, wide, sizeof wide / sizeof wide[0]);
    }
    text[0] = '\0';
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    PutHex(key, text);
}

void ReportBox(const BoxFacts& facts) {
    PutWindowText("caption", facts.box);
    PutWindowText("text", facts.text);
    PutNumber("acp", GetACP());
    PutNumber("buttons", facts.buttons);
    PutWindowText("button", facts.button);
    PutNumber("button_id", facts.button != nullptr ? GetDlgCtrlID(facts.button) : 0);
    PutPlace("", facts.box);
    if (facts.button != nullptr) {
        PutPlace("button_", facts.button);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "count") == 0) {
        std::uint32_t count = 0;
        EnumWindows(CountBox, reinterpret_cast<LPARAM>(&count));
        PutNumber("boxes", count);
        return 0;
    }
    if (argc != 3 || (std::strcmp(argv[1], "look") != 0 && std::strcmp(argv[1], "press") != 0)) {
        Put("usage: box_probe look|press <milliseconds> | box_probe count\n");
        return 2;
    }
    BoxFacts facts = {};
    facts.box = AwaitBox(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (facts.box == nullptr) {
        return 1;
    }
    EnumChildWindows(facts.box, NoteChild, reinterpret_cast<LPARAM>(&facts));
    ReportBox(facts);
    if (std::strcmp(argv[1], "press") == 0 && facts.button != nullptr) {
        // What a click on the button tells the box; it then closes with that button's id.
        PostMessageA(facts.box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(facts.button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(facts.button));
    }
    return 0;
}
