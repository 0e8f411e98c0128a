#!/usr/bin/python3
"""A small real HTTP server for the update tests.

GET /p answers from the folder --root:
  p.status    the status code to answer with (default 200 when p exists, else 404)
  p           the body
  p.redirect  answer 302 with this Location
  p.hang      accept the request and never answer (for time-outs)
Every request path is appended to <out>/requests; <out>/port holds the port once listening.
"""
import argparse
import http.server
import os
import threading
import time


def write_file(path, text):
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temp, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *a):
            pass

        def do_GET(self):
            with lock:
                with open(os.path.join(args.out, "requests"), "a", encoding="utf-8") as f:
                    f.write(self.path + "\n")
            local = os.path.join(args.root, self.path.split("?", 1)[0].lstrip("/"))
            if os.path.exists(local + ".hang"):
                time.sleep(3600)
                return
            if os.path.exists(local + ".redirect"):
                with open(local + ".redirect", encoding="utf-8") as f:
                    location = f.read().strip()
                self.send_response(302)
                self.send_header("Location", location)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            body = b""
            status = 404
            if os.path.isfile(local):
                with open(local, "rb") as f:
                    body = f.read()
                status = 200
            if os.path.exists(local + ".status"):
                with open(local + ".status", encoding="utf-8") as f:
                    status = int(f.read().strip())
            self.send_response(status)
            if status not in (204, 304):
                self.send_header("Content-Type", "text/plain; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if status not in (204, 304):
                self.wfile.write(body)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    write_file(os.path.join(args.out, "port"), str(server.server_address[1]))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
