#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedSource.h"
#include "protocol/BinaryFixtures.h"
#include "protocol/QM_Framing.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class TCollectingArchive final : public IReportArchive {
 public:
  void ArchiveData(std::string_view Item) override { Items.emplace_back(Item); }
  std::vector<std::string> Items;
};

// A replayed USB recording: every binary report reaches the archive once,
// as its length byte and its bytes, and nothing else does.
TEST(SourceArchiveTest, EveryBinaryReportIsArchivedWithItsLength) {
  std::vector<std::string> reports;
  for (int n = 0; n < 5; ++n) {
    reports.push_back(test::Header(0x7015) + test::Bytes({0, 0, 0, static_cast<uint8_t>(n)}));
    std::string data = test::Header(0x0910);
    for (int channel = 0; channel < 2; ++channel) {
      data += test::ValueRecord(8, test::MantissaFor(0.25 * (n + channel), 8));
    }
    reports.push_back(data);
  }
  std::string usb;
  for (const std::string& report : reports) ASSERT_TRUE(EncodeUSBFrame(report, usb));
  test::TTempFolder folder;
  test::WriteFile(folder / "usb.bin", usb);

  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  machine.Files = {(folder / "usb.bin").string()};
  TDeviceFactory factory;
  TSourceServices services;
  services.Factory = &factory;
  services.Environment = &machine;
  services.Clock = &clock;
  TSourceItem source(1, true, std::make_shared<TEvent>(clock), services);
  std::string message;
  ASSERT_EQ(
      source.OpenConnectionString((folder / "usb.bin").string() + " ReportStruct", false, message),
      QM_No_Err)
      << message;
  source.SetReplayPacing(false);
  TCollectingArchive archive;
  source.SetReportArchive(&archive);

  TQM_ReportStruct record;
  for (int call = 0; call < 100; ++call) source.GetReportStruct(record);
  ASSERT_EQ(archive.Items.size(), reports.size());
  for (size_t n = 0; n < reports.size(); ++n) {
    EXPECT_EQ(archive.Items[n], std::string(1, static_cast<char>(reports[n].size())) + reports[n]);
  }
}

}  // namespace
}  // namespace orb
