"""The Windows zip, and the installer under Wine: a silent install, the
installed console program, a reinstall, a silent uninstall."""

import glob
import os
import shutil
import subprocess
import tempfile
import time
import zipfile

C = os.environ["WINEPREFIX"] + "/drive_c/"
FILES = {"dravelkent.exe", "dravelkentw.exe", "Dravelkent.ini", "README.md",
         "copyright"}


def run(*args):
    return subprocess.run([*os.environ["DRAVELKENT_WINE"].split(), *args],
                          capture_output=True, timeout=120)


out = tempfile.mkdtemp()
subprocess.run([os.environ["CPACK_COMMAND"], "-B", out], check=True,
               capture_output=True, cwd=os.environ["DRAVELKENT_BUILD_DIR"])
packed = {n.split("/", 1)[1] for n in zipfile.ZipFile(
    glob.glob(out + "/*.zip")[0]).namelist()}
assert packed == FILES, packed
installed, sample = C + "Program Files/Dravelkent/", "packaging/Dravelkent.ini"
roaming = glob.glob(C + "users/*/AppData/Roaming/")[0]
folder = roaming + "Dravelkent/"  # the settings of the Start menu entry
entry = roaming + "Microsoft/Windows/Start Menu/Programs/Dravelkent.lnk"
shutil.rmtree(folder, ignore_errors=True)
for settings in (None, b"[\x8a\xee\x96\x7b]\r\nVIEW=Off\r\n"):  # CP932
    if settings:  # a reinstall keeps them
        open(folder + "Dravelkent.ini", "wb").write(settings)
    assert run(glob.glob(out + "/*.exe")[0], "/S").returncode == 0
    assert set(os.listdir(installed)) == FILES | {"Uninstall.exe"}
    assert open(folder + "Dravelkent.ini", "rb").read() == (
        settings or open(sample, "rb").read())
    assert "Roaming\\Dravelkent".encode("utf-16-le") in open(entry, "rb").read()
    version = run(installed + "dravelkent.exe", "--version").stdout
    assert version == b"Dravelkent Version %s\n" % os.environ[
        "DRAVELKENT_VERSION"].encode(), version
    dry = run(installed + "dravelkent.exe", "-n", "-C",
              "C:\\" + folder[len(C):].replace("/", "\\"))
    assert (dry.returncode, dry.stderr) == (0, b""), dry
    assert b"TIMESTAMP=" in dry.stdout, dry.stdout
run(installed + "Uninstall.exe", "/S")  # it goes on in a copy of its own
for _ in range(100):
    if not os.path.exists(installed):
        break
    time.sleep(0.2)
assert not os.path.exists(installed) and not os.path.exists(entry)
assert os.listdir(folder) == ["Dravelkent.ini"]  # the user's settings stay
shutil.rmtree(folder)
shutil.rmtree(out)
