"""What the AT-SPI checks share: starting the real program where an accessibility bus can see it, finding
it on the bus, and walking its tree of accessibles. Exit codes: 0 passed, 1 failed, 77 skipped."""
import os
import subprocess
import sys
import time

SKIP = 77


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


def wait_for(condition, what, seconds=30):
    """Polls condition, letting the bus's news in between, until it gives something true."""
    deadline = time.monotonic() + seconds
    while True:
        found = condition()
        if found:
            return found
        if time.monotonic() > deadline:
            fail("timed out waiting for " + what)
        pause(0.25)


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


def run_program(program, check, workdir):
    """Starts program in workdir with accessibility on and calls check with its application accessible;
    the program ends with this function."""
    env = dict(os.environ, QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
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
