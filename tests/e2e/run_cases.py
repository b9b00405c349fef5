#!/usr/bin/env python3
"""Runs the cases of cases.txt (all, or those named) against DRAVELKENT_BIN
in scratch folders; exits 0, 1 when one failed, 77 when one cannot run here
(1 with DRAVELKENT_E2E_STRICT=1), which ends the run. A case: "== NAME
[date=2026-12-06] [args=A,B] [status=N] [user=nobody] [keep] [tmpfs=DIR]
[enc=cp932] [crlf] [twice] [waiting] [closed] [repeat=N] [dry[=N]]
[lang=LOCALE] [posix]",
then items (" | " parts a line in several):
  | a settings line; "NN[..MM] FROM TO NAME KIND DAYS": jobs NN to MM
  ^ the settings file afterwards, exactly   ~ a line it must hold
  < an entry before the run only   = before and after   > after only:
    PATH [CONTENT | #SIZE | -> LINK | <fifo>] [@SECONDS] [%MODE] [!UID],
    PATH/ a folder
  1 / 2 what a line of stdout / stderr holds (there are no more lines)
$ is the scratch folder, {n} a job's number, \\n \\s \\xNN bytes, %deep a
folder chain past PATH_MAX. The tree afterwards is exactly the = and >
entries; keep: the settings file too. The status is 1 when stderr speaks.
A run given -C starts in "/".
twice: two runs start at once; waiting: beside a run whose message waits;
closed: its standard output is a pipe nobody reads.
DRAVELKENT_WINE: the command that runs a Windows DRAVELKENT_BIN; $ is then
Z:\... and "/" "\" in the settings and lines said, and a case marked posix
(owners, modes, links, FIFOs, mounts) exits 77 whatever STRICT says.
dry: a dry run (-n) comes first, beside a held run lock; it must leave every
byte, time and inode as it was, exit with N (else the case's status) and
print what the real run, given -v, then prints on stdout (checked by "1"
items only if any).
"""

import ctypes
import fcntl
import glob
import os
import pty
import re
import shutil
import stat
import subprocess
import sys
import tempfile

INI = b"Dravelkent.ini"
LOCK = b"Dravelkent.lock"
MTIME = 1_760_000_000 * 10**9
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
DEEP = "/".join(["d" * 200] * 25)
JOB = re.compile(r"(\d\d)(?:\.\.(\d\d))? (\S+) (\S+) (\S+) (\S+) (\S+)$")
KEYS = ("DIRNAMEFROM", "DIRNAMETO", "FILENAME", "KIND", "DELETEDAY")


def cannot_run(why):
    """Ends a test that cannot run here: skipped, or failed when strict."""
    print(f"cannot run: {why}")
    sys.exit(1 if os.environ.get("DRAVELKENT_E2E_STRICT") == "1" else 77)


WINE = os.environ.get("DRAVELKENT_WINE", "").split()


def program(args=(), opts=None, user=()):
    """A run's command and environment: libfaketime preloaded by env (past
    setpriv, ahead of a sanitizer runtime), UTC, file times left alone."""
    opts = opts or {}
    date, lang = opts.get("date", "2026-12-06"), opts.get("lang", "")
    found = glob.glob("/usr/lib/*/faketime/libfaketime.so.1")
    if not found:
        cannot_run("libfaketime is not installed")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "LD_PRELOAD")}
    env.update(TZ="UTC", NO_FAKE_STAT="1", FAKETIME=f"@{date} 12:00:00")
    env.setdefault("ASAN_OPTIONS", "verify_asan_link_order=0")
    env.update({"LANG": lang, "LC_ALL": lang} if lang else {})
    cmd = [*user, "env", "LD_PRELOAD=" + found[0], *WINE,
           os.environ["DRAVELKENT_BIN"], *args]
    return cmd, env


def named(text, root, said=False):
    """|text|, "$" the scratch folder; for Windows on Z:, each "/" a "\\",
    in a line |said| doubled where it would start an escape."""
    if not WINE:
        return text.replace("$", root)
    return re.sub(r"/(?=([\\/nrtx]?))", lambda m: "\\\\" if said and m[1]
                  else "\\", text.replace("$", "Z:" + root))


def unescape(text, root):
    def one(m):
        code = int(m[1][1:], 16) if m[1][0] == "x" else ord(
            {"n": "\n", "s": " "}[m[1]])
        return chr(code + 0xDC00 if code >= 0x80 else code)
    text = text.replace("$", root).replace("%deep", DEEP)
    return re.sub(r"\\(n|s|x[0-9a-f]{2})", one, text)


def entry(text, root):
    """(path, (kind, data, mtime), (mode, owner)) of an entry."""
    words = [unescape(w, root) for w in text.split(" ")]
    path, mtime, mode, owner = os.fsencode(words.pop(0)), None, None, None
    while words and words[-1][0] in "@%!":
        word = words.pop()
        if word[0] == "@":
            mtime = MTIME + int(word[1:]) * 10**9
        elif word[0] == "!":
            owner = int(word[1:])
        else:
            mode = int(word[1:], 8)
    mode = (mode, owner)
    if path.endswith(b"/"):
        return path[:-1], ("folder", None, None), mode
    if words == ["<fifo>"]:
        return path, ("fifo", None, None), mode
    if words[:1] == ["->"]:
        return path, ("link", os.fsencode(words[1]), mtime), mode
    data = os.fsencode("".join(words))
    if data.startswith(b"#"):  # so many bytes of a pattern
        data = (bytes(range(251)) * 9999)[:int(data[1:])]
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
    elif kind == "fifo":
        os.mkfifo(name, dir_fd=fd)
    elif kind == "file":
        with open(os.open(name, os.O_WRONLY | os.O_CREAT, dir_fd=fd),
                  "wb") as f:
            f.write(data)
    if mtime is not None:
        os.utime(name, ns=(mtime, mtime), dir_fd=fd, follow_symlinks=False)
    os.close(fd)


def walk(root):
    """Every entry below |root| and itself: its lstat, and a file's bytes or
    a link's target (by descriptors: no path limit)."""
    found = {root: (os.stat(root), None)}
    for top, dirs, files, fd in os.fwalk(root):
        for name in dirs + files:
            st = os.lstat(name, dir_fd=fd)
            found[os.path.join(top, name)] = st, (
                os.readlink(name, dir_fd=fd) if stat.S_ISLNK(st.st_mode)
                else open(os.open(name, os.O_RDONLY, dir_fd=fd), "rb").read()
                if stat.S_ISREG(st.st_mode) else None)
    return found


def exact(root):
    """All that a dry run must leave as it was: all of lstat but atime."""
    return {p: st[:7] + (st.st_mtime_ns, st.st_ctime_ns, data)
            for p, (st, data) in walk(root).items()}


def snapshot(root):
    """Every entry below |root| but the settings and lock files, as items
    describe it."""
    found = {}
    for path, (st, data) in walk(root).items():
        kind = ("folder" if stat.S_ISDIR(st.st_mode) else "fifo"
                if stat.S_ISFIFO(st.st_mode) else "link"
                if stat.S_ISLNK(st.st_mode) else "file")
        found[os.path.relpath(path, root)] = (kind, data, None if kind in (
            "folder", "fifo") else st.st_mtime_ns)
    for name in (b".", INI, LOCK):
        found.pop(name, None)
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
    return named(unescape(eol.join(text) + eol, "$"), root).encode(
        opts.get("enc", "utf-8"), "surrogateescape")


def run_case(opts, lines):
    marks = {m: [r for k, r in lines if k == m] for m in "|^~<=>12"}
    root = tempfile.mkdtemp(prefix="dravelkent-e2e-")
    broot, before = os.fsencode(root), None
    ini = os.path.join(broot, INI)
    try:
        user = NOBODY if opts.get("user") == "nobody" else []
        if (user or "tmpfs" in opts) and (
                os.geteuid() != 0 or not shutil.which("setpriv")):
            cannot_run("it runs as nobody or mounts: needs root")
        if "tmpfs" in opts:  # In mounts of this process's own.
            if ctypes.CDLL(None, use_errno=True).unshare(0x20000) != 0:
                cannot_run("no mount namespace of its own")
            os.makedirs(os.path.join(root, opts["tmpfs"]), exist_ok=True)
            for args in (["--make-rprivate", "/"], ["-t", "tmpfs", "-o",
                         "size=1m", "tmpfs", root + "/" + opts["tmpfs"]]):
                subprocess.run(["mount", *args], check=True)
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
        for path, _, (mode, owner) in entries["<"] + entries["="]:
            full = os.path.join(broot, path)
            if owner is not None:
                os.chown(full, owner, owner, follow_symlinks=False)
            if mode is not None:
                os.chmod(full, mode)
        os.chmod(root, 0o755)
        args = [named(a, root) for a in opts.get("args", "").split(",") if a]
        cwd = "/" if "-C" in args else root  # -C names the folder
        status = int(opts.get("status", 1 if marks["2"] else 0))
        faults, dry = [], None
        if "dry" in opts:
            cmd, env = program(["-n", *args], opts, user)
            # The run lock, held: a dry run does not wait for it.
            held = os.open(os.path.join(broot, LOCK), os.O_RDWR | os.O_CREAT,
                           0o600)
            if user:
                os.fchown(held, 65534, 65534)
            fcntl.flock(held, fcntl.LOCK_EX)
            frozen = exact(broot)
            dry = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True,
                                 stdin=subprocess.DEVNULL, timeout=30)
            os.close(held)
            if exact(broot) != frozen:
                faults.append("the dry run changed the folder")
            if dry.returncode != int(opts["dry"] or status):
                faults.append(f"the dry run's status is {dry.returncode}")
            args.insert(0, "-v")
        cmd, env = program(args, opts, user)
        if "waiting" in opts:  # A run whose message waits at a terminal.
            terminal, slave = pty.openpty()
            waiting = subprocess.Popen(cmd, cwd=root, env=env, stdin=slave,
                                       stdout=subprocess.PIPE)
            waiting.stdout.readline()
        go, gate = os.pipe()  # The runs start at one write.
        runs = [subprocess.Popen(
            ["sh", "-c", 'read -r x; exec "$@" </dev/null', "-", *cmd],
            cwd=cwd, env=env, stdin=go, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE) for _ in range(1 + ("twice" in opts))]
        if "closed" in opts:
            runs[0].stdout.close()
            runs[0].stdout = None
        os.write(gate, b"\n\n")
        os.close(go)
        os.close(gate)
        said = [run.communicate(timeout=120) + (run.returncode,)
                for run in runs]
        said = [(out or b"", err, code) for out, err, code in said]
        if "waiting" in opts:
            os.write(terminal, b"\r" if WINE else b"\n")  # Enter
            waiting.communicate(timeout=120)
        after = open(ini, "rb").read() if os.path.exists(ini) else None
        if dry and dry.stdout != said[0][0]:
            faults.append(f"the dry run said {dry.stdout!r}")
        if re.search(rb"[\0-\t\v-\x1f\x7f]", said[0][0]):
            faults.append("a control byte on stdout, unescaped")
        for out, err, code in said:
            if code != status:
                faults.append(f"exit status {code}, not {status}")
            # A dry case's action lines need no "1" items: the two runs
            # check each other.
            told = () if dry and not marks["1"] else ((out, marks["1"], 1),)
            # Failures come in the file system's order, lines in the run's.
            for lines, wanted, ordered in (*told, (err, marks["2"], 0)):
                lines = [line for line in lines.decode(
                    "utf-8", "replace").splitlines()
                    if "waiting for the run in progress" not in line]
                wanted = [named(w, root, True) for w in wanted]
                pairs = zip(lines, wanted) if ordered else (
                    (next((x for x in lines if w in x), ""), w)
                    for w in wanted)
                if len(lines) != len(wanted) or any(
                        w not in line for line, w in pairs):
                    faults.append(f"said {lines}, not lines with {wanted}")
        if "keep" in opts and after != before or marks["^"] and (
                after != settings_bytes(marks["^"], opts, root)):
            faults.append(f"the settings file reads {after!r}")
        text = (after or b"").decode(opts.get("enc", "utf-8"), "replace")
        for line in marks["~"]:
            if named(unescape(line, "$"), root) not in text.splitlines():
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
                faults.append(f"{path[-80:]!r}: {str(got)[:200]}, "
                              f"not {str(want)[:200]}")
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
        print(f"{name}: ", end="", flush=True)
        if WINE and "posix" in cases[name][0]:
            print("not for Windows (posix: owners, modes, links or mounts)")
            skipped = True
            continue
        faults = []
        for _ in range(int(cases[name][0].get("repeat", 1))):
            faults = faults or run_case(*cases[name])
        print("FAILED" if faults else "ok", *faults, sep="\n  ")
        failed = failed or bool(faults)
    return 1 if failed else 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
