#!/usr/bin/env python3
"""Checks one JSON record of sondrel-scan against a sondrel run of the same file.

Usage: scan_record.py RECORD OUT ERR CODE NAME FIELDS
RECORD is sondrel-scan --json's output; OUT, ERR and CODE are what
SONDREL_ENCODING=utf-8 sondrel wrote and returned; NAME holds the name's bytes;
FIELDS is what sondrel wrote with -f added, whose warnings the record's are
with or without -f.
Prints what differs and exits 1, or exits 0.
"""
import base64
import json
import sys


def lines(path):
    """The lines of a file as the record carries them: a byte that is not UTF-8
    shows as U+FFFD, one for each byte."""
    text = open(path, "rb").read().decode("utf-8", "surrogateescape")
    text = "".join("\ufffd" if "\udc80" <= c <= "\udcff" else c for c in text)
    return text.split("\n")[:-1]


def main():
    record_path, out_path, err_path, code, name_path, fields_path = sys.argv[1:7]
    raw = open(record_path, "rb").read()
    problems = []
    if raw.count(b"\n") != 1 or not raw.endswith(b"\n"):
        problems.append("not one line: %r" % raw)
    record = json.loads(raw.decode("utf-8"))  # strict: fails on bytes that are not UTF-8
    out, err = lines(out_path), lines(err_path)
    name = open(name_path, "rb").read()
    given = base64.b64decode(record["file_base64"]) if "file_base64" in record else record["file"].encode("utf-8")
    if given != name:
        problems.append("file %r, not %r" % (given, name))
    want = {"stdout": out, "stderr": err, "exit": int(code), "error": err[-1] if err else None}
    formats = [line[8:] for line in out if line.startswith("Format: ")]
    want["format"] = formats[-1] if formats else None
    want["warnings"] = [line for line in lines(fields_path) if line.startswith("*** ")]
    for key, value in want.items():
        if record.get(key) != value:
            problems.append("%s: %r, sondrel: %r" % (key, record.get(key), value))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
