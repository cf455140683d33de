#!/usr/bin/python3
"""Checks that the running test environment serves what the tests rely on.

Run right after `scripts/env start --fresh` (scripts/test does), before any
test changes the data.

A wrong account, a lost fault mode or a changed sample file would otherwise
show up as puzzling failures far away in the program's own tests.
"""
import ftplib
import hashlib
import os
import re
import socket
import subprocess
import time
import unittest
import urllib.parse
import urllib.request


def endpoints():
    """KEY=VALUE lines of endpoints.conf beside this file."""
    out = {}
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "endpoints.conf"),
              encoding="utf-8") as fh:
        for line in fh:
            line = line.strip()
            if line and not line.startswith("#"):
                key, _, value = line.partition("=")
                out[key] = value
    return out


E = endpoints()
ENV_DIR, HOST = E["ENV_DIR"], E["HOST"]
USER, PASSWORD = E["FTP_USER"], E["FTP_PASSWORD"]
DB, DB_OLD = int(E["DB_PORT"]), int(E["DB_OLD_PORT"])
DB_USER, DB_PASSWORD = E["DB_USER"], E["DB_PASSWORD"]
PORT = {k[:-5]: int(v) for k, v in E.items() if k.endswith("_PORT")}


def sql(query, port=DB, user=None, password=None):
    args = ["mariadb", "--no-defaults", "--batch", "--skip-column-names",
            "--default-character-set=utf8mb4"]
    if user:
        args += ["--protocol=tcp", "-h" + HOST, "-P%d" % port, "-u" + user, "-p" + password]
    else:
        sock = "mariadb" if port == DB else "mariadb-old"
        args += ["--protocol=socket", "-S", "%s/%s/mysqld.sock" % (ENV_DIR, sock), "-uroot"]
    p = subprocess.run(args + [E["DB_NAME"], "-e", query], capture_output=True, text=True, timeout=30)
    if p.returncode != 0:
        raise AssertionError("%s: %s" % (query, p.stderr.strip()))
    return [line.split("\t") for line in p.stdout.splitlines()]


def ftp(port, user=USER, password=PASSWORD, passive=True):
    f = ftplib.FTP(encoding="utf-8")
    f.connect(HOST, port, timeout=10)
    f.login(user, password)
    f.set_pasv(passive)
    return f


def manifest():
    out = {}
    with open(os.path.join(ENV_DIR, "ftp", "manifest.txt"), encoding="utf-8") as fh:
        for line in fh:
            digest, size, name = line.rstrip("\n").split("  ", 2)
            out[name] = (digest, int(size))
    return out


class Database(unittest.TestCase):
    def test_accounts_reach_both_servers_over_tcp_with_database_rights_only(self):
        for port in (DB, DB_OLD):
            for user, pw in ((DB_USER, DB_PASSWORD), (E["DB_RETRY_USER"], E["DB_RETRY_PASSWORD"])):
                rows = sql("SELECT id, name, dept FROM user ORDER BY id", port, user, pw)
                self.assertEqual(rows, [["demo", "홍길동", "AS팀"], ["hiddenuser", "숨김사용자", "NULL"]])
            grants = " ".join(r[0] for r in sql("SHOW GRANTS", port, DB_USER, DB_PASSWORD))
            self.assertNotIn("SHUTDOWN", grants)
            self.assertNotIn("SUPER", grants)
            self.assertIn("GRANT USAGE ON *.*", grants)
        with self.assertRaises(AssertionError):
            sql("SELECT 1", DB, DB_USER, "wrong")

    def test_seed_data(self):
        for port in (DB, DB_OLD):
            self.assertEqual(sql("SELECT skey, svalue FROM config", port), [["sys1", "1"]])
            self.assertEqual(sql("SELECT COUNT(*) FROM user WHERE password2 = SHA1('demo1234')"
                                 " AND id = 'demo' AND hidden = 0", port), [["1"]])
            self.assertEqual(sql("SELECT hidden FROM user WHERE password2 = SHA1('hidden1234')", port), [["1"]])
            self.assertEqual(sql("SELECT COUNT(*), MIN(id), MAX(id) FROM deadlock_t", port), [["20", "1", "20"]])
            macs = sql("SELECT mac_addr, user_id, block FROM user_mac", port)
            for mac, uid, block in macs:
                self.assertRegex(mac, r"^[0-9A-F]{12}$")
                self.assertEqual((uid, block), ("demo", "0"))
            # Tests add further 'sys1' rows: no unique key may stand on skey.
            self.assertEqual(sql("SHOW INDEX FROM config WHERE Column_name = 'skey'", port), [])

    def test_both_servers_admit_this_machine(self):
        main = sql("SELECT mac_addr, user_id, block FROM user_mac", DB)
        self.assertEqual(main, sql("SELECT mac_addr, user_id, block FROM user_mac", DB_OLD))
        up = []
        for n in os.listdir("/sys/class/net"):
            with open("/sys/class/net/%s/operstate" % n) as fh:
                if n != "lo" and fh.read().strip() == "up":
                    up.append(n)
        if up:
            # The first row is this machine's address as the Linux build
            # finds it; the others let the Windows build under wine in.
            self.assertGreaterEqual(len(main), 1, "no user_mac row although %s is up" % up)

    def test_server_settings(self):
        def var(name, port):
            return sql("SHOW VARIABLES LIKE '%s'" % name, port)[0][1]
        self.assertEqual(var("version", DB_OLD), "5.0.99-test")
        self.assertNotEqual(var("version", DB)[:2], "5.")
        for port in (DB, DB_OLD):
            self.assertEqual(var("character_set_server", port), "utf8mb4")
            self.assertEqual(var("innodb_lock_wait_timeout", port), "10")
            self.assertEqual(var("general_log", port), "ON")
            self.assertEqual(var("bind_address", port), HOST)

    def test_general_log_records_client_statements(self):
        marker = "envcheck-%d" % time.time_ns()
        for port, folder in ((DB, "mariadb"), (DB_OLD, "mariadb-old")):
            sql("SELECT '%s'" % marker, port, DB_USER, DB_PASSWORD)
            with open(os.path.join(ENV_DIR, folder, "general.log"), encoding="utf-8", errors="replace") as fh:
                self.assertIn(marker, fh.read())


class FtpServers(unittest.TestCase):
    def test_main_server_lists_sizes_and_times_in_both_modes(self):
        files = manifest()
        for passive in (True, False):
            with ftp(PORT["FTP"], passive=passive) as f:
                facts = dict(f.mlsd("as_files/"))
                self.assertEqual(facts["report.zip"]["modify"], "20240307000530")
                self.assertEqual(facts["sub"]["type"], "dir")
                self.assertEqual(facts["big5g.iso"]["size"], str(5 * 1024 ** 3))
                for name, (digest, size) in files.items():
                    if "/" in name:
                        continue
                    self.assertEqual(int(facts[name]["size"]), size, name)
                h = hashlib.sha256()
                f.retrbinary("RETR as_files/견적서_2024.xlsx", h.update)
                self.assertEqual(h.hexdigest(), files["견적서_2024.xlsx"][0])

    def test_a_leaving_session_leaves_the_others_answering(self):
        # A session that made an active-mode transfer ends while another
        # client is between USER and PASS: the server's poller has been seen
        # to drop the other client's connection, whose socket took the data
        # connection's old number.
        a = ftp(PORT["FTP"], passive=False)
        a.retrbinary("RETR as_files/empty.txt", lambda b: None)
        b = ftplib.FTP(encoding="utf-8")
        b.connect(HOST, PORT["FTP"], timeout=5)
        b.sendcmd("USER " + USER)
        a.close()
        time.sleep(0.3)
        self.assertTrue(b.sendcmd("PASS " + PASSWORD).startswith("230"))
        b.quit()

    def test_peer_server_is_anonymous_and_lists_the_same_folder(self):
        with ftp(PORT["FTP_PEER"], E["FTP_PEER_USER"], "", passive=False) as f:
            lines = []
            f.retrlines("LIST as_files/", lines.append)
            names = sorted(line.split(None, 8)[8] for line in lines)
            self.assertIn("with blank.txt", names)
            self.assertIn("report.zip", names)
            with self.assertRaises(ftplib.error_perm):
                f.sendcmd("MLSD as_files/")
            with self.assertRaises(ftplib.error_perm):
                f.delete("as_files/empty.txt")

    def test_fault_servers(self):
        with ftp(PORT["FTP_EMPTY"]) as f:
            self.assertEqual(list(f.mlsd("as_files/")), [])

        f = ftp(PORT["FTP_IDLE"])
        time.sleep(3)
        with self.assertRaises(ftplib.error_temp) as cm:
            f.voidcmd("NOOP")
        self.assertTrue(str(cm.exception).startswith("421"))
        f.close()

        f = ftp(PORT["FTP_CUT"])
        data = bytearray()
        with self.assertRaises((EOFError, ftplib.Error, OSError)):
            f.retrbinary("RETR as_files/2048.bin", data.extend)
        self.assertEqual(len(data), 1024)
        f.close()

        with ftp(PORT["FTP_GARBAGE"]) as f:
            f.encoding = "latin-1"
            self.assertNotIn("MLST", f.sendcmd("FEAT"))
            lines = []
            f.retrlines("LIST as_files/", lines.append)
            self.assertTrue(any(line.endswith(" report.zip") for line in lines))
            self.assertTrue(any("notasize" in line for line in lines))

        with ftp(PORT["FTP_EVIL"]) as f:
            names = [n for n, _ in f.mlsd("as_files/")]
            for evil in ("../evil", "a/b", "..\\evil", ".", "..", "ok.txt"):
                self.assertIn(evil, names)
            self.assertTrue(any(any(ord(c) < 32 for c in n) for n in names))
            data = bytearray()
            f.retrbinary("RETR as_files/../evil", data.extend)
            self.assertEqual(bytes(data), b"evil-data\n")
            # Deletion there only pretends: the shared sample files stay.
            f.delete("as_files/report.zip")
        self.assertTrue(os.path.exists(os.path.join(ENV_DIR, "ftp/home/as_files/report.zip")))

    def test_silent_listeners_accept_and_never_answer(self):
        for port in (PORT["FTP_SILENT"], PORT["HTTP_SILENT"]):
            with socket.create_connection((HOST, port), timeout=5) as s:
                s.sendall(b"USER x\r\nGET / HTTP/1.0\r\n\r\n")
                s.settimeout(0.5)
                with self.assertRaises(socket.timeout):
                    s.recv(1)


class Cp949Servers(unittest.TestCase):
    """The older-server peers: names in code page 949, no UTF8, LIST only."""
    BLANK = "견적 목록.txt".encode("cp949")
    ODD = b"\xb0\xdf\xc0.txt"
    DOS, UNIX = PORT["FTP_DOS949"], PORT["FTP_UNIX949"]
    FORMS = {
        DOS: re.compile(rb"^\d\d-\d\d-\d\d  \d\d:\d\d[AP]M +(<DIR>|\d+) +(.+)$"),
        UNIX: re.compile(rb"^[-d]r[-w]x?[-r\w-]{7} +\d+ +\S+ +\S+ +\d+ \w{3} \d\d  \d{4} (.+)$"),
    }

    def test_features_listing_and_odd_name(self):
        for port, form in self.FORMS.items():
            # One peer in active mode (the program's), one in passive.
            with ftp(port, passive=port == self.UNIX) as f:
                # latin-1 hands the raw bytes through unchanged.
                f.encoding = "latin-1"
                feat = f.sendcmd("FEAT")
                self.assertNotIn("UTF8", feat)
                self.assertNotIn("MLST", feat)
                with self.assertRaises(ftplib.error_perm):
                    f.sendcmd("OPTS UTF8 ON")
                with self.assertRaises(ftplib.error_perm):
                    f.sendcmd("MLSD as_files/")
                lines = []
                f.retrlines("LIST as_files/", lines.append)
                names = {}
                for line in (x.encode("latin-1") for x in lines):
                    m = form.match(line)
                    self.assertIsNotNone(m, (port, line))
                    names[m.group(m.lastindex)] = line
                self.assertIn(self.BLANK, names)
                self.assertIn("견적서_2024.xlsx".encode("cp949"), names)
                self.assertIn(self.ODD, names)
                if port == self.DOS:
                    self.assertEqual(names[b"report.zip"],
                                     b"03-07-24  12:05AM             12345678 report.zip")
                    self.assertIn(b"<DIR>", names[b"sub"])
                data = bytearray()
                f.retrbinary("RETR as_files/" + self.ODD.decode("latin-1"), data.extend)
                self.assertEqual(bytes(data), b"odd-bytes-name\r\n")
                data = bytearray()
                f.retrbinary("RETR as_files/" + self.BLANK.decode("latin-1"), data.extend)
                self.assertEqual(len(data), 777)


class HttpServer(unittest.TestCase):
    def test_version_file(self):
        url = "http://%s:%d%s" % (HOST, PORT["HTTP"], urllib.parse.quote(E["UPDATE_PATH"]))
        with urllib.request.urlopen(url + "Quendrel_lastver.txt", timeout=10) as r:
            self.assertEqual(r.read()[-2:], b"\r\n")


class MidStepFaults(unittest.TestCase):
    """Servers that break a step while it runs."""

    def test_relays_pass_statements_and_lose_their_own(self):
        for name in ("DB_CUT_LOGIN", "DB_CUT_LOGIN_ONCE", "DB_CUT_ADMIT", "DB_CUT_ADMIT_ONCE"):
            self.assertEqual(sql("SELECT 1", PORT[name], DB_USER, DB_PASSWORD), [["1"]], name)
        # The client here never reconnects with a KILL: "once" cuts too.
        for name, statement in (("DB_CUT_LOGIN", "SELECT SHA1('x')"),
                                ("DB_CUT_LOGIN_ONCE", "SELECT SHA1('x')"),
                                ("DB_CUT_ADMIT", "SELECT count(*) FROM user_mac"),
                                ("DB_CUT_ADMIT_ONCE", "SELECT count(*) FROM user_mac")):
            with self.assertRaises(AssertionError) as cm:
                sql(statement, PORT[name], DB_USER, DB_PASSWORD)
            self.assertIn("2013", str(cm.exception), name)

    def stalled_ftp(self, port, command):
        """Bytes that `command` delivered before the data connection went silent."""
        f = ftp(port)
        f.timeout = 2  # the data connection's
        data = bytearray()
        try:
            f.retrbinary(command, data.extend)
            return None
        except (TimeoutError, socket.timeout):
            return bytes(data)
        finally:
            f.close()

    def test_ftp_data_connections_stall_after_half(self):
        self.assertEqual(len(self.stalled_ftp(PORT["FTP_STALL_RETR"], "RETR as_files/2048.bin")), 1024)
        # Every other listing stalls; which one comes first depends on those before.
        got = [self.stalled_ftp(PORT["FTP_STALL_LIST"], "MLSD as_files/") for _ in range(2)]
        self.assertEqual(sum(g is None for g in got), 1, got)
        self.assertIn(b"type=", [g for g in got if g is not None][0])

    def http_body(self, port, name):
        """The body of `name` from the HTTP server on `port`; None when it stalled after half."""
        with socket.create_connection((HOST, port), timeout=5) as s:
            s.sendall(b"GET /" + name.encode() + b" HTTP/1.0\r\n\r\n")
            s.settimeout(2)
            answer = b""
            try:
                while True:
                    chunk = s.recv(65536)
                    if not chunk:
                        return answer.partition(b"\r\n\r\n")[2]
                    answer += chunk
            except socket.timeout:
                head, _, body = answer.partition(b"\r\n\r\n")
                self.assertIn(b"Content-Length: 4000", head)
                self.assertEqual(len(body), 2000)
                return None

    def test_http_program_files_stall_after_half(self):
        names = ("envcheck-stall.exe", "sarvix.exe")
        for name in names:
            with open(os.path.join(ENV_DIR, "http", name), "wb") as fh:
                fh.write(b"x" * 4000)
        try:
            self.assertIsNone(self.http_body(PORT["HTTP_STALL"], "envcheck-stall.exe"))
            self.assertIsNone(self.http_body(PORT["HTTP_STALL_REPLACER"], "sarvix.exe"))
            self.assertEqual(self.http_body(PORT["HTTP_STALL_REPLACER"], "envcheck-stall.exe"), b"x" * 4000)
        finally:
            for name in names:
                os.remove(os.path.join(ENV_DIR, "http", name))


if __name__ == "__main__":
    unittest.main(verbosity=2)
