// Test-only helper, run under Wine beside keyreport.exe and never shipped: finds the open
// message box, reports what it shows and, if asked, presses its OK button.
//
//   box_probe look  <milliseconds>   waits up to that long for a box and reports it
//   box_probe press <milliseconds>   the same, then presses the box's button
//   box_probe count                  reports how many boxes are open now
//
// The report is lines "key=value": caption, text and button (the first button's text), read
// as Unicode and given as the hexadecimal bytes of their UTF-8, so that every character
// arrives exactly; acp, the ANSI code page; buttons (the count), button_id, and the places of
// the box and its button (left, top, right, bottom; button_left...). The exit code is 0 when
// a box was found (or counted), else 1.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char DialogClass[] = "#32770";

struct BoxFacts {
    HWND box;
    HWND button;
    std::uint32_t buttons;
    HWND text;
    std::uint32_t boxes; // open, of which box is the first found
};

void PutNumber(const char* key, long value) {
    std::printf("%s=%ld\n", key, value);
}

bool IsClass(HWND window, const char* name) {
    char found[64] = {};
    GetClassNameA(window, found, sizeof found);
    return lstrcmpiA(found, name) == 0;
}

BOOL CALLBACK NoteBox(HWND window, LPARAM facts) {
    BoxFacts& found = *reinterpret_cast<BoxFacts*>(facts);
    if (IsWindowVisible(window) && IsClass(window, DialogClass) && found.boxes++ == 0) {
        found.box = window;
    }
    return TRUE;
}

// The box's buttons and its text: the one static control that holds text (the icon, when
// there is one, is a static control without).
BOOL CALLBACK NoteChild(HWND child, LPARAM facts) {
    BoxFacts& box = *reinterpret_cast<BoxFacts*>(facts);
    const bool shown = IsWindowVisible(child);
    if (shown && IsClass(child, "Button") && box.buttons++ == 0) {
        box.button = child;
    } else if (shown && IsClass(child, "Static") && GetWindowTextLengthA(child) > 0) {
        box.text = child;
    }
    return TRUE;
}

BoxFacts FindBoxes() {
    BoxFacts boxes = {};
    EnumWindows(NoteBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

HWND AwaitBox(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    HWND box;
    while ((box = FindBoxes().box) == nullptr && GetTickCount() - start < milliseconds) {
        Sleep(20);
    }
    return box;
}

// A window's place on the screen as the fields prefix + left, top, right and bottom.
void PutPlace(const char* prefix, HWND window) {
    RECT place = {};
    GetWindowRect(window, &place);
    std::printf("%sleft=%ld\n%stop=%ld\n%sright=%ld\n%sbottom=%ld\n", prefix, place.left, prefix,
                place.top, prefix, place.right, prefix, place.bottom);
}

// A window's text as a key's field, read as UTF-16 and written as the hexadecimal bytes of its
// UTF-8; empty without a window.
void PutWindowText(const char* key, HWND window) {
    static WCHAR wide[1024];
    static char text[3 * 1024 + 1];
    wide[0] = L'\0';
    if (window != nullptr) {
        GetWindowTextW(window, wide, sizeof wide / sizeof wide[0]);
    }
    text[0] = '\0';
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    std::printf("%s=", key);
    for (const char* at = text; *at != '\0'; ++at) {
        std::printf("%02x", static_cast<unsigned char>(*at));
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "count") == 0) {
        PutNumber("boxes", FindBoxes().boxes);
        return 0;
    }
    if (argc != 3 || (std::strcmp(argv[1], "look") != 0 && std::strcmp(argv[1], "press") != 0)) {
        std::puts("usage: box_probe look|press <milliseconds> | box_probe count");
        return 2;
    }
    BoxFacts facts = {};
    facts.box = AwaitBox(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (facts.box == nullptr) {
        return 1;
    }
    EnumChildWindows(facts.box, NoteChild, reinterpret_cast<LPARAM>(&facts));
    PutWindowText("caption", facts.box);
    PutWindowText("text", facts.text);
    PutNumber("acp", GetACP());
    PutNumber("buttons", facts.buttons);
    PutWindowText("button", facts.button);
    PutNumber("button_id", facts.button != nullptr ? GetDlgCtrlID(facts.button) : 0);
    PutPlace("", facts.box);
    if (facts.button == nullptr) {
        return 0;
    }
    PutPlace("button_", facts.button);
    if (std::strcmp(argv[1], "press") == 0) {
        // What a click on the button tells the box; it then closes with that button's id.
        PostMessageA(facts.box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(facts.button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(facts.button));
    }
    return 0;
}
