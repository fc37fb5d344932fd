# Dumps an application's first window with dogtail and prints how long that took; the D-Bus
# calls are counted by bench/dbus-call-counter, preloaded into this interpreter.
import contextlib
import io
import sys
import time

from dogtail.config import config

# The session's toolkit accessibility is switched on through the accessibility bus, which
# dogtail's own check (a GNOME setting) does not look at.
config.checkForA11y = False
config.logDebugToFile = False
config.logDebugToStdOut = False
from dogtail import tree  # noqa: E402 (after the configuration)

app = tree.root.application(sys.argv[1] if len(sys.argv) > 1 else "gtk3-widget-factory")
window = app.children[0]
out = io.StringIO()
start = time.perf_counter()
with contextlib.redirect_stdout(out):
    window.dump()
took = time.perf_counter() - start
print("  dogtail dump of the window         %d lines  %8.1f ms" % (out.getvalue().count("\n"), took * 1000))
