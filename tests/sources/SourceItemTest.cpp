#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedSource.h"
#include "devices/QM_Simulator.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class SourceItemTest : public ::testing::Test {
 protected:
  SourceItemTest() {
    machine.Files = {};
    services.Factory = &factory;
    services.Environment = &machine;
    services.Clock = &clock;
  }

  std::unique_ptr<TSourceItem> NewSource() {
    return std::make_unique<TSourceItem>(3, true, std::make_shared<TEvent>(clock), services);
  }

  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  TDeviceFactory factory;
  TSourceServices services;
  test::TTempFolder folder;
};

// The simulator through the record pump: records in order with a device
// time that never goes back, and at least one measurement per interval.
TEST_F(SourceItemTest, SimulatorDeliversRecordsEndToEnd) {
  auto source = NewSource();
  std::string message;
  ASSERT_EQ(source->OpenConnectionString("DemoData ReportStruct", false, message), QM_No_Err)
      << message;
  auto& simulator = dynamic_cast<TQM_SimulDevice&>(source->ActualDevice()->Device());
  int data = 0;
  int stamps = 0;
  int64_t lastMs = -1;
  TQM_ReportStruct record;
  for (int step = 0; step < 30; ++step) {
    clock.Advance(100);
    simulator.WaitGenerated();
    for (source->GetReportStruct(record); record.GetReportType() != rt_None;
         source->GetReportStruct(record)) {
      ASSERT_NE(record.GetReportType(), rt_Error) << record.GetErrorText();
      EXPECT_GE(record.GetDeviceMs(), lastMs);
      lastMs = record.GetDeviceMs();
      if (record.GetHeader() < 0x7000) ++data;
      if (record.GetHeader() == 0x7015) ++stamps;
    }
  }
  EXPECT_EQ(stamps, 3);
  EXPECT_GE(data, stamps - 1);
  EXPECT_GT(lastMs, 0);

  source->CloseConnection();
  EXPECT_EQ(source->ActualDevice(), nullptr);
  source->GetReportStruct(record);
  EXPECT_EQ(record.GetReportType(), rt_None);  // a closed source delivers nothing
  // Opening again makes a new device.
  ASSERT_EQ(source->OpenConnectionString("DemoData", false, message), QM_No_Err);
  EXPECT_NE(source->ActualDevice(), nullptr);
}

TEST_F(SourceItemTest, RefusedConnectionsSayWhy) {
  auto source = NewSource();
  std::string message;
  EXPECT_EQ(source->OpenConnectionString(":4001", false, message), QM_Err_BadFormat);
  EXPECT_EQ(message, "Invalid connection string: :4001");
  EXPECT_EQ(source->OpenConnectionString("CAN:RACKZ", false, message), QM_Err_BadFormat);
  EXPECT_EQ(message, "Invalid CAN address: CAN:RACKZ");
  EXPECT_EQ(source->OpenConnectionString("/no/such.bin", false, message), QM_DeviceNotFound);
  EXPECT_EQ(source->ActualDevice(), nullptr);
}

TEST_F(SourceItemTest, OutputPathIsProbedWithoutTouchingTheUsersFiles) {
  auto source = NewSource();
  test::WriteFile(folder / "test.txt", "mine");
  std::string message;
  ASSERT_TRUE(source->SetOutputPath(folder.Path().string(), message)) << message;
  EXPECT_EQ(test::ReadFile(folder / "test.txt"), "mine");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
  EXPECT_EQ(source->OutputPath(), folder.Path().string() + "/");

  EXPECT_FALSE(source->SetOutputPath("/no/such/folder", message));
  EXPECT_EQ(message.rfind("Invalid path(/no/such/folder): ", 0), 0u) << message;
}

// Recordings started within one second get their own files, and hold the
// delivered reports as lines.
TEST_F(SourceItemTest, ReportRecordingsNeverOverwriteEachOther) {
  auto source = NewSource();
  std::string message;
  ASSERT_TRUE(source->SetOutputPath(folder.Path().string(), message));
  ASSERT_EQ(source->OpenConnectionString("DemoData ReportStruct", false, message), QM_No_Err);
  ASSERT_TRUE(source->StartSaveReportData(3, message)) << message;
  const std::filesystem::path first = source->ReportDataFile();
  ASSERT_TRUE(source->StartSaveReportData(3, message));
  const std::filesystem::path second = source->ReportDataFile();
  EXPECT_TRUE(first.filename().string().ends_with("_3_QM_ReportData.txt")) << first;
  EXPECT_TRUE(second.filename().string().ends_with("_3-2_QM_ReportData.txt")) << second;

  auto& simulator = dynamic_cast<TQM_SimulDevice&>(source->ActualDevice()->Device());
  TQM_ReportStruct record;
  int delivered = 0;
  for (int step = 0; step < 20; ++step) {
    clock.Advance(100);
    simulator.WaitGenerated();
    for (source->GetReportStruct(record); record.GetReportType() != rt_None;
         source->GetReportStruct(record)) {
      ++delivered;
    }
  }
  source->StopSaveReportData();
  const std::string lines = test::ReadFile(second);
  EXPECT_GT(delivered, 0);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), delivered);
  EXPECT_TRUE(lines.ends_with("\r\n"));
  EXPECT_TRUE(std::filesystem::exists(first));
}

// A replayed file waits 200 ms per report until it has shown a time stamp,
// then runs at full speed; with WAIT_INTERVAL every data report waits its
// measurement interval.
TEST_F(SourceItemTest, ReplayedFilesArePacedLikeTheirCounter) {
  const auto path = folder / "paced_QM_ReportData.txt";
  test::WriteFile(path, "2600;1.5\r\n2600;1.5\r\n7015; 1\r\n2600;1.5\r\n2600;1.5\r\n");
  const auto delivered = [](TSourceItem& source) {
    TQM_ReportStruct record;
    source.GetReportStruct(record);
    return record.GetReportType() == rt_None ? 0 : record.GetHeader();
  };
  machine.Files = {path.string()};
  auto source = NewSource();
  std::string message;
  ASSERT_EQ(source->OpenConnectionString(path.string() + " ReportStruct", false, message),
            QM_No_Err)
      << message;
  EXPECT_EQ(delivered(*source), 0x2600);
  EXPECT_EQ(delivered(*source), 0);
  clock.Advance(199);
  EXPECT_EQ(delivered(*source), 0);
  clock.Advance(1);
  EXPECT_EQ(delivered(*source), 0x2600);
  clock.Advance(200);
  EXPECT_EQ(delivered(*source), 0x7015);
  EXPECT_EQ(delivered(*source), 0x2600);  // a time stamp was seen: no pause
  EXPECT_EQ(delivered(*source), 0x2600);

  auto timed = NewSource();
  ASSERT_EQ(timed->OpenConnectionString(path.string() + " WAIT_INTERVAL ReportStruct", false,
                                        message),
            QM_No_Err);
  EXPECT_EQ(delivered(*timed), 0x2600);
  EXPECT_EQ(delivered(*timed), 0);
  clock.Advance(100);  // interval index 6: 100 ms
  EXPECT_EQ(delivered(*timed), 0x2600);
}

TEST(SourceUserCheck, TooManyUsersRefusesTheLinkAndOtherReportsAreKept) {
  TFakeClock clock;
  test::TScriptedSource full(clock, QM_CDC);
  TQM_ReportStruct refusal;
  refusal.SetMessage(0x7FFA, "too many users");
  full.factory.Script.push_back(refusal);
  std::string message;
  EXPECT_EQ(full.source->OpenConnectionString("10.0.0.1 USERID=2", false, message), QM_TooManyUser);
  EXPECT_EQ(message, "7FFA: UserID 2 already in use");
  EXPECT_EQ(full.source->ActualDevice(), nullptr);

  test::TScriptedSource free(clock, QM_CDC);
  TQM_ReportStruct version;
  version.SetMessage(0x7FF2, "Scrambler in use!");
  free.factory.Script.push_back(version);
  ASSERT_EQ(free.Open(message), QM_No_Err) << message;
  TQM_ReportStruct record;
  free.source->GetReportStruct(record);
  EXPECT_EQ(record.GetHeader(), 0x7FF2);  // the report the check read comes first
}

}  // namespace
}  // namespace orb
