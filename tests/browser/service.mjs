// Starts the virtual reader and the real hwservice on it for a browser test,
// and stops both. The service runs from a copy in a temporary folder, since
// it keeps config.ini and QMXLog beside its executable; the copy finds the
// build's libraries through its build RUNPATH.
import assert from "node:assert/strict";
import { spawn, execFileSync } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const binary = process.env.HW_BINARY_DIR;
if (!binary) throw new Error("HW_BINARY_DIR is not set (CTest sets it)");
const bin = path.join(binary, "bin");

export const testPage = path.join(bin, "测试网页及脚本", "GPY", "index.html");
// The cards of the test, apart from the demo profile that users see.
const profile = new URL("./cards.json", import.meta.url).pathname;

// What the cards of cards.json give, by FunID (DKQ0010 and DKQ0012 answer
// null; DKQ0011 gives the code shown, which each test presents itself).
const SS3 = { CardNo: "B30000007", CardType: "2" };
export const CARD_DATA = {
  DKQ0001: SS3,
  DKQ0002: {
    Address: "310104", Birthday: "19881125", CardNo: "B30000007", CardType: "3", Company: "",
    ID: "310104198811250020", IDType: "01", IssueDate: "20220615",
    IssueDeptID: "D15600000531010000000002", Name: "王小红", Sex: "女", Telephone: "",
  },
  DKQ0003: { ...SS3, CardCertID: "310100D15600000503A1B2C3D4E5F607" },
  DKQ0004: { City: "310100" },
  DKQ0005: {
    Activity: "20190301", Address: "浙江省杭州市西湖区文三路100号", Born: "19850615",
    CardNo: "330106198506150011", Name: "周八", Police: "杭州市公安局西湖分局",
  },
  DKQ0007: { MagBankNo: "6217000012345678907" },
};

// Stops the service, checks that it ended cleanly (a sanitizer finding or a
// crash at exit shows in the status) and removes its folder; service may be
// unset when the test's set-up failed early.
export async function stopCleanly(service) {
  if (!service) return;
  const status = await service.stop();
  assert.deepEqual(status, { code: 0, signal: null }, "hwservice exit:\n" + service.log().slice(-4000));
  service.removeFolder();
}

// Debian's Chromium, headless and quiet; extraArgs for the test's own flags.
export function launchChromium(extraArgs = []) {
  return chromium.launch({
    executablePath: process.env.HW_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", ...extraArgs],
  });
}

function sleep(ms) {
  return new Promise((r) => setTimeout(r, ms));
}

// One raw HTTP exchange: the service ends its header lines with a bare LF,
// which Node's HTTP parser refuses.
export function rawHttp(request, port = 7776) {
  return new Promise((resolve, reject) => {
    const s = net.connect(port, "127.0.0.1");
    let data = "";
    s.setEncoding("utf8");
    s.on("connect", () => s.write(request));
    s.on("data", (d) => {
      data += d;
      if (data.includes("\n\n")) s.end();
    });
    s.on("error", reject);
    s.on("close", () => resolve(data));
    s.setTimeout(3000, () => s.destroy(new Error("no answer")));
  });
}

export class ServiceOnVirtualReader {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), "hw-browser-"));
    this.socket = path.join(this.dir, "vreader.sock");
    this.env = {
      ...process.env,
      VREADER_SOCKET: this.socket,
      HIDLINK_LOG_FILE: path.join(this.dir, "hidlink.log"),
      QT_QPA_PLATFORM: "offscreen",
      TMPDIR: this.dir,
    };
    delete this.env.DISPLAY;
    delete this.env.WAYLAND_DISPLAY;
  }

  ctl(...words) {
    return execFileSync(path.join(bin, "vreaderctl"), words, { env: this.env, encoding: "utf8" }).trim();
  }

  async start() {
    this.vreader = spawn(path.join(bin, "vreader"), ["--profile", profile, "--family", "hid"], {
      env: this.env,
      stdio: ["ignore", "ignore", fs.openSync(path.join(this.dir, "vreader.log"), "w")],
    });
    for (let i = 0; ; ++i) {
      try {
        if (this.ctl("ping") === "OK pong") break;
      } catch {
        if (i > 100) throw new Error("vreader did not start");
      }
      await sleep(50);
    }

    // The service's folder: a copy of the program (its RUNPATH points at the
    // build's libraries) and the PSAM slot of cards.json.
    fs.copyFileSync(path.join(bin, "hwservice"), path.join(this.dir, "hwservice"));
    fs.chmodSync(path.join(this.dir, "hwservice"), 0o755);
    fs.writeFileSync(path.join(this.dir, "config.ini"), "[Set]\nPSAM=22\n");
    this.logFile = path.join(this.dir, "hwservice.log");
    const log = fs.openSync(this.logFile, "w");
    const preload = process.env.HW_VREADER_PRELOAD;
    if (!preload) throw new Error("HW_VREADER_PRELOAD is not set (CTest sets it)");
    this.service = spawn(path.join(this.dir, "hwservice"), [], {
      cwd: this.dir,
      env: { ...this.env, LD_PRELOAD: preload },
      stdio: ["ignore", log, log],
    });
    this.exit = new Promise((resolve) => this.service.on("exit", (code, signal) => resolve({ code, signal })));
    for (let i = 0; ; ++i) {
      if (this.service.exitCode !== null) throw new Error("hwservice ended at start:\n" + this.log());
      if (this.log().includes("starting http server at port: 7776")) {
        const hello = await rawHttp("GET /api/hello HTTP/1.1\r\nHost: x\r\n\r\n").catch(() => "");
        if (hello.includes("welcome to httpserver")) break;
      }
      if (this.log().includes("连接为空")) throw new Error("port 7776 is taken by another program");
      if (i > 300) throw new Error("hwservice did not answer on port 7776:\n" + this.log());
      await sleep(100);
    }
  }

  log() {
    return fs.readFileSync(this.logFile, "utf8");
  }

  // Ends the service with SIGTERM and returns its exit status; then the
  // virtual reader. A sanitizer finding makes the status non-zero.
  async stop() {
    let result = null;
    if (this.service && this.service.exitCode === null) {
      this.service.kill("SIGTERM");
      result = await Promise.race([this.exit, sleep(15000).then(() => null)]);
      if (result === null) this.service.kill("SIGKILL");
    } else if (this.service) {
      result = await this.exit;
    }
    if (this.vreader) {
      this.vreader.kill("SIGTERM");
      await new Promise((r) => (this.vreader.exitCode !== null ? r() : this.vreader.on("exit", r)));
    }
    return result;
  }

  // Writes the test's profile with some members of one card replaced and
  // returns its path (for `ctl("load", path)`).
  profileWith(card, members) {
    const p = JSON.parse(fs.readFileSync(profile, "utf8"));
    Object.assign(p.cards[card], members);
    const file = path.join(this.dir, `profile-${card}.json`);
    fs.writeFileSync(file, JSON.stringify(p));
    return file;
  }

  removeFolder() {
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}
