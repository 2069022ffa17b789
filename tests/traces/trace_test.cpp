// The kept traces played by vreader --replay through the service's
// dispatcher, recording on a live virtual reader, and redaction.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cjson/cJSON.h>
#include <iconv.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "redact.h"
#include "vreader_fixture.h"

namespace {

std::string Env(const char* k) {
  const char* v = getenv(k);
  return v ? v : "";
}
std::string TraceDir() { return Env("HW_SOURCE_DIR") + "/tests/traces"; }
std::string Bin(const std::string& n) { return Env("HW_BINARY_DIR") + "/bin/" + n; }

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) s.replace(at, from.size(), to);
  return s;
}

struct Kept {
  std::string name;  // e.g. "hid-DKQ0001"
  std::vector<std::string> requests, replies;
};

std::vector<Kept> KeptTraces() {
  std::vector<Kept> out;
  DIR* d = opendir(TraceDir().c_str());
  for (dirent* e; d && (e = readdir(d));) {
    std::string n = e->d_name;
    if (n.size() < 7 || n.compare(n.size() - 7, 7, ".expect") != 0) continue;
    Kept k;
    k.name = n.substr(0, n.size() - 7);
    std::istringstream in(Read(TraceDir() + "/" + n));
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, 8, "request ") == 0) k.requests.push_back(line.substr(8));
      if (line.compare(0, 6, "reply ") == 0) k.replies.push_back(line.substr(6));
    }
    out.push_back(k);
  }
  if (d) closedir(d);
  std::sort(out.begin(), out.end(), [](const Kept& a, const Kept& b) { return a.name < b.name; });
  return out;
}

// The preload list that puts a program on the virtual reader, with the
// recording layers in front of the shim when `record`.
std::string Preload(bool record) {
  std::string p = Env("HW_VREADER_PRELOAD");
  if (!record) return p;
  size_t shim = p.rfind(':');
  return shim == std::string::npos ? Env("HW_TRACE_LIBS") + ":" + p
                                   : p.substr(0, shim + 1) + Env("HW_TRACE_LIBS") + p.substr(shim);
}

// Runs the requests through the dispatcher in a fresh process on the reader
// at `socket`; the reply lines (LF-free). `traceFile` turns recording on.
std::vector<std::string> Call(const std::string& socket, const std::vector<std::string>& requests,
                              const std::string& traceFile = "") {
  char tmpl[] = "/tmp/hwtrace-call-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("VREADER_SOCKET", socket.c_str(), 1);
    const std::string preload = Preload(!traceFile.empty());
    // Under an emulator the preload is the emulated program's (hwemu::Argv).
    if (hwemu::Words().empty()) setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("HIDLINK_LOG_FILE", (dir + "/hidlink.log").c_str(), 1);
    setenv("TMPDIR", dir.c_str(), 1);
    if (!traceFile.empty()) setenv("HWTRACE_FILE", traceFile.c_str(), 1);
    if (!freopen("/dev/null", "w", stdout) || chdir(dir.c_str()) != 0) _exit(126);
    std::vector<std::string> args{dir + "/out"};
    args.insert(args.end(), requests.begin(), requests.end());
    args = hwemu::Argv(Bin("hwtrace_call"), args, preload);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int st = -1;
  waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
  std::vector<std::string> replies;
  std::istringstream in(Read(dir + "/out"));
  for (std::string line; std::getline(in, line);) replies.push_back(line);
  std::system(("rm -rf " + dir).c_str());
  return replies;
}

// A reader played from `trace`.
struct ReplayReader : VreaderProcess {
  bool startReplay(const std::string& trace) {
    char tmpl[] = "/tmp/vreader-replay-XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    dir = tmpl;
    socket = dir + "/vr.sock";
    std::string bin = Bin("vreader");
    pid = fork();
    if (pid == 0) {
      if (!freopen("/dev/null", "w", stderr)) _exit(126);
      hwemu::Exec(bin, {"--socket", socket, "--replay", trace, "--time-scale", "0.5"});
      _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      if (ctl("ping") == "OK pong") return true;
      usleep(10000);
    }
    return false;
  }
  // The replay member of the reader's state.
  std::string replayState() {
    std::string s = ctl("state");
    size_t at = s.find("\"replay\":");
    return at == std::string::npos ? s : s.substr(at + 9, s.size() - at - 10);
  }
};

std::vector<std::string> Replayed(const std::string& trace, const std::vector<std::string>& requests,
                                  std::string* state = nullptr) {
  ReplayReader r;
  EXPECT_TRUE(r.startReplay(trace)) << trace;
  std::vector<std::string> replies = Call(r.socket, requests);
  if (state) *state = r.replayState();
  return replies;
}

std::string ResultCode(const std::string& reply) {
  std::smatch m;
  return std::regex_search(reply, m, std::regex("\"ResultCode\":(-?[0-9]+)")) ? m[1].str() : "none";
}

TEST(KeptTraces, EachReplaysToItsExpectedRepliesWithEveryExchangeAnswered) {
  std::vector<Kept> all = KeptTraces();
  ASSERT_EQ(all.size(), 18u) << "nine FunIDs on two families";
  for (const Kept& k : all) {
    SCOPED_TRACE(k.name);
    std::string state;
    EXPECT_EQ(Replayed(TraceDir() + "/" + k.name + ".trace", k.requests, &state), k.replies);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(state, m, std::regex("\"exchanges\":([0-9]+),\"answered\":([0-9]+)"))) << state;
    EXPECT_EQ(m[1].str(), m[2].str()) << state;
    EXPECT_NE(state.find("\"divergence\":null"), std::string::npos) << state;
  }
}

TEST(KeptTraces, AnAlteredAnswerGivesTheAlteredReply) {
  char tmpl[] = "/tmp/hwtrace-alt-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  // The card number "A10000001" as the reader answered it, its last digit changed.
  for (const char* fam : {"hid", "dc"}) {
    SCOPED_TRACE(fam);
    const std::string base = TraceDir() + "/" + fam + "-DKQ0001";
    Kept k;
    for (const Kept& c : KeptTraces())
      if (c.name == std::string(fam) + "-DKQ0001") k = c;
    ASSERT_EQ(k.replies.size(), 1u);
    Write(dir + "/t", Replace(Read(base + ".trace"), "413130303030303031", "413130303030303039"));
    EXPECT_EQ(Replayed(dir + "/t", k.requests), std::vector<std::string>{Replace(k.replies[0], "A10000001", "A10000009")});
  }
  std::system(("rm -rf " + dir).c_str());
}

TEST(KeptTraces, ADifferentCommandDivergesAndTheStateNamesThePositionAndBothCommands) {
  const std::string req3 = "{\"FunID\":\"DKQ0003\",\"TranData\":{\"Region\":\"440100\"}}";
  // The card-number trace read record 07; the certificate read asks for record 01 first.
  const struct {
    const char* trace;
    const char* divergence;
  } cases[] = {
      {"hid-DKQ0001", "trace line [0-9]+ \\(exchange 5\\): expected 12 00B207000B, received 12 00B2010012"},
      {"dc-DKQ0001", "trace line [0-9]+ \\(exchange 9\\): expected 04 00B207000B, received 04 00B2010012"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    std::string state;
    std::vector<std::string> replies = Replayed(TraceDir() + "/" + c.trace + ".trace", {req3}, &state);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(ResultCode(replies[0]), "0") << replies[0];
    EXPECT_TRUE(std::regex_search(state, std::regex(std::string("\"divergence\":\"") + c.divergence + "\""))) << state;
  }
}

TEST(KeptTraces, ATraceThatCannotBeReadIsRefusedNamingTheLine) {
  char tmpl[] = "/tmp/hwtrace-bad-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  const std::string head = "{\"trace\":\"hwtrace\",\"format\":1,\"layer\":\"dc\"}\n";
  const struct {
    std::string text, message;
  } cases[] = {
      {head + "not json\n", "line 2 is no JSON object"},
      {head + "\n{\"t\":1,\"us\":1,\"ev\":\"dc_cpuapdu\",\"cmd\":\"00B2\",\"result\":0,\"out\":\"9G00\"}\n",
       "line 3 has a bad hex member"},
  };
  for (const auto& c : cases) {
    Write(dir + "/t", c.text);
    FILE* f = popen((hwemu::ShellPrefix() + Bin("vreader") + " --socket " + dir + "/s --replay " + dir + "/t 2>&1").c_str(), "r");
    ASSERT_TRUE(f);
    char buf[512] = "";
    std::string out = fgets(buf, sizeof buf, f) ? buf : "";
    int st = pclose(f);
    EXPECT_EQ(WEXITSTATUS(st), 1);
    EXPECT_EQ(out, "vreader: " + dir + "/t: " + c.message + "\n");
  }
  std::system(("rm -rf " + dir).c_str());
}

TEST(Recording, PassesEveryCallThroughUnchangedAndKeepsTheTracePrivate) {
  const std::vector<std::string> funs = {"DKQ0001", "DKQ0003", "DKQ0005"};
  for (const char* fam : {"hid", "dc"}) {
    SCOPED_TRACE(fam);
    std::vector<std::string> requests, expected;
    for (const Kept& k : KeptTraces())
      for (const std::string& f : funs)
        if (k.name == std::string(fam) + "-" + f) {
          requests.push_back(k.requests.at(0));
          expected.push_back(k.replies.at(0));
        }
    ASSERT_EQ(requests.size(), funs.size());
    VreaderProcess vr;
    ASSERT_TRUE(vr.start(VreaderProcess::profileDir() + "/demo.json", fam));
    const std::string trace = vr.dir + "/trace.jsonl";
    EXPECT_EQ(Call(vr.socket, requests, trace), expected);
    EXPECT_EQ(Call(vr.socket, requests), expected);
    struct stat st;
    ASSERT_EQ(stat(trace.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = Read(trace);
    EXPECT_NE(text.find("\"layer\":\"" + std::string(fam) + "\""), std::string::npos);
    // What was recorded plays back to the same replies.
    EXPECT_EQ(Replayed(trace, requests), expected);
    unlink(trace.c_str());
  }
}

TEST(Recording, HwserviceTraceRunsTheProgramRecordedAndSaysTheTraceIsPersonalAndHowToSendIt) {
  VreaderProcess vr;
  ASSERT_TRUE(vr.start(VreaderProcess::profileDir() + "/demo.json", "hid"));
  Kept k;
  for (const Kept& c : KeptTraces())
    if (c.name == "hid-DKQ0001") k = c;
  ASSERT_EQ(k.requests.size(), 1u);
  const std::string trace = vr.dir + "/t.jsonl", replies = vr.dir + "/replies";
  // Under an emulator the program hwservice-trace runs is the emulator (it
  // cannot exec an arm64 program itself); the preload it sets passes through
  // the emulator's environment to the emulated program.
  const std::string cmd = "cd " + vr.dir + " && VREADER_SOCKET=" + vr.socket +
                          " HIDLINK_LOG_FILE=" + vr.dir + "/hidlink.log " +
                          hwemu::ShellPrefix(Env("HW_VREADER_PRELOAD")) + Bin("hwservice-trace") + " --out " + trace +
                          " " + hwemu::ShellPrefix() + Bin("hwtrace_call") + " " + replies + " '" + k.requests[0] + "'";
  std::string printed;
  FILE* f = popen(cmd.c_str(), "r");
  ASSERT_TRUE(f);
  char buf[512];
  while (fgets(buf, sizeof buf, f)) printed += buf;
  EXPECT_EQ(pclose(f), 0);
  EXPECT_EQ(Read(replies), k.replies[0] + "\n");
  EXPECT_NE(printed.find("The trace contains personal data"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Trace written: " + trace), std::string::npos) << printed;
  EXPECT_NE(printed.find("hwservice-trace --redact " + trace), std::string::npos) << printed;
  struct stat st;
  ASSERT_EQ(stat(trace.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Replayed(trace, k.requests), k.replies);
  unlink(trace.c_str());
  unlink(replies.c_str());
  unlink((vr.dir + "/hidlink.log").c_str());
}

std::string Hex(const std::string& bytes) {
  static const char d[] = "0123456789ABCDEF";
  std::string h;
  for (unsigned char c : bytes) h += {d[c >> 4], d[c & 15]};
  return h;
}

std::string Convert(const std::string& utf8, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  std::string out(utf8.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* o = &out[0];
  size_t inLeft = utf8.size(), outLeft = out.size();
  size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  EXPECT_NE(r, size_t(-1)) << utf8;
  out.resize(out.size() - outLeft);
  return out;
}

// The holders' values of the demo cards the kept traces read, as the cards
// hold them (upper-case hex): text, GBK names, UCS-2 ID-card texts, BCD
// dates and numbers, raw certificate numbers.
std::vector<std::pair<std::string, std::string>> HolderNeedles() {
  cJSON* p = cJSON_Parse(Read(Env("HW_SOURCE_DIR") + "/sim/profiles/demo.json").c_str());
  EXPECT_TRUE(p);
  std::vector<std::pair<std::string, std::string>> out;
  cJSON* cards = cJSON_GetObjectItem(p, "cards");
  cJSON* slots = cJSON_GetObjectItem(p, "slots");
  auto card = [&](const char* name) { return cJSON_GetObjectItem(cards, name); };
  auto val = [](cJSON* c, const char* k) {
    cJSON* v = cJSON_GetObjectItem(c, k);
    return std::string(cJSON_IsString(v) ? v->valuestring : "");
  };
  auto add = [&](const std::string& what, const std::string& hex) {
    if (hex.size() >= 8) out.emplace_back(what, hex);
  };
  cJSON* ss = card(cJSON_GetObjectItem(slots, "contact")->valuestring);
  add("ss name", Hex(Convert(val(ss, "name"), "GBK")));
  for (const char* k : {"social_no", "card_no"}) add(std::string("ss ") + k, Hex(val(ss, k)));
  for (const char* k : {"cert_id", "birth_place", "birth_date", "issue_date", "expiry_date"})
    add(std::string("ss ") + k, val(ss, k));
  cJSON* id = card(cJSON_GetObjectItem(slots, "idcard")->valuestring);
  for (const char* k : {"name", "address", "number", "authority", "birth", "start", "end"})
    add(std::string("id ") + k, Hex(Convert(val(id, k), "UCS-2LE")));
  cJSON* bank = card("bank");
  add("bank pan", val(bank, "pan").substr(0, 16));
  for (const char* k : {"pan", "name", "holder_id"}) add(std::string("bank ") + k, Hex(val(bank, k)));
  cJSON_Delete(p);
  return out;
}

TEST(Redaction, NoHolderValueSurvivesAndTheRedactedTracesReplayToTheSameResultCodes) {
  char tmpl[] = "/tmp/hwtrace-red-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  const auto needles = HolderNeedles();
  ASSERT_GE(needles.size(), 15u);
  std::map<std::string, int> before;
  for (const Kept& k : KeptTraces()) {
    SCOPED_TRACE(k.name);
    const std::string in = TraceDir() + "/" + k.name + ".trace", out = dir + "/" + k.name;
    const std::string original = Read(in);
    std::string printed;
    {
      FILE* f = popen((hwemu::ShellPrefix() + Bin("hwservice-trace") + " --redact " + in + " --out " + out).c_str(), "r");
      ASSERT_TRUE(f);
      char buf[512];
      while (fgets(buf, sizeof buf, f)) printed += buf;
      EXPECT_EQ(pclose(f), 0);
    }
    EXPECT_EQ(printed.compare(0, 16 + out.size(), "Redacted trace: " + out), 0) << printed;
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string redacted = Read(out);
    for (const auto& n : needles) {
      before[n.first] += original.find(n.second) != std::string::npos;
      EXPECT_EQ(redacted.find(n.second), std::string::npos) << n.first << " survives";
    }
    // The ID card's photo: its first bytes as the original trace holds them.
    size_t photo = original.find("\"photo\":\"");
    if (photo != std::string::npos && original[photo + 9] != '"')
      for (const Kept& h : KeptTraces())
        if (h.name == "hid-DKQ0005") {
          const std::string head = original.substr(photo + 9, 32);
          EXPECT_NE(Read(TraceDir() + "/hid-DKQ0005.trace").find(head), std::string::npos);
          std::string other;
          ASSERT_EQ(system((hwemu::ShellPrefix() + Bin("hwservice-trace") + " --redact " + TraceDir() + "/hid-DKQ0005.trace --out " + dir +
                            "/photo >/dev/null").c_str()), 0);
          EXPECT_EQ(Read(dir + "/photo").find(head), std::string::npos);
          EXPECT_EQ(redacted.find(head), std::string::npos);
        }
    EXPECT_NE(redacted.find("\"redacted\":true"), std::string::npos);
    std::vector<std::string> replies = Replayed(out, k.requests);
    ASSERT_EQ(replies.size(), k.replies.size());
    for (size_t i = 0; i < replies.size(); ++i) EXPECT_EQ(ResultCode(replies[i]), ResultCode(k.replies[i])) << replies[i];
  }
  // The check can fail: every value is in some recorded trace.
  for (const auto& n : needles) EXPECT_GT(before[n.first], 0) << n.first << " is in no kept trace";
  std::system(("rm -rf " + dir).c_str());
}

// Single answers: what is blanked, what stays, the frame checksum.
TEST(Redaction, AnswersKeepTheirFramingAndLoseTheHoldersData) {
  using hwtrace::Bytes;
  auto hx = [](const std::string& h) {
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2) b.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
  };
  const struct {
    uint8_t nad;
    const char *cause, *answer, *want;
  } cases[] = {
      // social-security record 08 (number): spaces; record 03 (version) stays
      {0x12, "00B2080014", "0812313130313035313939303033303732383133" "9000",
       "0812202020202020202020202020202020202020" "9000"},
      {0x12, "00B2030006", "030433303030" "9000", "030433303030" "9000"},
      // BCD date record: zero bytes
      {0x12, "00B20D0006", "0D0419900307" "9000", "0D0400000000" "9000"},
      // bank record: PAN digits zero, separator kept, name blank, CDOL kept
      {0x15, "00B2010C00", "70145709621700001234567890" "5F20035A2F53" "8C0195" "9000",
       "70145709000000000000000000" "5F2003202020" "8C0195" "9000"},
      // an error answer and a command that reads nothing personal stay
      {0x12, "00B2080014", "6A83", "6A83"},
      {0x12, "00A4040000", "6F0A840861626364" "9000", "6F0A840861626364" "9000"},
      // stripe: digits zero, letters blank, framing kept
      {0x1A, "00B0020000", "3B363231373D33303132" "9000", "3B303030303D30303030" "9000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Bytes a = hx(c.answer);
    hwtrace::Substitutions subs;
    hwtrace::redactAnswer(c.nad, hx(c.cause), a, subs);
    EXPECT_EQ(Hex(std::string(a.begin(), a.end())), c.want);
  }
  // An ID-module read frame: text blank but the codes, photo zeros, XOR recomputed.
  Bytes text(256, 0x41), photo(8, 0x77), frame = hx("AAAAAA9669");
  Bytes body = hx("000090");
  body.insert(body.end(), {0x01, 0x00, 0x00, 0x08});
  body.insert(body.end(), text.begin(), text.end());
  body.insert(body.end(), photo.begin(), photo.end());
  size_t len = body.size() + 1;
  frame.push_back(uint8_t(len >> 8));
  frame.push_back(uint8_t(len));
  frame.insert(frame.end(), body.begin(), body.end());
  uint8_t x = 0;
  for (size_t i = 5; i < frame.size(); ++i) x ^= frame[i];
  frame.push_back(x);
  frame.insert(frame.end(), {0x90, 0x00});
  hwtrace::Substitutions subs;
  hwtrace::redactAnswer(0x1B, hx("AAAAAA966900033001" "32"), frame, subs);
  const size_t t = 14;  // text start
  EXPECT_EQ(frame[t], 0x20);
  EXPECT_EQ(frame[t + 1], 0x00);
  EXPECT_EQ(frame[t + 30], 0x41);    // sex code kept
  EXPECT_EQ(frame[t + 248], 0x41);   // card type kept
  EXPECT_EQ(frame[t + 246], 0x20);
  EXPECT_EQ(frame[t + 256], 0x00);   // photo
  uint8_t y = 0;
  for (size_t i = 5; i < frame.size() - 3; ++i) y ^= frame[i];
  EXPECT_EQ(frame[frame.size() - 3], y);
  EXPECT_NE(y, x);
  // The blanked social number, sent back later, is blanked there too.
  Bytes ans = hx("0812313130313035313939303033303732383133" "9000");
  hwtrace::redactAnswer(0x12, hx("00B2080014"), ans, subs);
  Bytes cmd = hx("80FA0000" "12" "313130313035313939303033303732383133");
  hwtrace::substitute(cmd, subs);
  EXPECT_EQ(Hex(std::string(cmd.begin(), cmd.end())), "80FA000012202020202020202020202020202020202020");
}

}  // namespace
