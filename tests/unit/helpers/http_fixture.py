#!/usr/bin/env python3
"""Loopback HTTP server for the transport and update tests.

Started by the tests as a child process. It prints one line
    PORT <http port> BLACKHOLE <port> REFUSED <port>
and then takes commands, one per line, on standard input, answering each
with a line on standard output. It ends when standard input closes.

The BLACKHOLE port has a listener whose accept queue is full: the kernel
drops further connection requests, so a client's connect times out. The
REFUSED port had a listener that is closed again: connecting is refused.

Commands (hex fields are the bytes hex-encoded, "-" for none):
    route <path> <status> <content-type> <hex body> [<location>]
        Fixed answer for any method on exactly <path> (query included).
        Status 0 closes the connection without an answer; status -1 answers
        200 without a length and repeats the body until the client leaves.
    download <filename> <status> <hex body>
        Fixed answer of /api/etc/downloadUpdate for that file name.
    package <hex folder>
        /api/etc/downloadUpdate serves <folder>/<filename>.
    reset       forget routes, downloads, package and log
    log         answers "LOG <n>" and n lines "<method> <path> <hex body> <hex headers>"
Every command except log answers "OK".

Unknown paths get a 404 HTML page. A download with no file gets the
transport error form with server error 13.
"""
import os
import socket
import struct
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAGIC = b"tesel.message"
NOT_FOUND = b"<html><head><title>404 Not Found</title></head><body>Not Found</body></html>"

lock = threading.Lock()
state = {"routes": {}, "downloads": {}, "package": None, "log": []}


def error_form(number):
    return MAGIC + b"error=" + struct.pack("<I", number)


class Handler(BaseHTTPRequestHandler):
    server_version = "fixture/1.0"

    def log_message(self, *args):  # keep the test output clean
        pass

    def answer(self, status, content_type, body, location=None):
        if status == 0:
            self.close_connection = True
            return
        if status == -1:
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.end_headers()
            try:
                for _ in range(1 << 16):  # at most 64 Ki repetitions
                    self.wfile.write(body)
            except OSError:
                pass
            return
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        if location:
            self.send_header("Location", location)
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self, method):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        headers = "".join(f"{k}: {v}\n" for k, v in self.headers.items()).encode()
        with lock:
            state["log"].append((method, self.path, body, headers))
            route = state["routes"].get(self.path)
            downloads = dict(state["downloads"])
            package = state["package"]
        if route is not None:
            self.answer(*route)
            return
        if self.path == "/api/etc/downloadUpdate" and method == "POST":
            form = dict(p.split("=", 1) for p in body.decode("latin-1").split("&") if "=" in p)
            name = form.get("filename", "")
            if name in downloads:
                status, data = downloads[name]
                self.answer(status, "application/octet-stream", data)
                return
            if package is not None and name and os.path.isfile(os.path.join(package, name)):
                with open(os.path.join(package, name), "rb") as f:
                    self.answer(200, "application/octet-stream", f.read())
                return
            self.answer(200, "application/octet-stream", error_form(13))
            return
        self.answer(404, "text/html", NOT_FOUND)

    def do_GET(self):
        self.handle_any("GET")

    def do_POST(self):
        self.handle_any("POST")


def unhex(field):
    return b"" if field == "-" else bytes.fromhex(field)


def hexed(data):
    return data.hex() if data else "-"


def blackhole():
    """A listener with a full accept queue, and the sockets that fill it."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    for _ in range(4):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        fillers.append(s)
    return port, [listener] + fillers


def refused_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    hole_port, keep = blackhole()
    print(f"PORT {server.server_address[1]} BLACKHOLE {hole_port} REFUSED {refused_port()}",
          flush=True)
    for line in sys.stdin:
        parts = line.split()
        if not parts:
            continue
        cmd = parts[0]
        with lock:
            if cmd == "route":
                location = parts[5] if len(parts) > 5 else None
                state["routes"][parts[1]] = (int(parts[2]), parts[3], unhex(parts[4]), location)
            elif cmd == "download":
                state["downloads"][parts[1]] = (int(parts[2]), unhex(parts[3]))
            elif cmd == "package":
                state["package"] = unhex(parts[1]).decode()
            elif cmd == "reset":
                state.update(routes={}, downloads={}, package=None, log=[])
            elif cmd == "log":
                entries = list(state["log"])
                out = [f"LOG {len(entries)}"]
                out += [f"{m} {p} {hexed(b)} {hexed(h)}" for m, p, b, h in entries]
                print("\n".join(out), flush=True)
                continue
        print("OK", flush=True)
    server.shutdown()
    del keep


if __name__ == "__main__":
    main()
