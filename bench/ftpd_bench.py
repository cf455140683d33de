#!/usr/bin/python3
"""The test environment's FTP server for the benchmarks.

Same arguments as scripts/lib/ftpd.py, plus --list-only: the server then
neither offers nor knows MLST/MLSD, so clients list by LIST.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
import ftpd  # noqa: E402

if "--list-only" in sys.argv:
    sys.argv.remove("--list-only")
    plain = ftpd.make_handler

    def list_only(mode):
        base = plain(mode)

        class ListOnly(base):
            proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in ("MLST", "MLSD")}

        return ListOnly

    ftpd.make_handler = list_only

ftpd.main()
