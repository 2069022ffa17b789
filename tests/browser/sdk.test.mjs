// The JavaScript library (sdk/js) in Debian's Chromium against hwservice on
// the virtual reader with the cards of cards.json: the example page as the
// service serves it reads every card over HTTP and WebSocket, a pulled card
// shows the service's text, a stopped service the library's; the module and
// the classic-script forms load from the service and from the source tree on
// a page of another origin.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { ServiceOnVirtualReader, launchChromium, CARD_DATA } from "./service.mjs";

const sdkSource = new URL("../../sdk/js/", import.meta.url).pathname;
const SERVICE = "http://127.0.0.1:7776";

// What the cards of tests/browser/cards.json give, per example button.
const EXPECTED = {
  readSocialCardNumber: CARD_DATA.DKQ0001,
  readSocialCardInfo: CARD_DATA.DKQ0002,
  readSocialCardCertId: CARD_DATA.DKQ0003,
  readSocialCardRegion: CARD_DATA.DKQ0004,
  readIdCard: CARD_DATA.DKQ0005,
  readBankCardNumber: CARD_DATA.DKQ0007,
  readQrCode: null,  // the code shown, per road
  setScannerInterval: "done",
};
const NOT_REACHABLE = "错误 / error NOT_REACHABLE: 无法连接读卡服务，请确认 hwservice 已启动 / " +
                      "The card-reader service does not answer; is hwservice running?";

let service;
let browser;
let page;
let pages;  // a server of test pages on another loopback port (another origin)
let pagesUrl;

before(async () => {
  service = new ServiceOnVirtualReader();
  // The service serves web/ of its folder: the build's, with the library in web/sdk.
  fs.cpSync(path.join(process.env.HW_BINARY_DIR, "bin", "web"), path.join(service.dir, "web"), { recursive: true });
  await service.start();
  pages = http.createServer((req, res) => {
    const url = new URL(req.url, "http://x");
    if (url.pathname.startsWith("/lib/")) {
      const file = path.join(sdkSource, path.basename(url.pathname));
      res.writeHead(200, { "Content-Type": "text/javascript" });
      return res.end(fs.readFileSync(file));
    }
    res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
    res.end(`<!DOCTYPE html><meta charset="utf-8">${url.searchParams.get("body")}`);
  });
  await new Promise((r) => pages.listen(0, "127.0.0.1", r));
  pagesUrl = `http://127.0.0.1:${pages.address().port}`;
  browser = await launchChromium();
  page = await browser.newPage();
  page.on("pageerror", (e) => { throw e; });
  await page.goto(`${SERVICE}/sdk/example.html`);
});

after(async () => {
  if (browser) await browser.close();
  if (pages) pages.close();
  if (service) {
    await service.stop();
    service.removeFolder();
  }
});

// Clicks a button of the example page; returns the line it adds:
// { cls, op, text }.
async function click(selector, timeout = 20000) {
  const before = await page.$$eval("#log li", (l) => l.length);
  await page.click(selector);
  await page.waitForFunction((n) => document.querySelectorAll("#log li").length > n, before, { timeout });
  return page.$eval("#log li", (li) => ({ cls: li.className, op: li.dataset.op, text: li.querySelector("pre").textContent }));
}

async function useTransport(transport) {
  await page.check(`input[name=transport][value=${transport}]`);
}

for (const transport of ["http", "websocket"]) {
  describe(`example page over ${transport}`, () => {
    test("reads every card and sets the scanner", async () => {
      await useTransport(transport);
      for (const [op, expected] of Object.entries(EXPECTED)) {
        let want = expected;
        if (op === "readBankCardNumber") service.ctl("insert", "contact", "bank");
        if (op === "readQrCode") {
          const code = `QR-${transport}-sdk`;
          service.ctl("present", `text=${code}`);
          want = { ECardInfo: code };
        }
        let line;
        try {
          line = await click(`button[data-op=${op}]`);
        } finally {
          if (op === "readBankCardNumber") service.ctl("insert", "contact", "ss3");
        }
        assert.equal(line.op, op);
        assert.equal(line.cls, "ok", `${op}: ${line.text}`);
        if (want === "done") assert.equal(line.text, "成功 / done");
        else assert.deepEqual(JSON.parse(line.text), want, op);
      }
      for (const mode of ["true", "false"]) {
        const line = await click(`button[data-op=setScannerMode][data-arg=${mode}]`);
        assert.deepEqual([line.cls, line.text], ["ok", "成功 / done"]);
      }
      const up = await click("#available");
      assert.deepEqual([up.cls, up.text], ["ok", "服务正在运行 / hwservice answers"]);
    });

    test("a pulled ID card shows the service's code and text", async () => {
      await useTransport(transport);
      service.ctl("remove", "idcard");
      try {
        const line = await click("button[data-op=readIdCard]");
        assert.deepEqual([line.cls, line.text], ["fail", "错误 / error -2: 读取身份证失败!"]);
      } finally {
        service.ctl("insert", "idcard", "id_zhou");
      }
    });
  });
}

describe("the library's two forms on a page of another origin", () => {
  // Each page reads the card region and puts the result (or the error) in
  // its body's data-result.
  const READ = (transport) => `const hw = new HwService({ transport: "${transport}", region: "440100" });
    hw.readSocialCardRegion().then((r) => document.body.dataset.result = JSON.stringify(r),
                                   (e) => document.body.dataset.result = e.code + " " + e.message)
      .finally(() => hw.close());`;
  const FORMS = [
    ["module from the service", `<script type="module">import { HwService } from "${SERVICE}/sdk/hwservice.js"; ${READ("websocket")}</script>`],
    ["classic script from the service", `<script src="${SERVICE}/sdk/hwservice.global.js"></script><script>${READ("http")}</script>`],
    ["module from the page's own site", `<script type="module">import { HwService } from "./lib/hwservice.js"; ${READ("http")}</script>`],
    ["classic script from the page's own site", `<script src="./lib/hwservice.global.js"></script><script>${READ("websocket")}</script>`],
  ];

  test("each form reads a card", async () => {
    const other = await browser.newPage();
    try {
      for (const [name, body] of FORMS) {
        await other.goto(`${pagesUrl}/?body=${encodeURIComponent(body)}`);
        await other.waitForFunction(() => document.body.dataset.result !== undefined, null, { timeout: 15000 });
        assert.equal(await other.evaluate(() => document.body.dataset.result), JSON.stringify(EXPECTED.readSocialCardRegion), name);
      }
    } finally {
      await other.close();
    }
  });
});

describe("a page on the internet", () => {
  const BLOCKED = "BLOCKED 浏览器禁止本页面访问本机的读卡服务（本地网络访问权限） / The browser blocks " +
                  "this page from reaching the card-reader service on this computer (local network access permission)";
  // Chromium keeps a public page from this computer: always when the page
  // is not https, else until the user allows it.
  const CASES = [
    ["http page", "http://public.example", false, BLOCKED],
    ["https page, allowed", "https://public.example", true, JSON.stringify(EXPECTED.readSocialCardRegion)],
  ];

  test("is blocked from this computer unless allowed; the library tells so", async () => {
    for (const [name, origin, allowed, expected] of CASES) {
      const context = await browser.newContext();
      try {
        if (allowed) await context.grantPermissions(["local-network-access"]);
        const pub = await context.newPage();
        await pub.route(`${origin}/**`, (route) => {
          const file = new URL(route.request().url()).pathname;
          if (file.startsWith("/lib/")) {
            return route.fulfill({ contentType: "text/javascript", body: fs.readFileSync(path.join(sdkSource, path.basename(file))) });
          }
          return route.fulfill({ contentType: "text/html", body: '<script src="/lib/hwservice.global.js"></script>' });
        });
        await pub.goto(`${origin}/`);
        for (const transport of ["http", "websocket"]) {
          const got = await pub.evaluate(async (t) => {
            const hw = new HwService({ transport: t, region: "440100" });
            try {
              return JSON.stringify(await hw.readSocialCardRegion());
            } catch (e) {
              return `${e.code} ${e.message}`;
            } finally {
              hw.close();
            }
          }, transport);
          assert.equal(got, expected, `${name} over ${transport}`);
        }
      } finally {
        await context.close();
      }
    }
  });
});

describe("a stopped service", () => {
  test("gives the library's \"not reachable\" error on both transports", async () => {
    // A sanitizer finding or a crash at exit shows in the status.
    assert.deepEqual(await service.stop(), { code: 0, signal: null }, "hwservice exit:\n" + service.log().slice(-4000));
    for (const transport of ["http", "websocket"]) {
      await useTransport(transport);
      const line = await click("button[data-op=readSocialCardNumber]");
      assert.deepEqual([line.cls, line.text], ["fail", NOT_REACHABLE], transport);
    }
    const up = await click("#available");
    assert.deepEqual([up.cls, up.text], ["fail", "服务未运行 / hwservice does not answer"]);
  });
});
