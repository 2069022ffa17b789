// The "read ID card with photo" buttons of the test page (over HTTP and
// WebSocket) and of the page on "/", in Chromium against hwservice on the
// virtual reader: each shows the holder's 102 x 126 photo; a card whose
// photo record does not decode shows the decoder's code instead.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { ServiceOnVirtualReader, testPage, launchChromium, stopCleanly } from "./service.mjs";


let service;
let browser;
let page;

before(async () => {
  service = new ServiceOnVirtualReader();
  // The page on "/" comes from web/ in the service's working folder.
  fs.cpSync(path.join(process.env.HW_BINARY_DIR, "bin", "web"), path.join(service.dir, "web"), { recursive: true });
  await service.start();
  browser = await launchChromium();
  page = await browser.newPage();
  page.on("pageerror", (e) => { throw e; });
});

after(async () => {
  if (browser) await browser.close();
  await stopCleanly(service);
});

// Clicks #idphoto and waits for the photo to load: its natural size.
async function photoShown() {
  await page.evaluate(() => {
    const img = document.getElementById("photo");
    img.removeAttribute("src");
    document.getElementById("photobox").hidden = true;
  });
  await page.click("#idphoto");
  await page.waitForFunction(() => {
    const img = document.getElementById("photo");
    return !document.getElementById("photobox").hidden && img.complete && img.naturalWidth > 0;
  }, null, { timeout: 15000 });
  return page.$eval("#photo", (img) => ({
    width: img.naturalWidth, height: img.naturalHeight, visible: img.getBoundingClientRect().width > 0,
  }));
}

const SHOWN = { width: 102, height: 126, visible: true };

test("the test page shows the photo over HTTP and over WebSocket", async () => {
  await page.goto(pathToFileURL(testPage).href);
  assert.deepEqual(await photoShown(), SHOWN);
  await page.check("input[name=road][value=ws]");
  assert.deepEqual(await photoShown(), SHOWN);
  // The plain read beside it asks for no photo and leaves the picture alone.
  await page.evaluate(() => { document.getElementById("photobox").hidden = true; });
  await page.check("input[name=road][value=http]");
  await page.click("button[data-fun=DKQ0005]");
  await page.waitForFunction(() => document.getElementById("log").textContent.includes("周八"));
  assert.equal(await page.$eval("#photobox", (b) => b.hidden), true);
});

test("the page on / shows the photo, or the decoder's code for a damaged record", async () => {
  await page.goto("http://127.0.0.1:7776/");
  assert.deepEqual(await photoShown(), SHOWN);
  // No mask makes sense of a record of zeros.
  service.ctl("load", service.profileWith("id_zhou", { photo: Buffer.alloc(1024).toString("base64") }));
  await page.click("#idphoto");
  await page.waitForFunction(() => document.getElementById("photonote").textContent !== "");
  assert.equal(await page.$eval("#photonote", (n) => n.textContent), "照片无法解码（-3）");
  assert.equal(await page.$eval("#photo", (img) => img.hasAttribute("src")), false);
  assert.match(await page.$eval("#reply", (r) => r.textContent), /"Name": "周八"/);
});
