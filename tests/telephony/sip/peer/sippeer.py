"""Real SIP peers for the SIP line tests, all on 127.0.0.1 with ports the system gives out:

- Baresip: baresip (Debian's baresip-core) driven through its ctrl_tcp module (netstring JSON): dial, accept,
  hang up, send DTMF, set the answer mode; it records what it hears (sndfile module) and plays a tone or a file.
- Lines: SIP lines of the real driver (zz_sip_line), worked command by command.
- Sipp: SIPp with a scenario of the test's own.

Every wait reads a pipe or a socket until what is waited for arrives; the time-outs only end a test that has
gone wrong."""
import json
import os
import re
import select
import signal
import socket
import subprocess
import tempfile
import threading
import time

TIMEOUT = 30.0


class Failure(Exception):
    pass


def bound_ports(pid, proto):
    """The ports the process's sockets of proto ("udp", or "tcp" listening) are bound to, from /proc, in the order
    the process opened them."""
    fds = {}
    fd_dir = f"/proc/{pid}/fd"
    for fd in os.listdir(fd_dir):
        try:
            target = os.readlink(os.path.join(fd_dir, fd))
        except OSError:
            continue
        m = re.match(r"socket:\[(\d+)\]", target)
        if m:
            fds[m.group(1)] = int(fd)
    found = []
    with open(f"/proc/{pid}/net/{proto}") as f:
        next(f)
        for line in f:
            parts = line.split()
            if parts[9] in fds and (proto == "udp" or parts[3] == "0A"):
                found.append((fds[parts[9]], int(parts[1].split(":")[1], 16)))
    return [port for _, port in sorted(found)]


def established_tcp(pid):
    """How many TCP connections the process holds established, from /proc."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            m = re.match(r"socket:\[(\d+)\]", os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            continue
        if m:
            inodes.add(m.group(1))
    with open(f"/proc/{pid}/net/tcp") as f:
        next(f)
        return sum(1 for line in f if line.split()[3] == "01" and line.split()[9] in inodes)


class LineReader:
    """Lines of a child's output, read all along by a thread of their own (so the child never blocks on a full
    pipe) into a log file, and waited for in order."""

    def __init__(self, stream, log_path):
        self.lines = []
        self.taken = 0
        self.ended = False
        self.cv = threading.Condition()
        self.thread = threading.Thread(target=self._read, args=(stream, log_path), daemon=True)
        self.thread.start()

    def _read(self, stream, log_path):
        with open(log_path, "ab") as log:
            for raw in iter(stream.readline, b""):
                log.write(raw)
                log.flush()
                with self.cv:
                    self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))
                    self.cv.notify_all()
        with self.cv:
            self.ended = True
            self.cv.notify_all()

    def wait_for(self, pattern, timeout=TIMEOUT):
        """The match of the next line (after the last one matched) that matches."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cv:
            while True:
                while self.taken < len(self.lines):
                    m = rx.search(self.lines[self.taken])
                    self.taken += 1
                    if m:
                        return m
                if self.ended:
                    raise Failure(f"output ended while waiting for /{pattern}/")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise Failure(f"waited {timeout} s for /{pattern}/")
                self.cv.wait(left)

    def seen(self, pattern):
        """Whether any line so far matches."""
        rx = re.compile(pattern)
        with self.cv:
            return any(rx.search(line) for line in self.lines)


class Baresip:
    """A baresip on 127.0.0.1. audio: "ausine,<Hz>" or "aufile,<wav>" as its microphone."""

    def __init__(self, workdir, user="peer", answermode="manual", audio="ausine,1000", contact=None):
        self.dir = tempfile.mkdtemp(prefix="baresip-", dir=workdir)
        os.makedirs(os.path.join(self.dir, "rec"))
        with open(os.path.join(self.dir, "config"), "w") as f:
            f.write(
                "poll_method epoll\nsip_listen 127.0.0.1:0\nsip_trans_def udp\nnet_interface 127.0.0.1\n"
                "audio_player alsa,null\naudio_alert alsa,null\naudio_source " + audio + "\n"
                "module_path /usr/lib/baresip/modules\nmodule stdio.so\nmodule g711.so\nmodule alsa.so\nmodule ausine.so\n"
                "module aufile.so\nmodule sndfile.so\nmodule_app menu.so\nmodule_app ctrl_tcp.so\n"
                "module_app debug_cmd.so\nmodule_app account.so\nmodule_app contact.so\nctrl_tcp_listen 127.0.0.1:0\nsnd_path " + os.path.join(self.dir, "rec") +
                "\nstatmode_default off\nausrc_srate 48000\nausrc_channels 2\nauplay_srate 8000\nauplay_channels 1\n")
        with open(os.path.join(self.dir, "accounts"), "w") as f:
            f.write(f"<sip:{user}@127.0.0.1>;regint=0;answermode={answermode};audio_codecs=PCMA,PCMU\n")
        with open(os.path.join(self.dir, "contacts"), "w") as f:
            if contact:
                f.write(f'"zz" <{contact}>\n')
        # stdin stays open: the stdio module shows incoming messages on the output while it can read.
        self.proc = subprocess.Popen(["baresip", "-f", self.dir], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, cwd=self.dir)
        self.out = LineReader(self.proc.stdout, os.path.join(self.dir, "baresip.log"))
        self.out.wait_for(r"baresip is ready")
        # ctrl_tcp is loaded after the SIP stack: its socket is the last one listening.
        self.ctrl = socket.create_connection(("127.0.0.1", bound_ports(self.proc.pid, "tcp")[-1]))
        self.inbuf = b""
        self.events = []
        transports = self.command("sipstat")["data"]
        self.sip_port = int(re.search(r"127\.0\.0\.1:(\d+) \(UDP\)", transports).group(1))

    def uri(self, user="peer"):
        return f"sip:{user}@127.0.0.1:{self.sip_port}"

    def _read_message(self, timeout):
        deadline = time.monotonic() + timeout
        while True:
            m = re.match(rb"(\d+):", self.inbuf)
            if m:
                n = int(m.group(1))
                start = m.end()
                if len(self.inbuf) >= start + n + 1:
                    body = self.inbuf[start:start + n]
                    self.inbuf = self.inbuf[start + n + 1:]
                    return json.loads(body)
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("no message from baresip's ctrl_tcp")
            ready, _, _ = select.select([self.ctrl], [], [], left)
            if ready:
                chunk = self.ctrl.recv(65536)
                if not chunk:
                    raise Failure("baresip closed ctrl_tcp")
                self.inbuf += chunk

    def command(self, cmd, params=""):
        body = json.dumps({"command": cmd, "params": params, "token": cmd}).encode()
        self.ctrl.sendall(str(len(body)).encode() + b":" + body + b",")
        while True:
            msg = self._read_message(TIMEOUT)
            if msg.get("response"):
                return msg
            self.events.append(msg)

    def event(self, kind, timeout=TIMEOUT):
        """The next event of that type ("CALL_INCOMING", "CALL_ESTABLISHED", "CALL_CLOSED"...)."""
        deadline = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e.get("type") == kind:
                    return self.events.pop(i)
            self.events.append(self._read_message(max(0.0, deadline - time.monotonic())))

    def recordings(self):
        """Paths of the files sndfile wrote of what baresip heard (decoded audio)."""
        d = os.path.join(self.dir, "rec")
        return sorted(os.path.join(d, f) for f in os.listdir(d) if "dec" in f)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Lines:
    """SIP lines of the real driver in a process of their own (zz_sip_line), in workdir with its SipCfg.ini."""

    def __init__(self, exe, workdir, cfg, held_fds=0):
        """held_fds: descriptors the process starts with open, as many lines' wake events would hold."""
        self.dir = workdir
        with open(os.path.join(workdir, "SipCfg.ini"), "w") as f:
            f.write(cfg)
        held = [os.open(os.devnull, os.O_RDONLY) for _ in range(held_fds)]
        try:
            self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT, cwd=workdir, pass_fds=held)
        finally:
            for fd in held:
                os.close(fd)
        self.out = LineReader(self.proc.stdout, os.path.join(workdir, "lines.log"))
        m = self.out.wait_for(r"^ready (-?\d+)")
        if m.group(1) != "0":
            raise Failure("the SIP driver did not start")
        with open(os.path.join(workdir, "run.txt"), errors="replace") as f:
            m = re.search(r"SIP listening on \S+ udp (\d+), tcp (\d+)", f.read())
        self.sip_port = int(m.group(1))
        self.tcp_port = int(m.group(2))
        self.pending = {}

    def uri(self, user="1000"):
        return f"sip:{user}@127.0.0.1:{self.sip_port}"

    def send(self, text):
        self.proc.stdin.write((text + "\n").encode())
        self.proc.stdin.flush()

    def wait(self, line, cmd, timeout=TIMEOUT):
        """(result, texts) of the next finished command cmd of the line."""
        m = self.out.wait_for(rf"^done {line} {cmd} (-?\d+) ?(.*)$", timeout)
        return int(m.group(1)), m.group(2)

    def listen(self, line):
        """Has the line wait for a call; returns once the stack may give it one."""
        self.send(f"ring {line}")
        self.out.wait_for(rf"^listening {line}$")

    def run(self, line, cmd, *args, timeout=TIMEOUT):
        self.send(" ".join([cmd, str(line)] + [str(a) for a in args]))
        return self.wait(line, cmd, timeout)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.send("quit")
                self.proc.wait(20)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
