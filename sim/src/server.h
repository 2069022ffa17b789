// The daemon: one Unix stream socket, a poll loop, and three kinds of
// client connections told apart by their first line:
//   "HELLO hid"  64-byte reports of the USB-HID family, each way as
//                [length (2, big-endian)][report bytes]
//   "HELLO dc"   the vendor family's messages (dcwire.h)
//   anything else: control lines, one reply line each ("OK ..." / "ERR ...")
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "faults.h"
#include "hidframe.h"
#include "reader.h"
#include "replay.h"

namespace vr {

class Server {
 public:
  static constexpr size_t kMaxClients = 64;
  static constexpr size_t kMaxLine = 4096;
  static constexpr size_t kMaxOut = 1 << 20;

  Server(Reader& reader, std::string socketPath);
  ~Server();
  bool listen(std::string& err);
  // Serves until `quit` or until stop() is called (from a signal handler).
  void run();
  void stop();
  // Families attached: "hid", "dc" or "both".
  bool setFamily(const std::string& f);
  // One control line; returns the reply line without its newline.
  std::string control(const std::string& line);
  // Plays the reader from a trace instead of the models (not owned).
  void setReplay(Replay* r) { replay_ = r; }

 private:
  enum class Role { New, Control, Hid, Dc };
  struct Client {
    int fd = -1;
    int id = 0;
    Role role = Role::New;
    std::string in;
    std::string out;
    hid::Assembler assembler;
    uint8_t dcNad = 0x12;
    bool closeAfterWrite = false;
  };
  struct Delayed {
    int64_t at;
    int client;
    std::string bytes;
  };
  struct LogEntry {
    unsigned seq;
    std::string fam, cmd, reply, fault;
    int nad;
  };

  void accept();
  void readFrom(Client& c);
  void flush(Client& c);
  void drop(int id);
  void onLine(Client& c, const std::string& line);
  void onHidBytes(Client& c);
  void onDcBytes(Client& c);
  void hidCommand(Client& c, uint8_t nad, const Bytes& cmd);
  void sendHid(int clientId, uint8_t nad, const Bytes& reply, const std::optional<Fault>& f);
  void dcRequest(Client& c, uint8_t op, const Bytes& payload);
  void sendDc(Client& c, int16_t result, const Bytes& payload, const std::optional<Fault>& f);
  void queue(int clientId, std::string bytes, unsigned delayMs);
  void deliverEvent(std::optional<Bytes> reply);
  void replayHid(Client& c, uint8_t nad, const Bytes& cmd);
  void replayDc(Client& c, uint8_t op, const Bytes& payload);
  void log(const char* fam, int nad, const Bytes& cmd, const Bytes& reply, const std::optional<Fault>& f);
  Client* find(int id);
  void unplug();
  std::string stateLine();

  Reader& reader_;
  std::string path_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  bool running_ = false;
  bool plugged_ = true;
  bool hidFamily_ = true, dcFamily_ = false;
  int nextId_ = 1;
  std::map<int, std::unique_ptr<Client>> clients_;
  std::vector<Delayed> delayed_;
  FaultQueue faults_;
  int waitOwner_ = 0;
  uint8_t waitNad_ = 0;
  std::optional<Fault> waitFault_;
  std::deque<LogEntry> log_;
  unsigned logSeq_ = 0;
  unsigned hidExchanges_ = 0, dcExchanges_ = 0;
  Replay* replay_ = nullptr;
};

}  // namespace vr
