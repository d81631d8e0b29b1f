#!/usr/bin/python3
"""Reads the login page of the real program the way a screen reader does, over AT-SPI, and checks that
the password field is announced as one and never hands out the password.

Usage: password_field.py PROGRAM. Run it on a display with a session bus (xvfb-run, dbus-run-session).
Exit codes: 0 passed, 1 failed, 77 skipped (no accessibility bus to talk to).
"""
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIP = 77
PASSWORD = "Pelmo4826"  # what the login page holds at start
FIELD_NAMES = ("POS", "Host", "Username", "Password")


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def fail(reason):
    print("FAIL: " + reason)
    sys.exit(1)


try:
    import pyatspi
    from gi.repository import GLib
except ImportError:
    skip("pyatspi is not installed (Debian: python3-pyatspi)")


def accessibility_bus_address():
    """The address of the accessibility bus, started on demand by the session bus; None without one."""
    try:
        reply = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply=literal",
                                "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                               check=True, capture_output=True, text=True, timeout=15)
    except (OSError, subprocess.SubprocessError):
        return None
    return reply.stdout.strip() or None


def walk(node, depth=0):
    """Every accessible below node, node included; a broken branch is left out."""
    if node is None or depth > 60:
        return
    yield node
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def pause(seconds):
    """Waits while letting the AT-SPI library take in what the bus announces (new applications
    among them); without it the desktop's list of applications is never brought up to date."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.05)


def find_application(pid, deadline):
    desktop = pyatspi.Registry.getDesktop(0)
    while time.monotonic() < deadline:
        for i in range(desktop.childCount):
            try:
                app = desktop.getChildAtIndex(i)
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        pause(0.25)
    return None


def text_of(node):
    try:
        text = node.queryText()
    except NotImplementedError:
        return ""
    return text.getText(0, -1)


def everything_said_about(node):
    """All that an assistive client can read from one accessible without acting on it."""
    said = [node.name or "", node.description or "", text_of(node)]
    try:
        said.append(str(node.queryValue().currentValue))
    except NotImplementedError:
        pass
    try:
        said.extend(str(v) for v in node.getAttributes())
    except Exception:
        pass
    return said


def main():
    if len(sys.argv) != 2:
        fail("usage: password_field.py PROGRAM")
    program = sys.argv[1]
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    with tempfile.TemporaryDirectory() as workdir:  # the program writes logs.txt where it runs
        # The program starts before the accessibility bus, as on a desktop where a screen reader is
        # turned on later. Started after it, Qt 5.15 may register with the bus before its connection to
        # it is up, and then stays off it for good ("Error in contacting registry").
        process = subprocess.Popen([program], cwd=workdir, env=env)
        try:
            time.sleep(2)
            if not accessibility_bus_address():
                skip("the accessibility bus (org.a11y.Bus) does not start on this session bus")
            try:
                pyatspi.Registry.getDesktop(0).childCount
            except Exception as error:
                skip("the AT-SPI registry does not answer: %s" % error)
            app = find_application(process.pid, time.monotonic() + 30)
            if process.poll() is not None:
                fail("the program ended with code %d before it could be read" % process.returncode)
            if app is None:
                fail("the program never showed up on the accessibility bus")
            check(app)
        finally:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def check(app):
    # The window builds its accessibles after it is shown; wait for the four fields of the login page.
    deadline = time.monotonic() + 30
    while True:
        nodes = list(walk(app))
        fields = [n for n in nodes if n.getRole() in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY,
                                                       pyatspi.ROLE_PASSWORD_TEXT)]
        if len(fields) >= len(FIELD_NAMES) or time.monotonic() > deadline:
            break
        pause(0.25)

    roles = sorted("%s %r" % (n.getRoleName(), n.name) for n in fields)
    print("text fields: " + "; ".join(roles))
    passwords = [n for n in fields if n.getRole() == pyatspi.ROLE_PASSWORD_TEXT]
    if len(passwords) != 1:
        fail("expected exactly one field with the password text role, found %d" % len(passwords))
    field = passwords[0]
    if not field.getState().contains(pyatspi.STATE_EDITABLE):
        fail("the password field is not announced as editable")
    others = [n for n in fields if n is not field]
    if len(others) < len(FIELD_NAMES) - 1:
        fail("expected the three other fields of the login page, found %d" % len(others))
    # The other fields read out what they hold: the check below would miss a password field that reads
    # nothing at all only because text could not be read here.
    if not any(text_of(n) == "admin" for n in others):
        fail("the user name field does not read out its text; the password check would prove nothing")

    encoded = urllib.parse.quote(PASSWORD, safe="")
    for node in nodes:
        for said in everything_said_about(node):
            if PASSWORD in said or encoded in said:
                fail("%s %r gives out the password: %r" % (node.getRoleName(), node.name, said))
    shown = text_of(field)
    print("the password field reads %r (%d characters)" % (shown, len(shown)))
    print("PASS: one password field, announced as such, and nothing reads out the password")


if __name__ == "__main__":
    main()
