#!/usr/bin/env python3
"""The demo as an operator runs it: zuzod on the example configuration (its ports moved to free ones, without
the virtual lines, as on a machine without a sound device), called by scripts/call-demo. What the caller heard
holds the prompt, then "you entered" and the pressed keys 1, 2, 3, 4 spoken in order, and none of the other
digits; a call to 3000 reaches the three-option menu, whose option 3 speaks an account's balance read from
SQLite through ODBC. Each voice is found sample for sample in the recording (G.711 carries the A-law voices
unchanged).

Usage: call_demo_test.py ZUZOD SOURCE_ROOT   (exit 0 passed, 1 failed, 77 skipped: a tool is missing)"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "telephony", "sip", "peer"))
from sip_peer_test import free_tcp_port, rtp_base  # noqa: E402
from sippeer import Failure  # noqa: E402

LIMIT = 120.0
DEMO_LINES = (3, 4, 5, 6)


def edit(path, **values):
    """Sets keys of a key=value file, leaving every other line as it is."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().splitlines()
    for key, value in values.items():
        rx = re.compile(rf"^{key}=", re.I)
        lines = [f"{key}={value}" if rx.match(line) else line for line in lines]
        if not any(line == f"{key}={value}" for line in lines):
            lines.append(f"{key}={value}")
    with open(path, "w", encoding="latin-1") as f:
        f.write("\n".join(lines) + "\n")


class Prints:
    """The demo lines' print files, made named pipes before zuzod starts: what the scripts print arrives here as
    they print it. Opened for reading and writing so that neither side waits for the other to open."""

    def __init__(self, work, lines):
        self.fds = {}
        for line in lines:
            path = os.path.join(work, f"_stdout{line}.txt")
            os.mkfifo(path)
            self.fds[os.open(path, os.O_RDWR | os.O_NONBLOCK)] = line
        self.proc = None  # zuzod, once started
        self.pending = {line: "" for line in lines}
        self.seen = []

    def wait(self, pattern, deadline):
        """The (line, text) of the first printed line matching pattern after those already taken."""
        rx = re.compile(pattern)
        taken = 0
        while True:
            for line, text in self.seen[taken:]:
                taken += 1
                if rx.search(text):
                    return line, text
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure(f"no print matching /{pattern}/; printed: {self.seen}")
            # zuzod's standard error ends when it does: a crash ends the wait at once.
            ready, _, _ = select.select(list(self.fds) + [self.proc.stderr], [], [], left)
            for fd in ready:
                if fd is self.proc.stderr:
                    if not os.read(fd.fileno(), 4096):
                        raise Failure(f"zuzod ended (status {self.proc.wait()}); printed: {self.seen}")
                    continue
                line = self.fds[fd]
                self.pending[line] += os.read(fd, 4096).decode("latin-1")
                *whole, self.pending[line] = self.pending[line].split("\n")
                self.seen += [(line, text) for text in whole]


def pcm(path):
    """A voice file's or recording's samples as 16-bit little-endian bytes at 8 kHz."""
    return subprocess.run(["sox", path, "-t", "raw", "-r", "8000", "-c", "1", "-e", "signed", "-b", "16", "-"],
                          capture_output=True, check=True).stdout


def where_heard(voice, heard):
    """(share, position): the share of the voice's loud 20 ms pieces found in what was heard, and where the
    first of them was found."""
    pieces = [voice[i:i + 320] for i in range(0, len(voice) - 319, 320)]
    loud = [p for p in pieces if max(abs(int.from_bytes(p[j:j + 2], "little", signed=True))
                                     for j in range(0, 320, 2)) > 1000]
    found = [heard.find(p) for p in loud]
    at = [f for f in found if f >= 0]
    return len(at) / max(1, len(loud)), (at[0] if at else -1)


def check_heard(recording, voices, heard_in_order, unheard):
    heard = pcm(recording)
    last = -1
    for name in heard_in_order:
        share, at = where_heard(pcm(os.path.join(voices, name + ".wav")), heard)
        if share < 0.8:
            raise Failure(f"the caller did not hear {name!r}: {share:.0%} of it found")
        if at <= last:
            raise Failure(f"{name!r} was heard out of order")
        last = at
    for name in unheard:
        share, _ = where_heard(pcm(os.path.join(voices, name + ".wav")), heard)
        if share > 0.2:
            raise Failure(f"the caller heard {name!r} ({share:.0%}), which it should not have")


def call_demo(root, work, to, keys, out):
    """scripts/call-demo as the README gives it."""
    r = subprocess.run([os.path.join(root, "scripts", "call-demo"), "--to", to, "--keys", keys, "--out", out],
                       cwd=work, capture_output=True, text=True, timeout=LIMIT)
    print(r.stdout + r.stderr, end="")
    if r.returncode != 0:
        raise Failure(f"call-demo {to} failed")


def run(zuzod, root, work):
    for name in ("ZuZodRun.cfg", "SipCfg.ini", "demo.kvs", "ivr.kvs", "card.kvs"):
        shutil.copy(os.path.join(root, "examples", name), work)
    os.makedirs(os.path.join(work, "card"))
    shutil.copy(os.path.join(root, "examples", "card", "ShConfig.ini"), os.path.join(work, "card"))
    subprocess.run([os.path.join(root, "scripts", "demo-voices"), os.path.join(work, "voc")], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Free ports a moment ago (SIP's own UDP and TCP: a request that meets no listener is sent again).
    sip_port = free_tcp_port()
    edit(os.path.join(work, "ZuZodRun.cfg"), FORM_TITLE=f"ZzCallDemo{os.getpid()}", VIR_LINES_NUM=0,
         MONITOR_PORT=free_tcp_port())
    edit(os.path.join(work, "SipCfg.ini"), sipIpPort=sip_port, sipTcpPort=sip_port, rtpBasePort=rtp_base())
    edit(os.path.join(work, "card", "ShConfig.ini"), ControlPort=0)
    deadline = time.monotonic() + LIMIT
    prints = Prints(work, DEMO_LINES)
    env = dict(os.environ, LANG="C.UTF-8", SHCTI_APPPATH=os.path.join(work, "card") + "/")
    proc = prints.proc = subprocess.Popen([zuzod, "--headless"], cwd=work, env=env, stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        for _ in DEMO_LINES:
            prints.wait(r"waiting for a call", deadline)
        voices = os.path.join(work, "voc", "en")
        # The demo: the prompt, then the keys spoken back, and no other digit.
        out = os.path.join(work, "demo.wav")
        call_demo(root, work, f"sip:1000@127.0.0.1:{sip_port}", "1234", out)
        line, _ = prints.wait(r"call from caller to 1000", deadline)
        prints.wait(rf"line {line}: keys 1234 \(4\)", deadline)
        prints.wait(rf"line {line}: hung up", deadline)
        check_heard(out, voices, ("welcome", "youpressed", "1", "2", "3", "4"), ("0", "5", "6", "7", "8", "9"))
        # The three-option menu, option 3: the balance of account 1001 from the SQLite database, 250.
        out = os.path.join(work, "ivr.wav")
        call_demo(root, work, f"sip:3000@127.0.0.1:{sip_port}", "31001#", out)
        line, _ = prints.wait(r"call from caller to 3000", deadline)
        prints.wait(rf"line {line}: account 1001 balance 250$", deadline)
        prints.wait(rf"line {line}: hung up", deadline)
        check_heard(out, voices, ("ivr_balance", "2", "hundred", "and", "50", "yuan"), ("ivr_unknown",))
        proc.send_signal(signal.SIGTERM)
        if proc.wait(60) != 0:
            raise Failure(f"zuzod stopped with status {proc.returncode}")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def main():
    zuzod, root = sys.argv[1], sys.argv[2]
    for tool in ("baresip", "sox", "espeak-ng"):
        if not shutil.which(tool):
            print(f"{tool} is not installed: skipped")
            return 77
    work = tempfile.mkdtemp(prefix="zzcalldemo-")
    try:
        run(zuzod, root, work)
        print("passed")
        return 0
    except (Failure, subprocess.SubprocessError) as e:
        print(f"FAIL: {e}")
        for name in sorted(os.listdir(work)):
            if name.startswith("msg_log"):
                with open(os.path.join(work, name), errors="replace") as f:
                    print("--- " + name + "\n" + "".join(f.readlines()[-30:]))
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
