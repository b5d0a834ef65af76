// Binary reports from a counter: the header check, every packed part, the
// decoded record and the text line must handle any bytes without reading
// outside the report, and keep the channels' whole cycles within 2^62.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/QM_BinaryText.h"

namespace {

class TFuzzHost : public orb::IBinaryReportHost {
 public:
  orb::TQM_PeerType PeerType() const override { return FPeer; }
  uint32_t ReceivedSec() const override { return FReceivedSec; }
  void SetReceivedSec(uint32_t second) override { FReceivedSec = second; }
  int UserId() const override { return FUserId; }
  int CalibFactorFloatToInt() const override { return 1000; }
  std::string ConnectedUsersText(std::string_view body) override {
    return std::string(body.substr(0, 8));
  }
  std::string Check7902Report(std::string_view body) override {
    return body.empty() ? std::string() : "7902; " + std::string(body.substr(0, 1));
  }
  std::string CheckDataPerSecondCounter() override {
    return FReceivedSec % 3 == 0 ? "7F22: x" : "";
  }
  std::string LibraryVersionText() const override { return "1.0"; }

  orb::TQM_PeerType FPeer = orb::ptColdfire;
  uint32_t FReceivedSec = 0;
  int FUserId = 255;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the source's options and the host's answers.
  const uint8_t options = data[0];
  orb::TSourceCodecState state;
  state.FLTV = options & 3;
  state.FOptRawData = (options & 4) != 0;
  state.FLTVReceived = (options & 8) != 0;
  state.Fsend7016 = (options & 16) != 0;
  state.FFormatSettings = orb::NumberFormat::WithDecimalSeparator(options & 32 ? ',' : '.');
  TFuzzHost host;
  host.FPeer = options & 64 ? orb::ptESP : orb::ptColdfire;
  host.FUserId = options & 128 ? 7 : 255;
  const int recordSize = options & 64 ? 8 : 7;

  // The rest is one or more reports, each led by its length byte, so that
  // the channel state carries from one report to the next.
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  orb::TQM_ReportStruct record;
  std::string line;
  while (!rest.empty()) {
    const size_t length = std::min<size_t>(static_cast<uint8_t>(rest[0]), rest.size() - 1);
    const std::string report(rest.substr(1, length));  // exact size for the sanitizer
    rest.remove_prefix(1 + length);
    std::string_view body;
    if (orb::CheckHeader(state, report, recordSize, body, record) != orb::QM_No_Err) continue;
    do {
      orb::ProcessBinReportStruct(state, host, body, record);
      (void)record.ToString();
      orb::ProcessBinData(state, host, body, line);
      for (int64_t high : state.High) {
        if (high < 0 || high >= (int64_t{1} << 62)) std::abort();
      }
    } while (orb::NextPackedReport(state, body));
  }
  return 0;
}
