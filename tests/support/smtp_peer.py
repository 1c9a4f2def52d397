#!/usr/bin/python3
"""A real SMTP server for the mail tests, on Debian's aiosmtpd.

Listens on 127.0.0.1, prints "PORT <n>" once it listens, and appends one JSON
object per event to the events file: connect, ehlo, helo, auth, mail, rcpt,
data (with the raw message in base64), quit. Options shape the server for
the case a test needs.
"""
import argparse
import asyncio
import base64
import hashlib
import hmac
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, auth_mechanism

p = argparse.ArgumentParser()
p.add_argument("--port", type=int, default=0)
p.add_argument("--events", required=True)
p.add_argument("--user", default="user")
p.add_argument("--password", default="secret")
p.add_argument("--cram", action="store_true", help="offer CRAM-MD5")
p.add_argument("--ehlo-auth", action="append", default=None,
               help="replace the AUTH lines of the EHLO reply by these")
p.add_argument("--greeting", default=None, help="the whole greeting, \\n between lines")
p.add_argument("--rcpt-reply", action="append", default=[], help="address=reply")
p.add_argument("--rcpt-once", action="append", default=[], help="address=reply, the first time only")
p.add_argument("--data-reply", default=None)
p.add_argument("--data-script", default=None,
               help="answers to successive messages, '|' between: a reply, 'silent' (never answered) "
                    "or empty (accepted); later messages are accepted")
p.add_argument("--silent-quit", action="store_true", help="never answer QUIT")
p.add_argument("--no-builtin-auth", action="store_true", help="refuse LOGIN and PLAIN with 504")
p.add_argument("--silent", action="store_true", help="accept and never answer")
p.add_argument("--cert", default=None)
p.add_argument("--key", default=None)
p.add_argument("--tls", choices=["starttls", "implicit"], default=None)
args = p.parse_args()

events = open(args.events, "a", buffering=1)


def record(**kw):
    events.write(json.dumps(kw) + "\n")
    events.flush()


def reply_text(text):
    """A literal \\n in a reply given on the command line starts its next line."""
    return text.replace("\\n", "\r\n")


rcpt_replies = dict((a, reply_text(r)) for a, r in (x.split("=", 1) for x in args.rcpt_reply))
rcpt_once = dict((a, reply_text(r)) for a, r in (x.split("=", 1) for x in args.rcpt_once))
data_script = args.data_script.split("|") if args.data_script is not None else []


def is_tls(server, session):
    return session.ssl is not None or (
        server.transport is not None and server.transport.get_extra_info("ssl_object") is not None)


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        login = auth_data.login.decode("latin-1")
        ok = login == args.user and auth_data.password.decode("latin-1") == args.password
    else:
        login, ok = auth_data
    record(ev="auth", mech=mechanism, login=login, ok=ok, tls=is_tls(server, session))
    return AuthResult(success=ok, handled=False)


class Handler:
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        record(ev="ehlo", name=hostname)
        if args.ehlo_auth is not None:
            responses = [r for r in responses if not r[4:].upper().startswith("AUTH")]
            last = responses.pop()
            responses += ["250-" + a for a in args.ehlo_auth] + ["250-" + last[4:]]
            responses[-1] = "250 " + responses[-1][4:]
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        record(ev="helo", name=hostname)
        return "250 {}".format(server.hostname)

    async def handle_MAIL(self, server, session, envelope, address, options):
        record(ev="mail", address=address, tls=is_tls(server, session))
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        record(ev="rcpt", address=address)
        if address in rcpt_replies:
            return rcpt_replies[address]
        if address in rcpt_once:
            return rcpt_once.pop(address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        step = data_script.pop(0) if data_script else ""
        if step == "silent":
            record(ev="data-silent")
            await asyncio.Event().wait()
        if step:
            record(ev="data-refused", reply=step)
            return reply_text(step)
        if args.data_reply:
            record(ev="data-refused", reply=args.data_reply)
            return args.data_reply
        record(ev="data", sender=envelope.mail_from, rcpts=envelope.rcpt_tos,
               raw=base64.b64encode(envelope.original_content).decode())
        return "250 Message accepted for delivery"

    async def handle_QUIT(self, server, session, envelope):
        record(ev="quit")
        if args.silent_quit:
            await asyncio.Event().wait()
        return "221 Bye"

    @auth_mechanism("CRAM-MD5")
    async def auth_CRAM_MD5(self, server, _args):
        challenge = b"<12345.67890@velmora.test>"
        answer = await server.challenge_auth(challenge)
        if answer is None or not isinstance(answer, bytes):
            return AuthResult(success=False)
        user, _, digest = answer.decode("latin-1").partition(" ")
        want = hmac.new(args.password.encode(), challenge, hashlib.md5).hexdigest()
        ok = user == args.user and hmac.compare_digest(digest, want)
        record(ev="auth", mech="CRAM-MD5", login=user, ok=ok, tls=is_tls(server, server.session))
        return AuthResult(success=ok, handled=False)


if not args.cram:
    del Handler.auth_CRAM_MD5


class PeerSMTP(SMTP):
    def connection_made(self, transport):
        if self.transport is None:  # not the switch to TLS after STARTTLS
            record(ev="connect")
        super().connection_made(transport)

    async def push(self, status):
        # The greeting is the first thing pushed on a connection.
        if args.greeting is not None and not getattr(self, "_greeted", False):
            self._greeted = True
            lines = args.greeting.split("\\n")
            for line in lines[:-1]:
                await super().push(line)
            status = lines[-1]
        return await super().push(status)


def context():
    if not args.cert:
        return None
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    return ctx


async def silent(reader, writer):
    record(ev="connect")
    await reader.read()


async def main():
    loop = asyncio.get_running_loop()
    ctx = context()
    if args.silent:
        server = await asyncio.start_server(silent, "127.0.0.1", args.port)
    else:
        def factory():
            return PeerSMTP(Handler(), hostname="peer.test", authenticator=authenticator,
                            auth_require_tls=False,
                            tls_context=ctx if args.tls == "starttls" else None,
                            require_starttls=False,
                            auth_exclude_mechanism=["LOGIN", "PLAIN"] if args.no_builtin_auth else None)
        server = await loop.create_server(factory, "127.0.0.1", args.port,
                                          ssl=ctx if args.tls == "implicit" else None)
    print("PORT", server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
