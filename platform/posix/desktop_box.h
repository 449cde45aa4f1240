// The message box on a Linux desktop.
#pragma once

// Shows a modal box with the text, the caption "Error" and one OK button, from a process of
// its own, and returns once the user has closed it. Returns false when the box was not seen
// through: when there is no display, when no toolkit library can be loaded or shows the box,
// when the box's process ended any other way (its display lost, a crash) or the box could
// show only the text's start. The caller then has to show the text some other way.
bool ShowDesktopBox(const char* text);
