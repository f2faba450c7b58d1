#!/usr/bin/env python3
"""The demo serial device of `make run`: a pseudo terminal whose other end
becomes a COM port of the Wine prefix (through a link in its dosdevices
folder). It streams a coloured, timestamped log at the pace of a 115200-baud
line (8N1: 11520 bytes a second, written in 10 ms slices) and answers each
line the terminal sends. Standard library only.

    device.py --link PATH [--baud N]

A real device talks whether anyone listens or not: while no program has the
port open, what it sent is dropped (at most 2 KB wait in the line), so opening
the port later shows the current log, not an old backlog.
"""
import argparse
import datetime
import fcntl
import os
import random
import select
import signal
import struct
import termios
import time
import tty

RESET = "\x1b[0m"
LEVELS = [  # (weight, name, colour)
    (50, "INFO ", "\x1b[32m"),
    (25, "DEBUG", "\x1b[36m"),
    (15, "WARN ", "\x1b[33m"),
    (10, "ERROR", "\x1b[1;31m"),
]
MESSAGES = [
    ("sensor", lambda: f"temperature {random.uniform(19, 24):.1f} °C, humidity {random.randint(35, 60)} %"),
    ("sensor", lambda: f"pressure {random.uniform(1005, 1025):.1f} hPa"),
    ("motor", lambda: f"speed {random.randint(900, 1500)} rpm, current {random.uniform(0.4, 1.9):.2f} A"),
    ("link", lambda: f"heartbeat {random.randint(0, 65535):04x}, latency {random.randint(80, 900)} µs"),
    ("power", lambda: f"supply {random.uniform(11.7, 12.4):.2f} V"),
    ("storage", lambda: f"log block {random.randint(0, 4095)} written"),
]
BACKLOG_LIMIT = 2048


def pending(fd):
    """Bytes written into the line that nobody has read yet."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


def log_line(number):
    now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S.%f")[:-3]
    weights = [w for w, _, _ in LEVELS]
    _, level, colour = random.choices(LEVELS, weights)[0]
    source, text = random.choice(MESSAGES)
    return f"\x1b[2m{now}{RESET} {colour}{level}{RESET} \x1b[35m{source:<8}{RESET}#{number:<5} {text()}\r\n"


class Device:
    def __init__(self, link, baud):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.link = link
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(self.slave), link)
        self.bytes_per_second = baud / 10  # a start bit, eight data bits, a stop bit
        self.typed = b""
        self.number = 0

    def close(self):
        # Only our own link: another device may have taken the name since.
        if os.path.islink(self.link) and os.readlink(self.link) == os.ttyname(self.slave):
            os.unlink(self.link)
        os.close(self.master)
        os.close(self.slave)

    def send(self, data):
        """Writes at the line's pace, handling input between slices."""
        if pending(self.slave) > BACKLOG_LIMIT:
            termios.tcflush(self.slave, termios.TCIFLUSH)
        slice_size = max(1, int(self.bytes_per_second / 100))
        for start in range(0, len(data), slice_size):
            chunk = data[start:start + slice_size]
            os.write(self.master, chunk)
            self.listen(len(chunk) / self.bytes_per_second)

    def listen(self, seconds):
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                return
            ready, _, _ = select.select([self.master], [], [], left)
            if ready:
                self.typed += os.read(self.master, 1024)
                self.answer()

    def answer(self):
        while True:
            cut = min((i for i in (self.typed.find(b"\r"), self.typed.find(b"\n")) if i >= 0), default=-1)
            if cut < 0:
                return
            line, self.typed = self.typed[:cut], self.typed[cut + 1:].lstrip(b"\r\n")
            text = line.decode("utf-8", "replace").strip()
            if text:
                reply = f"\x1b[1;34m<< device received: {text}{RESET}\r\n"
                os.write(self.master, reply.encode("utf-8"))

    def run(self, stopping):
        while not stopping:
            self.number += 1
            self.send(log_line(self.number).encode("utf-8"))
            self.listen(random.uniform(0.05, 0.6))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--link", required=True)
    parser.add_argument("--baud", type=int, default=115200)
    args = parser.parse_args()
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    device = Device(args.link, args.baud)
    print(f"demo device on {os.ttyname(device.slave)} -> {args.link}", flush=True)
    try:
        device.run(stopping)
    except KeyboardInterrupt:
        pass
    finally:
        device.close()


if __name__ == "__main__":
    main()
