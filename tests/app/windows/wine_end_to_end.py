#!/usr/bin/env python3
"""keyreport.exe through the report cases under Wine, each in a console of its own, used the
way a person uses it: see docs/windows.md."""

import errno
import functools
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from cases import (HELD_READING, HELD_WRITING, KEY_IN_BOX, LINE_BREAK, PICTURE, PROMPT,
                   CaseFailure, case_folder, expect, expect_run, parse_arguments, read_expected,
                   run_cases, shown)

DEFAULT_CAPTION = b"Error"  # Wine's caption for a box given none
RUN_BAT = b"keyreport.exe > out.bin\r\necho %errorlevel% > rc.txt\r\n"

QUIET = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# How long to wait for the program to get somewhere, and how long to watch that it stays
# where it is. Wine is slow to start and to hand over after a box closes.
REACH_SECONDS = 30.0
HOLD_SECONDS = 1.0
SKIPPED = 77  # ctest counts the test as skipped, not passed
# Wine's loaders on Debian: the 32-bit one (wine32:i386) is itself a 32-bit x86 program, as
# every 32-bit Wine process is; the 64-bit one (wine64) runs 64-bit Windows programs alone.
LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}


def why_wine_cannot_run(build):
    """Why this build's Wine cannot run here, or None. The 32-bit Wine is optional: it may not
    be installable, and a kernel without 32-bit emulation refuses every 32-bit program with
    ENOEXEC. KEYREPORT_WINE32=off stands in for such a machine: no Wine process is started."""
    if build == "win32" and os.environ.get("KEYREPORT_WINE32") == "off":
        return "KEYREPORT_WINE32=off: 32-bit Wine is not to be used"
    loader = LOADERS[build]
    if not os.path.exists(loader):
        if build == "win32":
            return "32-bit Wine is not installed (Debian package wine32:i386)"
        raise RuntimeError("%s is missing: install the Debian package wine64" % loader)
    try:
        subprocess.run([loader, "--version"], timeout=120, check=False, **QUIET)
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return ("this machine's kernel does not run 32-bit x86 programs (32-bit emulation "
                    "is off), so 32-bit Wine cannot start")
        raise
    return None


# Wine's light theme, on in a new prefix, draws a push button flat with a border of this colour
# only for a program whose manifest asks for Common-Controls 6, else the classic grey one. The
# border must cover at least a quarter of the button's outline.
THEMED_BORDER = (0x30, 0x96, 0xFA)


class Session:
    """Xvfb, one Wine prefix and the helper programs, for the whole run."""

    def __init__(self, args, root):
        self.args = args
        # WINELOADER: the loader every Wine process of this prefix is started with.
        self.env = dict(os.environ, WINEPREFIX=os.path.join(root, "prefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH=args.build,
                        WINELOADER=LOADERS[args.build])
        self.xvfb = None

    def start(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                      "1024x768x24", "-nolisten", "tcp"], pass_fds=[write_end],
                                     **QUIET)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number
        started = time.monotonic()
        # A server left over from an earlier prefix in the same place can refuse the first
        # try while it shuts down.
        for attempt in range(3):
            booted = subprocess.run(self.command("wineboot", "--init"), env=self.env, **QUIET)
            if booted.returncode == 0:
                break
            time.sleep(2)
        else:
            raise RuntimeError("wineboot failed with code %d" % booted.returncode)
        subprocess.run(["wineserver", "--wait"], env=self.env, **QUIET)
        # Keep one server up for the whole run rather than one per case.
        subprocess.run(["wineserver", "--persistent"], env=self.env, check=True)
        print("Wine prefix ready in %.1f s" % (time.monotonic() - started), flush=True)
        # With no window manager on the display, Wine draws the frame and caption itself.
        self.wine(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                   "/d", "N", "/f"])

    def stop(self):
        subprocess.run(["wineserver", "--kill"], env=self.env, **QUIET)
        if self.xvfb is not None:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait()

    def command(self, *words):
        """A command line that runs a Windows program with this build's Wine loader."""
        return [LOADERS[self.args.build]] + list(words)

    def wine(self, command, cwd=None):
        result = subprocess.run(self.command(*command), env=self.env, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return result.returncode, result.stdout

    def probe(self, mode, *milliseconds):
        """Runs box_probe; returns its fields, or None when it found no box."""
        code, out = self.wine([self.args.box_probe, mode] + [str(m) for m in milliseconds])
        if code != 0:
            return None
        fields = dict(line.split("=", 1) for line in out.decode("ascii").splitlines())
        for key in ("caption", "text", "button"):
            if key in fields:
                fields[key] = bytes.fromhex(fields[key])
        return fields

    def open_boxes(self):
        return int(self.probe("count")["boxes"])

    def xdotool(self, *command):
        return subprocess.run(["xdotool"] + list(command), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout

    def capture(self, box, prefix, output):
        """The screen inside the place the probe gave as prefix + left, top, right and bottom,
        written as ImageMagick's output names it (a file, or "rgb:-" for the bytes)."""
        left, top = int(box[prefix + "left"]), int(box[prefix + "top"])
        width, height = int(box[prefix + "right"]) - left, int(box[prefix + "bottom"]) - top
        return subprocess.run(["import", "-window", "root", "-crop",
                               "%dx%d+%d+%d" % (width, height, left, top), "+repage", "-strip",
                               "-depth", "8", output], env=self.env, check=True,
                              stdout=subprocess.PIPE).stdout

    def themed_button_pixels(self, box):
        """How many pixels of the box's button have the themed border's colour."""
        rgb = self.capture(box, "button_", "rgb:-")
        return sum(1 for at in range(0, len(rgb) - 2, 3)
                   if all(abs(rgb[at + k] - THEMED_BORDER[k]) <= 24 for k in range(3)))


class Run:
    """One run of keyreport.exe in its own folder and console."""

    def __init__(self, session, folder):
        self.session = session
        self.out = os.path.join(folder, "out.bin")
        self.rc = os.path.join(folder, "rc.txt")
        self.window = None
        self.console = subprocess.Popen(session.command("wineconsole", "cmd", "/c", "run.bat"),
                                        cwd=folder, env=session.env, **QUIET)

    def output(self):
        try:
            with open(self.out, "rb") as out:
                return out.read()
        except FileNotFoundError:
            return b""

    def ended(self):
        return os.path.exists(self.rc)

    def reach(self, condition, what):
        deadline = time.monotonic() + REACH_SECONDS
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.1)
        raise CaseFailure("timed out waiting for %s; output so far %s"
                          % (what, shown(self.output())))

    def hold(self, what):
        """The run stays where it is: no more output and no exit for a while."""
        before = self.output()
        time.sleep(HOLD_SECONDS)
        after = self.output()
        expect(after == before, "output went on while %s: %s" % (what, shown(after[len(before):])))
        expect(not self.ended(), "the run ended while %s" % what)

    def press_key(self, key):
        """A key press on the console window, which first gets the input focus."""
        if self.window is None:
            found = self.session.xdotool("search", "--name", r"cmd[.]exe").split()
            expect(found, "no console window on the display")
            self.window = found[0].decode()
        # A click in the console window makes it the active window, as a person would.
        self.session.xdotool("mousemove", "--window", self.window, "40", "40", "click", "1")
        time.sleep(0.3)
        self.session.xdotool("key", "--window", self.window, key)

    def finish(self):
        try:
            self.console.wait(timeout=REACH_SECONDS)
        except subprocess.TimeoutExpired:
            pass  # killed at the end of the case


def await_box(session, run):
    """The open box's report, or None once the run has gone past where it would be."""
    deadline = time.monotonic() + REACH_SECONDS
    while time.monotonic() < deadline:
        box = session.probe("look", 2000)
        if box is not None:
            return box
        if PROMPT in run.output() or run.ended():
            return None
    return None


def run_case(session, root, number, contents, extras):
    folder = case_folder(root, number, contents)
    shutil.copy(session.args.exe, os.path.join(folder, "keyreport.exe"))
    with open(os.path.join(folder, "run.bat"), "wb") as bat:
        bat.write(RUN_BAT)

    holder = None
    if extras & {HELD_READING, HELD_WRITING}:
        mode = "write" if HELD_WRITING in extras else "read"
        holder = subprocess.Popen(session.command(session.args.hold_file, "Test.txt", mode),
                                  cwd=folder, env=session.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        if holder.stdout.readline().strip() != b"held":
            holder.wait()
            raise RuntimeError("hold_file could not open Test.txt")

    run = Run(session, folder)
    try:
        # The first output: a dump line (its address fixes the rest) or the prompt.
        run.reach(lambda: len(run.output()) >= len(PROMPT) or run.ended(), "the first output")
        # The reference takes the text buffer's address from the output so far.
        code, out = session.wine([session.args.reference, "Test.txt", "out.bin"], cwd=folder)
        if code != 0:
            raise RuntimeError("reference_run failed")
        expected = read_expected(out)
        console, boxes, _, before_key = expected
        expect(console.endswith(PROMPT + LINE_BREAK), "reference output lacks the prompt")

        texts, at_boxes = [], []  # compared once the run has ended
        for index in range(len(boxes)):
            box = await_box(session, run)
            expect(box is not None, "message box %d did not open; output %s"
                   % (index + 1, shown(run.output())))
            texts.append(box["text"].decode("utf-8", "replace"))
            at_boxes.append(run.output())
            expect(box["caption"] == DEFAULT_CAPTION, "box %d caption %s"
                   % (index + 1, shown(box["caption"])))
            expect(box["buttons"] == "1" and box["button"] == b"OK" and box["button_id"] == "1",
                   "box %d buttons: %s of them, first %s (id %s)"
                   % (index + 1, box["buttons"], shown(box["button"]), box["button_id"]))
            expect(session.open_boxes() == 1, "more than one box open")
            run.hold("box %d is open" % (index + 1))
            if index == 0:
                width = int(box["button_right"]) - int(box["button_left"])
                height = int(box["button_bottom"]) - int(box["button_top"])
                themed = session.themed_button_pixels(box)
                expect(themed >= (width + height) // 2,
                       "box 1's button is not drawn themed (%d pixels of its border colour): "
                       "the manifest's Common-Controls 6 did not take effect" % themed)
                if PICTURE in extras and session.args.screenshot:
                    session.capture(box, "", session.args.screenshot)
            if KEY_IN_BOX in extras and index == len(boxes) - 1:
                run.press_key("x")
                time.sleep(0.5)
                expect(session.open_boxes() == 1, "a key on the console closed the box")
            expect(session.probe("press", 1000) is not None, "box %d vanished" % (index + 1))
            run.reach(lambda: session.open_boxes() == 0, "box %d to close" % (index + 1))

        run.reach(lambda: run.output() == before_key or run.ended(), "the prompt")
        waiting = run.output()
        expect(session.open_boxes() == 0, "a box is open at the prompt")
        run.hold("waiting for a key at the prompt")

        run.press_key("y")
        run.reach(run.ended, "the end of the run after a key press")
        run.finish()
        with open(run.rc, "rb") as rc:
            code = rc.read().strip().decode("ascii", "replace")
        expect_run(expected, texts, at_boxes, waiting, run.output(), code,
                   " (ANSI code page %s)" % box["acp"] if boxes else "")
        return "%d boxes" % len(boxes)
    finally:
        for process in (run.console, holder):
            if process is not None and process.poll() is None:
                process.kill()
                process.wait()


def main():
    args = parse_arguments(__doc__, LOADERS, {
        "exe": "keyreport.exe", "box-probe": "box_probe.exe", "reference": "reference_run.exe",
        "hold-file": "hold_file.exe"}, {
        "screenshot": "PNG of the first box of a UTF-8 case",
        "work": "folder for the prefix and the cases (default: temporary)"})
    reason = why_wine_cannot_run(args.build)
    if reason:
        print("SKIP: %s; no case was run" % reason, flush=True)
        return SKIPPED

    root = args.work or tempfile.mkdtemp(prefix="keyreport-wine-")
    if args.work:
        # A server may still run for the previous prefix here.
        subprocess.run(["wineserver", "--kill"],
                       env=dict(os.environ, WINEPREFIX=os.path.join(root, "prefix")), **QUIET)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
    session = Session(args, root)
    try:
        session.start()
        return run_cases(args.only, functools.partial(run_case, session, root))
    finally:
        session.stop()
        if not args.work:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
