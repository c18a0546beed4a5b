"""bmpface serve with real clients, on 127.0.0.1 only: every endpoint and every error through
http.client (answers compared with the command's own on the same picture), a few through curl, then
faults bounded in count and time (malformed requests, an over-long header, oversized bodies, a
slow-loris client, disconnects mid-upload and mid-answer, the bombs of the limits test), the
server's memory before and after them, and SIGTERM under load.

  serve_test.py BMPFACE SAMPLE.bmp [--sanitized]   (--sanitized: memory is reported, not
                                                    bounded, and the times allowed are longer)
"""
import http.client
import io
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image, ImageDraw

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bombs import bombs  # noqa: E402

BMPFACE = os.path.abspath(sys.argv[1])
SAMPLE = open(sys.argv[2], "rb").read()
SANITIZED = "--sanitized" in sys.argv
SLOW = 5 if SANITIZED else 1  # how much longer a sanitized build may take
TMP = tempfile.mkdtemp(prefix="bmpface-serve-")
failures = []
servers = []  # every server started, so that none outlives the test


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL", what)


class Server:
    """bmpface serve on a port the system picks, its log lines kept."""

    def __init__(self, *args):
        self.log = []
        self.proc = subprocess.Popen([BMPFACE, "serve", "--listen", "127.0.0.1:0"] + list(args),
                                     stderr=subprocess.PIPE, text=True)
        servers.append(self.proc)
        first = json.loads(self.proc.stderr.readline())
        self.port = first["port"]
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            self.log.append(json.loads(line))

    def request(self, method, path, body=None, headers=None, timeout=30):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        conn.request(method, path, body=body, headers=headers or {})
        res = conn.getresponse()
        data = res.read()
        conn.close()
        return res.status, dict((k.lower(), v) for k, v in res.getheaders()), data

    def rss_kb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def alive(self):
        return self.proc.poll() is None and self.request("GET", "/healthz")[0] == 200

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        code = self.proc.wait(timeout=60)
        self.reader.join(timeout=5)
        return code


def command(*args):
    return subprocess.run([BMPFACE] + list(args), capture_output=True, cwd=TMP)


def picture(fmt, size, colour=(40, 90, 200)):
    out = io.BytesIO()
    Image.new("RGB", size, colour).save(out, format=fmt)
    return out.getvalue()


def raw(port, data, wait=10):
    """Sends `data` on a fresh connection; returns the answer that came back, whole by its
    Content-Length, or what came before the server closed (or `wait` passed: b'<timeout>' is
    appended)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=wait)
    try:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before the whole body went: the answer is still there to read
        out = b""
        while True:
            end = out.find(b"\r\n\r\n")
            length = re.search(rb"Content-Length: (\d+)", out[:end]) if end >= 0 else None
            if length and len(out) >= end + 4 + int(length.group(1)):
                return out
            chunk = s.recv(65536)
            if not chunk:
                return out
            out += chunk
    except socket.timeout:
        return out + b"<timeout>"
    except ConnectionResetError:
        return out + b"<reset>"
    finally:
        s.close()


def endpoints(server):
    sample_path = os.path.join(TMP, "sample.bmp")
    with open(sample_path, "wb") as f:
        f.write(SAMPLE)
    command(sample_path, "crop.bmp")
    command("explain", sample_path, "explain.png")
    detect = json.loads(command("--detect", "--json", sample_path).stdout)
    framed = command("--detect", "--margin", "0.2", sample_path).stdout.decode().split()
    del detect["path"]
    no_face = picture("BMP", (200, 200))
    broken = SAMPLE[:200]
    # A skin-coloured disc: a region the rule takes, where a face detector finds no face.
    disc = Image.new("RGB", (200, 160), (40, 70, 90))
    ImageDraw.Draw(disc).ellipse([50, 10, 130, 110], fill=(214, 160, 128))
    out = io.BytesIO()
    disc.save(out, format="BMP")
    disc = out.getvalue()
    verified = command("--detect", "--json", "--verify", "--frame", "face", sample_path)
    can_verify = verified.returncode == 0
    verified = json.loads(verified.stdout) if can_verify else {}
    verified.pop("path", None)

    # (what, method, path, body, status, content type, check of the body and headers)
    rows = [
        ("health", "GET", "/healthz", None, 200, "text/plain", lambda b, h: b == b"ok\n"),
        ("page", "GET", "/", None, 200, "text/html", lambda b, h: b"<main>" in b),
        ("detect = --detect --json", "POST", "/v1/detect", SAMPLE, 200, "application/json",
         lambda b, h: json.loads(b) == detect),
        ("crop = the command's crop", "POST", "/v1/crop", SAMPLE, 200, "image/bmp",
         lambda b, h: b == open(os.path.join(TMP, "crop.bmp"), "rb").read()),
        ("framed crop as PNG", "POST", "/v1/crop?format=png&margin=0.2", SAMPLE, 200, "image/png",
         lambda b, h: b.startswith(b"\x89PNG") and h["x-bmpface-rect"].split(",") == framed[-4:]),
        ("explain = the command's", "POST", "/v1/explain", SAMPLE, 200, "image/png",
         lambda b, h: b == open(os.path.join(TMP, "explain.png"), "rb").read()),
        ("explain without a face", "POST", "/v1/explain", no_face, 200, "image/png",
         lambda b, h: h["x-bmpface-outcome"] == "no_face"),
        ("not a number", "POST", "/v1/crop?quality=abc", SAMPLE, 400, "problem", None),
        ("out of range", "POST", "/v1/crop?quality=101", SAMPLE, 400, "problem", None),
        ("unknown parameter", "POST", "/v1/crop?colour=red", SAMPLE, 400, "problem", None),
        ("output option on detect", "POST", "/v1/detect?format=png", SAMPLE, 400, "problem", None),
        ("frame face without verify", "POST", "/v1/detect?frame=face", SAMPLE, 400, "problem",
         None),
        ("verify word", "POST", "/v1/detect?verify=maybe", SAMPLE, 400, "problem", None),
        ("orient word", "POST", "/v1/crop?orient=maybe", SAMPLE, 400, "problem", None),
        ("size over the pixel limit", "POST", "/v1/crop?size=20000x20000", SAMPLE, 400, "problem",
         None),
        ("empty body", "POST", "/v1/crop", b"", 400, "problem", None),
        ("body too large", "POST", "/v1/crop", b"\0" * 3_000_001, 413, "problem", None),
        ("not a picture", "POST", "/v1/detect", b"hello, world", 415, "problem", None),
        ("no face", "POST", "/v1/crop", no_face, 422, "problem",
         lambda b, h: json.loads(b)["outcome"] == "no_face"),
        ("broken picture", "POST", "/v1/detect", broken, 422, "problem",
         lambda b, h: json.loads(b)["outcome"] == "load_failed"),
        ("unknown path", "GET", "/v2/crop", None, 404, "problem", None),
        ("wrong method", "GET", "/v1/crop", None, 404, "problem", None),
    ]
    if can_verify:  # the command has the face detector's module: so has the service
        rows += [
            ("verify = --verify --frame face", "POST", "/v1/detect?verify=1&frame=face", SAMPLE,
             200, "application/json", lambda b, h: json.loads(b) == verified),
            ("unverified", "POST", "/v1/crop?verify=true", disc, 422, "problem",
             lambda b, h: json.loads(b)["outcome"] == "unverified"),
        ]
    else:
        rows.append(("verify without the module", "POST", "/v1/crop?verify=1", SAMPLE, 400,
                     "problem", None))
    for what, method, path, body, status, kind, test in rows:
        got, headers, data = server.request(method, path, body)
        ctype = headers.get("content-type", "")
        check(got == status, "%s: status %d, expected %d (%r)" % (what, got, status, data[:200]))
        check(kind in ctype, "%s: content type %s" % (what, ctype))
        if kind == "problem":
            problem = json.loads(data)
            check(problem["status"] == status and problem["title"] and problem["detail"],
                  "%s: problem %r" % (what, problem))
        if test is not None and got == status:
            check(test(data, headers), "%s: body or headers %r" % (what, headers))

    metrics = server.request("GET", "/metrics")[2].decode()
    for needed in ['bmpface_requests_total{endpoint="/v1/crop",status="200",outcome="done"}',
                   'bmpface_request_seconds_bucket{endpoint="/v1/detect",le="+Inf"}',
                   'bmpface_refused_total{limit="body"} 1', "bmpface_in_flight 0",
                   "bmpface_queue_depth 0"]:
        check(needed in metrics, "metrics lack %s" % needed)
    # A request's log line is written as its answer goes: the last may still be on its way.
    logged = [line for line in server.log if "path" in line]
    for _ in range(200):
        if len(logged) >= len(rows):
            break
        time.sleep(0.05)
        logged = [line for line in server.log if "path" in line]
    check(len(logged) >= len(rows) and all({"status", "us", "outcome", "method"} <= set(line)
                                           for line in logged), "access log lines")

    # curl: a body large enough that curl asks before sending it (Expect: 100-continue) is
    # refused before it is sent, at once.
    url = "http://127.0.0.1:%d" % server.port
    big = os.path.join(TMP, "big.bin")
    with open(big, "wb") as f:
        f.write(b"\0" * 3_000_001)
    for what, args, expected in [
        ("curl detect", ["--data-binary", "@" + sample_path, url + "/v1/detect"], "200"),
        ("curl crop", ["--data-binary", "@" + sample_path, url + "/v1/crop?format=jpg"], "200"),
        ("curl too large", ["--data-binary", "@" + big, url + "/v1/crop"], "413"),
    ]:
        start = time.monotonic()
        out = subprocess.run(["curl", "-s", "-o", os.devnull, "-w", "%{http_code}", "-m", "20"] +
                             args, capture_output=True, text=True).stdout
        check(out == expected and time.monotonic() - start < 2 * SLOW,
              "%s: %s in %.1f s" % (what, out, time.monotonic() - start))


def busy_and_late():
    """503 when every worker and queue place is taken; 504 past --timeout."""
    large = picture("PNG", (8000, 8000), (214, 160, 128))
    server = Server("--workers", "1", "--queue", "0", "--timeout", "1")
    answers = []

    def one():
        answers.append(server.request("POST", "/v1/explain", large, timeout=60))

    threads = [threading.Thread(target=one) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    statuses = sorted(a[0] for a in answers)
    check(503 in statuses, "no 503 with one worker and no queue: %s" % statuses)
    check(all(a[1].get("retry-after") for a in answers if a[0] == 503), "503 without Retry-After")
    check(504 in statuses, "no 504 past a one-second budget: %s" % statuses)
    check(server.alive(), "server down after 503 and 504")
    check(server.stop() == 0, "exit status after SIGTERM")


def faults(server):
    port = server.port
    for _ in range(3):  # warm: the first pictures start libvips and its caches
        server.request("POST", "/v1/crop?format=jpg", SAMPLE)
    before = server.rss_kb()
    head = b"POST /v1/crop HTTP/1.1\r\nHost: x\r\n"
    cases = [
        ("garbage request line", b"GARBAGE\r\n\r\n", b"400"),
        ("no version", b"GET /\r\n\r\n", b"400"),
        ("bad content length", head + b"Content-Length: -5\r\n\r\n", b"400"),
        ("over-long header", b"GET / HTTP/1.1\r\nX-Long: " + b"a" * 20000 + b"\r\n\r\n", b"4"),
        ("over-long path", b"GET /" + b"a" * 20000 + b" HTTP/1.1\r\n\r\n", b"414"),
        ("declared too large", head + b"Content-Length: 3000001\r\n\r\n", b"413"),
        ("chunked too large", head + b"Transfer-Encoding: chunked\r\n\r\n" +
         (b"10000\r\n" + b"x" * 0x10000 + b"\r\n") * 50, b"413"),
        ("expect, too large", head + b"Content-Length: 3000001\r\nExpect: 100-continue\r\n\r\n",
         b"413"),
    ]
    for what, data, status in cases:
        start = time.monotonic()
        got = raw(port, data)
        check(got.startswith(b"HTTP/1.1 " + status), "%s: %r" % (what, got[:80]))
        check(time.monotonic() - start < 3 * SLOW, "%s: the answer took %.1f s" % (
            what, time.monotonic() - start))

    # Slow-loris: clients that send a header byte now and then hold a connection, never a
    # worker: others are answered meanwhile, and the slow ones are dropped once they pause longer
    # than the read timeout.
    slow = []
    for _ in range(4):
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.sendall(b"POST /v1/crop HTTP/1.1\r\n")
        slow.append(s)
    for _ in range(4):
        for s in slow:
            s.sendall(b"X")
        start = time.monotonic()
        status = server.request("POST", "/v1/detect", SAMPLE)[0]
        check(status == 200 and time.monotonic() - start < 2 * SLOW, "answer beside slow clients")
        time.sleep(0.5)
    start = time.monotonic()
    for s in slow:
        s.settimeout(15)
        try:
            gone = s.recv(100) is not None
        except (socket.timeout, ConnectionResetError):
            gone = False
        s.close()
    check(gone and time.monotonic() - start < 12, "slow client not dropped in time")

    # Disconnects mid-upload and mid-answer.
    for _ in range(5):
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(head + b"Content-Length: %d\r\n\r\n" % len(SAMPLE) + SAMPLE[:1000])
        s.close()
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(head.replace(b"crop", b"explain") + b"Content-Length: %d\r\n\r\n" % len(SAMPLE)
                  + SAMPLE)
        s.recv(100)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")  # reset
        s.close()

    # The bombs: refused from their header, quickly, without memory.
    for name, data in sorted(bombs().items()):
        start = time.monotonic()
        status, _, body = server.request("POST", "/v1/detect", data, timeout=60)
        check(status in (413, 415, 422) and time.monotonic() - start < 10 * SLOW,
              "bomb %s: %d %r in %.1f s" % (name, status, body[:120], time.monotonic() - start))
    metrics = server.request("GET", "/metrics")[2].decode()
    check(re.search(r'bmpface_refused_total\{limit="pixels"\} [1-9]', metrics), "pixel refusals")

    check(server.alive(), "server down after the faults")
    after = server.rss_kb()
    print("server RSS: %d MB before the faults, %d MB after" % (before // 1024, after // 1024))
    check(SANITIZED or after - before < 100 * 1024,
          "RSS grew by %d MB" % ((after - before) // 1024))


def sigterm_under_load():
    """Every request the server took is answered whole before it exits 0."""
    server = Server("--workers", "2")
    results = []
    stop = time.monotonic() + 3

    def client():
        while time.monotonic() < stop:
            try:
                status, _, body = server.request("POST", "/v1/crop?format=jpg", SAMPLE)
                results.append("whole" if status == 200 and body[:2] == b"\xff\xd8" else "bad")
            except (ConnectionRefusedError, ConnectionResetError, http.client.RemoteDisconnected):
                results.append("refused")
                time.sleep(0.05)

    threads = [threading.Thread(target=client) for _ in range(6)]
    for t in threads:
        t.start()
    time.sleep(1)
    code = server.stop()
    for t in threads:
        t.join()
    answered = sum(1 for line in server.log if line.get("status") == 200)
    check(code == 0, "exit status %s after SIGTERM" % code)
    check("bad" not in results, "a cut answer after SIGTERM")
    check(results.count("whole") == answered and answered > 0,
          "answers whole at the clients %d, given by the server %d" % (results.count("whole"),
                                                                       answered))


def main():
    try:
        server = Server("--max-body", "3000000", "--workers", "2")
        endpoints(server)
        faults(server)
        check(server.stop() == 0, "exit status after SIGTERM")
        busy_and_late()
        sigterm_under_load()
    finally:
        for proc in servers:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        shutil.rmtree(TMP, ignore_errors=True)
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("serve: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
