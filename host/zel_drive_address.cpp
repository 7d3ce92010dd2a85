#include "host/zel_drive_address.h"

#include <vector>

namespace {

bool ParseAddressNumber(std::string_view text, int lowest, int highest, int& value) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lowest || v > highest) return false;
  value = v;
  return true;
}

}  // namespace

bool ZelDriveAddress::Parse(std::string_view text, ZelDriveAddress& a, std::string& why) {
  a = {};
  a.text = std::string(text);
  const auto bad = [&](const std::string& reason) {
    why = "--drive " + std::string(text) + ": " + reason;
    return false;
  };
  std::vector<std::string_view> fields;
  std::string_view rest;
  if (text.starts_with("tcp://")) {
    a.kind = Kind::Tcp;
    rest = text.substr(6);
  } else if (text.starts_with("rtu:")) {
    a.kind = Kind::Rtu;
    rest = text.substr(4);
  } else {
    return bad("expected tcp://HOST:PORT[,UNIT] or rtu:DEVICE[,BAUD[,UNIT]]");
  }
  for (std::size_t start = 0;;) {
    const auto comma = rest.find(',', start);
    fields.push_back(
        rest.substr(start, comma == std::string_view::npos ? rest.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  const std::size_t extra = a.kind == Kind::Tcp ? 1 : 2;
  if (fields.size() > 1 + extra) return bad("too many fields");
  if (fields.size() == 1 + extra && !ParseAddressNumber(fields.back(), 1, 247, a.unit))
    return bad("the unit id is a whole number from 1 to 247");
  if (a.kind == Kind::Tcp) {
    const auto colon = fields[0].rfind(':');
    int port = 0;
    if (colon == std::string_view::npos || colon == 0) return bad("expected tcp://HOST:PORT");
    if (!ParseAddressNumber(fields[0].substr(colon + 1), 1, 65535, port))
      return bad("the port is a whole number from 1 to 65535");
    a.host = std::string(fields[0].substr(0, colon));
    a.port = std::to_string(port);
  } else {
    if (fields[0].empty()) return bad("no device is named");
    a.device = std::string(fields[0]);
    if (fields.size() > 1 && !ParseAddressNumber(fields[1], 300, 4000000, a.baud))
      return bad("the baud rate is a whole number from 300 to 4000000");
  }
  return true;
}
