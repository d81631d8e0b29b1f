#!/usr/bin/python3
"""Walks the login, recordings and receipts pages of the real program the way a screen reader does, over
AT-SPI, against the simulated servers, and lists every control that can take the keyboard with its role
and name. Fails when one has no name.

Usage: inventory.py PROGRAM SIMULATOR. Run it on a display with a session bus (see run.sh); the keys it
types go through xdotool. Exit codes: 0 passed, 1 failed, 77 skipped (no accessibility bus to talk to).
"""
import shutil
import subprocess
import sys
import tempfile

from atspi_common import fail, pause, pyatspi, run_program, skip, wait_for, walk


def state(node, which):
    try:
        return node.getState().contains(which)
    except Exception:
        return False


def find(app, role, name):
    for node in walk(app):
        try:
            if node.getRoleName() == role and node.name == name and state(node, pyatspi.STATE_SHOWING):
                return node
        except Exception:
            continue
    return None


def control(app, role, name):
    """The control of that role and name once it is on screen; a list can show its items before the
    list itself is reported as showing."""
    return wait_for(lambda: find(app, role, name), "%s %r" % (role, name))


def act(node, action):
    actions = node.queryAction()
    for i in range(actions.nActions):
        if actions.getName(i) == action:
            actions.doAction(i)
            return
    fail("%s %r cannot %s" % (node.getRoleName(), node.name, action))


def keys(*names):
    subprocess.run(["xdotool", "key"] + list(names), check=True)


def type_into(node, text):
    act(node, "SetFocus")
    pause(0.3)
    keys("ctrl+a")
    subprocess.run(["xdotool", "type", "--delay", "10", text], check=True)


def inventory(app, page):
    """Prints the focusable controls on screen with role and name; fails on any focusable one, on
    screen or not, that has no name."""
    print("== " + page)
    unnamed = []
    for node in walk(app):
        if not state(node, pyatspi.STATE_FOCUSABLE):
            continue
        role, name = node.getRoleName(), node.name or ""
        if not name.strip():
            unnamed.append(role)
        if state(node, pyatspi.STATE_SHOWING):
            print("%s | %s" % (role, name))
    if unnamed:
        fail("on the %s, unnamed: %s" % (page, ", ".join(unnamed)))


def check(app, pos, vms):
    wait_for(lambda: find(app, "push button", "Login"), "the login page")
    inventory(app, "login page")

    # The keys go to the window that has the X input focus; without a window manager nobody gives it.
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(app.get_process_id()),
                    "--name", "^Tillmark$", "windowfocus", "--sync"], check=True)
    type_into(control(app, "text", "POS"), pos)
    type_into(control(app, "text", "Host"), vms)
    act(control(app, "push button", "Login"), "Press")

    # A camera, so that the day, the time fields and the timeline show.
    wait_for(lambda: find(app, "list item", "Car Park"), "the cameras")
    act(control(app, "list", "Cameras"), "SetFocus")
    pause(0.3)
    keys("Down")
    wait_for(lambda: find(app, "chart", "Timeline, nothing selected"), "the timeline")
    inventory(app, "recordings page")

    # The receipts that mention coffee.
    act(control(app, "page tab", "Receipts"), "SetFocus")
    pause(0.3)
    keys("space")
    type_into(control(app, "text", "Search text"), "coffee")
    keys("Return")
    wait_for(lambda: any(n.getRoleName() == "list item" and "coffee" in (n.name or "").lower()
                         for n in walk(app) if state(n, pyatspi.STATE_SHOWING)), "the receipts found")
    inventory(app, "receipts page")
    print("PASS: every control that takes the keyboard has a name")


def main():
    if len(sys.argv) != 3:
        fail("usage: inventory.py PROGRAM SIMULATOR")
    if not shutil.which("xdotool"):
        skip("xdotool is not installed")
    sim = subprocess.Popen([sys.argv[2], "--vms-port", "0", "--pos-port", "0", "--seed", "3", "--exit-with-stdin"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        ports = {}
        while len(ports) < 2:
            line = sim.stdout.readline()
            if not line:
                fail("the simulated servers did not start")
            server, _, address = line.strip().partition(" listening on ")
            ports[server] = address
        with tempfile.TemporaryDirectory() as workdir:  # the program writes logs.txt where it runs
            run_program(sys.argv[1], lambda app: check(app, ports["POS"], ports["VMS"]), workdir)
    finally:
        sim.terminate()
        sim.wait()


if __name__ == "__main__":
    main()
