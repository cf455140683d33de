#!/usr/bin/python3
"""FTP server of the local test environment.

One account, one home folder, optional fault modes:

  normal   a well-behaved server (MLSD, active and passive mode)
  cut      RETR sends the first half of the file, then drops the data and
           the control connection without a final reply
  garbage  no MLST/MLSD (clients fall back to LIST); LIST mixes the real
           unix-style lines with lines no parser should accept
  evil     LIST/MLSD name entries that must never become local paths
           ("../evil", "a/b", "..\\evil", ".", "..", a control character)
           next to one harmless "ok.txt"; RETR of any of them serves a few
           bytes and DELE only pretends, so nothing on disk is at risk
  cp949-dos   an older server that holds names in code page 949: no UTF8
  cp949-unix  feature, no MLST/MLSD, "OPTS UTF8 ON" refused, names in code
              page 949 both ways (commands, replies, listings); LIST in the
              DOS form ("03-07-24  12:05AM  12345678 report.zip", <DIR>) or
              the unix form. Times are UTC, like everywhere here.
  stall-retr  RETR sends the first half of the file (at most 4 MiB), then
              neither sends more nor closes (no 226): a data connection that
              hangs.
  stall-list  the same for every other listing (LIST, MLSD, NLST) the server
              answers, starting with the first, so that a client can show it
              recovers; each mode leaves the other commands working.

--tls-cert/--tls-key make it a server with explicit TLS that requires it on
the control and the data connections (AUTH TLS, PROT P before anything
else; needs python3-openssl).

--idle-timeout makes the server send 421 and close control connections that
stay idle that long. --log records every command line received (passwords
masked), so tests can check what a client really sent.

Runs with Debian's /usr/bin/python3 (python3-pyftpdlib).
"""
import argparse
import logging
import os
import stat
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import ActiveDTP, DTPHandler, FileProducer, FTPHandler
from pyftpdlib.servers import FTPServer

from ftpfiles import fs_to_wire, wire_to_fs

EVIL_NAMES = ["../evil", "a/b", "..\\evil", ".", "..", "ok.txt", "bell\x07name.txt"]
EVIL_CONTENT = b"evil-data\n"
EVIL_MTIME = "20240307000530"

GARBAGE_LINES = [
    b"total 42",
    b"this is not a listing line at all",
    b"",
    b"-rw-r--r--",
    b"-rw-r--r--   1 owner    group    notasize Mar 07 00:05 badsize.txt",
    b"-rw-r--r--   1 owner    group         100 Foo 07 00:05 badmonth.txt",
    b"-rw-r--r--   1 owner    group         100 Mar 99 99:99 baddate.txt",
    b"\x00\x01\x02\xff\xfe\x80 binary noise",
    b"X" * 4000,
    b"drwxr-xr-x   1 owner    group           0 Mar 07 00:05",
    b"-rw-r--r--   1 owner    group    99999999999999999999999 Mar 07 00:05 huge.bin",
    b"\t   \t",
    b"lone line feed only\n-rw-r--r-- 1 owner group 1 Jan",
]


class OwnSocketActiveDTP(ActiveDTP):
    """pyftpdlib keeps the connector of a PORT/EPRT after its socket has gone
    to the data channel, and closing it later (at the next PORT or the end of
    the session) unregisters the socket's old number from the poller. By then
    that number may belong to another client's control connection, which is
    never read again: that client waits for a reply until its time limit.
    Once connected, the connector forgets the number and the socket."""

    def handle_connect(self):
        super().handle_connect()
        if not self._closed:
            self._fileno = None
            self.socket = None


class CutDTPHandler(DTPHandler):
    """Data channel that ends a download as a broken server would."""

    def close(self):
        if not self._closed and self.cmd == "RETR":
            self._resp = None  # no 226 or 426 reply
            cmd_channel = self.cmd_channel
            super().close()
            cmd_channel.close()
            return
        super().close()


class StallDTPHandler(DTPHandler):
    """Data channel that, for a stalled transfer, never finishes."""

    def close_when_done(self):
        if getattr(self.cmd_channel, "stall_transfer", False):
            return  # the data sent so far stays all there is
        super().close_when_done()


def make_stall_handler(base, stalled):
    # Listings stall in turns, counted over the whole server.
    turns = {"n": 0}

    class StallHandler(base):
        dtp_handler = StallDTPHandler
        stall_transfer = False

        def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
            stall = cmd in stalled
            if stall and cmd != "RETR":
                stall = turns["n"] % 2 == 0
                turns["n"] += 1
            self.stall_transfer = stall
            if not stall:
                return super().push_dtp_data(data, isproducer, file, cmd)
            if file is not None:
                # A file: its first half, at most 4 MiB (the sample holds a
                # 5 GiB one).
                data = file.read(min(os.fstat(file.fileno()).st_size // 2, 4 << 20))
                file.close()
                return super().push_dtp_data(data, False, None, cmd)
            if isproducer:
                chunks = []
                while True:
                    chunk = data.more()
                    if not chunk:
                        break
                    chunks.append(chunk if isinstance(chunk, bytes) else chunk.encode("utf8"))
                data = b"".join(chunks)
            return super().push_dtp_data(data[:len(data) // 2], False, None, cmd)

    return StallHandler


class HalfFile:
    """Read-only view of the first half of a file."""

    def __init__(self, fd):
        self._fd = fd
        self._left = os.fstat(fd.fileno()).st_size // 2
        self.name = fd.name

    @property
    def closed(self):
        return self._fd.closed

    def read(self, n=-1):
        if self._left <= 0:
            return b""
        if n is None or n < 0 or n > self._left:
            n = self._left
        data = self._fd.read(n)
        self._left -= len(data)
        return data

    def close(self):
        self._fd.close()


class Cp949FS(AbstractedFS):
    """Listings with names in code page 949; DOS-style lines if dos_list."""

    dos_list = False

    def format_list(self, basedir, listing, ignore_err=True):
        if not self.dos_list:
            # The handler's unicode_errors keeps escaped bytes intact here.
            for line in super().format_list(basedir, listing, ignore_err):
                yield fs_to_wire(line.decode("utf-8", "surrogateescape"))
            return
        for name in listing:
            try:
                st = self.lstat(os.path.join(basedir, name))
            except OSError:
                if ignore_err:
                    continue
                raise
            t = time.gmtime(st.st_mtime)
            when = time.strftime("%m-%d-%y  %I:%M%p", t)
            if stat.S_ISDIR(st.st_mode):
                line = "%s       <DIR>          %s\r\n" % (when, name)
            else:
                line = "%s %20d %s\r\n" % (when, st.st_size, name)
            yield fs_to_wire(line)


def make_cp949_handler(base, dos):
    class Fs(Cp949FS):
        dos_list = dos

    class Cp949Handler(base):
        abstracted_fs = Fs
        unicode_errors = "surrogateescape"
        proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                      if k not in ("MLST", "MLSD")}

        def decode(self, data):
            return wire_to_fs(data)

        def push(self, s):
            # Replies that name a path carry its code-page-949 bytes.
            super(FTPHandler, self).push(fs_to_wire(s))

        def ftp_FEAT(self, line):
            feats = ["MDTM", "REST STREAM", "SIZE"]
            self.push("211-Extended features supported:\r\n")
            self.push("".join(" %s\r\n" % x for x in feats))
            self.respond("211 END")

        def ftp_OPTS(self, line):
            self.respond("501 Option not supported.")

        def ftp_SYST(self, line):
            self.respond("215 Windows_NT" if dos else "215 UNIX Type: L8")

        def ftp_NLST(self, path):
            try:
                names = sorted(self.run_as_current_user(self.fs.listdir, path)) \
                    if self.fs.isdir(path) else [os.path.basename(path)]
            except OSError as err:
                self.respond("550 %s." % err.strerror)
                return None
            self.push_dtp_data(b"".join(fs_to_wire(n) + b"\r\n" for n in names), cmd="NLST")
            return path

    return Cp949Handler


def make_handler(mode, base=FTPHandler):
    class Handler(base):
        use_sendfile = False
        active_dtp = OwnSocketActiveDTP
        banner = "orvel test ftp ready."

        def pre_process_command(self, line, cmd, arg):
            self._raw_arg = arg
            super().pre_process_command(line, cmd, arg)

    if mode == "cut":
        class CutHandler(Handler):
            dtp_handler = CutDTPHandler

            def ftp_RETR(self, file):
                try:
                    fd = self.run_as_current_user(self.fs.open, file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                self._restart_position = 0
                half = HalfFile(fd)
                self.push_dtp_data(FileProducer(half, self._current_type),
                                   isproducer=True, file=half, cmd="RETR")
                return file

        return CutHandler

    if mode == "garbage":
        class GarbageHandler(Handler):
            proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items()
                          if k not in ("MLST", "MLSD")}

            def ftp_LIST(self, path):
                if not self.fs.isdir(path):
                    return super().ftp_LIST(path)
                try:
                    names = sorted(self.run_as_current_user(self.fs.listdir, path))
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                valid = [line.rstrip(b"\r\n") for line in self.fs.format_list(path, names)]
                out = []
                for i, junk in enumerate(GARBAGE_LINES):
                    out.append(junk)
                    if i < len(valid):
                        out.append(valid[i])
                out.extend(valid[len(GARBAGE_LINES):])
                self.push_dtp_data(b"".join(x + b"\r\n" for x in out), cmd="LIST")
                return path

        return GarbageHandler

    if mode == "evil":
        class EvilHandler(Handler):
            def _entries(self):
                return EVIL_NAMES

            def ftp_LIST(self, path):
                lines = []
                for name in self._entries():
                    kind = "d" if name in (".", "..") else "-"
                    size = 0 if kind == "d" else len(EVIL_CONTENT)
                    lines.append("%srw-r--r--   1 owner    group    %8d Mar 07 00:05 %s\r\n"
                                 % (kind, size, name))
                self.push_dtp_data("".join(lines).encode("utf8"), cmd="LIST")
                return path

            def ftp_MLSD(self, path):
                lines = []
                for name in self._entries():
                    if name in (".", ".."):
                        facts = "type=dir;modify=%s;perm=el;" % EVIL_MTIME
                    else:
                        facts = "type=file;size=%d;modify=%s;perm=r;" % (len(EVIL_CONTENT), EVIL_MTIME)
                    lines.append("%s %s\r\n" % (facts, name))
                self.push_dtp_data("".join(lines).encode("utf8"), cmd="MLSD")
                return path

            def ftp_RETR(self, file):
                self._restart_position = 0
                self.push_dtp_data(EVIL_CONTENT, cmd="RETR")
                return file

            def ftp_SIZE(self, path):
                self.respond("213 %d" % len(EVIL_CONTENT))

            def ftp_MDTM(self, path):
                self.respond("213 " + EVIL_MTIME)

            def ftp_DELE(self, path):
                self.respond("250 File removed.")

        return EvilHandler

    if mode in ("cp949-dos", "cp949-unix"):
        return make_cp949_handler(Handler, mode == "cp949-dos")

    if mode == "stall-retr":
        return make_stall_handler(Handler, ("RETR",))
    if mode == "stall-list":
        return make_stall_handler(Handler, ("LIST", "MLSD", "NLST"))

    return Handler


def main():
    p = argparse.ArgumentParser(description="FTP server of the local test environment")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--home", required=True)
    p.add_argument("--user", default="qxasftp")
    p.add_argument("--password", default="Kd38-47.2Wm")
    p.add_argument("--perm", default="elradfmwMT")
    p.add_argument("--idle-timeout", type=float, default=300.0,
                   help="seconds before an idle control connection gets 421 and is closed")
    p.add_argument("--mode", choices=["normal", "cut", "garbage", "evil", "cp949-dos", "cp949-unix",
                                     "stall-retr", "stall-list"], default="normal")
    p.add_argument("--log", help="file that receives every command line")
    p.add_argument("--tls-cert", help="certificate (PEM): TLS required on control and data")
    p.add_argument("--tls-key", help="the certificate's private key (PEM)")
    a = p.parse_args()

    if not os.path.isdir(a.home):
        sys.exit("ftpd: home folder %s does not exist" % a.home)

    # Names that are not valid text (code-page-949 peers) are logged escaped.
    logging.basicConfig(filename=a.log, level=logging.DEBUG if a.log else logging.WARNING,
                        format="%(asctime)s %(message)s", encoding="utf-8", errors="backslashreplace")

    auth = DummyAuthorizer()
    auth.add_user(a.user, a.password, a.home, perm=a.perm)
    if a.tls_cert:
        from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

        class TlsData(TLS_DTPHandler):
            # Clients may shake hands on the data connection before sending
            # the command that uses it: read the handshake at once.
            def readable(self):
                return self._ssl_accepting or super().readable()

        handler = make_handler(a.mode, TLS_FTPHandler)
        handler.dtp_handler = TlsData
        handler.certfile = a.tls_cert
        handler.keyfile = a.tls_key
        handler.tls_control_required = True
        handler.tls_data_required = True
        # Clients resume the control connection's TLS session on the data
        # connection; OpenSSL refuses resumption without a session id context.
        handler.get_ssl_context().set_session_id(b"orvel-test-ftp")
    else:
        handler = make_handler(a.mode)
    handler.authorizer = auth
    handler.timeout = a.idle_timeout
    handler.use_gmt_times = True
    # Clients here sit on the same address; active mode connects back to them.
    handler.permit_foreign_addresses = False

    server = FTPServer((a.host, a.port), handler)
    server.max_cons = 64
    # A bounded poll keeps the idle timers firing on time.
    server.serve_forever(timeout=0.25, handle_exit=True)


if __name__ == "__main__":
    main()
