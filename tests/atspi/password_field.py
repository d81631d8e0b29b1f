#!/usr/bin/python3
"""Reads the login page of the real program the way a screen reader does, over AT-SPI, and checks that
the password field is announced as one and never hands out the password.

Usage: password_field.py PROGRAM. Run it on a display with a session bus (xvfb-run, dbus-run-session).
Exit codes: 0 passed, 1 failed, 77 skipped (no accessibility bus to talk to).
"""
import sys
import tempfile
import time
import urllib.parse

from atspi_common import fail, pause, pyatspi, run_program, text_of, walk

PASSWORD = "Pelmo4826"  # what the login page holds at start
FIELD_NAMES = ("POS", "Host", "Username", "Password")


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
    with tempfile.TemporaryDirectory() as workdir:  # the program writes logs.txt where it runs
        run_program(sys.argv[1], check, workdir)


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
