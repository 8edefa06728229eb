#!/usr/bin/python3
"""A small SMTP server on loopback for the e-mail tests.

Binds 127.0.0.1 on a free port, prints "PORT <n>" and writes every accepted message to
<out>/<n>.eml: a few envelope lines ("mail_from:", one "rcpt_to:" per recipient, "tls:",
"auth:"), an empty line, then the message data as received.

Options:
  --out DIR              folder for the received messages (required)
  --starttls CERT KEY    offer STARTTLS with this certificate
  --implicit-tls CERT KEY  TLS from the first byte
  --auth USER:PASS       accept these credentials and require AUTH before MAIL
  --mechs LIST           comma list of the AUTH mechanisms offered (PLAIN, LOGIN, CRAM-MD5)
"""
import argparse
import asyncio
import base64
import hashlib
import hmac
import os
import secrets
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Handler:
    def __init__(self, out, credentials):
        self.out = out
        self.credentials = credentials
        self.count = 0

    async def auth_CRAM__MD5(self, server, args):
        challenge = "<%s@localhost>" % secrets.token_hex(8)
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False)
        user, _, digest = answer.decode("utf-8", "replace").rpartition(" ")
        expected = None
        if self.credentials and user == self.credentials[0]:
            expected = hmac.new(self.credentials[1].encode(), challenge.encode(),
                                hashlib.md5).hexdigest()
        if expected is not None and hmac.compare_digest(expected, digest):
            return AuthResult(success=True, auth_data=("CRAM-MD5", user))
        return AuthResult(success=False, handled=False)

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        if (self.credentials and isinstance(auth_data, LoginPassword)
                and auth_data.login.decode() == self.credentials[0]
                and auth_data.password.decode() == self.credentials[1]):
            return AuthResult(success=True, auth_data=(mechanism, self.credentials[0]))
        return AuthResult(success=False, handled=False)

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        auth = session.auth_data
        lines = ["mail_from: %s" % envelope.mail_from]
        lines += ["rcpt_to: %s" % r for r in envelope.rcpt_tos]
        lines.append("tls: %s" % ("yes" if server.transport.get_extra_info("sslcontext")
                                  or session.ssl else "no"))
        lines.append("auth: %s" % (" ".join(auth) if auth else "none"))
        head = ("\n".join(lines) + "\n\n").encode()
        path = os.path.join(self.out, "%d.eml" % self.count)
        with open(path + ".part", "wb") as f:
            f.write(head + envelope.original_content)
        os.rename(path + ".part", path)
        return "250 OK"


def tls_context(cert, key):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(cert, key)
    return ctx


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--starttls", nargs=2)
    parser.add_argument("--implicit-tls", nargs=2)
    parser.add_argument("--auth")
    parser.add_argument("--mechs", default="PLAIN,LOGIN,CRAM-MD5")
    args = parser.parse_args()

    credentials = tuple(args.auth.split(":", 1)) if args.auth else None
    handler = Handler(args.out, credentials)
    offered = set(args.mechs.split(","))
    excluded = [m for m in ("PLAIN", "LOGIN", "CRAM-MD5") if m not in offered]
    kwargs = dict(authenticator=handler.authenticate, auth_required=bool(credentials),
                  auth_require_tls=False, auth_exclude_mechanism=excluded)
    if not credentials:
        kwargs["auth_exclude_mechanism"] = ["PLAIN", "LOGIN", "CRAM-MD5"]
    if args.starttls:
        kwargs["tls_context"] = tls_context(*args.starttls)
        kwargs["require_starttls"] = True
    server_ssl = tls_context(*args.implicit_tls) if args.implicit_tls else None

    loop = asyncio.get_running_loop()
    server = await loop.create_server(lambda: SMTP(handler, loop=loop, **kwargs), "127.0.0.1", 0,
                                      ssl=server_ssl)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
