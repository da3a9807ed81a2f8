"""Writes a recorded TCP session as a classic pcap file (Ethernet, IPv4, TCP).

The session is a list of ("c2s" | "s2c", bytes) in the order the bytes were
sent. The file holds a three-way handshake, then the bytes split into
segments with consecutive sequence numbers and acknowledgements, then a FIN
from each side; IPv4 and TCP checksums are correct. Pure function of its
arguments.
"""

from __future__ import annotations

import struct
from typing import Iterable, List, Sequence, Tuple

CLIENT_IP = bytes([10, 0, 0, 1])
SERVER_IP = bytes([10, 0, 0, 2])
CLIENT_MAC = bytes.fromhex("020000000001")
SERVER_MAC = bytes.fromhex("020000000002")

SYN, ACK, PSH, FIN = 0x02, 0x10, 0x08, 0x01


def _checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def _packet(src_ip, dst_ip, src_mac, dst_mac, sport, dport, seq, ack, flags, payload) -> bytes:
    tcp = struct.pack("!HHIIBBHHH", sport, dport, seq & 0xFFFFFFFF, ack & 0xFFFFFFFF,
                      5 << 4, flags, 65535, 0, 0) + payload
    pseudo = src_ip + dst_ip + struct.pack("!BBH", 0, 6, len(tcp))
    tcp = tcp[:16] + struct.pack("!H", _checksum(pseudo + tcp)) + tcp[18:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 0, 0x4000, 64, 6, 0, src_ip, dst_ip)
    ip = ip[:10] + struct.pack("!H", _checksum(ip)) + ip[12:]
    return dst_mac + src_mac + b"\x08\x00" + ip + tcp


def split(data: bytes, sizes: Sequence[int]) -> List[bytes]:
    """Cuts data into pieces of the given sizes, the last size repeating."""
    pieces, pos, i = [], 0, 0
    while pos < len(data):
        n = sizes[min(i, len(sizes) - 1)]
        pieces.append(data[pos : pos + n])
        pos += n
        i += 1
    return pieces


def write(path: str, session: Iterable[Tuple[str, bytes]], segment_sizes: Sequence[int] = (1460,),
          client_port: int = 50123, server_port: int = 8889) -> int:
    """Writes the pcap; each chunk of the session is cut by segment_sizes.
    Returns the number of packets written."""
    seq = {"c2s": 1000, "s2c": 5000}
    ends = {
        "c2s": (CLIENT_IP, SERVER_IP, CLIENT_MAC, SERVER_MAC, client_port, server_port),
        "s2c": (SERVER_IP, CLIENT_IP, SERVER_MAC, CLIENT_MAC, server_port, client_port),
    }
    other = {"c2s": "s2c", "s2c": "c2s"}
    packets = []

    def emit(direction: str, flags: int, payload: bytes = b"") -> None:
        ack = seq[other[direction]] if flags & ACK else 0
        packets.append(_packet(*ends[direction], seq[direction], ack, flags, payload))
        seq[direction] += len(payload) + (1 if flags & (SYN | FIN) else 0)

    emit("c2s", SYN)
    emit("s2c", SYN | ACK)
    emit("c2s", ACK)
    for direction, data in session:
        for piece in split(data, segment_sizes):
            emit(direction, ACK | PSH, piece)
    emit("c2s", FIN | ACK)
    emit("s2c", FIN | ACK)
    emit("c2s", ACK)

    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        for i, pkt in enumerate(packets):
            out.write(struct.pack("<IIII", 1700000000 + i // 1000, (i % 1000) * 1000,
                                  len(pkt), len(pkt)))
            out.write(pkt)
    return len(packets)
