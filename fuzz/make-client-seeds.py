#!/usr/bin/env python3
"""Records what a real device (devsim) sends in the stories of the
fuzz_devlink_client target and writes them as its seeds: byte 0 the story
(0 record query, 1 live, 2 history), u16 the length of the command
connection's bytes, then those bytes, then the media connection's.

Usage: make-client-seeds.py path/to/devsim fuzz/seeds/fuzz_devlink_client
"""
import hashlib
import hmac
import os
import socket
import struct
import subprocess
import sys

MAGIC = 0x4B4E4C44
HEADER = struct.Struct('<IHHII')
LIMIT = 60000  # the fuzz run takes inputs of up to 64 KiB


def message(kind, request_id, body=b''):
    return HEADER.pack(MAGIC, kind, 0, request_id, len(body)) + body


def read_message(sock):
    data = b''
    while len(data) < 16:
        chunk = sock.recv(16 - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    _, kind, result, rid, length = HEADER.unpack(data)
    body = b''
    while len(body) < length:
        chunk = sock.recv(length - len(body))
        if not chunk:
            raise EOFError
        body += chunk
    return data + body, kind, result, body


def wire_time(y, mo, d, h, mi, s):
    return struct.pack('<6H', y, mo, d, h, mi, s)


def login(port):
    sock = socket.create_connection(('127.0.0.1', port))
    user = b'admin'.ljust(32, b'\0')
    client_nonce = os.urandom(16)
    sock.sendall(message(0x0005, 1, struct.pack('<HH', 2, 0) + user + client_nonce))
    raw1, _, result, body = read_message(sock)
    assert result == 0, result
    server_nonce, salt, iterations = body[:32], body[32:48], struct.unpack('<I', body[48:52])[0]
    # The seed asks the SDK for the cheapest key derivation it accepts, so
    # that the fuzzer spends its time on parsing rather than on hashing.
    raw1 = raw1[:-4] + struct.pack('<I', 1000)
    key = hashlib.pbkdf2_hmac('sha256', b'admin', salt, iterations, 32)
    proof = hmac.new(key, b'DevLink login 2' + server_nonce + client_nonce + user, hashlib.sha256).digest()
    sock.sendall(message(0x0001, 2, proof))
    raw2, _, result, body = read_message(sock)
    assert result == 0, result
    return sock, raw1 + raw2, body[:12]


def media(port, open_kind, body, control=None):
    sock = socket.create_connection(('127.0.0.1', port))
    sock.sendall(message(open_kind, 1, body))
    out, _, result, _ = read_message(sock)
    assert result == 0, result
    if control is not None:
        sock.sendall(message(0x0023, 2, control))
    while True:
        raw, _, _, _ = read_message(sock)
        if len(out) + len(raw) > LIMIT - 4000:
            break
        out += raw
    sock.close()
    return out


def seed(story, command, media_bytes=b''):
    return bytes([story]) + struct.pack('<H', len(command)) + command + media_bytes


def main():
    devsim, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    proc = subprocess.Popen([devsim, '--port', '0', '--media-port', '0', '--channels', '1', '--print-ports'],
                            stdout=subprocess.PIPE, text=True)
    try:
        words = dict(w.split('=') for w in proc.stdout.readline().split()[1:])
        cmd_port, media_port = int(words['command']), int(words['media'])
        day = (wire_time(2024, 5, 6, 0, 0, 0), wire_time(2024, 5, 6, 23, 59, 59))

        sock, logged, token = login(cmd_port)
        sock.sendall(message(0x0004, 3, struct.pack('<HHI', 0, 0, 63) + day[0] + day[1]))
        records, _, _, _ = read_message(sock)
        sock.close()
        open(os.path.join(folder, 'record_query'), 'wb').write(seed(0, logged + records))
        open(os.path.join(folder, 'login_only'), 'wb').write(seed(0, logged))

        sock, logged, token = login(cmd_port)
        live = media(media_port, 0x0020, token + struct.pack('<HH', 0, 5))
        open(os.path.join(folder, 'live_third'), 'wb').write(seed(1, logged, live))
        sock.close()

        sock, logged, token = login(cmd_port)
        body = token + struct.pack('<HBBI', 0, 1, 0, 63) + wire_time(2024, 5, 6, 10, 0, 0) + \
            wire_time(2024, 5, 6, 11, 0, 0)
        history = media(media_port, 0x0021, body, struct.pack('<HH', 1, 1) + wire_time(2024, 5, 6, 10, 0, 0))
        open(os.path.join(folder, 'history_sub'), 'wb').write(seed(2, logged, history))
        sock.close()
    finally:
        proc.terminate()
        proc.wait()


if __name__ == '__main__':
    main()
