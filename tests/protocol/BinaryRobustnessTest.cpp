#include <gtest/gtest.h>

#include <random>

#include "BinaryFixtures.h"
#include "protocol/QM_BinaryText.h"
#include "protocol/QM_Header.h"

namespace orb {
namespace {

// Random headers and bodies through the header check, the record path and
// the text path, every packed part included. Headers are drawn from the
// message catalogue, from every measurement mode and at random.
TEST(BinaryRobustness, RandomReportsThroughEveryDecoder) {
  constexpr int kReports = 1'000'000;
  std::mt19937_64 random(20240611);
  const auto catalogue = MessageHeaderCatalogue();
  TSourceCodecState state;
  test::TRecordingHost host;
  TQM_ReportStruct record;
  std::string report;
  std::string line;
  int dataRecords = 0;
  for (int n = 0; n < kReports; ++n) {
    const uint64_t bits = random();
    if ((bits & 0xFF) == 0) {
      state.FLTV = static_cast<int>((bits >> 8) % 4);
      state.FOptRawData = (bits >> 10) & 1;
      state.FLTVReceived = (bits >> 11) & 1;
      state.Fsend7016 = (bits >> 12) & 1;
      host.FPeer = (bits >> 13) & 1 ? ptColdfire : ptESP;
      host.FCalls.clear();
    }
    uint16_t header = static_cast<uint16_t>(bits >> 16);
    switch ((bits >> 32) % 3) {
      case 0:
        header = catalogue[(bits >> 40) % catalogue.size()].Header;
        break;
      case 1:
        header &= 0xEFFF;  // a measurement mode
        break;
      default:
        break;
    }
    report.clear();
    const uint64_t shape = (bits >> 48) % 16;
    if (shape == 0) report += static_cast<char>(0xF0 | (bits >> 56));
    report += static_cast<char>(header >> 8);
    report += static_cast<char>(header);
    const size_t length = shape == 1 ? random() % 400 : random() % 60;
    for (size_t i = 0; i < length; i += 8) {
      const uint64_t word = random();
      for (size_t j = i; j < std::min(length, i + 8); ++j) {
        report += static_cast<char>(word >> (8 * (j - i)));
      }
    }
    if (shape == 2 && report.size() > 0) report.resize(random() % report.size());

    std::string_view body;
    if (CheckHeader(state, report, 7, body, record) != QM_No_Err) {
      ASSERT_EQ(record.GetErrorCode(), QM_Err_BadFormat);
      continue;
    }
    do {
      const TQM_Result result = ProcessBinReportStruct(state, host, body, record);
      ASSERT_LE(record.GetValueCount(), kMaxChannels);
      ASSERT_TRUE(result == QM_No_Err || result == QM_Err_BadFormat);
      if (state.FIsData && result == QM_No_Err) ++dataRecords;
      ProcessBinData(state, host, body, line);
      uint32_t lineHeader = 0;
      ASSERT_TRUE(line.empty() || TryHexTextToUInt32(line.substr(0, 4), lineHeader)) << line;
      for (int64_t high : state.High) ASSERT_TRUE(high >= 0 && high < (int64_t{1} << 62));
    } while (NextPackedReport(state, body));
  }
  EXPECT_GT(dataRecords, kReports / 4);
}

}  // namespace
}  // namespace orb
