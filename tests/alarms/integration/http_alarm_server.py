#!/usr/bin/python3
"""Loopback HTTP(S) server for the alarm call tests.

Usage: http_alarm_server.py [CERTFILE KEYFILE]
Binds 127.0.0.1 on a free port and prints "PORT <n>". Every request is printed as one line
"REQUEST <path> UA=<user agent> AUTH=<authorization header>" before it is answered.
Paths:
  /ok              200 with a short body
  /big/<n>         200 with a body of n bytes (binary)
  /status/<code>   that status with a short body
  /auth            401 with a Basic challenge unless the credentials are alarm:s3cret
  /redirect        302 to /ok
"""
import base64
import http.server
import ssl
import sys

EXPECTED_AUTH = "Basic " + base64.b64encode(b"alarm:s3cret").decode()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def answer(self, code, body=b"alarm ok\n", headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        auth = self.headers.get("Authorization", "")
        print("REQUEST %s UA=%s AUTH=%s" % (self.path, self.headers.get("User-Agent", ""), auth),
              flush=True)
        path = self.path
        if path == "/ok" or path.startswith("/ok?"):
            self.answer(200)
        elif path.startswith("/big/"):
            size = int(path[len("/big/"):])
            chunk = bytes(range(256)) * 256
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            left = size
            while left > 0:
                piece = chunk[:min(left, len(chunk))]
                self.wfile.write(piece)
                left -= len(piece)
        elif path.startswith("/status/"):
            self.answer(int(path[len("/status/"):]))
        elif path == "/auth":
            if auth == EXPECTED_AUTH:
                self.answer(200)
            else:
                self.answer(401, b"denied\n", [("WWW-Authenticate", 'Basic realm="alarms"')])
        elif path == "/redirect":
            self.answer(302, b"", [("Location", "/ok")])
        else:
            self.answer(404)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if len(sys.argv) == 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[1], sys.argv[2])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
