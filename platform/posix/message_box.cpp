// Message box: a modal box on the desktop where there is one; otherwise, or when the box
// cannot be shown, the text and a line feed on standard error (escaped on a terminal), so
// that no text is lost. The program's boxes have a text, no caption of their own (Windows
// then shows "Error", as the desktop box does) and the OK button alone.
#include "platform/posix/desktop_box.h"
#include "platform/posix/posix.h"

extern "C" int ShowMessageBox(HWND, LPCSTR text, LPCSTR, UINT) {
    if (!ShowDesktopBox(text)) {
        WriteValueLine(text);
    }
    return IDOK;
}
