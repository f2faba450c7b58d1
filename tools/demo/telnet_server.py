#!/usr/bin/env python3
"""The demo telnet server of `make run`: listens on 127.0.0.1 only, negotiates
echo and suppress-go-ahead the way a real telnet host does, greets every
client with a coloured banner and answers a few commands (help, date, colors,
count N, watch, quit). Standard library only.

    telnet_server.py [--port N] [--port-file FILE]

With --port 0 (the default) the system picks a free port; it is written to
--port-file once the server listens, so a script can wait for that file.
"""
import argparse
import datetime
import os
import signal
import socket
import threading

IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
ECHO, SGA = 1, 3

RESET, BOLD, DIM = "\x1b[0m", "\x1b[1m", "\x1b[2m"
RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN = (f"\x1b[{n}m" for n in range(31, 37))

BANNER = [
    f"{BOLD}{CYAN}Kestrelink demo telnet server{RESET}",
    f"{DIM}a loopback peer started by make run; nothing here leaves this machine{RESET}",
    "",
    f"Type {BOLD}help{RESET} for the commands.",
]
HELP = [
    f"{GREEN}help{RESET}      this list",
    f"{GREEN}date{RESET}      the server's clock",
    f"{GREEN}colors{RESET}    the sixteen ANSI colours",
    f"{GREEN}count N{RESET}   N numbered lines (1..1000)",
    f"{GREEN}watch{RESET}     a ticking status line every second, until the next command",
    f"{GREEN}quit{RESET}      close the connection",
]
PROMPT = f"{BOLD}{MAGENTA}demo>{RESET} "


def stamp():
    return datetime.datetime.now().strftime("%H:%M:%S.%f")[:-3]


class Session(threading.Thread):
    """One client: a telnet receive state machine, a line editor with echo,
    and the command interpreter."""

    def __init__(self, conn, stopping):
        super().__init__(daemon=True)
        self.conn, self.stopping = conn, stopping
        self.lock = threading.Lock()
        self.state, self.command = "data", 0
        self.line, self.last_cr = "", False
        # Options we offered (WILL) and those the client offered that we
        # accepted (DO): a request that changes nothing gets no reply, so
        # negotiation cannot loop.
        self.ours = {ECHO: True, SGA: True}
        self.theirs = {SGA: True}
        self.watching = False

    def send(self, data):
        with self.lock:
            self.conn.sendall(data if isinstance(data, bytes) else data.encode("utf-8"))

    def say(self, lines):
        self.send("".join(line + "\r\n" for line in lines))

    def run(self):
        try:
            self.send(bytes([IAC, WILL, ECHO, IAC, WILL, SGA, IAC, DO, SGA]))
            self.say(BANNER)
            self.send(PROMPT)
            self.conn.settimeout(1.0)
            while not self.stopping.is_set():
                try:
                    data = self.conn.recv(4096)
                except socket.timeout:
                    if self.watching:
                        self.send(f"\r{YELLOW}[{stamp()}]{RESET} link up, all channels nominal ")
                    continue
                if not data:
                    break
                for b in data:
                    if self.receive(b) == "quit":
                        return
        except OSError:
            pass
        finally:
            self.conn.close()

    def receive(self, b):
        if self.state == "data":
            if b == IAC:
                self.state = "iac"
                return None
            return self.typed(b)
        if self.state == "iac":
            if b in (DO, DONT, WILL, WONT):
                self.command, self.state = b, "option"
            elif b == SB:
                self.state = "sb"
            else:
                if b == IAC:
                    self.typed(b)
                self.state = "data"
            return None
        if self.state == "option":
            self.negotiate(self.command, b)
            self.state = "data"
            return None
        if self.state == "sb":
            self.state = "sb-iac" if b == IAC else "sb"
            return None
        self.state = "data" if b == SE else "sb"  # after IAC inside a subnegotiation
        return None

    def negotiate(self, command, option):
        if command in (DO, DONT):
            want = command == DO and option in (ECHO, SGA)
            if self.ours.get(option, False) != want:
                self.ours[option] = want
                self.send(bytes([IAC, WILL if want else WONT, option]))
        else:
            want = command == WILL and option == SGA
            if self.theirs.get(option, False) != want:
                self.theirs[option] = want
                self.send(bytes([IAC, DO if want else DONT, option]))

    def typed(self, b):
        if b in (10, 0) and self.last_cr:  # CR LF and CR NUL end one line
            self.last_cr = False
            return None
        self.last_cr = b == 13
        if b in (13, 10):
            self.send("\r\n")
            line, self.line = self.line.strip(), ""
            result = self.execute(line)
            if result != "quit":
                self.send(PROMPT)
            return result
        if b in (8, 127):
            if self.line:
                self.line = self.line[:-1]
                self.send("\b \b")
            return None
        if b >= 32:
            ch = chr(b) if b < 128 else "?"
            self.line += ch
            self.send(ch)
        return None

    def execute(self, line):
        self.watching = False
        word, _, rest = line.partition(" ")
        word = word.lower()
        if not word:
            return None
        if word == "help":
            self.say(HELP)
        elif word == "date":
            self.say([f"{CYAN}{datetime.datetime.now():%Y-%m-%d %H:%M:%S}{RESET}"])
        elif word == "colors":
            normal = "".join(f"\x1b[{30 + i}m colour {i} " for i in range(8))
            bright = "".join(f"\x1b[{90 + i}m colour {8 + i} " for i in range(8))
            self.say([normal + RESET, bright + RESET])
        elif word == "count":
            n = int(rest) if rest.strip().isdigit() else 10
            n = max(1, min(n, 1000))
            self.say([f"{DIM}{stamp()}{RESET} line {i + 1} of {n}" for i in range(n)])
        elif word == "watch":
            self.watching = True
        elif word == "quit":
            self.say([f"{YELLOW}bye{RESET}"])
            return "quit"
        else:
            self.say([f"{RED}unknown command:{RESET} {line} (try help)"])
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    args = parser.parse_args()
    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.port))
    server.listen(8)
    server.settimeout(0.5)
    port = server.getsockname()[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, args.port_file)
    print(f"demo telnet server on 127.0.0.1:{port}", flush=True)
    try:
        while not stopping.is_set():
            try:
                conn, _ = server.accept()
            except socket.timeout:
                continue
            Session(conn, stopping).start()
    except KeyboardInterrupt:
        pass
    finally:
        stopping.set()
        server.close()


if __name__ == "__main__":
    main()
