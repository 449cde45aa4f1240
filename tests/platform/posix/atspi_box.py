#!/usr/bin/python3
"""keyreport's box as a screen reader finds it:  atspi_box.py [BUTTON]

Waits up to 30 s for the application "keyreport" to show a window named "Error", writes its
labels but the title ("text: ...") and its push buttons ("buttons: OK"); given a BUTTON,
presses it by its action and waits until the box has gone. Exits 1 when any of that fails."""
import sys
import time

import pyatspi


def showing(accessible):
    try:
        return accessible.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # gone from the bus meanwhile
        return False


def find_box():
    apps = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "keyreport"]
    boxes = [w for app in apps for w in app if w and w.name == "Error" and showing(w)]
    return boxes[0] if boxes else None


def await_state(predicate):
    for _ in range(300):
        result = predicate()
        if result:
            return result
        time.sleep(0.1)
    return None


def main():
    box = await_state(find_box)
    if box is None:
        return "no box"
    found = lambda role: pyatspi.findAllDescendants(
        box, lambda a: a.getRole() == role and showing(a))
    for label in found(pyatspi.ROLE_LABEL):
        if label.name != box.name:  # a title bar's, where the window draws its own
            print("text: " + label.name)
    buttons = found(pyatspi.ROLE_PUSH_BUTTON)
    print("buttons: " + " ".join(button.name for button in buttons), flush=True)
    pressed = [b for b in buttons if len(sys.argv) > 1 and b.name == sys.argv[1]]
    if len(sys.argv) > 1 and not pressed:
        return "no button " + sys.argv[1]
    for button in pressed:
        button.queryAction().doAction(0)
        if not await_state(lambda: not showing(box)):
            return "the box stayed"
    return 0


if __name__ == "__main__":
    sys.exit(main())
