#!/usr/bin/env python3
"""A stand-in for chrome-private-input that both clients' tests start: it speaks the tool's frames
and lines just far enough to show how a client behaves around them.

    fake-tool.py BEHAVIOUR [PATH] [the tool's own arguments, ignored]

handshake PATH   reads the request frame, notes whether anything more came before its interim
                 line, answers {"ok":true}, reads the secret frame, notes whether standard input
                 is still open, writes what it saw (the secret's length only) as JSON to PATH,
                 and answers {"ok":true,"typed":true}
silent           reads the request, answers {"ok":true}, then ends with status 1 and no final line
mute             answers nothing for 30 seconds
slow-stop PATH   takes 3 seconds to stop on SIGTERM, then writes "restored" to PATH
stop-mark PATH   on SIGTERM writes the signal's name to PATH; PATH.started exists once it listens
hold             reads the secret, writes the ready byte "1", and holds for 20 seconds
"""

import json
import os
import select
import signal
import struct
import sys
import time


def frame():
    size = struct.unpack(">I", os.read(0, 4))[0]
    data = b""
    while len(data) < size:
        data += os.read(0, size - len(data))
    return data


def handshake(path):
    request = json.loads(frame())
    early = bool(select.select([0], [], [], 0.3)[0])
    os.write(1, b'{"ok":true}\n')
    secret = frame()
    still_open = not select.select([0], [], [], 0.2)[0]
    with open(path, "w", encoding="utf-8") as log:
        json.dump({"early": early, "open": still_open, "request": request, "length": len(secret)}, log)
    os.write(1, b'{"ok":true,"typed":true}\n')


def silent(_path):
    os.read(0, 100)
    os.write(1, b'{"ok":true}\n')
    sys.exit(1)


def mute(_path):
    time.sleep(30)


def slow_stop(path):
    def stop(_number, _frame):
        time.sleep(3)
        with open(path, "w", encoding="utf-8") as marker:
            marker.write("restored")
        sys.exit(1)

    signal.signal(signal.SIGTERM, stop)
    time.sleep(30)


def stop_mark(path):
    def stop(number, _frame):
        with open(path, "w", encoding="utf-8") as marker:
            marker.write(signal.Signals(number).name)
        sys.exit(1)

    signal.signal(signal.SIGTERM, stop)
    open(path + ".started", "w").close()
    time.sleep(30)


def hold(_path):
    os.read(0, 100)
    os.write(1, b"1")
    time.sleep(20)


BEHAVIOURS = {"handshake": handshake, "silent": silent, "mute": mute, "slow-stop": slow_stop,
              "stop-mark": stop_mark, "hold": hold}

if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in BEHAVIOURS:
        sys.stderr.write(f"fake-tool: BEHAVIOUR is one of {', '.join(BEHAVIOURS)}\n")
        sys.exit(70)
    BEHAVIOURS[sys.argv[1]](sys.argv[2] if len(sys.argv) > 2 else "")
