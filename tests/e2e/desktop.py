# A private desktop for the real program: an X server and a session bus, which starts the
# accessibility bus when asked. Importing this module runs the script again inside it, with a
# home folder of its own that holds its temporary files and sockets and goes with it: nothing
# there meets the user's own desktop, settings or sound.
import os, subprocess, sys, tempfile

if "MOJITAN_DESKTOP" not in os.environ:
    with tempfile.TemporaryDirectory() as home:
        private = dict(
            MOJITAN_DESKTOP="1",
            HOME=home,
            TMPDIR=home,
            XDG_RUNTIME_DIR=home,
            XDG_SESSION_TYPE="wayland",  # with no compositor to reach: the game must pick X
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
        )
        desktop = "xvfb-run -a dbus-run-session".split() + [sys.executable]
        sys.exit(subprocess.call(desktop + sys.argv, env=os.environ | private))
