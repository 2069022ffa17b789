#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets (valid traffic built from the
formats, plus a few near misses) into fuzz/<group>/corpus/<target>/ as
seed-NN files. Inputs found by fuzzing are kept beside them under other
names and are not touched.

Usage: fuzz/make_seeds.py   (from anywhere; rewrites the seed-* files)
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, seeds):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        if name.startswith("seed-"):
            os.remove(os.path.join(path, name))
    for i, data in enumerate(seeds):
        with open(os.path.join(path, "seed-%02d" % i), "wb") as f:
            f.write(data)


def xor(data):
    x = 0
    for b in data:
        x ^= b
    return x


# ---------------------------------------------------------------- HTTP
def http_seeds():
    body = b'{"FunID":"DKQ0001","TranData":{"Region":"310000"}}'
    return [
        b"GET / HTTP/1.1\r\nHost: 127.0.0.1:7776\r\n\r\n",
        b"POST /http/hardware HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
        b"Content-Length: %d\r\n\r\n%s" % (len(body), body),
        b"POST /http/hardware HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
        b"10\r\n" + body[:16] + b"\r\n" + (b"%x" % (len(body) - 16)) + b";ext=1\r\n" + body[16:] +
        b"\r\n0\r\nX-Trailer: 1\r\n\r\nGET /api/hello HTTP/1.1\r\n\r\n",
        # A chunked body on its own, for the decoder (first byte: room 0x34 * 4).
        b"4\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\n\r\nrest",
        b"4\nWiki\n0\n\n",
        b"GET /api/hello?x=1&y=2 HTTP/1.0\nConnection: keep-alive\n\n"
        b"GET /nothing HTTP/1.1\n\n",
        b"\r\n\r\nPOST /http/hardware HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"
        b"PUT /x HTTP/1.1\r\n\r\nuntil close",
        b"POST / HTTP/1.1\r\nContent-Length: 12a\r\n\r\n",
        b"GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n"
        b"\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58",
        b"GET / HTTP/1.1\r\n" + b"".join(b"H%d: v\r\n" % i for i in range(45)) + b"\r\n",
        b"POST /http/hardware HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffff\r\n",
        b"GET\r\n\r\n",
    ]


def serve_seeds():
    def get(uri, extra=b"", method=b"GET", proto=b"HTTP/1.1"):
        return method + b" " + uri + b" " + proto + b"\r\nHost: x\r\n" + extra + b"\r\n"

    return [
        get(b"/"),
        get(b"/a.txt", b"Range: bytes=10-20\r\n"),
        get(b"/a.txt", b"Range: bytes=-10\r\n"),
        get(b"/a.txt", b"Range: bytes=990-\r\n"),
        get(b"/a.txt", b"Range: bytes=1000-\r\n"),
        get(b"/a.txt", b"Range: bytes=5-1,7-9\r\n"),
        get(b"/b%20c.html", b"Connection: close\r\n", method=b"HEAD"),
        get(b"/sub"),
        get(b"/sub/", proto=b"HTTP/1.0"),
        get(b"/empty/?x=1"),
        get(b"/sub/deep/z.bin", b"Range: bytes=0-0\r\n"),
        get(b"/%2e%2e/secret.txt"),
        get(b"/sub/../../secret.txt"),
        get(b"/out"),
        get(b"/outdir/secret.txt"),
        get(b"/in", b"Range: bytes=0-99999999999999999999\r\n"),
        get(b"/a.txt%00"),
        get(b"/%zz"),
        get(b"sub"),
    ]


# ---------------------------------------------------------------- WebSocket
def ws_frame(op, payload, fin=True, mask=None, form=None):
    b0 = (0x80 if fin else 0) | op
    n = len(payload)
    if form == 64 or (form is None and n > 0xFFFF):
        head = bytes([b0, 127]) + struct.pack(">Q", n)
    elif form == 16 or (form is None and n >= 126):
        head = bytes([b0, 126]) + struct.pack(">H", n)
    else:
        head = bytes([b0, n])
    if mask is None:
        return head + payload
    head = bytes([head[0], head[1] | 0x80]) + head[2:] + mask
    return head + bytes(p ^ mask[i % 4] for i, p in enumerate(payload))


def ws_seeds():
    m = b"\x37\xfa\x21\x3d"
    req = b'{"FunID":"DKQ0011","TranData":{"Region":"1","Timeout":"10"}}'
    return [
        ws_frame(1, b"Hello", mask=m),
        ws_frame(1, req, mask=b"\x01\x02\x03\x04") + ws_frame(1, b"HeartBeat", mask=m),
        ws_frame(1, b"Hel", fin=False) + ws_frame(9, b"ping") + ws_frame(0, b"lo"),
        ws_frame(2, bytes(range(256)), mask=m),
        ws_frame(1, b"short", form=64),
        ws_frame(1, b"x" * 300, form=16, mask=m) + ws_frame(10, b""),
        ws_frame(8, b"\x03\xe8") + ws_frame(1, b"after close"),
        ws_frame(0, b"no start"),
        ws_frame(1, b"a", fin=False) + ws_frame(1, b"b"),
        bytes([0x81, 127]) + struct.pack(">Q", 2 * 1024 * 1024),
        ws_frame(1, b"a", fin=False) + ws_frame(0, b"b", fin=False) + ws_frame(0, b"c", mask=m),
        ws_frame(1, b"cut", mask=m)[:5],
    ]


# ---------------------------------------------------------------- dispatcher
def dispatch_seeds():
    def req(fun, extra="", region="310000"):
        return ('{"FunID":"%s","TranData":{"Region":"%s"%s}}' % (fun, region, extra)).encode()

    seeds = []
    plain = ["DKQ0001", "DKQ0002", "DKQ0003", "DKQ0004", "DKQ0005", "DKQ0007"]
    for i, fun in enumerate(plain):
        seeds.append(bytes([0, (i * 37) & 0xFF]) + req(fun))
        seeds.append(bytes([1, (i * 53 + 1) & 0xFF]) + req(fun))
    seeds += [
        bytes([0, 7]) + req("DKQ0010", ',"SetAutoRead":"1"'),
        bytes([1, 9]) + req("DKQ0010", ',"SetAutoRead":" -257x"'),
        bytes([0, 11]) + req("DKQ0010"),
        bytes([0, 13]) + req("DKQ0011", ',"Timeout":"10"'),
        bytes([0, 17]) + req("DKQ0011", ',"Timeout":null'),
        bytes([1, 19]) + req("DKQ0012", ',"Timeout":"500"'),
        bytes([0, 23]) + req("DKQ9999"),
        bytes([0, 29]) + req("DKQ0001", region="上海市"),
        bytes([1, 31]) + req("DKQ0001", region="上海市"),
        bytes([0, 37]) + b'{"FunID":"DKQ0004","TranData":{"Region":"1"},"Extra":[1,2.5,{"a":null}],"ResultCode":3}',
        bytes([0, 41]) + b'{"FunID":"DKQ0001","TranData":{"Region":""}}',
        bytes([0, 43]) + b'{"FunID":"DKQ0001"}',
        bytes([0, 47]) + b'{"FunID":"DKQ0001","TranData":{"Region":"1"}} trailing',
        bytes([0, 53]) + b'{"FunID":"DKQ0001","FunID":"DKQ0002","TranData":{"Region":"1"}}',
        bytes([0, 59]) + b'[{"FunID":"DKQ0001"}]',
        bytes([0, 61]) + b'{"FunID":"DKQ0001",/*c*/"TranData":{"Region":"1"}}',
        bytes([0, 67]) + b'{"FunID":1,"TranData":{"Region":"1"}}',
        bytes([1, 71]) + '{"FunID":"DKQ0005","TranData":{"Region":"1","Note":"\U0001F600"}}'.encode(),
        # The holder's photo: asked for, and values that do not ask for it.
        bytes([0, 73]) + req("DKQ0005", ',"Photo":"1"'),
        bytes([1, 79]) + req("DKQ0005", ',"Photo":"1"'),
        bytes([0, 83]) + req("DKQ0005", ',"Photo":1'),
    ]
    return seeds


# ---------------------------------------------------------------- HID reports
def reports(response):
    """Cuts one response into 64-byte input reports (NAD byte 0)."""
    out = b""
    chunks = [response[i:i + 61] for i in range(0, len(response), 61)] or [b""]
    for i, c in enumerate(chunks):
        more = 0x20 if i + 1 < len(chunks) else 0
        toggle = 0x40 if i & 1 else 0
        out += bytes([0, (i & 0x1F) | more | toggle, len(c)]) + c + bytes(61 - len(c))
    return out


def ucs2(text, size):
    data = text.encode("utf-16-le")
    return (data + " ".encode("utf-16-le") * size)[:size]


def idcard_text():
    return (ucs2("张三", 30) + ucs2("1", 2) + ucs2("01", 4) + ucs2("19900101", 16) +
            ucs2("北京市东城区景山前街4号", 70) + ucs2("11010119900101001X", 36) +
            ucs2("北京市公安局东城分局", 30) + ucs2("20200101", 16) + ucs2("20400101", 16) +
            ucs2("", 36))


def idcard_record(text, photo):
    return struct.pack(">HH", len(text), len(photo)) + text + photo


def sam_reply(sw3, data=b""):
    # AA AA AA 96 69, length, SW1 SW2 SW3 at offsets 7..9, then data.
    body = bytes([0x00, 0x00, sw3]) + data
    frame = b"\xAA\xAA\xAA\x96\x69" + struct.pack(">H", len(body) + 1) + body
    return frame + bytes([xor(frame[5:])])


def hid_report_seeds():
    ok = b"\x90\x00"
    photo = bytes((i * 7) & 0xFF for i in range(1024))
    record = idcard_record(idcard_text(), photo)
    idcard = (reports(b"\x3B\x00" + ok) + reports(sam_reply(0x90, b"\x01" * 4) + ok) +
              reports(sam_reply(0x9F, b"\x00" * 4) + ok) + reports(sam_reply(0x90, b"\x00" * 8) + ok) +
              reports(sam_reply(0x90, record) + ok))
    return [
        bytes([0, 0]) + idcard,
        bytes([0, 2]) + idcard[:64 * 4],
        bytes([1, 0]) + reports(b"\x6F\x10\x84\x0E" + b"1PAY.SYS.DDF01" + ok),
        bytes([1, 1]) + reports(b"stale" + ok) + reports(bytes(range(200)) + b"\x61\x10"),
        bytes([1, 2]) + reports(bytes(4104) + ok),
        bytes([2, 8 << 2]) + reports(bytes(range(8)) + ok),
        bytes([3, 0]) + reports(bytes(range(16)) + ok),
        bytes([4, 0]) + reports(b"\x02" + ok),
        bytes([5, 0]) + reports(b";6222021234567890123=49121010000000000?" + ok),
        bytes([6, 0]) + reports(b"https://example.org/e-card/0123456789" + ok),
        bytes([7, 0]) + reports(b"V1.4.5" + ok),
        bytes([8, 0]) + reports(ok) + reports(ok),
        bytes([9, 0]) + reports(b"\x3B\x80\x81\x31\xFE\x45" + ok),
        bytes([1, 0]) + bytes([0, 0x21, 61]) + bytes(61) + bytes([0, 0x05, 2]) + ok + bytes(59),
    ]


def hid_idcard_seeds():
    text = idcard_text()
    photo = bytes((i * 13) & 0xFF for i in range(1024))
    return [
        idcard_record(text, photo) + b"\x00",
        idcard_record(text, b""),
        idcard_record(text[:100], photo[:10]),
        struct.pack(">HH", 256, 1024) + text[:50],
        idcard_record(ucs2("X", 30) + ucs2("9", 2) + ucs2("97", 4) + ucs2("", 220), b"\xff"),
        idcard_record("\ud800".encode("utf-16-le", "surrogatepass") * 128, b""),
        b"\x00\x01",
    ]


def hub_reply(text, photo=b""):
    """The module's read reply as the hub sees it: SAM header, the two
    lengths, the text block (padded to 256 bytes), the photo."""
    text = (text + " ".encode("utf-16-le") * 128)[:256]
    return (b"\xAA\xAA\xAA\x96\x69\x05\x08\x00\x00\x90" + struct.pack(">HH", 256, len(photo)) +
            text + photo)


def hub_idcard_seeds():
    photo = bytes((i * 5) & 0xFF for i in range(1024))
    long_term = (ucs2("阿依古丽·买买提", 30) + ucs2("2", 2) + ucs2("05", 4) + ucs2("19851231", 16) +
                 ucs2("新疆乌鲁木齐市天山区（１２３号）", 70) + ucs2("650102198512310026", 36) +
                 ucs2("乌鲁木齐市公安局", 30) + ucs2("20150101", 16) + ucs2("长期", 16))
    rare = ("\U00020000\U0002A6D6".encode("utf-16-le") + "\ud800".encode("utf-16-le", "surrogatepass") +
            "\t名\t".encode("utf-16-le"))
    return [
        hub_reply(idcard_text(), photo),
        hub_reply(long_term),
        hub_reply(ucs2(" ", 30) + ucs2("9", 2) + ucs2("98", 4) + ucs2("1990\u4e00101", 16)),
        hub_reply(rare + bytes(256)),
        hub_reply(bytes(256)),
        hub_reply(ucs2("\uffff" * 15, 30) + "\u4e2d".encode("utf-16-le") + ucs2("99", 4)),
        hub_reply(idcard_text())[:269],
    ]


# ---------------------------------------------------------------- dc_
DLE, STX, ETX = 0x10, 0x02, 0x03


def dc_reply(data, status=0, seq=0, bad_check=False):
    body = bytes([seq, status, len(data)]) + data
    body += bytes([xor(body) ^ (1 if bad_check else 0)])
    stuffed = body.replace(b"\x10", b"\x10\x10")
    return bytes([STX]) + stuffed + bytes([DLE, ETX])


def dc_xfer(data, status=0):
    """Reader bytes of one exchange: acknowledge STX and frame, then reply."""
    return bytes([DLE, DLE]) + dc_reply(data, status)


def lenb(data):
    return bytes([len(data)]) + data


def t1_block(pcb, inf):
    blk = bytes([0, pcb, len(inf)]) + inf
    return blk + bytes([xor(blk)])


def dc_seeds():
    atr_t0 = bytes.fromhex("3B8F8001804F0CA000000306030001000000006A")
    atr_t1 = bytes.fromhex("3B80813110")
    ok = b"\x90\x00"
    return [
        bytes([0, 0]) + dc_reply(b"\x10\x02\x03hello\x10"),
        bytes([0, 0]) + dc_reply(b"", status=0x01),
        bytes([0, 0]) + dc_reply(b"abc", bad_check=True),
        bytes([0, 0]) + dc_reply(bytes(range(255)), seq=0x10),
        bytes([1, 0]) + dc_xfer(lenb(atr_t0)) + dc_xfer(lenb(b"\x6F\x00" + ok)),
        bytes([1, 1]) + dc_xfer(lenb(atr_t1)) + dc_xfer(lenb(t1_block(0x00, b"\x6F\x00" + ok))),
        bytes([2, 0]) + dc_xfer(b"\x05\x78\x80\x70\x02") + dc_xfer(lenb(b"\x0A\x6F\x00" + ok)),
        bytes([2, 0]) + dc_xfer(b"\x05\x78\x80\x70\x02") + dc_xfer(lenb(b"\xFA\x01")) +
        dc_xfer(lenb(b"\x1A\x01\x02")) + dc_xfer(lenb(b"\x0B" + ok)),
        bytes([3, 10]) + dc_xfer(lenb(b"\xA2")) + dc_xfer(lenb(b"\x03" + ok)),
        bytes([4, 0x52]) + dc_xfer(b"\x04\x00") + dc_xfer(b"\x11\x22\x33\x44") + dc_xfer(b"\x08"),
        bytes([5, 0]) + dc_xfer(lenb(atr_t0)),
        bytes([6, 0]) + dc_xfer(lenb(bytes(8) + ok)),
        bytes([7, 0]) + dc_xfer(b"\x24\x01\x15\x10\x30\x00\x02"),
        bytes([8, 4]) + dc_xfer(bytes(range(16))),
        bytes([9, 6]) + dc_xfer(b"\xA2\x13\x10\x91\xFF\x81"),
        bytes([10, 0]) + dc_xfer(b"\x07\xFF\xFF\xFF"),
        bytes([11, 0]) + dc_xfer(b"\x02\x10") + dc_xfer(b"\x00") + dc_xfer(lenb(b"\x02" + ok)),
    ]


# ---------------------------------------------------------------- IC_
def ic_reply(data, status=0, bad_check=False):
    check = (len(data) + sum(data) + (1 if bad_check else 0)) & 0xFF
    return bytes([0xAA, status, len(data)]) + data + bytes([check])


def ic_xfer(data, status=0):
    """Reader bytes of one IC_DATACOMM: two answer bytes, then the reply."""
    return b"\x00\x00" + ic_reply(data, status)


def aux_wrap(data, prefix=0x1B, suffix=0x1D):
    out = b""
    for b in data:
        for c in b"%02X" % b:
            out += bytes([prefix, c, suffix])
    return out


def ic_seeds():
    ok = b"\x90\x00"
    atr_t1 = bytes.fromhex("3B80813110")
    value = struct.pack("<I", 100) + struct.pack("<I", 0xFFFFFFFF - 100) + struct.pack("<I", 100) + b"\x04\xFB\x04\xFB"
    termdef = (b"# terminal\nOPEN=\\x1b[5i\nCLOSE=\\x1b[4i\nWR_BEGIN=\\033[5i\nWR_END=\\x1b[4i\n"
               b"PREFIX=\\x1b\nSUFFIX=\\x1d\n")
    return [
        bytes([0, 0]) + ic_reply(b"\x01\x02\x03"),
        bytes([0, 0]) + ic_reply(b"abc", bad_check=True),
        bytes([0, 0]) + b"\x00",
        bytes([1, 0]) + b"\x11\x22" + ic_reply(b"\x55" * 10),
        bytes([1, 0]) + ic_reply(b"", status=3),
        bytes([2, 0]) + b"\x82",
        bytes([3, 0]) + ic_xfer(lenb(atr_t1)) + ic_xfer(t1_block(0x00, b"\x6A\x82")),
        bytes([3, 0]) + ic_xfer(lenb(bytes.fromhex("3B6800008131FE"))) + ic_xfer(b"\x6F\x00" + ok),
        bytes([4, 20]) + ic_xfer(b"\x05\x78\x80\x70\x02") + ic_xfer(b"\xA3") + ic_xfer(b"\x1A\x01\x02") +
        ic_xfer(b"\xF2\x01") + ic_xfer(b"\x0A" + ok),
        bytes([4, 0]) + ic_xfer(b"\x05\x78\x80\x70\x02") + ic_xfer(b"") + ic_xfer(b"\x0A" + ok),
        bytes([5, 4]) + ic_xfer(value),
        bytes([6, 0]) + ic_xfer(bytes(range(16))),
        bytes([7, 3]) + ic_xfer(b"\x01\x02\x03"),
        bytes([8, 0x52]) + ic_xfer(b"\x04\x00") + ic_xfer(b"\x11\x22\x33\x44") + ic_xfer(b"\x08"),
        bytes([9, 0]) + ic_xfer(b"\x03"),
        bytes([10, 0]) + ic_xfer(bytes(16)),
        bytes([0x81, 1]) + termdef + b"\x00" + aux_wrap(ic_reply(b"\x01\x02")),
        bytes([0x81, 0]) + termdef + b"\x00" + aux_wrap(b"\x00\x00" + ic_reply(b"\x01\x02")),
        bytes([0x82, 0]) + b"PREFIX=\\x02\nSUFFIX=\\x03\n\x00" + aux_wrap(b"\x82", 2, 3),
        bytes([0x86, 1]) + termdef + b"\x00" + aux_wrap(ic_reply(bytes(range(16)))),
    ]


# ---------------------------------------------------------------- SDANDC
def sdandc_reply(data, status=0, lower=False, bad_check=False):
    body = bytes([status]) + data
    body += bytes([xor(body) ^ (1 if bad_check else 0)])
    text = body.hex().upper()
    if lower:
        text = text.lower()
    return b"D&C" + (b"%04X" % len(text)) + text.encode()


def sdandc_seeds():
    return [
        bytes([0]) + sdandc_reply(b""),
        bytes([1]) + sdandc_reply(b"\x6F\x00\x90\x00"),
        bytes([1]) + sdandc_reply(b"\xAB\xCD", lower=True),
        bytes([1]) + sdandc_reply(b"\x01", status=0x12),
        bytes([1]) + sdandc_reply(b"\x01", bad_check=True),
        bytes([2]) + sdandc_reply(bytes.fromhex("3B80813110")),
        bytes([3]) + sdandc_reply(bytes(8) + b"\x90\x00"),
        bytes([4]) + sdandc_reply(b"\x04\x11\x22\x33\x44"),
        bytes([5]) + sdandc_reply(b"\x05\x78\x80\x70\x02"),
        bytes([6]) + sdandc_reply(b"\x6A\x82"),
        bytes([7]) + sdandc_reply(b""),
        bytes([1]) + sdandc_reply(bytes(range(256)) * 7),
        bytes([1]) + b"D&C0FFF" + b"00" * 10,
    ]


# ---------------------------------------------------------------- T10N
def t10n_reply(status, data, length=None, check=True):
    payload = status + data
    n = len(payload) if length is None else length
    chars = bytes(0x30 + (n >> s & 15) for s in (12, 8, 4, 0))
    body = payload + (bytes([xor(payload)]) if check else b"")
    for b in body:
        chars += bytes([0x30 + (b >> 4), 0x30 + (b & 15)])
    return bytes([STX]) + chars + bytes([ETX])


def t10n_seeds():
    ok = b"\x00\x00"
    return [
        bytes([0, 0]) + t10n_reply(ok, b"\x3B\x80\x81\x31"),
        bytes([0, 3]) + b"noise\x03" + t10n_reply(ok, b""),
        bytes([0, 1]) + t10n_reply(b"\x6A\x82", b"\x01\x02"),
        bytes([0, 0]) + t10n_reply(ok, b"\x01\x02\x03", length=5, check=False),
        bytes([0, 0]) + t10n_reply(ok, bytes(range(256)) * 4),
        bytes([1, 0]) + t10n_reply(ok, bytes.fromhex("3B6800008131FE")),
        bytes([2, 0]) + t10n_reply(ok, b"\x05\x78\x80\x70\x02"),
        bytes([3, 0]) + t10n_reply(ok, b"\x6F\x00\x90\x00"),
        bytes([3, 0]) + t10n_reply(b"\x00\x01", b""),
        bytes([0, 0]) + b"\x02\x30\x30\x03",
    ]


# ---------------------------------------------------------------- kernel TLV
def tlv(tag, value):
    t = tag.to_bytes(3 if tag > 0xFFFF else 2 if tag > 0xFF else 1, "big")
    n = len(value)
    if n < 0x80:
        ln = bytes([n])
    elif n < 0x100:
        ln = bytes([0x81, n])
    else:
        ln = bytes([0x82]) + n.to_bytes(2, "big")
    return t + ln + value


def dol(*items):
    return b"".join(tag.to_bytes(2 if tag > 0xFF else 1, "big") + bytes([n]) for tag, n in items)


def tlv_seeds():
    card = (tlv(0x5A, bytes.fromhex("6222021234567890123F")) + tlv(0x5F20, b"ZHANG/SAN") +
            tlv(0x57, bytes.fromhex("6222021234567890123D49121010000000000F")) +
            tlv(0x5F24, bytes.fromhex("491231")) + tlv(0x5F34, b"\x01") + tlv(0x9F62, b"\x00") +
            tlv(0x9F61, b"110101199001011234") + tlv(0x9F0B, b"ZHANG SAN"))
    terminal = (tlv(0x9F02, bytes.fromhex("000000000100")) + tlv(0x9F03, bytes(6)) +
                tlv(0x9F1A, b"\x01\x56") + tlv(0x95, bytes(5)) + tlv(0x5F2A, b"\x01\x56") +
                tlv(0x9A, bytes.fromhex("240101")) + tlv(0x9C, b"\x00") + tlv(0x9F37, b"\x12\x34\x56\x78") +
                tlv(0x9F66, bytes.fromhex("F4000000")) + tlv(0x5A, b"\x62\x22"))
    pdol = dol((0x9F66, 4), (0x9F02, 6), (0x9F03, 6), (0x9F1A, 2), (0x95, 5), (0x5F2A, 2),
               (0x9A, 3), (0x9C, 1), (0x9F37, 4), (0xDF60, 1), (0x70, 2), (0x5A, 4), (0x9F02, 2))
    fci = tlv(0x6F, tlv(0x84, bytes.fromhex("A000000333010101")) +
              tlv(0xA5, tlv(0x50, b"PBOC DEBIT") + tlv(0x87, b"\x01") + tlv(0x9F38, pdol) +
                  tlv(0xBF0C, tlv(0x9F4D, b"\x0B\x0A"))))
    nested = b""
    for depth in range(12):
        nested = tlv(0x70 if depth % 2 else 0xA5, nested + tlv(0x5F20, b"DEEP%d" % depth))
    return [
        bytes([len(pdol)]) + pdol + terminal + card + b"\x00",
        bytes([0]) + tlv(0x70, card) + b"\x00\x00\xFF" + tlv(0x70, tlv(0x8C, pdol)),
        bytes([len(pdol)]) + pdol + fci,
        bytes([0]) + tlv(0x77, tlv(0x82, b"\x7C\x00") + tlv(0x94, bytes.fromhex("08010100100102011801020020010100"))),
        bytes([0]) + tlv(0x70, tlv(0x5F20, b"N" * 300)) + tlv(0xDF8101, b"three-byte tag"),
        bytes([0]) + nested,
        bytes([3]) + b"\x9F\x02\x06" + b"\x9F\x02\x85\x00\x00\x00\x00\x01",
        bytes([4]) + b"\x9F\x9F\x9F\x01" + b"\x5A\x83\x00\x00\x05" + b"12345",
    ]


# ---------------------------------------------------------------- profiles
def capk_file():
    rows = []
    for i, (index, modlen) in enumerate([(0x08, 144), (0x10, 248), (0x11, 1)], start=1):
        rid = bytes.fromhex("A000000333")
        modulus = bytes((j * 29 + index) & 0xFF for j in range(modlen))
        exponent = b"\x03"
        check = hashlib.sha1(rid + bytes([index]) + modulus + exponent).hexdigest().upper()
        rows.append("[CAPK%d]\nRID=%s\nCAPKI=%02X\nHashInd=01\nArithInd=01\nModul=%s\n"
                    "Exponent=03\nExpireDate=20301231\nCheckSum=%s\n" %
                    (i, rid.hex().upper(), index, modulus.hex().upper(), check))
    return "".join(rows).encode()


def profile_seeds():
    def case(size_bits, section, key, default, text):
        return bytes([size_bits]) + section + b"\0" + key + b"\0" + default + b"\0" + text

    ini = b"; reader settings\n[DEVICE]\nDEVTYPE=1\n[ApplePay]\ntimeout = 30 \r\nTIMEOUTX=9\n"
    return [
        case(40, b"APPLEPAY", b"TIMEOUT", b"1", ini),
        case(40, b"DEVICE", b"PORT", b"100", ini),
        case(1, b"DEVICE", b"DEVTYPE", b"default text", ini),
        case(40, b"S", b"K", b"d", b"[s]\nk=a=b = last \n"),
        case(40, b"S", b"K", b"d", b"[S]\nK no equals\nK=later\n"),
        case(40, b"S", b"K", b"d", b"[S]\n" + b"x" * 600 + b"\nK=after a long line\n"),
        case(40, b"S", b"", b"d", b"[S]\n\t  spaced\t=\tvalue\t\n"),
        case(0x80 | 60, b"CAPK1", b"RID", b"", capk_file()),
        case(0x80 | 60, b"CAPK2", b"Modul", b"", capk_file().replace(b"CheckSum=", b"CheckSum=00", 1)),
    ]


# ---------------------------------------------------------------- INI
def ini_seeds():
    def case(section, key, value, text):
        return section + b"\0" + key + b"\0" + value + b"\0" + text

    base = b"[Set]\nPSAM=23\nX=1\n"
    return [
        case(b"Set", b"PSAM", b"25", base),
        case(b"Set", b"PSAM", b"25", base.replace(b"\n", b"\r\n")),
        case(b"Set", b"PSAM", b" 24", b"# comment\n// other\n[Set]\nPSAMX= 22\n"),
        case(b"Set", b"Port", b"1", b"[Other]\nPort=9\n[Set]\n[Later]\nPort = 3"),
        case(b"Set", b"PSAM", b"22", b"[Set]\n" + b"K" * 1500 + b"=1\nPSAM=2\n"),
        case(b"Set", b"Missing", b"1", base),
        case(b"S" * 70, b"PSAM", b"1", base),
        case(b"Set", b"#PSAM", b"1", b"[Set]\n#PSAM=1\nPSAM=2\n"),
        case(b"\xc9\xe8\xd6\xc3", b"\xc3\xfb", b"\xd6\xd0", b"[\xc9\xe8\xd6\xc3]\n\xc3\xfb=\xd5\xc5\n"),
    ]


def main():
    write("transport/corpus/http", http_seeds())
    write("transport/corpus/ws", ws_seeds())
    write("transport/corpus/serve", serve_seeds())
    write("service/corpus", dispatch_seeds())
    write("hidreader/corpus/reports", hid_report_seeds())
    write("hidreader/corpus/idcard", hid_idcard_seeds())
    write("hub/corpus", hub_idcard_seeds())
    write("payterm/corpus/dc", dc_seeds())
    write("payterm/corpus/ic", ic_seeds())
    write("payterm/corpus/sdandc", sdandc_seeds())
    write("payterm/corpus/t10n", t10n_seeds())
    write("payterm/corpus/tlv", tlv_seeds())
    write("payterm/corpus/profile", profile_seeds())
    write("qmxtool/corpus", ini_seeds())


if __name__ == "__main__":
    main()
