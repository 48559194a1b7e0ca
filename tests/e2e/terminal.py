#!/usr/bin/env python3
"""The terminal's tray menu, driven through a pseudo-terminal.

    python3 tests/e2e/terminal.py <path-to-pellamo>

The program runs on a new pseudo-terminal in a temporary working directory
whose settings file names a local update server of this script (answering the
program's own version, so that nothing else is said). The test chooses
"Настройки", enters a new address, checks the rewritten settings file, then
chooses "&Выход" and expects status 0. Exits non-zero on failure.
"""
import errno
import http.server
import os
import pty
import select
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time

PLUGIN_PORT = 3000
VERSION = 101276
MAGIC = bytes([0x1D, 0xF1, 0xDE, 0xFF])


def settings_file(host, port, version=106):
    h = host.encode("latin-1")
    return MAGIC + struct.pack("<II", version, len(h)) + h + struct.pack("<I", port)


class VersionHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"tesel.message" + str(VERSION).encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def port_is_free(port):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("0.0.0.0", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def wait_for_free_plugin_port(timeout=120):
    # Only a listening socket keeps the program from binding (it rebinds over
    # TIME_WAIT leftovers, as this check does).
    deadline = time.time() + timeout
    while not port_is_free(PLUGIN_PORT):
        if time.time() > deadline:
            raise AssertionError(f"port {PLUGIN_PORT} is held by another process")
        time.sleep(0.2)


class Terminal:
    """The program on the slave side of a pseudo-terminal."""

    def __init__(self, program, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                os.chdir(cwd)
                os.execv(program, [program])
            finally:
                os._exit(127)
        self.output = b""
        self.status = None

    def _read(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        if not ready:
            return False
        try:
            data = os.read(self.fd, 4096)
        except OSError as e:  # EIO: the program closed the terminal
            if e.errno != errno.EIO:
                raise
            data = b""
        if not data:
            return None
        self.output += data
        return True

    def expect(self, text, timeout=15):
        """Waits until text (UTF-8) appears after what was consumed before."""
        wanted = text.encode()
        deadline = time.time() + timeout
        while wanted not in self.output:
            left = deadline - time.time()
            if left <= 0 or self._read(left) is None:
                raise AssertionError(f"no {text!r} on the terminal; got {self.output.decode(errors='replace')!r}")
        at = self.output.index(wanted) + len(wanted)
        seen, self.output = self.output[:at], self.output[at:]
        return seen.decode(errors="replace")

    def send(self, line):
        os.write(self.fd, (line + "\n").encode())

    def wait(self, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = status
                return os.waitstatus_to_exitcode(status)
            self._read(0.05)
        raise AssertionError("the program did not end; terminal: " + self.output.decode(errors="replace"))

    def close(self):
        if self.status is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
            except OSError:
                pass
        os.close(self.fd)


def run_case(program, server_port, name, body):
    work = tempfile.mkdtemp(prefix="pellamo-terminal-")
    os.mkdir(os.path.join(work, "data"))
    settings = os.path.join(work, "data", "settings.dat")
    with open(settings, "wb") as f:
        f.write(settings_file("127.0.0.1", server_port))
    wait_for_free_plugin_port()
    term = Terminal(program, work)
    try:
        body(term, settings, server_port)
        print(f"ok   {name}")
        return True
    except AssertionError as e:
        print(f"FAIL {name}\n     {e}")
        return False
    finally:
        term.close()
        shutil.rmtree(work, ignore_errors=True)


def settings_then_exit(term, settings, server_port):
    menu = term.expect("&Выход")
    assert "Настройки" in menu and menu.index("Настройки") < menu.rindex("&Выход"), menu
    term.expect("> ")
    term.send("1")
    form = term.expect("> ")
    assert "Версия плагина: 1.01.276" in form, form
    assert f"Транспортный сервер : 127.0.0.1:{server_port}" in form, form
    term.send("ca.test:9444")
    term.expect("Настройки сохранены.")
    term.expect("&Выход")
    term.expect("> ")
    with open(settings, "rb") as f:
        assert f.read() == settings_file("ca.test", 9444), "settings.dat not rewritten"
    term.send("2")
    code = term.wait()
    assert code == 0, f"exit status {code}"


def bad_address_keeps_the_old_one(term, settings, server_port):
    term.expect("> ")
    term.send("Настройки")
    term.expect("> ")
    term.send("no-colon-here")
    term.expect("Настройки сохранены.")
    term.expect("> ")
    with open(settings, "rb") as f:
        assert f.read() == settings_file("127.0.0.1", server_port), "the old address was not saved"
    term.send("something else")
    term.expect("> ")
    term.send("в")  # the mnemonic of "&Выход"
    code = term.wait()
    assert code == 0, f"exit status {code}"


def sigterm_with_the_menu_open(term, settings, server_port):
    term.expect("> ")
    os.kill(term.pid, signal.SIGTERM)
    code = term.wait()
    assert code == 0, f"exit status {code}"


def main():
    program = os.path.abspath(sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), VersionHandler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]
    results = [
        run_case(program, port, '"Настройки" rewrites settings.dat, "&Выход" ends with 0', settings_then_exit),
        run_case(program, port, "a text without a colon keeps and saves the old address", bad_address_keeps_the_old_one),
        run_case(program, port, "SIGTERM ends the program with 0 while the menu waits", sigterm_with_the_menu_open),
    ]
    server.shutdown()
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
