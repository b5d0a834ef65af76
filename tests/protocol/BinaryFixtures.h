#pragma once
// Builders for binary reports (the inverse of the 7-byte value record) and a
// host that records what the decoders asked of it.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_TextUtils.h"

namespace orb::test {

inline std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// A value record with exponent 1..16 and a 52-bit mantissa (negative ones in
// two's complement).
inline std::string ValueRecord(int exponent, int64_t mantissa) {
  const uint64_t bits = static_cast<uint64_t>(mantissa) & ((uint64_t{1} << 52) - 1);
  std::string record(7, '\0');
  record[0] = static_cast<char>(((exponent & 0x0F) << 4) | (bits >> 48));
  for (int i = 1; i < 7; ++i)
    record[static_cast<size_t>(i)] = static_cast<char>(bits >> (8 * (6 - i)));
  return record;
}

// The mantissa that gives `value` at `exponent` without averaging.
inline int64_t MantissaFor(double value, int exponent) {
  return static_cast<int64_t>(std::ldexp(value, 35 - exponent));
}

inline std::string Header(uint16_t header) {
  return Bytes({static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)});
}

// One LTV record of format 2.
inline std::string LtvRecord(int c, int d, int n, bool continued) {
  return Bytes({static_cast<uint8_t>(0x80 | (c & 0x7F)),
                static_cast<uint8_t>((continued ? 0x80 : 0) | (c >> 7)),
                static_cast<uint8_t>(d & 0x7F), static_cast<uint8_t>(d >> 7),
                static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                static_cast<uint8_t>(n >> 16)});
}

class TRecordingHost : public IBinaryReportHost {
 public:
  TQM_PeerType PeerType() const override { return FPeer; }
  uint32_t ReceivedSec() const override { return FReceivedSec; }
  void SetReceivedSec(uint32_t second) override {
    FReceivedSec = second;
    std::string call = "SetReceivedSec ";
    AppendIntText(call, second);
    FCalls.push_back(call);
  }
  int UserId() const override { return FUserId; }
  int CalibFactorFloatToInt() const override { return FCalibFactor; }
  std::string ConnectedUsersText(std::string_view body) override {
    FCalls.push_back("ConnectedUsersText " + BytesToHex(body));
    return FUsersText;
  }
  std::string Check7902Report(std::string_view body) override {
    FCalls.push_back("Check7902Report " + BytesToHex(body));
    return F7902Text;
  }
  std::string CheckDataPerSecondCounter() override {
    FCalls.push_back("CheckDataPerSecondCounter");
    return FCheckText;
  }
  std::string LibraryVersionText() const override { return "LIB 1.2"; }

  TQM_PeerType FPeer = ptColdfire;
  uint32_t FReceivedSec = 0;
  int FUserId = 255;
  int FCalibFactor = 1000;
  std::string FUsersText = "  1: usb (me)";
  std::string F7902Text;
  std::string FCheckText;
  std::vector<std::string> FCalls;
};

}  // namespace orb::test
