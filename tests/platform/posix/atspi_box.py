#!/usr/bin/python3
"""keyreport's box as a screen reader finds it on the accessibility bus.

    atspi_box.py [BUTTON]

Waits up to 30 s for the application "keyreport" to show a box titled "Error" and writes its
text (the labels that show, but a title bar's, one per line) and then its push buttons
("buttons: OK"). Given a BUTTON, it then presses the button of that name with its action and
waits until the box has gone. Exits 1 when no box shows, the button is missing, or the box
stays.
"""
import sys
import time

import pyatspi

BOX_ROLES = (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG, pyatspi.ROLE_FRAME)


def showing(accessible):
    try:
        return accessible.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # gone from the bus meanwhile
        return False


def find_box():
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.name != "keyreport":
            continue
        for window in app:
            if window is not None and window.getRole() in BOX_ROLES and \
                    window.name == "Error" and showing(window):
                return window
    return None


def descendants(box, role):
    return pyatspi.findAllDescendants(box, lambda a: a.getRole() == role and showing(a))


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
        print("no box")
        return 1
    for label in descendants(box, pyatspi.ROLE_LABEL):
        if label.name != box.name:  # the title, on a window that draws its own title bar
            print("text: " + label.name)
    buttons = descendants(box, pyatspi.ROLE_PUSH_BUTTON)
    print("buttons: " + " ".join(button.name for button in buttons))
    sys.stdout.flush()
    if len(sys.argv) < 2:
        return 0
    for button in buttons:
        if button.name == sys.argv[1]:
            action = button.queryAction()
            action.doAction(0)
            break
    else:
        print("no button " + sys.argv[1])
        return 1
    if not await_state(lambda: not showing(box)):
        print("the box stayed")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
