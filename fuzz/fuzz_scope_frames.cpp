// The frames that a drive streams to the scope arrive as unsolicited messages: a short,
// long, foreign or lying message must be refused without reading past its end, and the
// frames that fit must leave the ring and the drawn range inside the window.
//
// Byte 0 picks channels, mode, slope and trigger; byte 1 the pre-trigger share; byte 2 the
// trigger level; then messages, each a length byte followed by that many bytes.

#include "fuzz/fuzz_support.h"
#include "fuzz/stream_link.h"
#include "host/zel_logger.h"

namespace {

CZel_ScopeLogger* g_scope = nullptr;

int ToScope(const std::uint8_t* message, std::size_t bytes) {
  return g_scope->OnMessage(message, bytes);
}

void CheckDrawnRange(const CZel_ScopeLogger& scope) {
  int first = -1, count = -1;
  scope.GetPointsToBeDrawn(first, count);
  const int points = scope.GetPointsNo();
  if (first < 0 || count < 0 || first >= points || count > points)
    fuzz::Fail("the drawn range leaves the window");
  if (scope.GetPointsFilled() > points) fuzz::Fail("more points filled than the window holds");
  for (int k = 0; k < count; ++k) {
    for (int c = 0; c <= scope.GetChannelCount(); ++c) scope.GetValue((first + k) % points, c);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t pick = data[0];
  const char* names[] = {"APOS", "Motor_Current", "Motor_Speed"};
  const int channels = 1 + pick % 3;
  const int modes[] = {CZel_ScopeLogger::kAuto, CZel_ScopeLogger::kNormal,
                       CZel_ScopeLogger::kSingle};
  const int mode = modes[(pick >> 2) % 3];
  const int slope = (pick >> 4) & 1;
  const char* trigger = (pick & 0x20) ? names[(pick >> 6) % channels] : "";

  auto link = std::make_shared<fuzz::StreamLink>();
  CZel_CommSession session(link);
  auto setup = fuzz::ScopeSetup();
  CZel_ScopeLogger scope(*setup, nullptr);
  for (int c = 0; c < channels; ++c) scope.AddVariable(names[c]);
  if (!scope.ChangeSettings(0.5, mode, slope, trigger, static_cast<std::int8_t>(data[2]),
                            data[1] % 101))
    fuzz::Fail("valid scope settings refused");
  if (!CZel_Comm::ExecuteCode(nullptr, fuzz::StreamLink::kProgram, nullptr, &scope))
    fuzz::Fail("the scope did not arm");

  // Every message once straight into the logger and once through the host's channel.
  std::size_t at = 3;
  while (at < size) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    const std::vector<std::uint8_t> message(data + at + 1, data + at + 1 + length);
    at += 1 + length;
    scope.OnMessage(message.data(), message.size());
    CheckDrawnRange(scope);
    link->queue.push_back(message);
  }
  g_scope = &scope;
  CZel_Comm::CheckForUnrequestedMessages(&ToScope);
  g_scope = nullptr;
  CheckDrawnRange(scope);
  scope.DoGracefulStop();
  scope.EndUploadData();
  return 0;
}
