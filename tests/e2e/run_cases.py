#!/usr/bin/env python3
"""Runs the end-to-end cases of cases.txt (all, or those named) against
DRAVELKENT_BIN, each in a scratch folder on its date. Exits 0, 1 when a
case failed, 77 when one cannot run here (1 with DRAVELKENT_E2E_STRICT=1).

A case is "== NAME [date=Y-M-D] [user=nobody] [dirmode=OCT] [tmpfs=DIR]
[args=A,B] [status=N] [enc=cp932] [crlf] [keep]", then lines of items (" | "
parts a line in several) marked
  | a settings line; "NN[..MM] FROM TO NAME KIND DAYS" are jobs NN to MM
  ^ the settings file afterwards, exactly   ~ a line it must hold
  < an entry before the run only   = before and after   > after only:
    PATH [CONTENT | #SIZE | -> LINK] [@SECONDS] [%MODE], PATH/ a folder
  1 / 2 what a line of stdout / stderr holds (there are no more lines)
$ is the scratch folder, {n} a job's number, \\n \\s \\xNN bytes, %deep a
folder chain past PATH_MAX. The tree afterwards (but the settings file) is
exactly the = and > entries. tmpfs= mounts 1 MiB there; keep: the settings
file stays byte for byte; the status is 1 when stderr speaks, else 0.
"""

import ctypes
import glob
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

INI = b"Dravelkent.ini"
MTIME = 1_760_000_000 * 10**9
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
DEEP = "/".join(["d" * 200] * 25)
JOB = re.compile(r"(\d\d)(?:\.\.(\d\d))? (\S+) (\S+) (\S+) (\S+) (\S+)$")
KEYS = ("DIRNAMEFROM", "DIRNAMETO", "FILENAME", "KIND", "DELETEDAY")


class CannotRun(Exception):
    pass


def program(args=(), date="2026-12-06", user=()):
    """A run's command and environment: UTC, no display, file times left
    alone, the date from libfaketime (preloaded by env, past setpriv and
    ahead of a sanitizer runtime)."""
    found = glob.glob("/usr/lib/*/faketime/libfaketime.so.1")
    if not found:
        raise CannotRun("libfaketime is not installed")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD")}
    env.update(TZ="UTC", NO_FAKE_STAT="1", FAKETIME=f"@{date} 12:00:00")
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    return ([*user, "env", "LD_PRELOAD=" + found[0],
             os.environ["DRAVELKENT_BIN"], *args], env)


def remove_shm(pid):
    """Removes the shared memory libfaketime leaves when a run is killed."""
    for name in (f"faketime_shm_{pid}", f"sem.faketime_sem_{pid}"):
        if os.path.exists("/dev/shm/" + name):
            os.remove("/dev/shm/" + name)


def need_root(what):
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        raise CannotRun(what + " needs root and setpriv")


def mount_small_tmpfs(folder, private=[]):
    need_root("a tmpfs")
    if not private:  # Mounts of this process's own, gone when it ends.
        if ctypes.CDLL(None, use_errno=True).unshare(0x20000) != 0:
            raise CannotRun("no mount namespace of its own")
        subprocess.run(["mount", "--make-rprivate", "/"], check=True)
        private.append(True)
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs",
                    folder], check=True)


def unescape(text, root):
    def one(m):
        code = int(m[1][1:], 16) if m[1][0] == "x" else ord(
            {"n": "\n", "s": " "}[m[1]])
        return chr(code + 0xDC00 if code >= 0x80 else code)
    text = text.replace("$", root).replace("%deep", DEEP)
    return re.sub(r"\\(n|s|x[0-9a-f]{2})", one, text)


def entry(text, root):
    """(path, (kind, data, mtime), mode) of an entry."""
    words = [unescape(w, root) for w in text.split(" ")]
    path, mtime, mode = os.fsencode(words.pop(0)), None, None
    while words and words[-1][0] in "@%":
        word = words.pop()
        if word[0] == "@":
            mtime = MTIME + int(word[1:]) * 10**9
        else:
            mode = int(word[1:], 8)
    if path.endswith(b"/"):
        return path[:-1], ("folder", None, None), mode
    if words[:1] == ["->"]:
        return path, ("link", os.fsencode(words[1]), mtime), mode
    data = os.fsencode("".join(words))
    if data.startswith(b"#"):
        size = int(data[1:])
        data = (bytes(range(251)) * (size // 251 + 1))[:size]
    return path, ("file", data, mtime), mode


def make(root, path, state):
    """Makes an entry, walking by folder descriptors (no path limit)."""
    fd = os.open(root, os.O_RDONLY)
    *folders, name = path.split(b"/")
    for part in folders + ([name] if state[0] == "folder" else []):
        try:
            os.mkdir(part, dir_fd=fd)
        except FileExistsError:
            pass
        fd, old = os.open(part, os.O_RDONLY, dir_fd=fd), fd
        os.close(old)
    kind, data, mtime = state
    if kind == "link":
        os.symlink(data, name, dir_fd=fd)
    elif kind == "file":
        with open(os.open(name, os.O_WRONLY | os.O_CREAT, dir_fd=fd),
                  "wb") as f:
            f.write(data)
    if mtime is not None:
        os.utime(name, ns=(mtime, mtime), dir_fd=fd, follow_symlinks=False)
    os.close(fd)


def snapshot(root):
    """Every entry below |root| but the settings file, by descriptors."""
    found = {}
    for top, dirs, files, fd in os.fwalk(root):
        for name in dirs + files:
            st = os.lstat(name, dir_fd=fd)
            state = ("folder", None, None)
            if stat.S_ISLNK(st.st_mode):
                state = ("link", os.readlink(name, dir_fd=fd), st.st_mtime_ns)
            elif not stat.S_ISDIR(st.st_mode):
                with open(os.open(name, os.O_RDONLY, dir_fd=fd), "rb") as f:
                    state = ("file", f.read(), st.st_mtime_ns)
            found[os.path.relpath(os.path.join(top, name), root)] = state
    found.pop(INI, None)
    return found


def settings_bytes(lines, opts, root):
    text = []
    for line in lines:
        job = JOB.match(line)
        for n in range(int(job[1]), int(job[2] or job[1]) + 1) if job else ():
            text += [f"{n:02d}{key}={value.replace('{n}', str(n))}"
                     for key, value in zip(KEYS, job.groups()[2:])]
        text += [] if job else [line]
    eol = "\r\n" if "crlf" in opts else "\n"
    return unescape(eol.join(text) + eol, root).encode(
        opts.get("enc", "utf-8"), "surrogateescape")


def run_case(opts, lines):
    marks = {m: [r for k, r in lines if k == m] for m in "|^~<=>12"}
    root = tempfile.mkdtemp(prefix="dravelkent-e2e-")
    broot, before = os.fsencode(root), None
    ini = os.path.join(broot, INI)
    try:
        user = NOBODY if opts.get("user") == "nobody" else []
        if user:
            need_root("a run as nobody")
        if "tmpfs" in opts:
            mount_small_tmpfs(os.path.join(root, opts["tmpfs"]))
        if marks["|"]:
            before = settings_bytes(marks["|"], opts, root)
            with open(ini, "wb") as f:
                f.write(before)
        entries = {m: [entry(r, root) for r in marks[m]] for m in "<=>"}
        for path, state, _ in entries["<"] + entries["="]:
            make(broot, path, state)
        for _, dirs, files, fd in os.fwalk(broot) if user else ():
            os.fchown(fd, 65534, 65534)
            for name in files + dirs:
                os.chown(name, 65534, 65534, dir_fd=fd, follow_symlinks=False)
        for path, _, mode in entries["<"] + entries["="]:
            if mode is not None:
                os.chmod(os.path.join(broot, path), mode)
        os.chmod(root, int(opts.get("dirmode", "755"), 8))
        cmd, env = program([a for a in opts.get("args", "").split(",") if a],
                           opts.get("date", "2026-12-06"), user)
        proc = subprocess.run(cmd, cwd=root, env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=300)
        os.chmod(root, 0o755)
        after = open(ini, "rb").read() if os.path.exists(ini) else None
        faults = []
        status = int(opts.get("status", 1 if marks["2"] else 0))
        if proc.returncode != status:
            faults.append(f"exit status {proc.returncode}, not {status}")
        for said, wanted in ((proc.stdout, marks["1"]),
                             (proc.stderr, marks["2"])):
            said = said.decode("utf-8", "replace").splitlines()
            wanted = [w.replace("$", root) for w in wanted]
            if len(said) != len(wanted) or any(
                    w not in s for s, w in zip(said, wanted)):
                faults.append(f"said {said}, not lines holding {wanted}")
        if "keep" in opts and after != before or marks["^"] and (
                after != settings_bytes(marks["^"], opts, root)):
            faults.append(f"the settings file reads {after!r}")
        text = (after or b"").decode(opts.get("enc", "utf-8"), "replace")
        for line in marks["~"]:
            if unescape(line, root) not in text.splitlines():
                faults.append(f"the settings file lacks {line}: {text!r}")
        wanted = {p: s for p, s, _ in entries["="] + entries[">"]}
        for path in list(wanted):
            while b"/" in path:
                path = path.rpartition(b"/")[0]
                wanted.setdefault(path, ("folder", None, None))
        found = snapshot(broot)
        for path in sorted(set(wanted) | set(found)):
            want, got = wanted.get(path), found.get(path)
            if want and got and want[2] is None:
                got = got[:2] + (None,)
            if want != got:
                faults.append(f"{path!r}: {str(got)[:200]}, not {want}")
        return faults
    finally:
        if "tmpfs" in opts:
            subprocess.run(["umount", "-l", os.path.join(root, opts["tmpfs"])])
        shutil.rmtree(root, ignore_errors=True)


def main(names):
    cases = {}
    with open(os.path.join(os.path.dirname(__file__), "cases.txt"),
              encoding="utf-8") as f:
        for line in f.read().splitlines():
            mark, _, rest = line.partition(" ")
            if mark == "==":
                name, *opts = rest.split()
                cases[name] = (dict(o.partition("=")[::2] for o in opts), [])
            elif mark and mark != "#":
                cases[name][1].extend((mark, p) for p in rest.split(" | "))
    failed = skipped = False
    for name in names or cases:
        try:
            faults = run_case(*cases[name])
        except CannotRun as why:
            faults, skipped = [f"cannot run: {why}"], True
            if os.environ.get("DRAVELKENT_E2E_STRICT") != "1":
                print(f"{name}: skipped ({why})")
                continue
        print(f"{name}: {'FAILED' if faults else 'ok'}")
        print("".join(f"  {fault}\n" for fault in faults), end="")
        failed = failed or bool(faults)
    return 1 if failed else 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
