// Message box: a modal box on the desktop where there is one; otherwise, or when the box
// cannot be shown, the text and a line feed on standard error, so that no text is lost.
#include "platform/posix/desktop_box.h"
#include "platform/posix/posix.h"

#include <cstring>

namespace {
constexpr char DefaultCaption[] = "Error"; // what Windows shows for a box without a caption
}

extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    const char* shownText = text != nullptr ? text : "";
    if (ShowDesktopBox(shownText, caption != nullptr ? caption : DefaultCaption)) {
        return IDOK;
    }
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    WriteFile(error, shownText, static_cast<DWORD>(std::strlen(shownText)), nullptr, nullptr);
    WriteFile(error, "\n", 1, nullptr, nullptr);
    return IDOK;
}
