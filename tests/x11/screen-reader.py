#!/usr/bin/python3
# What a screen-reader user meets, read through the real AT-SPI bus the way a screen reader reads
# it: names, roles and key bindings in the tree; the function keys pressed with the focus in the
# text area, checked at the null sink; the events for pause, resume and the status line; the caret
# following speech in Read Mode; and Options leaving nothing behind in the tree.
# Run by screen-reader.sh, which provides the X server, the buses and the sound server.
import subprocess
import sys
import threading
import time

import pyatspi

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def find_app(name):
    for _ in range(200):
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name and app.childCount > 0:
                return app
        time.sleep(0.05)
    sys.exit("the program did not appear on the accessibility bus")


def walk(acc):
    yield acc
    for child in acc:
        if child is not None:
            yield from walk(child)


def key_binding(acc):
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return ""
    return action.getKeyBinding(0) if action.nActions else ""


class Sink:
    """The null sink's monitor, recorded in 10 ms blocks: (time, loudest sample)."""

    def __init__(self):
        self.blocks = []
        self.rec = subprocess.Popen(
            ["parec", "-d", "test.monitor", "--raw", "--format=s16le", "--rate=48000",
             "--channels=1", "--latency-msec=10"], stdout=subprocess.PIPE)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            data = self.rec.stdout.read(960)
            if not data:
                return
            peak = max(abs(int.from_bytes(data[i:i + 2], "little", signed=True))
                       for i in range(0, len(data) - 1, 2))
            self.blocks.append((time.monotonic(), peak))

    def sounding_within(self, seconds):
        """True once sound is heard within `seconds` from now."""
        start = time.monotonic()
        while time.monotonic() - start < seconds:
            if any(t >= start and p > 300 for t, p in self.blocks[-20:]):
                return True
            time.sleep(0.01)
        return False

    def silent_for(self, seconds, within=1.0):
        """True once `seconds` of silence are heard, starting within `within` from now."""
        start = time.monotonic()
        while time.monotonic() - start < within + seconds:
            recent = [(t, p) for t, p in self.blocks if t >= start]
            quiet_since = None
            for t, p in recent:
                if p > 300:
                    quiet_since = None
                elif quiet_since is None:
                    quiet_since = t
            if quiet_since is not None and recent[-1][0] - quiet_since >= seconds:
                return True
            time.sleep(0.02)
        return False


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "60", *names], check=True)


events = []  # (time, type, role, name, detail1, any_data as text)


def on_event(event):
    try:
        role = event.source.getRoleName()
        name = event.source.name
    except Exception:
        role, name = "", ""
    events.append((time.monotonic(), event.type, role, name, event.detail1, str(event.any_data)))


def seen(since, kind, role=None, name=None, detail1=None, timeout=3.0):
    """Waits for an event of `kind` after `since` matching the others given."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        for t, k, r, n, d, _ in list(events):
            if (t >= since and k.startswith(kind) and (role is None or r == role)
                    and (name is None or n == name) and (detail1 is None or d == detail1)):
                return True
        time.sleep(0.02)
    return False


def drive(sink, window):
    """The keyboard user, on a thread of its own while the main loop collects the events."""
    try:
        keys("F5")
        check(sink.sounding_within(5), "F5 in the text area speaks")
        check(seen(0, "object:state-changed:showing", "notification", "Reading"),
              "the status line says \"Reading\"")

        since = time.monotonic()
        keys("F6")
        check(sink.silent_for(0.5), "F6 pauses: the sink goes silent")
        check(seen(since, "object:state-changed:checked", "push button", "Resume", 1),
              "the pause button becomes checked, named \"Resume\", with its event")
        check(seen(since, "object:state-changed:showing", "notification", "Paused"),
              "the status line says \"Paused\"")

        since = time.monotonic()
        keys("F6")
        check(sink.sounding_within(2), "F6 again resumes")
        check(seen(since, "object:state-changed:checked", "push button", "Pause", 0),
              "the pause button is unchecked again, named \"Pause\"")

        since = time.monotonic()
        keys("F7")
        check(sink.silent_for(0.5), "F7 stops")
        check(seen(since, "object:state-changed:showing", "notification", "Stopped"),
              "the status line says \"Stopped\"")

        # The media keys: play speaks, then pauses and resumes; stop stops.
        keys("XF86AudioPlay")
        check(sink.sounding_within(5), "the play key speaks")
        since = time.monotonic()
        keys("XF86AudioPlay")
        check(sink.silent_for(0.5) and
              seen(since, "object:state-changed:checked", "push button", "Resume", 1),
              "the play key again pauses, as the pause button does")
        keys("XF86AudioPlay")
        check(sink.sounding_within(2), "and once more resumes")
        keys("XF86AudioStop")
        check(sink.silent_for(0.5), "the stop key stops")

        # Read Mode: the caret follows the words heard.
        keys("F8")
        since = time.monotonic()
        keys("F5")
        check(sink.sounding_within(5), "F5 speaks in Read Mode")
        time.sleep(2.0)
        carets = [int(d) for t, k, r, _, d, _ in list(events)
                  if t >= since and k == "object:text-caret-moved" and r == "text"]
        check(len(set(carets)) >= 3 and carets == sorted(carets),
              f"in Read Mode the caret moves on with the words heard ({carets[:8]}...)")
        keys("F7", "F8")
        check(sink.silent_for(0.3), "F7 stops in Read Mode")

        # Options, five times, through the menu and closed with its OK (it ignores Escape).
        for _ in range(5):
            keys("alt+d", "o")
            opened = wait_window("^Options$", True)
            time.sleep(0.3)
            keys("Tab", "Tab", "space")  # from the slider past Test Settings to OK
            closed = wait_window("^Options$", False)
            if not (opened and closed):
                check(False, "Options opens and closes from the keyboard")
                break
        subprocess.run(["xdotool", "windowfocus", window], check=False)
    finally:
        pyatspi.Registry.stop()


def wait_window(pattern, present):
    for _ in range(100):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern],
                               capture_output=True, text=True).stdout.strip()
        if bool(found) == present:
            return True
        time.sleep(0.05)
    return False


def main():
    window = sys.argv[1]
    app = find_app("parlivo")
    frame = next(a for a in walk(app) if a.getRole() == pyatspi.ROLE_FRAME)

    # The tree: every control says what it does, and the keys that drive it.
    controls = {(a.getRoleName(), a.name): a for a in walk(frame)}
    expected = [("push button", "Speak all", "F5"), ("push button", "Pause", "F6"),
                ("push button", "Stop", "F7"), ("check box", "Read Mode, off", "F8"),
                ("push button", "Give Command", "F9")]
    for role, name, key in expected:
        acc = controls.get((role, name))
        check(acc is not None and key_binding(acc) == key,
              f"{role} \"{name}\" with key binding {key}" +
              ("" if acc is None else f" (has {key_binding(acc)!r})"))
    text = controls.get(("text", "Document text"))
    check(text is not None and "F5" in text.description,
          "the text area is \"Document text\" and its description lists the keys")
    mode = controls.get(("check box", "Read Mode, off"))
    check(mode is not None and "Space" in mode.description and "Escape" in mode.description,
          "Read Mode's description names its Space and Escape keys")
    document = text.queryText().getText(0, -1)

    # A screen reader listens for name changes too, and Qt sends only what someone listens for:
    # without it the names read back at an event would be stale.
    for kind in ["object:state-changed:checked", "object:state-changed:showing",
                 "object:text-caret-moved", "object:property-change:accessible-name"]:
        pyatspi.Registry.registerEventListener(on_event, kind)
    sink = Sink()
    threading.Thread(target=drive, args=(sink, window), daemon=True).start()
    pyatspi.Registry.start()
    sink.rec.terminate()

    check(text.queryText().getText(0, -1) == document, "no key typed into the text")
    dialogs = [a for a in app if a is not None and a.name == "Options"]
    check(not dialogs, f"no Options dialog left in the tree after five ({len(dialogs)})")
    if failures:
        print("events seen:")
        for t, k, r, n, d, a in events:
            if k != "object:text-caret-moved":
                print(f"    {t - events[0][0]:7.3f} {k} {r} {n!r} {d} {a}")
    print("PASS" if not failures else f"FAILED: {len(failures)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
