#include "host/zel_errors.h"

#include <cstdio>
#include <string>
#include <vector>

int g_bShowErrors = 1;

namespace {

std::size_t g_error_count = 0;

ZelErrorSink& Sink() {
  static ZelErrorSink sink;
  return sink;
}

}  // namespace

ZelErrorSink ZelSetErrorSink(ZelErrorSink sink) {
  ZelErrorSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void ZelReportError(std::string_view message) {
  ++g_error_count;
  if (Sink()) {
    Sink()(message);
    return;
  }
  std::fprintf(stderr, "dcservo: %.*s\n", static_cast<int>(message.size()), message.data());
}

void ZelReportWarning(std::string_view message) {
  const std::string line = "warning: " + std::string(message);
  if (Sink()) {
    Sink()(line);
    return;
  }
  std::fprintf(stderr, "dcservo: %s\n", line.c_str());
}

std::size_t ZelErrorCount() { return g_error_count; }

ZelCollectErrors::ZelCollectErrors()
    : previous_(ZelSetErrorSink([this](std::string_view m) { messages_.emplace_back(m); })) {}

ZelCollectErrors::~ZelCollectErrors() { ZelSetErrorSink(std::move(previous_)); }

ZelDiscardErrors::ZelDiscardErrors()
    : previous_(ZelSetErrorSink([](std::string_view) {})), count_(g_error_count) {}

ZelDiscardErrors::~ZelDiscardErrors() {
  ZelSetErrorSink(std::move(previous_));
  g_error_count = count_;
}
