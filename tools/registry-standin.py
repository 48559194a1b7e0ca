#!/usr/bin/env python3
"""Local stand-in of the legal-entity register service.

    python3 tools/registry-standin.py [--port 5000] [--bind 127.0.0.1]

GET /api/abonents?where={"inn":"<INN>"} answers a JSON array with the record of
that INN (or []), Cyrillic escaped as \\uXXXX, nested objects, nulls for what a
record lacks. Control endpoints, for tests:
    GET  /control/requests        the request targets received so far (JSON list, UTF-8)
    GET  /control/reset           forget them
    POST /control/record/<inn>    body: a JSON object, served for that INN from now on
The first output line is "registry-standin listening on http://<address>:<port>".
"""
import argparse
import json
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def record(inn, kpp, ogrn, full, short, region, city, settlement, street, house, building, flat, head, position):
    surname, name, patronymic = head
    return {
        "kpp": kpp,
        "inn": inn,
        "ogrn": ogrn,
        "address": {
            "index": "000000",
            "dom": house,
            "region": {"name": region, "type": "region"},
            "kvart": flat,
            "gorod": {"name": city} if city is not None else None,
            "punkt": {"name": settlement} if settlement is not None else None,
            "street": {"name": street} if street is not None else None,
            "korp": building,
        },
        "dolgnfl": [{"fl": {"fam_fl": surname, "nam_fl": name, "otch_fl": patronymic}, "dolgn": position}],
        "ul_name": {"names": full, "namep": short},
    }


RECORDS = {
    # Everything present.
    "7701234567": record("7701234567", "770101001", "1027700132195",
                         "ОБЩЕСТВО С ОГРАНИЧЕННОЙ ОТВЕТСТВЕННОСТЬЮ \"РОМАШКА\"", "ООО \"РОМАШКА\"",
                         "ГОРОД МОСКВА", "Москва", "Зеленоград", "Тверская", "12", "2", "305",
                         ("Иванов", "Иван", "Иванович"), "Генеральный директор"),
    # No flat, building, settlement or patronymic; a region of four words.
    "1501234567": record("1501234567", "150101001", "1021500000012",
                         "АКЦИОНЕРНОЕ ОБЩЕСТВО \"ГОРНЫЙ КЛЮЧ\"", "АО \"ГОРНЫЙ КЛЮЧ\"",
                         "РЕСПУБЛИКА СЕВЕРНАЯ ОСЕТИЯ - АЛАНИЯ", "Владикавказ", None, "Маркуса", "1", None, None,
                         ("Петрова", "Мария", None), "Директор"),
}

lock = threading.Lock()
received = []
extra = {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stdout.write("%s\n" % (fmt % args))
        sys.stdout.flush()

    def answer(self, status, body, kind="application/json; charset=utf-8"):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def target(self):
        # http.server reads the request line as Latin-1: give back its bytes as UTF-8.
        return self.path.encode("latin-1").decode("utf-8", "replace")

    def do_GET(self):
        self.route(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.route(self.rfile.read(length))

    def route(self, body):
        target = self.target()
        if target.startswith("/control/"):
            return self.control(target[len("/control/"):], body)
        with lock:
            received.append(target)
        path, _, query = target.partition("?")
        if path != "/api/abonents" or not query.startswith("where="):
            return self.answer(404, "<html><body>404 Not Found</body></html>", "text/html")
        try:
            where = json.loads(urllib.parse.unquote(query[len("where="):]))
            inn = str(where.get("inn", ""))
        except (ValueError, AttributeError):
            return self.answer(400, '{"error": "bad where"}')
        with lock:
            found = extra.get(inn) or RECORDS.get(inn)
        self.answer(200, json.dumps([found] if found else []))

    def control(self, what, body):
        if what == "requests":
            with lock:
                return self.answer(200, json.dumps(received, ensure_ascii=False))
        if what == "reset":
            with lock:
                received.clear()
            return self.answer(200, "ok", "text/plain")
        if what.startswith("record/"):
            with lock:
                extra[what[len("record/"):]] = json.loads(body.decode("utf-8"))
            return self.answer(200, "ok", "text/plain")
        self.answer(404, "unknown control", "text/plain")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=5000)
    parser.add_argument("--bind", default="127.0.0.1")
    args = parser.parse_args()
    server = ThreadingHTTPServer((args.bind, args.port), Handler)
    print("registry-standin listening on http://%s:%d" % server.server_address[:2], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
