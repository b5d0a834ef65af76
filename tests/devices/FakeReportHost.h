#pragma once
// The source side of the binary and demo decoders for device tests: storage
// answers are recorded and checked into "7902; " + the first bytes as hex.

#include <mutex>
#include <string>
#include <vector>

#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_TextUtils.h"

namespace orb::test {

class TFakeReportHost final : public IBinaryReportHost {
 public:
  TQM_PeerType PeerType() const override { return ptUnknown; }
  uint32_t ReceivedSec() const override { return FReceivedSec; }
  void SetReceivedSec(uint32_t second) override { FReceivedSec = second; }
  int UserId() const override { return 255; }
  int CalibFactorFloatToInt() const override { return 1000; }
  std::string ConnectedUsersText(std::string_view) override { return std::string(); }
  std::string Check7902Report(std::string_view body) override {
    std::lock_guard lock(FLock);
    FChecked.emplace_back(body);
    return "7902; " + BytesToHex(body.substr(0, 4));
  }
  std::string CheckDataPerSecondCounter() override { return std::string(); }
  std::string LibraryVersionText() const override { return "test"; }

  std::vector<std::string> Checked() const {
    std::lock_guard lock(FLock);
    return FChecked;
  }

 private:
  mutable std::mutex FLock;
  std::vector<std::string> FChecked;
  uint32_t FReceivedSec = 0;
};

}  // namespace orb::test
