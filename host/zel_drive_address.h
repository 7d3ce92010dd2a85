#pragma once
// Where a drive is reached: a Modbus TCP server or a serial line, as the user writes it.

#include <string>
#include <string_view>

struct ZelDriveAddress {
  enum class Kind { Tcp, Rtu } kind = Kind::Tcp;
  std::string host, port;  // TCP
  std::string device;      // RTU
  int baud = 115200;
  int unit = 1;      // the drive's Modbus unit id
  std::string text;  // as the user wrote it

  // tcp://HOST:PORT[,UNIT] or rtu:DEVICE[,BAUD[,UNIT]]; false with the reason.
  static bool Parse(std::string_view text, ZelDriveAddress& address, std::string& why);
};
