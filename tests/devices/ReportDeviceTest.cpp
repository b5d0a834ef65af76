#include "devices/QM_ReportDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/LoopbackTransport.h"
#include "devices/QM_TextLineDecoder.h"

namespace orb {
namespace {

using test::TLoopbackTransport;

class ReportDeviceTest : public ::testing::Test {
 protected:
  explicit ReportDeviceTest(TQM_PeerType peer = ptColdfire)
      : device(clock, QM_HID, peer),
        report(device, codec, std::make_unique<TQM_TextLineDecoder>()) {}

  // One call of the report pump.
  TQM_ReportStruct Pump() {
    TQM_ReportStruct record;
    report.GetReportStruct(record);
    return record;
  }

  void Feed(const std::string& bytes) {
    device.Push(bytes);
    device.WaitDelivered();
  }

  TQM_Result Send(std::string command) { return report.SendCommand(command); }

  TFakeClock clock;
  TLoopbackTransport device;
  TSourceCodecState codec;
  TQM_ReportDevice report;
};

TEST_F(ReportDeviceTest, QueuedCommandsLeaveOnePerEngineRunInOrder) {
  // Without a command list of its own the device only writes from the engine.
  EXPECT_EQ(Send("\x23"), QM_No_Err);
  EXPECT_EQ(Send("\x41"), QM_No_Err);
  EXPECT_EQ(report.GetPendingCmdsCount(), 2);
  EXPECT_EQ(device.WrittenCount(), 0u);

  Pump();  // reads (nothing there), then hands the next call to the engine
  EXPECT_EQ(report.RxMode(), rxCommand);
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});
  EXPECT_EQ(report.RxMode(), rxData);
  Pump();
  Pump();
  EXPECT_EQ(device.Written(), (std::vector<std::string>{"\x23", "\x41"}));
  EXPECT_EQ(report.GetPendingCmdsCount(), 0);
  Pump();
  EXPECT_EQ(report.RxMode(), rxData);  // nothing queued: the engine is not called
}

TEST_F(ReportDeviceTest, DeviceWithItsOwnCommandListWritesAtOnceWhenIdle) {
  device.SetHasCommandList(true);
  EXPECT_EQ(Send("\x23"), QM_No_Err);
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});
}

TEST_F(ReportDeviceTest, AwaitedAnswerHoldsTheQueueUntilItArrives) {
  device.SetHasCommandList(true);
  device.SetCmdResponse(crt_interval);
  EXPECT_EQ(Send("\x41"), QM_No_Err);
  EXPECT_EQ(Send("\x42"), QM_No_Err);
  for (int i = 0; i < 4; ++i) Pump();
  EXPECT_EQ(device.WrittenCount(), 0u);

  device.SetCmdResponse(crt_none);  // the answer arrived
  Pump();
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x41"});  // exactly one per run
}

TEST_F(ReportDeviceTest, LostAnswerEndsAfterTheTimeOut) {
  device.SetCmdResponse(crt_mode);
  Send("\x23");
  Pump();
  Pump();
  EXPECT_EQ(device.WrittenCount(), 0u);
  clock.Advance(TQM_BaseDevice::kPacingTimeoutMs);
  Pump();
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});
}

TEST_F(ReportDeviceTest, ColdFireDelayWaitsForTheAnswerOrTheTimeOut) {
  device.SetDelayNextCmdMs(20);
  Send("\x23");
  clock.Advance(25);  // run out, but the answer is missing
  Pump();
  Pump();
  EXPECT_EQ(device.WrittenCount(), 0u);
  device.SetDelayNextCmdMs(0);  // the answer ends it
  Pump();
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});

  device.SetDelayNextCmdMs(20);
  Send("\x24");
  clock.Advance(20 + TQM_BaseDevice::kPacingTimeoutMs);
  Pump();
  Pump();
  EXPECT_EQ(device.WrittenCount(), 2u);
}

TEST_F(ReportDeviceTest, DataLossEndsTheWaitForAnAnswer) {
  device.SetCmdResponse(crt_interval);
  Send("\x23");
  Feed("0900;1.5\n");
  device.ReceiveBuffer().Clear();
  const TQM_ReportStruct cleared = Pump();
  EXPECT_EQ(cleared.GetHeader(), 0x7022);
  EXPECT_EQ(device.CmdResponse(), crt_none);
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});
}

TEST_F(ReportDeviceTest, OverflowOrReconnectIgnoresTheNextFormatErrorAndEndsPacing) {
  for (const TQM_Result code : {QM_Err_ReceiveBufferOverflow, QM_Err_Reconnected}) {
    device.SetCmdResponse(crt_mode);
    device.SetError(code, "lost");
    std::string message;
    EXPECT_EQ(report.CheckDeviceError(message), code);
    EXPECT_EQ(message, "lost");
    EXPECT_EQ(device.ErrorCode(), QM_No_Err);
    EXPECT_EQ(device.CmdResponse(), crt_none);
    EXPECT_TRUE(report.TakeIgnoreNextFormatError());
    EXPECT_FALSE(report.TakeIgnoreNextFormatError());
  }
  device.SetError(QM_WriteError, "other");
  std::string message;
  EXPECT_EQ(report.CheckDeviceError(message), QM_WriteError);
  EXPECT_FALSE(report.TakeIgnoreNextFormatError());
}

TEST_F(ReportDeviceTest, FailedEngineWriteGivesAnErrorRecordAndTheQueueGoesOn) {
  Send("\x23");
  Send("\x24");
  device.FailNextWrite(QM_WriteError, "write failed");
  Pump();
  const TQM_ReportStruct failed = Pump();
  EXPECT_EQ(failed.GetReportType(), rt_Error);
  EXPECT_EQ(failed.GetErrorCode(), QM_WriteError);
  EXPECT_EQ(failed.GetErrorText(), "write failed");
  Pump();
  Pump();
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x24"});
}

TEST_F(ReportDeviceTest, FailedDirectWriteReturnsTheDeviceError) {
  device.SetHasCommandList(true);
  device.FailNextWrite(QM_WriteError, "port gone");
  std::string command = "\x01";
  EXPECT_EQ(report.SendCommand(command), QM_WriteError);
  EXPECT_EQ(command, "port gone");
}

TEST_F(ReportDeviceTest, VersionLineOnceUntilAVersionCommand) {
  Feed("7001VERSION ORC: 56US CF 2021-03-04 / 220101.01 / 12AB34CD / 10.0.0.2 / User1\r\n");
  Pump();
  EXPECT_TRUE(report.VersionReceived());
  EXPECT_EQ(report.Version(), 56);
  EXPECT_EQ(report.HardFeature(), 0x0007);
  EXPECT_EQ(report.VersionIP(), "10.0.0.2");
  EXPECT_EQ(device.HardFeature(), 0x0007);
  EXPECT_EQ(device.FirmwareVersionNumber(), 56);
  EXPECT_EQ(device.SerialNumberValue(), 0x12AB34CDu);
  EXPECT_EQ(device.FPGAtype(), ft_Altera);

  Feed("7001VERSION ORC: 60 CF x\r\n");
  Pump();
  EXPECT_EQ(report.Version(), 56);  // a repeated version is ignored

  EXPECT_EQ(Send("\x81"), QM_No_Err);
  EXPECT_FALSE(report.VersionReceived());
  Feed("7001VERSION ORC: 60 CF x\r\n");
  Pump();
  EXPECT_EQ(report.Version(), 60);
}

TEST_F(ReportDeviceTest, EspVersionSetsTheDevice) {
  EXPECT_TRUE(report.ESPExtractFirmware(
      "ORC2 / 0000BEEF 4 / FW: ORC2-1.14 2023-05-01 / HW:230101.0A / IP: 0501A8C0"));
  EXPECT_EQ(report.Version(), 114);
  EXPECT_EQ(device.FirmwareVersionMajor(), 1);
  EXPECT_EQ(device.FirmwareVersionMinor(), 14);
  EXPECT_EQ(device.SerialNumberValue(), 0xBEEFu);
  EXPECT_EQ(device.UserID(), 4);
  EXPECT_EQ(report.VersionIP(), "192.168.1.5");
}

TEST_F(ReportDeviceTest, UserIdFromTheVersionText) {
  EXPECT_TRUE(report.ExtractUserID("VERSION ORC: 56 / User2"));
  EXPECT_EQ(device.CFUserID(), 2);
  EXPECT_FALSE(report.ExtractUserID("VERSION ORC: 56"));
  EXPECT_TRUE(report.ExtractSerialNumber("VERSION ORC: 56 / 7 / 00C0FFEE"));
  EXPECT_EQ(device.SerialNumberValue(), 0x00C0FFEEu);
}

TEST_F(ReportDeviceTest, DeviceTimeFromTimeStampsAndDataIntervals) {
  Feed("7015;5\n0900;1.5\n0900;2.5\n0900;3.5\n7016;70\n0900;1\n");
  std::vector<int64_t> times;
  for (int i = 0; i < 6; ++i) times.push_back(Pump().GetDeviceMs());
  // 0x0900 is a 1 s interval; the first data report after a stamp keeps it.
  EXPECT_EQ(times, (std::vector<int64_t>{5000, 5000, 6000, 7000, 7000, 7000}));
  report.ReSync();
  EXPECT_EQ(report.DeviceMs(), 0);
}

TEST_F(ReportDeviceTest, TextLinesArriveWholeAndOverlongRunsAreDropped) {
  Feed("0900;1.");
  EXPECT_EQ(Pump().GetReportType(), rt_None);  // half a line waits
  Feed("5\r\n");
  const TQM_ReportStruct record = Pump();
  EXPECT_EQ(record.GetReportType(), rt_Phase);
  EXPECT_EQ(record.GetPhases()[0].ToDouble(), 1.5);

  Feed(std::string(TQM_TextLineDecoder::kMaxLine + 10, 'x'));
  EXPECT_EQ(Pump().GetErrorCode(), QM_Err_BadFormat);
  Feed("\n0900;2\n");
  Pump();  // the rest of the overlong run
  EXPECT_EQ(Pump().GetHeader(), 0x0900);

  std::string text;
  Feed("7015;12\n");
  EXPECT_EQ(report.GetReport(text), QM_No_Err);
  EXPECT_EQ(text.substr(0, 4), "7015");
}

TEST_F(ReportDeviceTest, LostLinkComesBackAsAnErrorRecord) {
  device.LoseLink();
  const TQM_ReportStruct record = Pump();
  EXPECT_EQ(record.GetErrorCode(), QM_DeviceNotConnected);
  EXPECT_EQ(record.GetErrorText(), "loopback: link lost");
}

// A decoder that hands over to another after its first call.
class THandOver final : public TQM_ReportDecoder {
 public:
  explicit THandOver(int& calls, std::string name) : FCalls(calls), FName(std::move(name)) {}
  std::string_view Name() const override { return FName; }
  TQM_Result GetReport(TQM_ReportDevice&, std::string& report) override {
    report = FName;
    return QM_No_Err;
  }
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override {
    ++FCalls;
    record.SetMessage(0x7F00, FName);
    if (FName == "first") device.ReplaceDecoder(std::make_unique<THandOver>(FCalls, "second"));
  }

 private:
  int& FCalls;
  std::string FName;
};

TEST(ReportDecoder, SwapsItselfWhenItsCallReturns) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  TSourceCodecState codec;
  int calls = 0;
  TQM_ReportDevice report(device, codec, std::make_unique<THandOver>(calls, "first"));
  TQM_ReportStruct record;
  report.GetReportStruct(record);
  EXPECT_EQ(record.PayloadView(), "first");
  report.GetReportStruct(record);
  EXPECT_EQ(record.PayloadView(), "second");
  EXPECT_EQ(report.Decoder()->Name(), "second");
  EXPECT_EQ(calls, 2);
}

class EspReportDeviceTest : public ReportDeviceTest {
 protected:
  EspReportDeviceTest() : ReportDeviceTest(ptESP) {}
};

TEST_F(EspReportDeviceTest, AlmostOverDelayIsEndedForAnIdleEspLink) {
  device.SetHasCommandList(true);
  device.SetDelayNextCmdMs(10);
  clock.Advance(9);
  EXPECT_EQ(Send("\x23"), QM_No_Err);
  EXPECT_EQ(device.Written(), std::vector<std::string>{"\x23"});
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
}

}  // namespace
}  // namespace orb
