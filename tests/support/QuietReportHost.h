#pragma once
// The source side of the binary decoders when there is no source: it keeps
// the last second and otherwise asks nothing (benchmarks, fuzz targets and
// tests that decode on their own). Override what a caller needs to see.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/QM_BinaryReport.h"

namespace orb::test {

class TQuietReportHost : public IBinaryReportHost {
 public:
  explicit TQuietReportHost(TQM_PeerType peer = ptUnknown) : FPeer(peer) {}

  TQM_PeerType PeerType() const override { return FPeer; }
  uint32_t ReceivedSec() const override { return FReceivedSec; }
  void SetReceivedSec(uint32_t second) override { FReceivedSec = second; }
  int UserId() const override { return 255; }
  int CalibFactorFloatToInt() const override { return 1000; }
  std::string ConnectedUsersText(std::string_view) override { return std::string(); }
  std::string Check7902Report(std::string_view) override { return std::string(); }
  std::string CheckDataPerSecondCounter() override { return std::string(); }
  std::string LibraryVersionText() const override { return "1.0"; }

  TQM_PeerType FPeer;
  uint32_t FReceivedSec = 0;
};

}  // namespace orb::test
