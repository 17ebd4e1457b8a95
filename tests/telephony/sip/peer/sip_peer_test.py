#!/usr/bin/env python3
"""SIP lines against real peers on 127.0.0.1: baresip calls and is called, SIPp declines and registers, tshark
reads the MSRP chunks, sox hears the tones.

Usage: sip_peer_test.py ZZ_SIP_LINE TEST   (exit 0 passed, 1 failed, 77 skipped: a peer cannot start)"""
import math
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sippeer import Baresip, Failure, Lines, LineReader, bound_ports, established_tcp  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77


def check(cond, what):
    if not cond:
        raise Failure(what)


def rtp_base():
    """A base of RTP ports no other test run is likely to hold: below the system's ephemeral range, the first
    eight of them free now."""
    rng = random.Random(os.getpid() * 7919 + int(time.time()))
    for _ in range(200):
        base = rng.randrange(12000, 30000, 2)
        socks = []
        try:
            for p in range(base, base + 8):
                s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                socks.append(s)
                s.bind(("0.0.0.0", p))
            return base
        except OSError:
            continue
        finally:
            for s in socks:
                s.close()
    raise Failure("no free RTP ports")


def free_tcp_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def lines_cfg(extra=""):
    return f"sipIpAddr=127.0.0.1\nsipIpPort=0\nsipTcpPort=0\nrtpBasePort={rtp_base()}\n" + extra


def tone_of(wav, skip=0.0, length=1.0):
    """The rough frequency sox finds in a second of a recording, after its leading silence and `skip` seconds."""
    out = subprocess.run(["sox", wav, "-n", "silence", "1", "0.05", "2%", "trim", str(skip), str(length), "stat"],
                         capture_output=True, text=True).stderr
    m = re.search(r"Rough\s+frequency:\s+(\d+)", out)
    check(m, f"sox found no sound in {wav}: {out}")
    return int(m.group(1))


def near(value, want, what):
    check(abs(value - want) <= want * 0.05, f"{what}: {value} Hz, not {want} Hz")


class Sipp:
    """SIPp as a user agent server running scenario file on 127.0.0.1, once."""

    def __init__(self, workdir, scenario):
        # A port free a moment ago: a request sent before SIPp binds it is sent again by the SIP retransmissions.
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
        self.proc = subprocess.Popen(["sipp", "-sf", os.path.join(HERE, scenario), "-i", "127.0.0.1", "-p",
                                      str(self.port), "-m", "1", "-nostdin", "-timeout", "30", "-timeout_error"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     cwd=workdir)

    def finished(self):
        """SIPp's exit status once its one call has run."""
        return self.proc.wait(40)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


# ---- the tests

def test_incoming_call(exe, work):
    """A caller is answered, hears the prompt, its keys "12#" sent as RFC 4733 events are taken, it is recorded and
    hung up on."""
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-e", "a-law", os.path.join(work, "prompt.wav"),
                    "synth", "1.5", "sine", "440", "vol", "0.5"], check=True)
    lines = Lines(exe, work, lines_cfg())
    caller = Baresip(work, audio="ausine,1000")
    try:
        lines.listen(0)
        check(caller.command("dial", lines.uri("2000"))["ok"], "baresip dials")
        result, who = lines.wait(0, "ring")
        check(result == 0 and who == "peer 2000", f"answered: {result} {who}")
        caller.event("CALL_ESTABLISHED")
        result, _ = lines.run(0, "play", "prompt.wav")
        check(result == 1, f"the prompt played to its end: {result}")
        caller.command("sndcode", "12#")
        result, keys = lines.run(0, "keys", 5, 10, "#")
        check((result, keys) == (2, "12"), f"keys: {result} {keys!r}")
        result, _ = lines.run(0, "record", "caller.wav", 2)
        check(result in (1, 16000) or result > 16000, f"recorded two seconds: {result}")
        lines.run(0, "hangup")
        caller.event("CALL_CLOSED")
        caller.stop()
        near(tone_of(caller.recordings()[0], 0.2), 440, "the caller heard the prompt")
        near(tone_of(os.path.join(work, "caller.wav"), 0.2), 1000, "the line recorded the caller")
    finally:
        caller.stop()
        lines.stop()


def test_tcp_call(exe, work):
    """A call over TCP to lines whose process holds more than 1,024 descriptors before the stack starts: answered,
    the caller hears the prompt, the line hangs up."""
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-e", "a-law", os.path.join(work, "prompt.wav"),
                    "synth", "1.5", "sine", "440", "vol", "0.5"], check=True)
    lines = Lines(exe, work, lines_cfg(), held_fds=1100)
    caller = Baresip(work)
    try:
        lines.listen(0)
        check(caller.command("dial", f"sip:2000@127.0.0.1:{lines.tcp_port};transport=tcp")["ok"], "baresip dials")
        check(lines.wait(0, "ring")[0] == 0, "answered")
        caller.event("CALL_ESTABLISHED")
        check(lines.run(0, "play", "prompt.wav")[0] == 1, "the prompt played")
        lines.run(0, "hangup")
        caller.event("CALL_CLOSED")
        check(established_tcp(lines.proc.pid) == 1, "the line's BYE went over the connection the call came on")
        caller.stop()
        near(tone_of(caller.recordings()[0], 0.2), 440, "the caller heard the prompt")
    finally:
        caller.stop()
        lines.stop()


class SippTcp:
    """SIPp over TCP (mode t1: one connection for every call, tn: one connection a call) running scenario for
    calls calls, one at a time: a caller of target, or a callee on its own port when target is None."""

    def __init__(self, work, scenario, mode, calls, target=None):
        self.port = free_tcp_port()
        self.calls = calls
        self.what = f"SIPp's {scenario} over {mode}"
        self.stat = os.path.join(work, f"sipp_{mode}_{scenario}.csv")
        args = ["sipp", "-sf", os.path.join(HERE, scenario), "-t", mode, "-max_socket", "100", "-i", "127.0.0.1",
                "-p", str(self.port), "-mi", "127.0.0.1", "-m", str(calls), "-nostdin", "-timeout", "60",
                "-timeout_error", "-trace_stat", "-stf", self.stat]
        if target:
            args += ["-l", "1", "-r", "20", "-s", "2000", target]
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, cwd=work)

    def wait_listening(self):
        """Returns once SIPp listens on its port (its start takes a moment)."""
        deadline = time.monotonic() + 30
        while self.port not in bound_ports(self.proc.pid, "tcp"):
            check(time.monotonic() < deadline and self.proc.poll() is None, f"{self.what} listens")
            time.sleep(0.05)

    def check_completed(self):
        code = self.proc.wait(70)
        with open(self.stat) as f:
            rows = [row.split(";") for row in f.read().splitlines() if row]
        done = int(rows[-1][rows[0].index("SuccessfulCall(C)")])
        check(code == 0 and done == self.calls, f"{self.what}: {done} of {self.calls} calls completed (exit {code})")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def sipp_tcp_calls(exe, work, mode, calls=4):
    """SIPp calls over TCP whose Contact names no transport, each answered and hung up by the line, and (t1) calls
    of the line to SIPp over TCP: every ACK and BYE of the line reaches SIPp."""
    lines = Lines(exe, work, lines_cfg())
    peers = [SippTcp(work, "tcp_caller.xml", mode, calls, f"127.0.0.1:{lines.tcp_port}")]
    try:
        for n in range(calls):
            lines.listen(0)
            check(lines.wait(0, "ring")[0] == 0, f"call {n + 1} answered")
            check(lines.run(0, "hangup")[0] == 0, f"call {n + 1} hung up")
        peers[0].check_completed()
        if mode != "t1":
            return
        peers.append(SippTcp(work, "tcp_callee.xml", mode, calls))
        peers[1].wait_listening()
        for n in range(calls):
            result, cause = lines.run(1, "outcall", f"sip:3000@127.0.0.1:{peers[1].port};transport=tcp")
            check(result == 0, f"outgoing call {n + 1} answered: {result} {cause}")
            check(lines.run(1, "hangup")[0] == 0, f"outgoing call {n + 1} hung up")
        peers[1].check_completed()
    finally:
        for peer in peers:
            peer.stop()
        lines.stop()


def test_sipp_tcp_t1(exe, work):
    return sipp_tcp_calls(exe, work, "t1")


def test_sipp_tcp_tn(exe, work):
    return sipp_tcp_calls(exe, work, "tn")


def test_outgoing_calls(exe, work):
    """OutCall to baresip: refused with 486; answered after a provisional 183 with early media; and to SIPp,
    declined with 603."""
    lines = Lines(exe, work, lines_cfg())
    callee = Baresip(work, answermode="manual")
    peers = [callee]
    try:
        lines.send(f"outcall 1 {callee.uri()}")
        callee.event("CALL_INCOMING")
        callee.command("hangup")
        result, cause = lines.wait(1, "outcall")
        check((result, cause) == (-6, "486"), f"refused: {result} {cause}")
        callee.stop()

        early = Baresip(work, answermode="early")
        peers.append(early)
        lines.send(f"outcall 1 {early.uri()}")
        early.event("CALL_RTPESTAB")  # baresip hears the line's early media, which the 183 brought
        early.command("accept")
        result, cause = lines.wait(1, "outcall")
        check((result, cause) == (0, "183"), f"answered after the provisional 183: {result} {cause}")
        with open(os.path.join(work, "run.txt"), errors="replace") as f:
            log = f.read()
        proceeding = log.find("lcnt=1, ct=1, chState=2")
        check(0 <= proceeding < log.find("lcnt=1, ct=1, chState=4"), "the 183 came before the answer")
        check(log.find("lcnt=1, startNewChannel() Ok", proceeding) < log.find("lcnt=1, ct=1, chState=4"),
              "its early media started before the answer")
        lines.run(1, "hangup")
        early.event("CALL_CLOSED")
        early.stop()

        sipp = Sipp(work, "uas_decline.xml")
        peers.append(sipp)
        result, cause = lines.run(1, "outcall", f"sip:3000@127.0.0.1:{sipp.port}")
        check((result, cause) == (-6, "603"), f"declined: {result} {cause}")
        check(sipp.finished() == 0, "SIPp saw its scenario through")
    finally:
        for peer in peers:
            peer.stop()
        lines.stop()


def test_linked_lines(exe, work):
    """Two callers on two lines linked to each other each hear the other."""
    lines = Lines(exe, work, lines_cfg())
    a = Baresip(work, audio="ausine,1000")
    b = Baresip(work, audio="ausine,600")
    try:
        for line, peer in ((0, a), (1, b)):
            lines.listen(line)
            peer.command("dial", lines.uri())
            check(lines.wait(line, "ring")[0] == 0, "answered")
            peer.event("CALL_ESTABLISHED")
        check(lines.run(0, "link", 1)[0] == 0, "linked")
        lines.send("keys 0 1 3 #")  # the line waits three seconds while the two talk
        check(lines.wait(0, "keys")[0] == -1, "no keys")
        lines.run(0, "unlinkall")
        for line in (0, 1):
            lines.run(line, "hangup")
        a.stop()
        b.stop()
        near(tone_of(a.recordings()[0], 0.5), 600, "the first caller heard the second")
        near(tone_of(b.recordings()[0], 0.5), 1000, "the second caller heard the first")
    finally:
        a.stop()
        b.stop()
        lines.stop()


def test_messages(exe, work):
    """A SIP MESSAGE from baresip is read by a line, and one from a line reaches baresip."""
    lines = Lines(exe, work, lines_cfg())
    peer = Baresip(work, contact=None)
    try:
        result, _ = lines.run(2, "imsend", peer.uri(), "hello from zuzod")
        check(result == 0, f"sent: {result}")
        peer.out.wait_for(r'"hello from zuzod"')
        peer.stop()
        peer = Baresip(work, contact=lines.uri("2000"))
        check(peer.command("message", "hello from baresip")["ok"], "baresip sends")
        check(lines.run(2, "imwait", timeout=40)[0] == 1, "one message waits")
        result, texts = lines.run(2, "imread")
        check(result == 1, f"read: {result}")
        check(texts.endswith("hello from baresip") and texts.startswith("sip:peer@127.0.0.1"), texts)
    finally:
        peer.stop()
        lines.stop()


def test_file_transfer(exe, work):
    """A file sent over MSRP from one line to another arrives whole; tshark's MSRP dissector agrees on the
    chunks and their answers."""
    port = free_tcp_port()
    os.makedirs(os.path.join(work, "in"))
    lines = Lines(exe, work, lines_cfg(f"msrpPort={port}\nmsrpLocalPath={work}/in\n"))
    # Text: tshark's media dissectors read the chunks' contents too, and some stumble over random bytes.
    data = b"".join(b"line %06d of the report\n" % i for i in range(400))[:9000]
    with open(os.path.join(work, "report.bin"), "wb") as f:
        f.write(data)
    marker = free_tcp_port()
    cap = subprocess.Popen(["tshark", "-i", "lo", "-l", "-f", f"tcp port {port} or udp port {marker}",
                            "-d", f"tcp.port=={port},msrp", "-T", "fields", "-E", "separator=|",
                            "-e", "udp.dstport", "-e", "msrp.method", "-e", "msrp.status.code",
                            "-e", "msrp.byte.range", "-e", "msrp.cnt.flg"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=work)
    try:
        capture = LineReader(cap.stdout, os.path.join(work, "tshark.log"))
        status = LineReader(cap.stderr, os.path.join(work, "tshark.err"))
        try:
            status.wait_for(r"Capture started", 20)
        except Failure:
            print("tshark cannot capture on lo: skipped", file=sys.stderr)
            return SKIP
        result, offer = lines.run(0, "filesend", "report.bin")
        check(result > 0, f"offered: {result}")
        sender = result
        result, texts = lines.run(1, "filerecv", offer)
        check(result > 0, f"answered: {result}")
        receiver = result
        path, answer = texts.split(" ", 1)
        check(lines.run(0, "fileanswer", answer)[0] == sender, "the answer found its transfer")
        check(lines.run(0, "filewait", sender) == (1, "9000/9000"), "sent")
        check(lines.run(1, "filewait", receiver) == (1, "9000/9000"), "received")
        with open(path, "rb") as f:
            check(f.read() == data, "the file arrived whole")
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.sendto(b"end", ("127.0.0.1", marker))
        capture.wait_for(rf"^{marker}\|")
        sends, oks = [], 0
        for row in capture.lines:
            f = row.split("|")
            if len(f) >= 5 and f[1] == "SEND":
                sends.append((f[3], f[4]))
            elif len(f) >= 3 and f[2] == "200":
                oks += 1
        want = [("1-2048/9000", "+"), ("2049-4096/9000", "+"), ("4097-6144/9000", "+"), ("6145-8192/9000", "+"),
                ("8193-9000/9000", "$")]
        check(sends == want, f"chunks as tshark read them: {sends}")
        check(oks == len(want), f"answers: {oks}")
    finally:
        cap.send_signal(signal.SIGINT)
        try:
            cap.wait(10)
        except subprocess.TimeoutExpired:
            cap.kill()
            cap.wait()
        lines.stop()


def test_registration(exe, work):
    """An account registers with a registrar that asks for digest credentials; a wrong password is refused."""
    sipp = Sipp(work, "registrar.xml")
    lines = Lines(exe, work, lines_cfg(f"reg1=1,1001,secret,127.0.0.1,{sipp.port}\n"))
    try:
        check(sipp.finished() == 0, "the registrar accepted the digest")
        result, _ = lines.run(0, "accwait", "1001", 1, timeout=40)
        check(result == 1, f"registered: {result}")
        lines.stop()

        sipp = Sipp(work, "registrar.xml")
        lines = Lines(exe, work, lines_cfg(f"reg1=1,1001,wrong,127.0.0.1,{sipp.port}\n"))
        sipp.finished()
        check(lines.run(0, "accwait", "1001", -1, timeout=40)[0] == -1, "a wrong password leaves it unregistered")
        result, _ = lines.run(0, "callerid", "1001")
        result, _ = lines.run(0, "outcall", "2000")
        check(result == -2, f"an account that is not registered does not dial: {result}")
    finally:
        sipp.stop()
        lines.stop()


# How every script here starts: it says it listens once the stack knows, and waits for a call.
WAIT_CALL_KVS = """caller = "";
called = "";
keys = "";
IsRinging(caller, called);
Print("listening\\n");
r = WaitRing(1);
if(r < 0)
{
    return(r);
}
"""

ANSWER_KVS = WAIT_CALL_KVS + """Play("prompt.wav");
Print("played\\n");
n = GetKeys(keys, 4, 10);
Print("keys " + keys + " " + n + "\\n");
r = Record("caller.wav", 2);
Print("recorded " + r + "\\n");
Hangup();
Print("done\\n");
"""


def run_log(work):
    """The text of zuzod's dated run logs (run<date>.txt)."""
    text = ""
    for name in sorted(os.listdir(work)):
        if name.startswith("run") and name.endswith(".txt"):
            with open(os.path.join(work, name), errors="replace") as f:
                text += f.read()
    return text


def read_text(work, name):
    with open(os.path.join(work, name), errors="replace") as f:
        return f.read()


def wait_file(path, pattern, proc):
    """Waits (bounded) until the file holds a line matching pattern, while the process runs."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                if re.search(pattern, f.read(), re.M):
                    return
        check(proc.poll() is None, f"zuzod ended while waiting for /{pattern}/ in {path}")
        time.sleep(0.05)
    raise Failure(f"waited 30 s for /{pattern}/ in {path}")


class Zuzod:
    """zuzod in workdir with its SipCfg.ini, ZuZodRun.cfg (cfg) and scripts; waits for its SIP port."""

    def __init__(self, exe, work, cfg, env=None):
        with open(os.path.join(work, "SipCfg.ini"), "w") as f:
            f.write(lines_cfg())
        with open(os.path.join(work, "ZuZodRun.cfg"), "w") as f:
            f.write(f"FORM_TITLE=ZzSipCall{os.getpid()}\nIS_WRITE_LOG=1\nIS_IMMEDIATE_LOG=1\nLOG_FILE=run.txt\n"
                    "LOAD_DELAY=5\n" + cfg)
        env = dict(os.environ, LANG="C.UTF-8", **(env or {}))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.work = work
        with open(os.path.join(work, "out.txt"), "wb") as out:
            self.proc = subprocess.Popen([exe], cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        self.port = None
        while self.port is None:
            check(time.monotonic() < deadline and self.proc.poll() is None, "zuzod's SIP lines did not start")
            m = re.search(r"SIP listening on \S+ udp (\d+)", run_log(work))
            if m:
                self.port = int(m.group(1))
            time.sleep(0.05)

    def uri(self, user="2000"):
        return f"sip:{user}@127.0.0.1:{self.port}"

    def wait_print(self, line, pattern):
        """Waits until the line's script printed a line matching pattern."""
        wait_file(os.path.join(self.work, f"_stdout{line}.txt"), pattern, self.proc)

    def listening(self, lines=(0,)):
        """Waits until each line has looked for a call once (so the stack gives it the next one); False, having
        said so, when this build has no call-control builtins (the run log has its line before the print)."""
        for line in lines:
            self.wait_print(line, r"^listening$")
        if "not available in this build" in run_log(self.work):
            print("this build has no call-control builtins: skipped")
            return False
        return True

    def dial_in(self, audio):
        """A baresip with that microphone whose call zuzod has answered."""
        caller = Baresip(self.work, audio=audio)
        try:
            check(caller.command("dial", self.uri())["ok"], "baresip dials")
            caller.event("CALL_ESTABLISHED")
        except BaseException:
            caller.stop()
            raise
        return caller

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def test_zuzod_call(exe, work):
    """zuzod with a SIP line running a script: baresip calls, the script answers, plays the prompt that baresip
    hears, takes "12#" sent as RFC 4733 events, records the caller and hangs up."""
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-e", "a-law", os.path.join(work, "prompt.wav"),
                    "synth", "1.5", "sine", "440", "vol", "0.5"], check=True)
    with open(os.path.join(work, "answer.kvs"), "w") as f:
        f.write(ANSWER_KVS)
    zuzod = Zuzod(exe, work, "VIR_LINES_NUM=0\nTOTAL_LINES_NUM=1\n0=answer.kvs\n")
    caller = None
    try:
        if not zuzod.listening():
            return SKIP
        caller = zuzod.dial_in("ausine,1000")
        zuzod.wait_print(0, r"^played$")
        caller.command("sndcode", "12#")
        zuzod.wait_print(0, r"^keys 12 2$")
        zuzod.wait_print(0, r"^done$")
        caller.event("CALL_CLOSED")
        caller.stop()
        near(tone_of(caller.recordings()[0], 0.2), 440, "the caller heard the prompt")
        near(tone_of(os.path.join(work, "caller.wav"), 0.2), 1000, "the script recorded the caller")
    finally:
        if caller:
            caller.stop()
        zuzod.stop()


def tone_powers(path, tones, fmt=()):
    """The power of each tone (Hz) in a recording, by the Goertzel filter over its 8 kHz samples as sox reads
    them (fmt: sox's options for a headerless file)."""
    raw = subprocess.run(["sox", *fmt, path, "-t", "raw", "-r", "8000", "-c", "1", "-e", "signed", "-b", "16", "-"],
                         capture_output=True, check=True).stdout
    samples = [int.from_bytes(raw[i:i + 2], "little", signed=True) for i in range(0, len(raw) - 1, 2)]
    check(len(samples) > 8000, f"less than a second of sound in {path}")
    powers = {}
    for hz in tones:
        coeff = 2 * math.cos(2 * math.pi * hz / 8000)
        s1 = s2 = 0.0
        for x in samples:
            s1, s2 = x + coeff * s1 - s2, s1
        powers[hz] = (s1 * s1 + s2 * s2 - coeff * s1 * s2) / len(samples)
    return powers


def heard_only(powers, heard, unheard, what):
    """Every tone of heard is there and every tone of unheard at least 26 dB below the weakest heard one."""
    weakest = min(powers[hz] for hz in heard)
    check(weakest > 0, f"{what}: nothing heard ({powers})")
    for hz in unheard:
        check(powers[hz] * 400 < weakest, f"{what}: {hz} Hz is heard ({powers})")
    print(what, {hz: round(10 * math.log10(p / weakest), 1) if p > 0 else None for hz, p in powers.items()}, "dB")


VIRTUAL_LINK_KVS = WAIT_CALL_KVS + """r = LinkTo(1024, 0);
Print("linked " + r + "\\n");
GetKeys(keys, 1, 20);
r = UnlinkAll();
Print("unlinked " + r + "\\n");
Hangup();
Print("done\\n");
"""


def test_zuzod_virtual_link(exe, work):
    """A SIP line linked to a virtual line: the caller hears the sound card's input (ALSA's file device playing
    a 1800 Hz tone) and the sound card's output (a file device) plays the caller's 1000 Hz."""
    rc = os.path.join(work, "asoundrc")
    with open(rc, "w") as f:
        f.write(f'pcm.zzplay {{\n type file\n slave.pcm null\n file "{work}/played.raw"\n format raw\n}}\n'
                f'pcm.zzcap {{\n type file\n slave.pcm null\n file "{work}/capcopy.raw"\n'
                f' infile "{work}/in.raw"\n format raw\n}}\n')
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-t", "al", os.path.join(work, "in.raw"),
                    "synth", "60", "sine", "1800", "vol", "0.5"], check=True)
    with open(os.path.join(work, "link.kvs"), "w") as f:
        f.write(VIRTUAL_LINK_KVS)
    zuzod = Zuzod(exe, work, "VIR_LINES_NUM=1\nSOUND_OUT_DEVICE=zzplay\nSOUND_IN_DEVICE=zzcap\n0=link.kvs\n",
                  env={"ALSA_CONFIG_PATH": "/usr/share/alsa/alsa.conf:" + rc})
    caller = None
    try:
        if not zuzod.listening():
            return SKIP
        caller = zuzod.dial_in("ausine,1000")
        zuzod.wait_print(0, r"^linked 0$")
        # Two seconds of sound each way, counted by what the sound card has played.
        played = os.path.join(work, "played.raw")
        deadline = time.monotonic() + 30
        while not os.path.exists(played) or os.path.getsize(played) < 3 * 8000:
            check(time.monotonic() < deadline and zuzod.proc.poll() is None, "the sound card plays")
            time.sleep(0.05)
        caller.command("sndcode", "#")
        zuzod.wait_print(0, r"^unlinked 0$")
        zuzod.wait_print(0, r"^done$")
        caller.event("CALL_CLOSED")
        caller.stop()
        heard_only(tone_powers(caller.recordings()[0], (1800, 1000)), [1800], [1000],
                   "the caller hears the sound card")
        heard_only(tone_powers(played, (1000, 1800), ("-t", "al", "-r", "8000", "-c", "1")), [1000], [1800],
                   "the sound card plays the caller")
    finally:
        if caller:
            caller.stop()
        zuzod.stop()


ROOM_KVS = WAIT_CALL_KVS + """r = JoinConf("room", 0);
Print("joined " + r + "\\n");
if(r == 3)
{
    h = RecConf("room", "room.wav");
    Print("recording " + h + "\\n");
    h = PlayConf("room", "bell.wav", 1);
    Print("played " + h + "\\n");
}
GetKeys(keys, 1, 30);
r = ExitConf();
Print("left " + r + "\\n");
Hangup();
Print("done\\n");
"""


def test_zuzod_room(exe, work):
    """Three callers in one named room: each hears the other two and the bell played into the room, not itself;
    the room's recording has them all."""
    with open(os.path.join(work, "room.kvs"), "w") as f:
        f.write(ROOM_KVS)
    zuzod = Zuzod(exe, work, "VIR_LINES_NUM=0\nTOTAL_LINES_NUM=3\n0-2=room.kvs\n")
    tones = (700, 1100, 1900)
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", os.path.join(work, "bell.wav"), "synth", "1.5",
                    "sine", "2500", "vol", "0.3"], check=True)
    callers = []
    try:
        if not zuzod.listening(range(3)):
            return SKIP
        for hz in tones:
            # Quiet enough that the room's mix of two never clips: clipping would make every tone of the room.
            wav = os.path.join(work, f"tone{hz}.wav")
            subprocess.run(["sox", "-n", "-r", "48000", "-c", "2", "-b", "16", wav, "synth", "60", "sine", str(hz),
                            "vol", "0.3"], check=True)
            callers.append(zuzod.dial_in(f"aufile,{wav}"))
        # JoinConf answers with the members the room then has; ExitConf with the room's session.
        joined = set()
        for line in range(3):
            zuzod.wait_print(line, r"^joined [1-3]$")
            with open(os.path.join(work, f"_stdout{line}.txt")) as f:
                joined.add(re.search(r"^joined (\d)$", f.read(), re.M).group(1))
        check(joined == {"1", "2", "3"}, f"members counted as they joined: {sorted(joined)}")
        # The last to join records the room and plays the bell into it, to its end.
        last = [line for line in range(3) if re.search(r"^joined 3$", read_text(work, f"_stdout{line}.txt"), re.M)][0]
        zuzod.wait_print(last, r"^recording [1-9]\d*$")
        zuzod.wait_print(last, r"^played [1-9]\d*$")
        for c in callers:
            c.command("sndcode", "#")
        for line in range(3):
            zuzod.wait_print(line, r"^left [1-9]\d*$")
            zuzod.wait_print(line, r"^done$")
        for c in callers:
            c.event("CALL_CLOSED")
            c.stop()
        for c, hz in zip(callers, tones):
            others = [t for t in tones if t != hz]
            heard_only(tone_powers(c.recordings()[0], tones + (2500,)), others + [2500], [hz], f"the {hz} Hz caller")
        heard_only(tone_powers(os.path.join(work, "room.wav"), tones + (2500,)), tones + (2500,), [],
                   "the room's recording")
    finally:
        for c in callers:
            c.stop()
        zuzod.stop()


TESTS = {name[5:]: fn for name, fn in globals().items() if name.startswith("test_")}


def main():
    exe, name = sys.argv[1], sys.argv[2]
    for tool in ("baresip", "sipp", "sox", "tshark"):
        if not shutil.which(tool):
            print(f"{name}: {tool} is not installed: skipped")
            return SKIP
    work = tempfile.mkdtemp(prefix=f"zzsip-{name}-")
    try:
        result = TESTS[name](exe, work)
        if result == SKIP:
            shutil.rmtree(work, ignore_errors=True)
            return SKIP
        print(f"{name}: ok")
        shutil.rmtree(work, ignore_errors=True)
        return 0
    except Failure as e:
        print(f"{name}: FAILED: {e}\n(the peers' logs are in {work})")
        for log in ("lines.log", "run.txt"):
            p = os.path.join(work, log)
            if os.path.exists(p):
                with open(p, errors="replace") as f:
                    print(f"--- {log}\n" + "".join(f.readlines()[-40:]))
        return 1


if __name__ == "__main__":
    sys.exit(main())
