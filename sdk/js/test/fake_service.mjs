// A stand-in for hwservice on a loopback port: /api/hello, /http/hardware and
// WebSocket messages, each request answered by the test's `answer` function.
// The WebSocket frames are coded here (RFC 6455, text frames only).
import crypto from "node:crypto";
import http from "node:http";

// What the service does with a request it understood: echo it with the
// four result members.
export function reply(request, code = 0, data = null, info = "") {
  return JSON.stringify({ ...request, ErrorInfo: info, FunID: request.FunID, ResultCode: code, ResultData: data }) + "\n";
}

function frame(payload, opcode = 1) {
  const body = Buffer.isBuffer(payload) ? payload : Buffer.from(payload, "utf8");
  const n = body.length;
  const head = n < 126 ? Buffer.from([0x80 | opcode, n])
    : n < 65536 ? Buffer.from([0x80 | opcode, 126, n >> 8, n & 255])
    : Buffer.concat([Buffer.from([0x80 | opcode, 127]), (() => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(n)); return b; })()]);
  return Buffer.concat([head, body]);
}

// Complete client frames at the start of buf: [{ opcode, payload }], rest.
function parseFrames(buf) {
  const frames = [];
  for (;;) {
    if (buf.length < 2) break;
    let n = buf[1] & 0x7f;
    let at = 2;
    if (n === 126) { if (buf.length < 4) break; n = buf.readUInt16BE(2); at = 4; }
    else if (n === 127) { if (buf.length < 10) break; n = Number(buf.readBigUInt64BE(2)); at = 10; }
    const masked = (buf[1] & 0x80) !== 0;
    if (buf.length < at + (masked ? 4 : 0) + n) break;
    const mask = masked ? buf.subarray(at, at + 4) : null;
    at += masked ? 4 : 0;
    const payload = Buffer.from(buf.subarray(at, at + n));
    if (mask) for (let i = 0; i < n; i++) payload[i] ^= mask[i & 3];
    frames.push({ opcode: buf[0] & 0x0f, payload });
    buf = buf.subarray(at + n);
  }
  return [frames, buf];
}

export class FakeService {
  // answer(kind, text, conn): kind "http" or "ws"; text the request body or
  // message. Returns the reply text, null for none, or an action object:
  // { destroy: true } ends the connection, { delay, text } answers later.
  constructor(answer) {
    this.answer = answer;
    this.received = [];      // { kind, text, bytes }
    this.upgrades = 0;
    this.sockets = new Set();
    this.refuseUpgrades = false;
    this.server = http.createServer((req, res) => this.onHttp(req, res));
    this.server.on("upgrade", (req, socket) => this.onUpgrade(req, socket));
    this.server.on("connection", (s) => { this.sockets.add(s); s.on("close", () => this.sockets.delete(s)); });
  }

  async listen(port = 0) {
    await new Promise((resolve) => this.server.listen(port, "127.0.0.1", resolve));
    this.port = this.server.address().port;
    this.url = `http://127.0.0.1:${this.port}`;
    return this;
  }

  // Stops listening and ends every connection.
  async close() {
    for (const s of this.sockets) s.destroy();
    await new Promise((resolve) => this.server.close(resolve));
  }

  act(result, send, destroy) {
    if (result === null || result === undefined) return;
    if (typeof result === "string") return send(result);
    if (result.destroy) return destroy();
    setTimeout(() => send(result.text), result.delay);
  }

  onHttp(req, res) {
    const chunks = [];
    req.on("data", (c) => chunks.push(c));
    req.on("end", () => {
      const bytes = Buffer.concat(chunks);
      if (req.url === "/api/hello") return res.end("welcome to httpserver\n");
      if (req.url !== "/http/hardware") { res.writeHead(501); return res.end(); }
      this.received.push({ kind: "http", text: bytes.toString("utf8"), bytes });
      const result = this.answer("http", bytes.toString("utf8"));
      // The service answers a request it cannot read with an empty body.
      this.act(result === null ? "" : result, (t) => res.end(t), () => req.socket.destroy());
    });
  }

  onUpgrade(req, socket) {
    this.upgrades++;
    if (this.refuseUpgrades) return socket.destroy();
    const accept = crypto.createHash("sha1")
      .update(req.headers["sec-websocket-key"] + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").digest("base64");
    socket.write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
                 `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);
    const conn = {
      send: (t) => socket.writable && socket.write(frame(t)),
      destroy: () => socket.destroy(),
      closed: false,
    };
    socket.on("close", () => { conn.closed = true; });
    let pending = Buffer.alloc(0);
    socket.on("data", (d) => {
      let frames;
      [frames, pending] = parseFrames(Buffer.concat([pending, d]));
      for (const f of frames) {
        if (f.opcode === 8) { socket.end(frame(f.payload.subarray(0, 2), 8)); continue; }
        if (f.opcode !== 1) continue;
        const text = f.payload.toString("utf8");
        this.received.push({ kind: "ws", text, bytes: f.payload });
        this.act(this.answer("ws", text, conn), conn.send, conn.destroy);
      }
    });
  }
}
