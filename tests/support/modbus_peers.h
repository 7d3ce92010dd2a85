#pragma once
// Hostile peers of the drive link on loopback: a raw Modbus TCP client that sends whatever
// bytes a test gives it, and a proxy in front of `dcservo simdrive` that can rewrite,
// trickle or cut the drive's answers. Every loop is bounded by a count or a stop flag.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

inline int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// "tcp://127.0.0.1:PORT" -> PORT
inline int PortOf(const std::string& address) {
  return std::stoi(address.substr(address.rfind(':') + 1));
}

// Reads exactly `n` bytes, waiting at most `wait_ms` for each; false when the peer closed
// or went quiet.
inline bool ReadExactly(int fd, std::uint8_t* into, std::size_t n, int wait_ms = 3000) {
  for (std::size_t have = 0; have < n;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return false;
    const ssize_t got = recv(fd, into + have, n - have, 0);
    if (got <= 0) return false;
    have += static_cast<std::size_t>(got);
  }
  return true;
}

// One Modbus TCP frame by its MBAP length; empty when none came whole.
inline Bytes ReadMbapFrame(int fd, int wait_ms = 3000) {
  Bytes frame(6);
  if (!ReadExactly(fd, frame.data(), 6, wait_ms)) return {};
  const std::size_t length = (frame[4] << 8) | frame[5];
  if (length == 0 || length > 254) return {};
  frame.resize(6 + length);
  if (!ReadExactly(fd, frame.data() + 6, length, wait_ms)) return {};
  return frame;
}

// A frame of `pdu` (function code first) for `unit` with transaction id `tid`.
inline Bytes MbapFrame(std::uint16_t tid, std::uint8_t unit, const Bytes& pdu) {
  const auto length = static_cast<std::uint16_t>(pdu.size() + 1);
  Bytes f = {static_cast<std::uint8_t>(tid >> 8), static_cast<std::uint8_t>(tid), 0, 0,
             static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), unit};
  f.insert(f.end(), pdu.begin(), pdu.end());
  return f;
}

inline Bytes Word(std::uint16_t w) {
  return {static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w & 0xFF)};
}

// A client that speaks raw bytes to a served drive.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(ConnectLoopback(port)) {}
  ~RawClient() {
    if (fd_ >= 0) close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool Connected() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  bool Send(const Bytes& bytes) {
    const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(bytes.size());
  }
  // Sends the PDU to unit 1 and returns the answer's PDU (function code first).
  Bytes Ask(const Bytes& pdu, std::uint8_t unit = 1) {
    if (!Send(MbapFrame(++tid_, unit, pdu))) return {};
    const Bytes answer = ReadMbapFrame(fd_);
    return answer.size() > 7 ? Bytes(answer.begin() + 7, answer.end()) : Bytes{};
  }
  // Write registers (function 16) and read registers (function 3).
  Bytes WriteRegisters(std::uint16_t address, const std::vector<std::uint16_t>& values) {
    Bytes pdu = {16};
    for (const Bytes& w : {Word(address), Word(static_cast<std::uint16_t>(values.size()))})
      pdu.insert(pdu.end(), w.begin(), w.end());
    pdu.push_back(static_cast<std::uint8_t>(2 * values.size()));
    for (std::uint16_t v : values) {
      const Bytes w = Word(v);
      pdu.insert(pdu.end(), w.begin(), w.end());
    }
    return Ask(pdu);
  }
  Bytes ReadRegisters(std::uint16_t address, std::uint16_t count) {
    Bytes pdu = {3};
    for (const Bytes& w : {Word(address), Word(count)}) pdu.insert(pdu.end(), w.begin(), w.end());
    return Ask(pdu);
  }
  // Whether the server has closed the connection (waiting at most `wait_ms` to hear it).
  bool ClosedByPeer(int wait_ms = 3000) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return false;
    std::uint8_t b = 0;
    const ssize_t n = recv(fd_, &b, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno == ECONNRESET);  // reset: it left bytes unread
  }

 private:
  int fd_;
  std::uint16_t tid_ = 0;
};

// What the proxy does with one answer of the drive.
enum class ProxyAction { Pass, Trickle, Reset };

// A Modbus TCP proxy on a loopback port in front of a served drive: each client gets a
// connection of its own to the drive. `tamper` sees each request and may rewrite its answer
// and say how to deliver it: at once, one byte at a time `trickle_s` apart, or not at all,
// cutting both connections as a reset would.
class ModbusProxy {
 public:
  using Tamper = std::function<ProxyAction(const Bytes& request, Bytes& answer)>;

  ModbusProxy(int drive_port, Tamper tamper, double trickle_s = 0.2)
      : drive_port_(drive_port), tamper_(std::move(tamper)), trickle_s_(trickle_s) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 4);
    socklen_t size = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ModbusProxy() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  ModbusProxy(const ModbusProxy&) = delete;
  ModbusProxy& operator=(const ModbusProxy&) = delete;

  std::string Address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

 private:
  void Serve() {
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      const int drive = ConnectLoopback(drive_port_);
      if (drive >= 0) Carry(client, drive);
      if (drive >= 0) close(drive);
      close(client);
    }
  }

  // One client until it or the drive goes, or the tamper cuts it.
  void Carry(int client, int drive) {
    while (!stop_) {
      pollfd p = {client, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const Bytes request = ReadMbapFrame(client);
      if (request.empty() || send(drive, request.data(), request.size(), MSG_NOSIGNAL) < 0) return;
      Bytes answer = ReadMbapFrame(drive);
      if (answer.empty()) return;
      switch (tamper_(request, answer)) {
        case ProxyAction::Reset: {
          const linger hard = {1, 0};  // RST, not FIN
          setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
          return;
        }
        case ProxyAction::Trickle:
          for (std::size_t i = 0; i < answer.size() && !stop_; ++i) {
            if (send(client, &answer[i], 1, MSG_NOSIGNAL) < 0) return;
            std::this_thread::sleep_for(std::chrono::duration<double>(trickle_s_));
          }
          break;
        case ProxyAction::Pass:
          if (send(client, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return;
      }
    }
  }

  int drive_port_;
  Tamper tamper_;
  double trickle_s_;
  int listener_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The register a request reads (function 3) or writes (6, 16), and the count; function 23
// reports its read.
inline std::uint16_t RequestAddress(const Bytes& request) {
  return static_cast<std::uint16_t>((request[8] << 8) | request[9]);
}
inline std::uint8_t RequestFunction(const Bytes& request) { return request[7]; }

}  // namespace testing_support
