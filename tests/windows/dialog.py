"""The Windows dialog under Wine, on a display with a window manager: the
About box from the system menu, a key typed ahead of the message box that
must not close it, Enter runs and Escape closes."""

import os
import subprocess
import sys
import tempfile
import time

WINE = os.environ["DRAVELKENT_WINE"].split()


def find(name, present=True):  # waits up to 10 s for a window of |name|
    for _ in range(50):
        found = subprocess.run(["xdotool", "search", "--name", name],
                               capture_output=True).stdout.split()
        if bool(found) == present:
            return found
        time.sleep(0.2)
    sys.exit(f"window {name!r} {'not ' if present else ''}found")


def key(*keys):
    subprocess.run(["xdotool", "key", *keys], check=True)


os.chdir(tempfile.mkdtemp())
for folder in ("logs", "archive"):
    os.mkdir(folder)
open("Dravelkent.ini", "wb").write(
    "[基本]\r\nVIEW=On\r\nMESSAGE=On\r\nTIMESTAMP=00000000\r\n[設定]\r\n"
    "01DIRNAMEFROM=logs\r\n01DIRNAMETO=archive\r\n01FILENAME=app\r\n"
    "01KIND=log\r\n".encode())
for last_key, moved in (("Escape", []), ("Return", ["app.log"])):
    open("logs/app.log", "w").write("log")
    program = subprocess.Popen([*WINE, os.environ["DRAVELKENT_BIN"]])
    dialog = find("^Dravelkent$")[0]  # shown; keys go to it once active
    subprocess.run(["xdotool", "windowactivate", "--sync", dialog])
    time.sleep(1)  # and Wine has taken the focus
    if moved:
        key("alt+space", "End", "Return")  # the system menu's last entry
        find("ﾊﾞｰｼﾞｮﾝ情報")
        key("Return")
        find("ﾊﾞｰｼﾞｮﾝ情報", present=False)
        subprocess.run(["import", "-window", "root",
                        os.environ["DRAVELKENT_SCREENSHOT"]])
        key("Return")
        time.sleep(0.08)
        key("Return")  # typed ahead: the box stays
        time.sleep(1.5)
        find("^確認$")
    key(last_key)
    assert program.wait(timeout=20) == 0
    assert [n[8:] for n in os.listdir("archive")] == moved, os.listdir(".")
