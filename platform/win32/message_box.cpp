// The message box on Windows. A text that is valid UTF-8 and not plain ASCII, as a Test.txt
// saved as UTF-8 gives it, is shown in its own characters through the wide-character box. Any
// other text goes to MessageBoxA, which reads it in the ANSI code page, so that files saved in
// that code page show as they always have; among them, a text whose bytes beyond ASCII do not
// form UTF-8, which is what such files almost always hold.
#include "platform/platform.h"

namespace {

// Each byte of UTF-8 gives at most one UTF-16 unit, so a value of up to 255 bytes and its zero
// fit here. A longer text that does not fit goes to MessageBoxA.
constexpr int WideTextSize = 256;

bool IsPlainAscii(LPCSTR text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80) {
            return false;
        }
    }
    return true;
}

// The text as UTF-16, with its zero, into wide; false when it is not valid UTF-8 (or does not
// fit). Without MB_ERR_INVALID_CHARS a stray byte would become U+FFFD instead of failing.
bool WidenUtf8Text(LPCSTR text, LPWSTR wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, WideTextSize) != 0;
}

} // namespace

// The caption, when there is one, must then be valid UTF-8 as well (plain ASCII is), so that
// the one box reads both texts the same way; otherwise both go to MessageBoxA.
extern "C" int ShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    WCHAR wideText[WideTextSize];
    WCHAR wideCaption[WideTextSize];
    if (!IsPlainAscii(text) && WidenUtf8Text(text, wideText) &&
        (caption == nullptr || WidenUtf8Text(caption, wideCaption))) {
        return MessageBoxW(owner, wideText, caption == nullptr ? nullptr : wideCaption, type);
    }
    return MessageBoxA(owner, text, caption, type);
}
