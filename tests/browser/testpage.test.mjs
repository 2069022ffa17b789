// The test page (测试网页及脚本/GPY/index.html, opened from a file as the
// tray's menu entry does) in Debian's Chromium, against hwservice on the
// virtual reader with the cards of cards.json: every FunID button over HTTP and over
// WebSocket, with the card data the page shows; the WebSocket road's GBK
// echo of Chinese request text as a browser really takes it; and the
// requests the service turns away.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { pathToFileURL } from "node:url";
import { ServiceOnVirtualReader, testPage, launchChromium, CARD_DATA, stopCleanly } from "./service.mjs";


// What the cards of tests/browser/cards.json give.
const EXPECTED = {
  ...CARD_DATA,
  DKQ0010: null,
  DKQ0011: { ECardInfo: "" },  // filled per road with the code shown
  DKQ0012: null,
};

let service;
let browser;
let page;

before(async () => {
  service = new ServiceOnVirtualReader();
  await service.start();
  browser = await launchChromium();
  page = await browser.newPage();
  page.on("pageerror", (e) => { throw e; });
  await page.goto(pathToFileURL(testPage).href);
});

after(async () => {
  if (browser) await browser.close();
  await stopCleanly(service);
});

// The lines of the page's reply box: { cls, text }.
function entries() {
  return page.$$eval("#log > div", (ds) => ds.map((d) => ({ cls: d.className, text: d.textContent })));
}

// Clicks a button and returns the page's lines that it added, once `count`
// of them are there (request and reply: 2).
async function clickAndRead(selector, count = 2, timeout = 15000) {
  const before = (await entries()).length;
  await page.click(selector);
  await page.waitForFunction((n) => document.querySelectorAll("#log > div").length >= n,
                             before + count, { timeout });
  return (await entries()).slice(before);
}

// The reply object the page shows in a reply line ("<time>  HTTP 应答：\n{...}").
function shownReply(entry, road) {
  const head = `${road} 应答：\n`;
  const at = entry.text.indexOf(head);
  assert.ok(at >= 0, `not a ${road} reply line: ${entry.text}`);
  return JSON.parse(entry.text.slice(at + head.length));
}

async function useRoad(road) {
  await page.check(`input[name=road][value=${road}]`);
  await page.fill("#Region", "440100");
}

async function readEveryFunction(road) {
  const label = road === "http" ? "HTTP" : "WebSocket";
  for (const fun of Object.keys(EXPECTED)) {
    let expected = EXPECTED[fun];
    // The bank card is read in the contact slot; the QR code is shown first.
    if (fun === "DKQ0007") service.ctl("insert", "contact", "bank");
    if (fun === "DKQ0011") {
      const code = `QR-${road}-0001`;
      service.ctl("present", `text=${code}`);
      expected = { ECardInfo: code };
    }
    const [request, reply] = await clickAndRead(`button[data-fun=${fun}]`);
    if (fun === "DKQ0007") service.ctl("insert", "contact", "ss3");

    assert.equal(request.cls, "req");
    const sent = JSON.parse(request.text.slice(request.text.indexOf("{")));
    const tran = { Region: "440100" };
    if (fun === "DKQ0010") tran.SetAutoRead = "1";
    if (fun === "DKQ0011" || fun === "DKQ0012") tran.Timeout = "30";
    assert.deepEqual(sent, { FunID: fun, TranData: tran }, `${fun} request`);

    const shown = shownReply(reply, label);
    assert.deepEqual(shown, { ErrorInfo: "", FunID: fun, ResultCode: 0, ResultData: expected, TranData: tran },
                     `${fun} over ${label}`);
    assert.equal(reply.cls, "ok", `${fun} shown as success`);
  }
}

describe("every function over HTTP", () => {
  test("each button's reply shows the card data", async () => {
    await useRoad("http");
    await readEveryFunction("http");
  });

  test("a Chinese Region comes back unchanged on HTTP", async () => {
    await useRoad("http");
    await page.fill("#Region", "广州市");
    const [, reply] = await clickAndRead("button[data-fun=DKQ0004]");
    assert.deepEqual(shownReply(reply, "HTTP").TranData, { Region: "广州市" });
  });

  test("an empty Region gets the empty reply, shown as a refused request", async () => {
    await useRoad("http");
    await page.fill("#Region", "");
    const [, reply] = await clickAndRead("button[data-fun=DKQ0001]");
    assert.equal(reply.cls, "fail");
    assert.match(reply.text, /HTTP 应答为空：请求格式错误，被服务拒绝$/);
  });

  test("a card missing from its slot is shown as a failure with the library's message", async () => {
    await useRoad("http");
    service.ctl("remove", "idcard");
    try {
      const [, reply] = await clickAndRead("button[data-fun=DKQ0005]");
      const shown = shownReply(reply, "HTTP");
      assert.equal(reply.cls, "fail");
      assert.notEqual(shown.ResultCode, 0);
      assert.notEqual(shown.ErrorInfo, "");
      assert.equal(shown.ResultData, null);
    } finally {
      service.ctl("insert", "idcard", "id_zhou");
    }
  });
});

describe("every function over WebSocket", () => {
  test("HeartBeat is answered with HeartBeat", async () => {
    await useRoad("ws");
    const [request, reply] = await clickAndRead("#heartbeat");
    assert.match(request.text, /WebSocket 请求：HeartBeat$/);
    assert.match(reply.text, /WebSocket 应答：HeartBeat$/);
    assert.equal(await page.textContent("#wsstate"), "已连接");
  });

  test("each button's reply shows the card data", async () => {
    await useRoad("ws");
    await readEveryFunction("ws");
    assert.equal(await page.textContent("#wsstate"), "已连接");
  });

  test("an empty Region gets no reply; the connection stays up", async () => {
    await useRoad("ws");
    await page.fill("#Region", "");
    const [request] = await clickAndRead("button[data-fun=DKQ0001]", 1);
    assert.equal(request.cls, "req");
    await page.fill("#Region", "440100");
    // The next request's reply is the next line: nothing came for the first.
    const [next, reply] = await clickAndRead("button[data-fun=DKQ0004]");
    assert.equal(next.cls, "req");
    assert.deepEqual(shownReply(reply, "WebSocket").ResultData, EXPECTED.DKQ0004);
  });

  test("a Chinese Region: the GBK echo is no UTF-8 text, the browser drops the connection and the page says so", async () => {
    await useRoad("ws");
    await page.fill("#Region", "广州市");
    const lines = await clickAndRead("button[data-fun=DKQ0004]", 2);
    assert.equal(lines[0].cls, "req");
    assert.equal(lines[1].cls, "fail");
    assert.match(lines[1].text, /WebSocket 连接已断开/);
    assert.match(lines[1].text, /GBK/);
    await page.waitForFunction(() => document.getElementById("wsstate").textContent === "未连接");
    // The page reconnects for the next request, with an ASCII Region.
    await page.fill("#Region", "440100");
    const [, reply] = await clickAndRead("button[data-fun=DKQ0004]");
    assert.deepEqual(shownReply(reply, "WebSocket").ResultData, EXPECTED.DKQ0004);
  });
});
