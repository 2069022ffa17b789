// The library against a fake service (test/fake_service.mjs) on loopback:
// the exact request text, reply parsing and every failure, on both roads;
// then what only the WebSocket road has: queueing, order, HeartBeat,
// reconnecting and its back-off.
import { after, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import net from "node:net";
import { HwService, HwServiceError } from "../hwservice.js";
import { FakeService, reply } from "./fake_service.mjs";

// A loopback port where nothing listens.
async function closedPort() {
  const s = net.createServer();
  await new Promise((r) => s.listen(0, "127.0.0.1", r));
  const { port } = s.address();
  await new Promise((r) => s.close(r));
  return port;
}

async function failure(promise) {
  try {
    await promise;
  } catch (e) {
    assert.ok(e instanceof HwServiceError, `not an HwServiceError: ${e}`);
    return e;
  }
  assert.fail("resolved");
}

const ID = { Activity: "20200101", Address: "广东省深圳市", Born: "19920228", CardNo: "440305199202284568", Name: "李四", Police: "深圳市公安局" };

// Each row: the call, the request text the service must get (without the
// WebSocket sequence member), how the fake answers, and the outcome.
const ROWS = [
  { name: "social-security card number", call: (h) => h.readSocialCardNumber(),
    sent: '{"FunID":"DKQ0001","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, 0, { CardNo: "A1", CardType: "2" }), result: { CardNo: "A1", CardType: "2" } },
  { name: "basic information", call: (h) => h.readSocialCardInfo(),
    sent: '{"FunID":"DKQ0002","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, 0, { Name: "张三" }), result: { Name: "张三" } },
  { name: "identification code", call: (h) => h.readSocialCardCertId(),
    sent: '{"FunID":"DKQ0003","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, 0, { CardCertID: "X" }), result: { CardCertID: "X" } },
  { name: "region", call: (h) => h.readSocialCardRegion(),
    sent: '{"FunID":"DKQ0004","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, 0, { City: "110100" }), result: { City: "110100" } },
  { name: "ID card", call: (h) => h.readIdCard(),
    sent: '{"FunID":"DKQ0005","TranData":{"Region":"440100"}}', answer: (q) => reply(q, 0, ID), result: ID },
  { name: "ID card with photo, its members passed through", call: (h) => h.readIdCard({ photo: true }),
    sent: '{"FunID":"DKQ0005","TranData":{"Region":"440100","Photo":"1"}}',
    answer: (q) => reply(q, 0, { ...ID, Photo: "data:image/bmp;base64,Qk0=", PhotoRaw: "V0xm" }),
    result: { ...ID, Photo: "data:image/bmp;base64,Qk0=", PhotoRaw: "V0xm" } },
  { name: "bank card", call: (h) => h.readBankCardNumber(),
    sent: '{"FunID":"DKQ0007","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, 0, { MagBankNo: "6217" }), result: { MagBankNo: "6217" } },
  { name: "scanner mode", call: (h) => h.setScannerMode(false),
    sent: '{"FunID":"DKQ0010","TranData":{"Region":"440100","SetAutoRead":"0"}}',
    answer: (q) => reply(q), result: undefined },
  { name: "QR code with its wait", call: (h) => h.readQrCode(30),
    sent: '{"FunID":"DKQ0011","TranData":{"Region":"440100","Timeout":"30"}}',
    answer: (q) => reply(q, 0, { ECardInfo: "https://e/1" }), result: { ECardInfo: "https://e/1" } },
  { name: "scanner interval", call: (h) => h.setScannerInterval(500),
    sent: '{"FunID":"DKQ0012","TranData":{"Region":"440100","Timeout":"500"}}',
    answer: (q) => reply(q), result: undefined },
  { name: "generic call, Chinese text escaped to ASCII", call: (h) => h.call("DKQ0004", { Region: "广州市", Note: "é😀" }),
    sent: '{"FunID":"DKQ0004","TranData":{"Region":"\\u5e7f\\u5dde\\u5e02","Note":"\\u00e9\\ud83d\\ude00"}}',
    answer: (q) => reply(q, 0, { City: "440100" }), result: { City: "440100" } },
  { name: "generic call of an unknown FunID", call: (h) => h.call("DKQ0006"),
    sent: '{"FunID":"DKQ0006","TranData":{"Region":"440100"}}',
    answer: (q) => reply(q, -1, null, "该功能点暂未开发!"), error: { code: -1, message: "该功能点暂未开发!" } },
  { name: "service error text", call: (h) => h.readIdCard(),
    answer: (q) => reply(q, -2, null, "读取身份证失败!"), error: { code: -2, message: "读取身份证失败!" } },
  { name: "service error without text", call: (h) => h.setScannerInterval(10000),
    answer: (q) => reply(q, -3), error: { code: -3, message: "读卡失败 / The operation failed: -3" } },
  { name: "reply that is not JSON", call: (h) => h.readSocialCardRegion(), answer: () => "<html>",
    error: { code: "BAD_REPLY", message: /^读卡服务的应答无法识别 \/ The reply .* cannot be read: not JSON$/ } },
  { name: "reply to another FunID", call: (h) => h.readSocialCardRegion(),
    answer: (q) => reply({ ...q, FunID: "DKQ0001" }, 0, {}), error: { code: "BAD_REPLY", message: /not a reply to DKQ0004$/ } },
  { name: "reply without ResultCode", call: (h) => h.readSocialCardRegion(),
    answer: (q) => JSON.stringify({ ...q, ResultData: null }), error: { code: "BAD_REPLY" } },
  { name: "ResultData of the wrong type", call: (h) => h.readSocialCardRegion(),
    answer: (q) => reply(q, 0, "110100"), error: { code: "BAD_REPLY" } },
  { name: "no answer within the time-out", call: (h) => h.call("DKQ0004", {}, { timeoutMs: 150 }),
    answer: (q) => ({ delay: 400, text: reply(q, 0, {}) }), error: { code: "TIMEOUT", message: /in time: 150 ms$/ } },
  { name: "connection closed mid-request", call: (h) => h.readSocialCardNumber(), answer: () => ({ destroy: true }),
    error: { code: "CONNECTION_LOST", message: "与读卡服务的连接已断开 / The connection to the card-reader service was lost" } },
];

// Requests the library refuses to send: the service would not answer them.
const BAD_REQUESTS = [
  ["empty FunID", (h) => h.call(""), /FunID must be a text of 1 to 9 bytes$/],
  ["FunID of 10 bytes", (h) => h.call("DKQ0000001"), /FunID/],
  ["FunID of 4 Chinese characters (12 bytes)", (h) => h.call("读读读读"), /FunID/],
  ["empty Region", (h) => h.call("DKQ0004", { Region: "" }), /Region must be a text of 1 to 99 bytes$/],
  ["Region of 100 bytes", (h) => h.call("DKQ0004", { Region: "x".repeat(100) }), /Region/],
  ["Timeout as a number", (h) => h.call("DKQ0011", { Timeout: 5 }), /Timeout must be a text$/],
  ["TranData an array", (h) => h.call("DKQ0004", []), /TranData must be an object$/],
  ["negative QR wait", (h) => h.readQrCode(-1), /seconds/],
  ["scanner mode not boolean", (h) => h.setScannerMode("1"), /auto must be true or false$/],
  ["fractional interval", (h) => h.setScannerInterval(1.5), /interval/],
];

const SEQ = /,"HwSeq":\d+\}$/;

for (const transport of ["http", "websocket"]) {
  describe(`over ${transport}`, () => {
    let answerOf = null;
    const fake = new FakeService((kind, text) => answerOf(JSON.parse(text)));
    const ready = fake.listen();
    after(() => fake.close());

    test("each call sends its request and gives the reply's ResultData or the error", async () => {
      await ready;
      for (const row of ROWS) {
        const hw = new HwService({ url: fake.url, transport, region: "440100", heartbeatMs: 0 });
        answerOf = row.answer;
        const before = fake.received.length;
        try {
          if (row.error) {
            const e = await failure(row.call(hw));
            assert.equal(e.code, row.error.code, row.name);
            if (typeof row.error.message === "string") assert.equal(e.message, row.error.message, row.name);
            else if (row.error.message) assert.match(e.message, row.error.message, row.name);
            if (typeof row.error.code === "number") assert.equal(e.reply.ResultCode, row.error.code, row.name);
          } else {
            assert.deepEqual(await row.call(hw), row.result, row.name);
          }
        } finally {
          hw.close();
        }
        const got = fake.received.slice(before);
        assert.equal(got.length, 1, `${row.name}: requests sent`);
        assert.ok(got[0].bytes.every((b) => b < 0x80), `${row.name}: request is ASCII`);
        if (row.sent) {
          // The WebSocket road tags each request with its sequence number.
          const text = transport === "http" ? got[0].text : got[0].text.replace(SEQ, "}");
          if (transport === "websocket") assert.match(got[0].text, SEQ);
          assert.equal(text, row.sent, row.name);
        }
      }
    });

    test("requests the service would drop are refused before sending", async () => {
      await ready;
      const hw = new HwService({ url: fake.url, transport, heartbeatMs: 0 });
      const before = fake.received.length;
      for (const [name, call, message] of BAD_REQUESTS) {
        const e = await failure(call(hw));
        assert.equal(e.code, HwServiceError.BAD_REQUEST, name);
        assert.match(e.message, /^请求参数错误 \/ Invalid request: /, name);
        assert.match(e.message, message, name);
      }
      assert.equal(fake.received.length, before);
      hw.close();
    });

    test("a port where nothing listens: not reachable, not available", async () => {
      const hw = new HwService({ url: `http://127.0.0.1:${await closedPort()}`, transport, heartbeatMs: 0 });
      const e = await failure(hw.readSocialCardNumber());
      assert.equal(e.code, "NOT_REACHABLE");
      assert.equal(e.message, "无法连接读卡服务，请确认 hwservice 已启动 / The card-reader service does not answer; is hwservice running?");
      assert.equal(e.funId, "DKQ0001");
      assert.equal(await hw.available(), false);
      hw.close();
    });
  });
}

test("the library's files are ASCII: a classic script is decoded in the page's charset", () => {
  for (const name of ["hwservice.js", "hwservice.global.js"]) {
    const bytes = fs.readFileSync(new URL(`../${name}`, import.meta.url));
    assert.equal(bytes.findIndex((b) => b > 0x7e || (b < 0x20 && b !== 0x0a)), -1, name);
  }
});

describe("HTTP road", () => {
  test("an empty reply means the service refused the request; available() reads /api/hello", async () => {
    const fake = await new FakeService(() => null).listen();
    try {
      const hw = new HwService({ url: fake.url + "/" });
      assert.equal(await hw.available(), true);
      const e = await failure(hw.call("DKQ0004"));
      assert.deepEqual([e.code, e.message], ["REFUSED", "读卡服务拒绝了格式错误的请求 / The card-reader service refused the request as malformed"]);
      const other = new HwService({ url: fake.url + "/x" });  // 501 on every other path
      assert.equal(await other.available(), false);
      assert.equal((await failure(other.call("DKQ0004"))).message, "读卡服务的应答无法识别 / The reply of the card-reader service cannot be read: HTTP status 501");
    } finally {
      await fake.close();
    }
  });
});

describe("WebSocket road", () => {
  // A fake whose WebSocket side the test drives by hand: every message is
  // kept with its connection, unanswered.
  async function manual() {
    const inbox = [];
    const fake = await new FakeService((kind, text, conn) => {
      if (text === "HeartBeat") return fake.beats ? "HeartBeat" : null;
      inbox.push({ request: JSON.parse(text), conn });
      return null;
    }).listen();
    fake.beats = true;
    fake.inbox = inbox;
    fake.next = async (n) => {
      for (let i = 0; inbox.length < n; i++) {
        if (i > 200) assert.fail(`only ${inbox.length} of ${n} requests arrived`);
        await new Promise((r) => setTimeout(r, 10));
      }
      return inbox.splice(0, n);
    };
    return fake;
  }

  test("one connection; requests queued while it opens; replies matched in order around HeartBeat, late and missing replies", async () => {
    const fake = await manual();
    const hw = new HwService({ url: fake.url, transport: "websocket", heartbeatMs: 20 });
    try {
      const calls = [hw.readSocialCardRegion(), hw.call("DKQ0001", {}, { timeoutMs: 1000 }), hw.readIdCard(), hw.readBankCardNumber()];
      const [a, b, c, d] = await fake.next(4);
      assert.deepEqual([a, b, c, d].map((m) => m.request.HwSeq), [1, 2, 3, 4]);
      // Let HeartBeats pass first, then answer the first; the second times out
      // and its late reply must not be taken for the third's; the third gets
      // no reply at all (as the service does with requests it cannot read),
      // which shows when the fourth's comes.
      await new Promise((r) => setTimeout(r, 100));
      a.conn.send(reply(a.request, 0, { City: "1" }));
      assert.deepEqual(await calls[0], { City: "1" });
      assert.equal((await failure(calls[1])).code, "TIMEOUT");
      b.conn.send(reply(b.request, 0, { CardNo: "late" }));
      d.conn.send(reply(d.request, 0, { MagBankNo: "4" }));
      assert.equal((await failure(calls[2])).code, "REFUSED");
      assert.deepEqual(await calls[3], { MagBankNo: "4" });
      assert.equal(fake.upgrades, 1);
      assert.ok(fake.received.filter((m) => m.text === "HeartBeat").length >= 2, "HeartBeats sent");
      // An unreadable frame answers the oldest open request.
      const e = hw.readSocialCardNumber();
      const [f] = await fake.next(1);
      f.conn.send("not json");
      assert.equal((await failure(e)).code, "BAD_REPLY");
      const pending = hw.readSocialCardNumber();
      await fake.next(1);
      hw.close();
      assert.equal((await failure(pending)).code, "CLOSED");
    } finally {
      hw.close();
      await fake.close();
    }
  });

  test("a HeartBeat left unanswered while idle drops the connection; the next request opens a new one", async () => {
    const fake = await manual();
    fake.beats = false;
    const hw = new HwService({ url: fake.url, transport: "websocket", heartbeatMs: 30 });
    try {
      const first = hw.readSocialCardRegion();
      const [m] = await fake.next(1);
      m.conn.send(reply(m.request, 0, { City: "1" }));
      await first;
      for (let i = 0; !m.conn.closed; i++) {
        if (i > 100) assert.fail("connection not dropped");
        await new Promise((r) => setTimeout(r, 10));
      }
      const second = hw.readSocialCardRegion();
      const [n] = await fake.next(1);
      assert.notEqual(n.conn, m.conn);
      n.conn.send(reply(n.request, 0, { City: "2" }));
      assert.deepEqual(await second, { City: "2" });
      assert.equal(fake.upgrades, 2);
    } finally {
      hw.close();
      await fake.close();
    }
  });

  test("after a lost connection: reconnect on the next request, failed attempts spaced by a growing back-off", async () => {
    const fake = await manual();
    const hw = new HwService({ url: fake.url, transport: "websocket", heartbeatMs: 0 });
    try {
      const lost = hw.readSocialCardRegion();
      const [m] = await fake.next(1);
      m.conn.destroy();
      assert.equal((await failure(lost)).code, "CONNECTION_LOST");

      // The service is gone: each failed attempt doubles the wait before the next.
      fake.refuseUpgrades = true;
      const times = [];
      for (let i = 0; i < 3; i++) {
        const t0 = Date.now();
        assert.equal((await failure(hw.readSocialCardRegion())).code, "NOT_REACHABLE");
        times.push(Date.now() - t0);
      }
      assert.equal(fake.upgrades, 4);
      assert.ok(times[0] < 245 && times[1] >= 245 && times[2] >= 495, `waits ${times}`);

      // Back again: the next attempt (after 1 s) goes through.
      fake.refuseUpgrades = false;
      const back = hw.readSocialCardRegion();
      const [n] = await fake.next(1);
      n.conn.send(reply(n.request, 0, { City: "3" }));
      assert.deepEqual(await back, { City: "3" });
      assert.equal(fake.upgrades, 5);
    } finally {
      hw.close();
      await fake.close();
    }
  });

  test("a reply that is not UTF-8 (a GBK echo) loses the connection", async () => {
    const fake = await manual();
    const hw = new HwService({ url: fake.url, transport: "websocket", heartbeatMs: 0 });
    try {
      const call = hw.readSocialCardRegion();
      const [m] = await fake.next(1);
      m.conn.send(Buffer.from([0x7b, 0xb9, 0xe3, 0x7d]));  // {广} in GBK
      assert.equal((await failure(call)).code, "CONNECTION_LOST");
    } finally {
      hw.close();
      await fake.close();
    }
  });
});
