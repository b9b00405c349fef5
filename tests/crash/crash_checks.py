"""What a user would find after a killed run, and after the run that
follows it, checked against one Scenario."""

import os
import re

from crash_scenario import (INI, LAST_RUN, TODAY_TEXT, is_own_temporary,
                            parse_ini)

# Failures that the run after a kill says for a reason the kill explains:
# the move was made before the kill but TIMESTAMP not yet written, so the
# source is gone; or a move across file systems had put the file in place
# but not yet removed the source.
ECHO = re.compile(r"^dravelkent: cannot move (.+) to (.+): "
                  r"(No such file or directory|File exists)$")

# Keys the start of a run adds when they are missing.
ADDED_KEYS = {("基本", "VIEW"): "Off", ("基本", "MESSAGE"): "Off"}


class Checker:
    def __init__(self, scenario):
        self.s = scenario
        self.findings = []
        self.leftovers = {}
        self.half_done = 0
        self.echoes = 0
        self.duplicates = set()  # paths a "File exists" explained

    def find(self, text):
        self.findings.append(text)

    # After the kill

    def after_kill(self):
        done = 0
        fixed_paths = {fixed.path for fixed in self.s.fixed}
        for item in self.s.items:
            # Where a file stood before the run, it may stand still: that is
            # checked with the other files that were there.
            present = [p for p in item.places if os.path.lexists(p) and not (
                p in fixed_paths and item.intact_at(p))]
            for path in present:
                problem = item.intact_at(path)
                if problem:
                    self.find(f"after the kill: {path}: {problem}")
            if not present:
                self.find(f"after the kill: {item.places[0]} is lost")
            elif self.s.mode == "copy" and item.places[0] not in present:
                self.find(f"after the kill: copy mode took {item.places[0]}")
            if item.places[-1] in present:
                done += 1
        self.check_fixed("after the kill", done=False)
        self.leftovers = self.scan("after the kill")
        for path in self.s.planted - self.leftovers.keys():
            self.find(f"after the kill: {path}, left by an earlier run, is "
                      f"gone")
        self.check_settings("after the kill", done=False)
        if self.left_by_kill() or 0 < done < len(self.s.items):
            self.half_done = 1

    def left_by_kill(self):
        """The temporary files that the killed run left."""
        return [p for p in self.leftovers if p not in self.s.planted]

    # After the next run

    def after_rerun(self, status, err):
        lines = [line for line in err.splitlines() if line]
        for line in lines:
            if self.explained(line):
                self.echoes += 1
            else:
                self.find(f"the next run said: {line}")
        if status != (1 if lines else 0):
            self.find(f"the next run ended with {status}, having said "
                      f"{len(lines)} failures")
        for item in self.s.items:
            final = item.places[-1]
            if not os.path.lexists(final):
                self.find(f"after the next run: {final} is missing")
                continue
            problem = item.intact_at(final)
            if problem:
                self.find(f"after the next run: {final}: {problem}")
            for path in item.places[:-1]:
                here = os.path.lexists(path)
                if self.s.mode == "copy" and not here:
                    self.find(f"after the next run: copy mode took {path}")
                if (self.s.mode == "move" and here and
                        path not in self.duplicates):
                    self.find(f"after the next run: {path} was not moved")
        self.check_fixed("after the next run", done=True)
        left = self.scan("after the next run")
        for path, identity in self.leftovers.items():
            if left.get(path) != identity:
                self.find(f"the next run moved or removed the leftover {path}")
        for path in left.keys() - self.leftovers.keys():
            self.find(f"the next run left {path}")
        self.check_settings("after the next run", done=True)

    def explained(self, line):
        match = ECHO.match(line)
        if not match:
            return False
        source, target, reason = match.groups()
        for item in self.s.items:
            for earlier, later in zip(item.places, item.places[1:]):
                if (earlier, later) != (source, target):
                    continue
                further_on = any(not item.intact_at(p) for p in
                                 item.places[item.places.index(later):])
                if reason == "File exists":
                    # Whole in both places; the later one may have gone on.
                    if not item.intact_at(source) and further_on:
                        self.duplicates.add(source)
                        return True
                    return False
                # The source is gone: the item must be further on.
                return not os.path.lexists(source) and further_on
        return False

    # Shared

    def check_fixed(self, when, done):
        for fixed in self.s.fixed:
            if not os.path.lexists(fixed.path):
                if not fixed.may_go:
                    self.find(f"{when}: {fixed.path} is gone")
                continue
            with open(fixed.path, "rb") as f:
                data = f.read()
            allowed = fixed.contents[-1:] if done else fixed.contents
            if data not in allowed:
                self.find(f"{when}: {fixed.path} holds {len(data)} bytes "
                          f"that it never held whole")
            if done and fixed.must_go_when_done:
                self.find(f"{when}: the expired copy {fixed.path} is still "
                          f"there")

    def scan(self, when):
        """Accounts for every entry of the trial's folders; returns the
        program's temporary files found, each with its identity."""
        files = {os.path.join(self.s.dir, INI)}
        for item in self.s.items:
            files.update(item.places)
        files.update(fixed.path for fixed in self.s.fixed)
        folders = set()
        for path in files:
            parent = os.path.dirname(path)
            while parent not in folders and parent not in ("/", ""):
                folders.add(parent)
                parent = os.path.dirname(parent)
        temporaries = {}
        roots = [self.s.dir] + ([self.s.shm_dir] if self.s.shm_dir else [])
        for root in roots:
            for top, dirs, names in os.walk(root):
                for name in dirs:
                    path = os.path.join(top, name)
                    if path not in folders and not os.path.islink(path):
                        self.find(f"{when}: unexpected folder {path}")
                for name in names + [d for d in dirs
                                     if os.path.islink(os.path.join(top, d))]:
                    path = os.path.join(top, name)
                    if is_own_temporary(name):
                        st = os.lstat(path)
                        temporaries[path] = (st.st_ino, st.st_size)
                    elif path not in files:
                        self.find(f"{when}: unexpected file {path}")
        return temporaries

    def check_settings(self, when, done):
        path = os.path.join(self.s.dir, INI)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as error:
            self.find(f"{when}: the settings file cannot be read: {error}")
            return
        encoding = self.s.encoding
        if encoding == "utf-8-sig" and not data.startswith(b"\xef\xbb\xbf"):
            self.find(f"{when}: the settings file lost its byte order mark")
        if encoding == "utf-8" and data.startswith(b"\xef\xbb\xbf"):
            self.find(f"{when}: the settings file gained a byte order mark")
        try:
            values = parse_ini(data.decode(encoding))
        except UnicodeDecodeError as error:
            self.find(f"{when}: the settings file is no longer {encoding}: "
                      f"{error}")
            return
        for key, value in self.s.settings.items():
            allowed = {value}
            if key == ("基本", "TIMESTAMP"):
                allowed = {TODAY_TEXT} if done else {LAST_RUN, TODAY_TEXT}
            if values.get(key) not in allowed:
                self.find(f"{when}: settings {key} reads {values.get(key)!r}"
                          f" instead of {sorted(allowed)}")
        for key, value in values.items():
            if key not in self.s.settings and ADDED_KEYS.get(key) != value:
                self.find(f"{when}: settings gained {key}={value!r}")
