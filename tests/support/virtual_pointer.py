#!/usr/bin/python3
"""A virtual pointer for a wlroots compositor (zwlr_virtual_pointer_manager_v1), spoken in the raw
Wayland wire protocol so that tests need no extra bindings.

  virtual_pointer.py X Y [left|right] [X2 Y2 left ...] [hold]
moves to each absolute position on the first output (1280x800 unless WIDTH/HEIGHT are set) and clicks
the named button there; a position without a button only moves. Pauses PAUSE seconds between steps.
With "hold" last, the pointer stays until the process is ended: while it exists the seat has a pointer,
so surfaces under it learn its position, and `swaymsg seat - cursor ...` moves and clicks it.
"""
import os
import socket
import struct
import sys
import time

BUTTONS = {"left": 0x110, "right": 0x111}


class Connection:
    def __init__(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ.get("WAYLAND_DISPLAY", "wayland-0"))
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.next_id = 2
        self.buffer = b""

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, obj, opcode, payload=b""):
        size = 8 + len(payload)
        self.sock.sendall(struct.pack("<II", obj, (size << 16) | opcode) + payload)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                obj, word = struct.unpack("<II", self.buffer[:8])
                size = word >> 16
                if len(self.buffer) < size:
                    break
                payload = self.buffer[8:size]
                self.buffer = self.buffer[size:]
                yield obj, word & 0xFFFF, payload
            chunk = self.sock.recv(65536)
            if not chunk:
                return
            self.buffer += chunk


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * ((4 - len(data) % 4) % 4)


def main():
    conn = Connection()
    registry = conn.new_id()
    conn.send(1, 1, struct.pack("<I", registry))  # wl_display.get_registry
    callback = conn.new_id()
    conn.send(1, 0, struct.pack("<I", callback))  # wl_display.sync
    manager_name = None
    for obj, opcode, payload in conn.events():
        if obj == registry and opcode == 0:
            name = struct.unpack("<I", payload[:4])[0]
            length = struct.unpack("<I", payload[4:8])[0]
            interface = payload[8:8 + length - 1].decode()
            if interface == "zwlr_virtual_pointer_manager_v1":
                manager_name = name
        if obj == callback:
            break
    if manager_name is None:
        print("no zwlr_virtual_pointer_manager_v1", file=sys.stderr)
        return 1
    manager = conn.new_id()
    conn.send(registry, 0, struct.pack("<I", manager_name) + string("zwlr_virtual_pointer_manager_v1") +
              struct.pack("<II", 1, manager))
    pointer = conn.new_id()
    conn.send(manager, 0, struct.pack("<II", 0, pointer))  # create_virtual_pointer(null seat)
    width = int(os.environ.get("WIDTH", "1280"))
    height = int(os.environ.get("HEIGHT", "800"))
    pause = float(os.environ.get("PAUSE", "0.3"))
    args = sys.argv[1:]
    hold = bool(args) and args[-1] == "hold"
    if hold:
        args = args[:-1]
    stamp = lambda: int(time.monotonic() * 1000) & 0xFFFFFFFF
    while args:
        x, y = int(args[0]), int(args[1])
        args = args[2:]
        conn.send(pointer, 1, struct.pack("<IIIII", stamp(), x, y, width, height))  # motion_absolute
        conn.send(pointer, 4, struct.pack("<I", stamp()))  # frame
        time.sleep(pause)
        if args and args[0] in BUTTONS:
            button = BUTTONS[args.pop(0)]
            for state in (1, 0):
                conn.send(pointer, 2, struct.pack("<III", stamp(), button, state))
                conn.send(pointer, 4, struct.pack("<I", stamp()))
                time.sleep(0.05)
            time.sleep(pause)
    time.sleep(pause)
    while hold:
        time.sleep(3600)
    return 0


if __name__ == "__main__":
    sys.exit(main())
