// Pages of other origins in Debian's Chromium against hwservice on the
// virtual reader: the browser's Local Network Access gate for a page on a
// public address (refused; let through by a granted permission or by the
// managed policy hwservice-admin writes), a page on a private address, and
// the service's own AllowedOrigins refusal as the page sees it.
//
// The pages come from a second local server on port 8080, reached as
// 127.0.0.2 (declared public to the browser) and 127.0.0.3 (private). The
// managed-policy case writes Chromium's real policy folder, and removes the
// file again.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { ServiceOnVirtualReader, launchChromium, stopCleanly } from "./service.mjs";

const admin = path.join(process.env.HW_BINARY_DIR, "bin", "hwservice-admin");
const PUBLIC = "http://127.0.0.2:8080";
const PRIVATE = "http://127.0.0.3:8080";
const managedDir = "/etc/chromium/policies/managed";

// The page's probe: one request over HTTP and one WebSocket open.
const PAGE = `<!doctype html><meta charset="utf-8"><title>probe</title><script>
async function probe() {
  const out = {};
  try {
    const r = await fetch("http://127.0.0.1:7776/http/hardware", {
      method: "POST", headers: { "Content-Type": "text/plain" },
      body: JSON.stringify({ FunID: "DKQ0004", TranData: { Region: "440100" } }),
    });
    out.status = r.status;
    out.body = await r.text();
  } catch (e) {
    out.fetchError = String(e);
  }
  out.ws = await new Promise((resolve) => {
    const ws = new WebSocket("ws://127.0.0.1:7776");
    ws.onopen = () => { ws.close(); resolve("open"); };
    ws.onerror = () => resolve("error");
  });
  return out;
}
</script>`;

const SERVED = {
  status: 200,
  body: '{"ErrorInfo":"","FunID":"DKQ0004","ResultCode":0,"ResultData":{"City":"310100"},"TranData":{"Region":"440100"}}\n',
  ws: "open",
};
const BLOCKED = { fetchError: "TypeError: Failed to fetch", ws: "error" };

let service;
let pages;
let policyFile;

function launch() {
  return launchChromium(["--ip-address-space-overrides=127.0.0.2:8080=public,127.0.0.3:8080=private"]);
}

async function probeIn(browser, origin, permissions = []) {
  const context = await browser.newContext();
  try {
    if (permissions.length) await context.grantPermissions(permissions, { origin });
    const page = await context.newPage();
    await page.goto(origin + "/");
    return await page.evaluate(() => probe());
  } finally {
    await context.close();
  }
}

before(async () => {
  service = new ServiceOnVirtualReader();
  // Every key commented out, as shipped: the service serves every page.
  policyFile = path.join(service.dir, "hwservice.conf");
  fs.copyFileSync(path.join(process.env.HW_SOURCE_DIR, "packaging", "hwservice.conf"), policyFile);
  service.env.HWSERVICE_POLICY = policyFile;
  await service.start();
  pages = http.createServer((req, res) => {
    res.writeHead(200, { "Content-Type": "text/html" });
    res.end(PAGE);
  });
  await new Promise((resolve) => pages.listen(8080, "0.0.0.0", resolve));
});

after(async () => {
  if (pages) pages.close();
  await stopCleanly(service);
});

describe("a page on another origin", () => {
  let browser;
  before(async () => { browser = await launch(); });
  after(async () => { if (browser) await browser.close(); });

  test("on a public address is blocked by the browser without permission", async () => {
    assert.deepEqual(await probeIn(browser, PUBLIC), BLOCKED);
  });

  test("on a public address works with the permission granted", async () => {
    assert.deepEqual(await probeIn(browser, PUBLIC, ["local-network-access"]), SERVED);
  });

  test("on a private address works without anything", async () => {
    assert.deepEqual(await probeIn(browser, PRIVATE), SERVED);
  });

  test("not in AllowedOrigins gets the 403 reply object", async () => {
    fs.writeFileSync(policyFile + ".new", `AllowedOrigins = ${PUBLIC}\n`);
    fs.renameSync(policyFile + ".new", policyFile);
    try {
      assert.deepEqual(await probeIn(browser, PRIVATE), {
        status: 403,
        body: '{"ErrorInfo":"Origin not allowed: this page\'s origin is not in the service\'s AllowedOrigins",' +
              '"FunID":"DKQ0004","ResultCode":-403,"ResultData":null,"TranData":{"Region":"440100"}}\n',
        ws: "error",
      });
      assert.deepEqual(await probeIn(browser, PUBLIC, ["local-network-access"]), SERVED);
    } finally {
      fs.copyFileSync(path.join(process.env.HW_SOURCE_DIR, "packaging", "hwservice.conf"), policyFile + ".new");
      fs.renameSync(policyFile + ".new", policyFile);
    }
  });
});

// Writing Chromium's policy folder needs root (CI runs as root).
let etcWritable = true;
try { fs.accessSync("/etc", fs.constants.W_OK); } catch { etcWritable = false; }

test("a page on a public address works with the managed policy hwservice-admin writes",
     { skip: etcWritable ? false : "needs write access to /etc (run as root)" }, async () => {
  const created = ["/etc/chromium", "/etc/chromium/policies", managedDir].filter((d) => !fs.existsSync(d));
  const ours = path.join(managedDir, "hwservice.json");
  assert.equal(fs.existsSync(ours), false, ours + " exists already");
  let browser;
  try {
    execFileSync(admin, ["browser-policy", PUBLIC], { env: { ...process.env, HWSERVICE_ADMIN_ROOT: "" } });
    assert.deepEqual(JSON.parse(fs.readFileSync(ours, "utf8")), {
      LocalNetworkAccessAllowedForUrls: [PUBLIC],
      LoopbackNetworkAllowedForUrls: [PUBLIC],
    });
    browser = await launch();  // policies are read at start
    assert.deepEqual(await probeIn(browser, PUBLIC), SERVED);
  } finally {
    if (browser) await browser.close();
    execFileSync(admin, ["browser-policy", "--remove", PUBLIC], { env: { ...process.env, HWSERVICE_ADMIN_ROOT: "" } });
    for (const d of created.reverse()) fs.rmdirSync(d);
  }
  assert.equal(fs.existsSync(ours), false);
});
