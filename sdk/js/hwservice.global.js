/*
 * hwservice.global.js: the client of hwservice, the card-reader service on
 * this computer, for web pages.
 *
 * A classic script: <script src="hwservice.global.js"> defines the globals
 * HwService and HwServiceError. hwservice.js imports this file and exports
 * the same two names for ES modules, so the code exists once and the file
 * is written to be valid both as a script and as a module (strict mode, no
 * top-level `this`, no import/export).
 *
 * No dependencies; fetch and WebSocket as current browsers have them.
 */
(function (root) {
  "use strict";

  var DEFAULT_URL = "http://127.0.0.1:7776";
  var DEFAULT_REGION = "000000";
  var DEFAULT_TIMEOUT_MS = 10000;
  var DEFAULT_HEARTBEAT_MS = 15000;
  // Waits before a new connection attempt after failed ones: doubles from
  // the first to the last.
  var RETRY_FIRST_MS = 250;
  var RETRY_LAST_MS = 8000;
  // Member added to every WebSocket request; the service echoes it, which
  // ties each reply to its request.
  var SEQ_MEMBER = "HwSeq";

  // Chinese and English. The Chinese is written as \u escapes: a classic
  // script is decoded in the page's own charset (often GBK), and the file
  // must read the same in all of them.
  var TEXTS = {
    NOT_REACHABLE: ["\u65e0\u6cd5\u8fde\u63a5\u8bfb\u5361\u670d\u52a1\uff0c\u8bf7\u786e\u8ba4 hwservice \u5df2\u542f\u52a8", "The card-reader service does not answer; is hwservice running?"],
    BLOCKED: ["\u6d4f\u89c8\u5668\u7981\u6b62\u672c\u9875\u9762\u8bbf\u95ee\u672c\u673a\u7684\u8bfb\u5361\u670d\u52a1\uff08\u672c\u5730\u7f51\u7edc\u8bbf\u95ee\u6743\u9650\uff09",
              "The browser blocks this page from reaching the card-reader service on this computer (local network access permission)"],
    TIMEOUT: ["\u8bfb\u5361\u670d\u52a1\u672a\u5728\u89c4\u5b9a\u65f6\u95f4\u5185\u5e94\u7b54", "The card-reader service did not answer in time"],
    CONNECTION_LOST: ["\u4e0e\u8bfb\u5361\u670d\u52a1\u7684\u8fde\u63a5\u5df2\u65ad\u5f00", "The connection to the card-reader service was lost"],
    BAD_REPLY: ["\u8bfb\u5361\u670d\u52a1\u7684\u5e94\u7b54\u65e0\u6cd5\u8bc6\u522b", "The reply of the card-reader service cannot be read"],
    REFUSED: ["\u8bfb\u5361\u670d\u52a1\u62d2\u7edd\u4e86\u683c\u5f0f\u9519\u8bef\u7684\u8bf7\u6c42", "The card-reader service refused the request as malformed"],
    BAD_REQUEST: ["\u8bf7\u6c42\u53c2\u6570\u9519\u8bef", "Invalid request"],
    CLOSED: ["\u8fde\u63a5\u5df2\u7531\u9875\u9762\u5173\u95ed", "The page closed the connection"],
    FAILED: ["\u8bfb\u5361\u5931\u8d25", "The operation failed"],
  };

  function text(code, detail) {
    var t = TEXTS[code];
    return t[0] + " / " + t[1] + (detail ? ": " + detail : "");
  }

  // One error type for every failure. `code` is the service's ResultCode (a
  // negative number) or one of the library's own codes (strings).
  class HwServiceError extends Error {
    constructor(code, message, funId, reply) {
      super(message);
      this.name = "HwServiceError";
      this.code = code;
      this.funId = funId === undefined ? null : funId;
      this.reply = reply === undefined ? null : reply;
    }
  }
  Object.keys(TEXTS).forEach(function (code) {
    if (code !== "FAILED") HwServiceError[code] = code;
  });

  function libError(code, funId, detail) {
    return new HwServiceError(code, text(code, detail), funId);
  }

  function utf8Length(s) {
    return new TextEncoder().encode(s).length;
  }

  function isPlainObject(v) {
    return v !== null && typeof v === "object" && !Array.isArray(v);
  }

  // JSON with every character above 0x7E written as \uXXXX. The service
  // converts WebSocket requests from UTF-8 to GBK and echoes them, so raw
  // Chinese text would come back as bytes that are not UTF-8 and the browser
  // would drop the connection; escaped, it stays ASCII on the way in and is
  // echoed as UTF-8.
  function asciiJson(value) {
    return JSON.stringify(value).replace(/[\u007f-\uffff]/g, function (c) {
      return "\\u" + ("000" + c.charCodeAt(0).toString(16)).slice(-4);
    });
  }

  // The request object, or a BAD_REQUEST error for what the service would
  // turn away without a reply.
  function buildRequest(funId, tranData, region) {
    if (typeof funId !== "string" || funId === "" || utf8Length(funId) > 9) {
      return libError("BAD_REQUEST", funId, "FunID must be a text of 1 to 9 bytes");
    }
    if (tranData !== undefined && tranData !== null && !isPlainObject(tranData)) {
      return libError("BAD_REQUEST", funId, "TranData must be an object");
    }
    var tran = Object.assign({ Region: region }, tranData || {});
    if (typeof tran.Region !== "string" || tran.Region === "" || utf8Length(tran.Region) > 99) {
      return libError("BAD_REQUEST", funId, "Region must be a text of 1 to 99 bytes");
    }
    var names = ["SetAutoRead", "Timeout"];
    for (var i = 0; i < names.length; i++) {
      var v = tran[names[i]];
      if (v !== undefined && v !== null && typeof v !== "string") {
        return libError("BAD_REQUEST", funId, names[i] + " must be a text");
      }
    }
    return { FunID: funId, TranData: tran };
  }

  // ResultData of a successful reply; throws HwServiceError otherwise.
  function parseReply(textOfReply, funId) {
    var reply;
    try {
      reply = JSON.parse(textOfReply);
    } catch (e) {
      throw libError("BAD_REPLY", funId, "not JSON");
    }
    if (!isPlainObject(reply) || !Number.isInteger(reply.ResultCode) || reply.FunID !== funId ||
        !(reply.ResultData === null || isPlainObject(reply.ResultData)) ||
        (reply.ErrorInfo !== undefined && typeof reply.ErrorInfo !== "string")) {
      throw libError("BAD_REPLY", funId, "not a reply to " + funId);
    }
    if (reply.ResultCode !== 0) {
      var message = reply.ErrorInfo || text("FAILED", String(reply.ResultCode));
      throw new HwServiceError(reply.ResultCode, message, funId, reply);
    }
    return reply.ResultData;
  }

  // Whether the browser told the page it may not reach this computer's
  // network. Only browsers with such a permission answer; others say no.
  async function localNetworkDenied() {
    var nav = root.navigator;
    if (!nav || !nav.permissions || typeof nav.permissions.query !== "function") return false;
    var names = ["loopback-network", "local-network-access", "local-network"];
    for (var i = 0; i < names.length; i++) {
      try {
        if ((await nav.permissions.query({ name: names[i] })).state === "denied") return true;
      } catch (e) {
        // This browser does not know that name.
      }
    }
    return false;
  }

  async function unreachableError(funId) {
    return (await localNetworkDenied()) ? libError("BLOCKED", funId) : libError("NOT_REACHABLE", funId);
  }

  // fetch that gives up after ms; resolves to the response text and status.
  async function fetchText(fetchFn, url, init, ms) {
    var ctrl = new AbortController();
    var timer = setTimeout(function () { ctrl.abort(); }, ms);
    try {
      var res = await fetchFn(url, Object.assign({ signal: ctrl.signal, credentials: "omit" }, init));
      return { status: res.status, body: await res.text() };
    } catch (e) {
      e.timedOut = ctrl.signal.aborted;
      throw e;
    } finally {
      clearTimeout(timer);
    }
  }

  // The HTTP road: one POST per request.
  class HttpRoad {
    constructor(service) {
      this.service = service;
    }

    async send(funId, request, ms) {
      var s = this.service;
      var r;
      try {
        r = await fetchText(s._fetch, s.url + "/http/hardware", {
          method: "POST",
          headers: { "Content-Type": "text/plain" },
          body: asciiJson(request),
        }, ms);
      } catch (e) {
        if (e.timedOut) throw libError("TIMEOUT", funId, ms + " ms");
        // A browser does not say why a fetch failed. If the service answers
        // now, the request's own connection broke.
        if (await s.available()) throw libError("CONNECTION_LOST", funId);
        throw await unreachableError(funId);
      }
      if (r.status !== 200) throw libError("BAD_REPLY", funId, "HTTP status " + r.status);
      if (r.body.trim() === "") throw libError("REFUSED", funId);
      return parseReply(r.body, funId);
    }

    close() {}
  }

  // The WebSocket road: one connection, opened when a request needs it.
  class WebSocketRoad {
    constructor(service) {
      this.service = service;
      this.url = service.url.replace(/^http/, "ws") + "/";
      this.ws = null;
      this.open = false;
      this.waiting = [];          // requests not sent yet (connecting)
      this.sent = new Map();      // sequence number -> request, in send order
      this.seq = 0;
      this.failures = 0;          // connection attempts failed in a row
      this.retryAt = 0;
      this.retryTimer = null;
      this.beatTimer = null;
      this.beatUnanswered = false;
    }

    send(funId, request, ms) {
      var self = this;
      return new Promise(function (resolve, reject) {
        var entry = { seq: ++self.seq, funId: funId, resolve: resolve, reject: reject, timer: null, text: "" };
        request[SEQ_MEMBER] = entry.seq;
        entry.text = asciiJson(request);
        entry.timer = setTimeout(function () { self.expire(entry, ms); }, ms);
        if (self.open) {
          self.transmit(entry);
        } else {
          self.waiting.push(entry);
          self.connect();
        }
      });
    }

    transmit(entry) {
      this.sent.set(entry.seq, entry);
      this.ws.send(entry.text);
    }

    settle(entry, error, value) {
      clearTimeout(entry.timer);
      this.sent.delete(entry.seq);
      var i = this.waiting.indexOf(entry);
      if (i >= 0) this.waiting.splice(i, 1);
      if (error) entry.reject(error);
      else entry.resolve(value);
    }

    expire(entry, ms) {
      // Still unsent after a failed attempt: the service is not there.
      var unsent = this.waiting.indexOf(entry) >= 0;
      this.settle(entry, unsent && this.failures > 0 ? libError("NOT_REACHABLE", entry.funId)
                                                     : libError("TIMEOUT", entry.funId, ms + " ms"));
    }

    connect() {
      if (this.ws || this.retryTimer) return;
      var self = this;
      var wait = this.retryAt - Date.now();
      if (wait > 0) {
        this.retryTimer = setTimeout(function () {
          self.retryTimer = null;
          if (self.waiting.length) self.connect();
        }, wait);
        return;
      }
      var ws;
      try {
        ws = new this.service._WebSocket(this.url);
      } catch (e) {
        this.failWaiting("BAD_REQUEST", String(e && e.message));
        return;
      }
      this.ws = ws;
      ws.onopen = function () {
        self.open = true;
        self.failures = 0;
        self.retryAt = 0;
        self.startBeat();
        var list = self.waiting.splice(0);
        for (var i = 0; i < list.length; i++) self.transmit(list[i]);
      };
      ws.onmessage = function (ev) { self.receive(ev.data); };
      // Browsers follow an error with a close event; some runtimes do not.
      ws.onclose = ws.onerror = function () { self.closed(ws); };
    }

    failWaiting(code, detail) {
      var list = this.waiting.splice(0);
      for (var i = 0; i < list.length; i++) this.settle(list[i], libError(code, list[i].funId, detail));
    }

    async closed(ws) {
      if (ws !== this.ws) return;
      var wasOpen = this.open;
      this.detach();
      if (wasOpen) {
        this.failSent("CONNECTION_LOST");
        if (this.waiting.length) this.connect();
        return;
      }
      this.failures++;
      this.retryAt = Date.now() + Math.min(RETRY_FIRST_MS * Math.pow(2, this.failures - 1), RETRY_LAST_MS);
      var list = this.waiting.splice(0);
      if (!list.length) return;
      var code = (await unreachableError(null)).code;
      for (var i = 0; i < list.length; i++) this.settle(list[i], libError(code, list[i].funId));
    }

    // Forgets the connection (closing it if it still runs).
    detach() {
      var ws = this.ws;
      this.ws = null;
      this.open = false;
      this.stopBeat();
      if (ws) {
        ws.onopen = ws.onmessage = ws.onclose = ws.onerror = null;
        try { ws.close(); } catch (e) { /* already closed */ }
      }
    }

    failSent(code) {
      var list = Array.from(this.sent.values());
      for (var i = 0; i < list.length; i++) this.settle(list[i], libError(code, list[i].funId));
    }

    oldestSent() {
      var first = this.sent.values().next();
      return first.done ? null : first.value;
    }

    receive(data) {
      if (data === "HeartBeat") {
        this.beatUnanswered = false;
        return;
      }
      var reply = null;
      if (typeof data === "string") {
        try { reply = JSON.parse(data); } catch (e) { reply = null; }
      }
      var seq = isPlainObject(reply) ? reply[SEQ_MEMBER] : undefined;
      if (seq === undefined) {
        // Unreadable: replies come in order, so it answers the oldest.
        var oldest = this.oldestSent();
        if (oldest) this.settle(oldest, libError("BAD_REPLY", oldest.funId, typeof data === "string" ? "not JSON" : "not text"));
        return;
      }
      var entry = this.sent.get(seq);
      if (!entry) return;  // late answer to a request that timed out
      // Replies come in order: the service answered none of the requests
      // sent before this one, which it does for requests it cannot read.
      var list = Array.from(this.sent.values());
      for (var i = 0; i < list.length && list[i].seq < seq; i++) {
        this.settle(list[i], libError("REFUSED", list[i].funId));
      }
      try {
        this.settle(entry, null, parseReply(data, entry.funId));
      } catch (e) {
        this.settle(entry, e);
      }
    }

    // HeartBeat while the connection is open. One left unanswered over a
    // whole period while no card request runs means the connection is dead;
    // while a request runs the service may be busy with the card.
    startBeat() {
      var self = this;
      var ms = this.service.heartbeatMs;
      this.beatUnanswered = false;
      if (!(ms > 0)) return;
      this.beatTimer = setInterval(function () {
        if (self.beatUnanswered) {
          if (self.sent.size === 0) self.detach();
          return;
        }
        self.beatUnanswered = true;
        self.ws.send("HeartBeat");
      }, ms);
    }

    stopBeat() {
      if (this.beatTimer) clearInterval(this.beatTimer);
      this.beatTimer = null;
    }

    close() {
      if (this.retryTimer) clearTimeout(this.retryTimer);
      this.retryTimer = null;
      this.detach();
      this.failSent("CLOSED");
      this.failWaiting("CLOSED");
    }
  }

  function nonNegativeInteger(v) {
    return Number.isInteger(v) && v >= 0;
  }

  class HwService {
    constructor(options) {
      var o = options || {};
      this.url = String(o.url || DEFAULT_URL).replace(/\/+$/, "");
      if (!/^https?:\/\//.test(this.url)) throw new TypeError("HwService: url must start with http:// or https://");
      this.transport = o.transport || "http";
      if (this.transport !== "http" && this.transport !== "websocket") {
        throw new TypeError('HwService: transport must be "http" or "websocket"');
      }
      this.timeoutMs = o.timeoutMs === undefined ? DEFAULT_TIMEOUT_MS : o.timeoutMs;
      if (!(this.timeoutMs > 0)) throw new TypeError("HwService: timeoutMs must be a positive number");
      this.region = o.region === undefined ? DEFAULT_REGION : o.region;
      this.heartbeatMs = o.heartbeatMs === undefined ? DEFAULT_HEARTBEAT_MS : o.heartbeatMs;
      this._fetch = o.fetch || (root.fetch && root.fetch.bind(root));
      this._WebSocket = o.WebSocket || root.WebSocket;
      this._road = this.transport === "http" ? new HttpRoad(this) : new WebSocketRoad(this);
    }

    // Whether the service answers on /api/hello; never touches the reader
    // and never rejects.
    async available() {
      try {
        var r = await fetchText(this._fetch, this.url + "/api/hello", { method: "GET", cache: "no-store" },
                                Math.min(this.timeoutMs, 3000));
        return r.status === 200 && r.body.indexOf("welcome to httpserver") === 0;
      } catch (e) {
        return false;
      }
    }

    // Any operation: resolves to its ResultData (an object, or null).
    async call(funId, tranData, options) {
      var request = buildRequest(funId, tranData, this.region);
      if (request instanceof HwServiceError) throw request;
      var ms = options && options.timeoutMs !== undefined ? options.timeoutMs : this.timeoutMs;
      return this._road.send(funId, request, ms);
    }

    readSocialCardNumber() { return this.call("DKQ0001"); }
    readSocialCardInfo() { return this.call("DKQ0002"); }
    readSocialCardCertId() { return this.call("DKQ0003"); }
    readSocialCardRegion() { return this.call("DKQ0004"); }

    readIdCard(options) {
      return this.call("DKQ0005", options && options.photo ? { Photo: "1" } : {});
    }

    readBankCardNumber() { return this.call("DKQ0007"); }

    async setScannerMode(auto) {
      if (typeof auto !== "boolean") throw libError("BAD_REQUEST", "DKQ0010", "auto must be true or false");
      await this.call("DKQ0010", { SetAutoRead: auto ? "1" : "0" });
    }

    // Waits up to `seconds` (the service reads 0 to 2 as 3) for one QR code.
    async readQrCode(seconds) {
      var s = seconds === undefined ? 10 : seconds;
      if (!nonNegativeInteger(s)) throw libError("BAD_REQUEST", "DKQ0011", "seconds must be an integer of 0 or more");
      return this.call("DKQ0011", { Timeout: String(s) }, { timeoutMs: this.timeoutMs + Math.max(s, 3) * 1000 });
    }

    async setScannerInterval(interval) {
      if (!nonNegativeInteger(interval)) {
        throw libError("BAD_REQUEST", "DKQ0012", "interval must be an integer of 0 or more");
      }
      await this.call("DKQ0012", { Timeout: String(interval) });
    }

    // Ends the WebSocket connection; requests still open fail with CLOSED.
    // A later request opens a new connection.
    close() {
      this._road.close();
    }
  }

  root.HwService = HwService;
  root.HwServiceError = HwServiceError;
})(typeof globalThis !== "undefined" ? globalThis : self);
