#!/usr/bin/env python3
"""Local stand-in of the address classifier service.

    python3 tools/classifier-standin.py [--port 80] [--bind 127.0.0.1] [--token <24 hex digits>]

GET /api.php?query=<text>&contentType=region|city|street[&regionId=<id>|&cityId=<id>]
    &withParent=0&limit=<n>&token=<token>
answers {"result": [...]}: the stand-in's own notice item first, then the
items whose name starts with the query (case-insensitive), at most limit.
A wrong token is answered 403 with an error object. Control endpoints:
    GET /control/requests   the request targets received so far (JSON list, UTF-8)
    GET /control/reset      forget them
The first output line is "classifier-standin listening on http://<address>:<port>".
"""
import argparse
import json
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DEFAULT_TOKEN = "5f0c3a9e1b7d4c2a8e6f9b10"

NOTICE = {"id": "notice", "name": "Local kladr-api stand-in: test data only", "typeShort": "", "contentType": ""}

# (content type, id, name, short type, parent id)
ITEMS = [
    ("region", "7700000000000", "Москва", "г", None),
    ("region", "5000000000000", "Московская", "обл", None),
    ("region", "1500000000000", "Осетия - Алания", "Респ", None),
    ("region", "7800000000000", "Санкт-Петербург", "г", None),
    ("city", "7700000000000", "Москва", "г", "7700000000000"),
    ("city", "5000002000000", "Мытищи", "г", "5000000000000"),
    ("city", "1500000100000", "Владикавказ", "г", "1500000000000"),
    ("street", "77000000000287700", "Тверская", "ул", "7700000000000"),
    ("street", "77000000000123400", "Таганская", "ул", "7700000000000"),
    ("street", "15000001000012300", "Маркуса", "ул", "1500000100000"),
]

lock = threading.Lock()
received = []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    token = DEFAULT_TOKEN

    def log_message(self, fmt, *args):
        sys.stdout.write("%s\n" % (fmt % args))
        sys.stdout.flush()

    def answer(self, status, body, kind="application/json; charset=utf-8"):
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        target = self.path.encode("latin-1").decode("utf-8", "replace")
        if target.startswith("/control/"):
            return self.control(target[len("/control/"):])
        with lock:
            received.append(target)
        path, _, query = target.partition("?")
        if path != "/api.php":
            return self.answer(404, "<html><body>404 Not Found</body></html>", "text/html")
        # The query text may come in raw (UTF-8) or percent-encoded.
        fields = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        if fields.get("token") != self.token:
            return self.answer(403, json.dumps({"error": "wrong token"}))
        kind = fields.get("contentType", "")
        wanted = fields.get("query", "").casefold()
        parent = fields.get("regionId") if kind == "city" else fields.get("cityId") if kind == "street" else None
        try:
            limit = int(fields.get("limit", "8"))
        except ValueError:
            limit = 8
        found = [{"id": i, "name": n, "zip": None, "type": "", "typeShort": t, "contentType": k}
                 for (k, i, n, t, p) in ITEMS
                 if k == kind and n.casefold().startswith(wanted) and (not parent or p == parent)]
        self.answer(200, json.dumps({"result": [NOTICE] + found[:limit]}, separators=(",", ":")))

    def control(self, what):
        with lock:
            if what == "requests":
                return self.answer(200, json.dumps(received, ensure_ascii=False))
            if what == "reset":
                received.clear()
                return self.answer(200, "ok", "text/plain")
        self.answer(404, "unknown control", "text/plain")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--token", default=DEFAULT_TOKEN)
    args = parser.parse_args()
    Handler.token = args.token
    server = ThreadingHTTPServer((args.bind, args.port), Handler)
    print("classifier-standin listening on http://%s:%d" % server.server_address[:2], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
