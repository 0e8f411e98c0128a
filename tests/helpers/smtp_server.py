#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for the mail tests.

Every accepted message is decoded with Python's own e-mail parser, an independent reader of
what the client built, and written as one JSON file per message (00001.json, ...) in arrival
order. The file "port" holds the listening port once the server accepts connections, and
"max_sessions" the most sessions that were ever open at once.
"""
import argparse
import asyncio
import base64
import email
import email.policy
import hashlib
import hmac
import json
import logging
import os
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_file(path, text):
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temp, path)


class State:
    def __init__(self, out):
        self.out = out
        self.count = 0
        self.open = 0
        self.max_open = 0


class Handler:
    def __init__(self, args, state):
        self.args = args
        self.state = state

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.args.reject_rcpt:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.original_content or envelope.content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        body_part = message.get_body(preferencelist=("plain",))
        body = body_part.get_content() if body_part is not None else ""
        auth = session.auth_data
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "subject": str(message.get("subject", "")),
            "raw_headers": raw.split(b"\r\n\r\n", 1)[0].decode("ascii", "replace"),
            "body": body,
            "content_type": message.get_content_type(),
            "charset": message.get_content_charset() or "",
            "from": str(message.get("from", "")),
            "to": str(message.get("to", "")),
            "x_mailer": str(message.get("x-mailer", "")),
            "date": str(message.get("date", "")),
            "message_id": str(message.get("message-id", "")),
            "tls": session.ssl is not None or getattr(session, "implicit_tls", False),
            "auth_mechanism": getattr(session, "mechanism", ""),
            "auth_user": (auth.login.decode() if isinstance(auth, LoginPassword)
                          else (auth or "")),
        }
        self.state.count += 1
        write_file(os.path.join(self.state.out, "%05d.json" % self.state.count),
                   json.dumps(record, ensure_ascii=False))
        return "250 2.0.0 OK: queued"

    # CRAM-MD5 (RFC 2195): the password never crosses the wire.
    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%d.%s@ondrix.test>" % (os.getpid(), os.urandom(6).hex())).encode()
        response = await server.challenge_auth(challenge)
        if not isinstance(response, bytes):
            return AuthResult(success=False, handled=False)
        try:
            user, digest = response.decode().rsplit(" ", 1)
        except ValueError:
            return AuthResult(success=False, handled=False)
        expected = hmac.new(self.args.password.encode(), challenge, hashlib.md5).hexdigest()
        if user == self.args.user and hmac.compare_digest(digest, expected):
            server.session.mechanism = "CRAM-MD5"
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)


def make_authenticator(args):
    def authenticator(server, session, envelope, mechanism, auth_data):
        if (isinstance(auth_data, LoginPassword)
                and auth_data.login.decode() == args.user
                and auth_data.password.decode() == args.password):
            session.mechanism = mechanism
            return AuthResult(success=True, auth_data=auth_data)
        # handled=False: aiosmtpd answers 535 itself (with handled=True it never answers).
        return AuthResult(success=False, handled=False)
    return authenticator


class CountingSMTP(SMTP):
    state = None

    def connection_made(self, transport):
        super().connection_made(transport)
        if transport.get_extra_info("ssl_object") is not None:
            self.session.implicit_tls = True
        if self._original_transport is not None:
            return  # STARTTLS: the same session goes on encrypted
        self.state.open += 1
        if self.state.open > self.state.max_open:
            self.state.max_open = self.state.open
            write_file(os.path.join(self.state.out, "max_sessions"), str(self.state.max_open))

    def connection_lost(self, error):
        self.state.open -= 1
        super().connection_lost(error)


async def main():
    # aiosmtpd warns about plain-text logins and deprecated fields on stderr; the tests read
    # what the server received, not its notes.
    warnings.filterwarnings("ignore")
    logging.disable(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--out", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--implicit-tls", action="store_true")
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--mechanisms", default="PLAIN,LOGIN",
                        help="AUTH mechanisms offered, among PLAIN, LOGIN, CRAM-MD5")
    parser.add_argument("--reject-rcpt", action="append", default=[])
    args = parser.parse_args()

    state = State(args.out)
    handler = Handler(args, state)
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    offered = set(args.mechanisms.split(","))
    excluded = [m for m in ("PLAIN", "LOGIN", "CRAM-MD5") if m not in offered]
    options = dict(hostname="ondrix.test", decode_data=False, auth_exclude_mechanism=excluded)
    if args.user:
        options.update(authenticator=make_authenticator(args), auth_required=True,
                       # Plain-text sessions may authenticate too: the client alone decides
                       # whether a password may cross an unencrypted connection.
                       auth_require_tls=False)
    if args.starttls:
        options.update(tls_context=context)
    CountingSMTP.state = state

    def factory():
        return CountingSMTP(handler, **options)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, host="127.0.0.1", port=args.port,
                                      ssl=context if args.implicit_tls else None)
    port = server.sockets[0].getsockname()[1]
    write_file(os.path.join(args.out, "port"), str(port))
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
