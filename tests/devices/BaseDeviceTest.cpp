#include "devices/QM_BaseDevice.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "devices/LoopbackTransport.h"
#include "devices/QM_SavedReports.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using test::TLoopbackTransport;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes;
}

std::span<const uint8_t> Span(const std::string& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

// ---- Pacing -------------------------------------------------------------------------

TEST(DevicePacing, RunOutDelayGivesOneForColdFireAndZeroForEsp) {
  struct Case {
    TQM_PeerType Peer;
    int64_t Elapsed;
    int Expected;
  };
  const Case cases[] = {
      {ptColdfire, 50, 150}, {ptESP, 50, 150},       // running: the remaining ms
      {ptColdfire, 300, 1},  {ptESP, 300, 0},        // run out: ColdFire waits for the answer
      {ptColdfire, 5199, 1}, {ptColdfire, 5200, 0},  // ... but not for good
  };
  for (const Case& c : cases) {
    TFakeClock clock;
    TLoopbackTransport device(clock, QM_HID, c.Peer);
    device.SetDelayNextCmdMs(200);
    clock.Advance(c.Elapsed);
    EXPECT_EQ(device.GetDelayNextCmdMs(), c.Expected) << PeerTypeName(c.Peer) << " " << c.Elapsed;
  }
}

TEST(DevicePacing, ZeroEndsTheDelayAndTheTimeOutEndsItForGood) {
  TFakeClock clock;
  TLoopbackTransport device(clock, QM_HID, ptColdfire);
  device.SetDelayNextCmdMs(200);
  device.SetDelayNextCmdMs(0);
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);

  device.SetDelayNextCmdMs(20);
  clock.Advance(20 + TQM_BaseDevice::kPacingTimeoutMs);
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
  clock.Advance(1);
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
}

TEST(DevicePacing, AwaitedAnswerIsGivenUpAfterTheTimeOut) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  EXPECT_EQ(device.SetCmdResponse(crt_interval), crt_none);
  clock.Advance(TQM_BaseDevice::kPacingTimeoutMs - 1);
  EXPECT_EQ(device.AwaitedCmdResponse(), crt_interval);
  clock.Advance(1);
  EXPECT_EQ(device.AwaitedCmdResponse(), crt_none);
  EXPECT_EQ(device.CmdResponse(), crt_none);
}

TEST(DevicePacing, RulesAfterAWrite) {
  TFakeClock clock;
  TLoopbackTransport esp(clock, QM_HID, ptESP);
  esp.ApplyCommandPacing("\x23");
  EXPECT_EQ(esp.CmdResponse(), crt_interval);
  EXPECT_EQ(esp.ApplyCommandPacing("\x31"), crt_interval);  // returns the previous answer
  EXPECT_EQ(esp.CmdResponse(), crt_channel);

  TLoopbackTransport coldfire(clock, QM_HID, ptColdfire);
  coldfire.ApplyCommandPacing("\x23");
  EXPECT_EQ(coldfire.CmdResponse(), crt_none);
  coldfire.ApplyCommandPacing(Bytes({0x85, '%', 'i', 0, 0, 0, 0, 1}));
  EXPECT_EQ(coldfire.GetDelayNextCmdMs(), 30);
}

TEST(DevicePacing, ClearedReceiveBufferEndsAnswerWaitAndDelay) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.SetCmdResponse(crt_mode);
  device.SetDelayNextCmdMs(200);
  EXPECT_FALSE(device.ReceiveBufferCleared());
  EXPECT_EQ(device.CmdResponse(), crt_mode);

  device.Push("lost bytes");
  device.WaitDelivered();
  device.ReceiveBuffer().Clear();
  EXPECT_TRUE(device.ReceiveBufferCleared());
  EXPECT_EQ(device.CmdResponse(), crt_none);
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
}

// ---- Errors ---------------------------------------------------------------------------

TEST(DeviceError, TakeReturnsAndClearsInOneStep) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.SetSystemError(5, "OpenPort", "Zugriff verweigert");
  EXPECT_EQ(device.ErrorCode(), QM_System_Err);
  EXPECT_EQ(device.SystemLastError(), 5);
  const TDeviceError error = device.TakeError();
  EXPECT_EQ(error.Code, QM_System_Err);
  EXPECT_EQ(error.Message, "OpenPort: (5)=Zugriff verweigert");
  EXPECT_EQ(device.ErrorCode(), QM_No_Err);
  EXPECT_EQ(device.ErrorMessage(), "");
  EXPECT_EQ(device.SystemLastError(), 0);
}

// ---- Reading --------------------------------------------------------------------------

TEST(DeviceRead, TakesWhatIsThereUpToTheCount) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.Push(std::string(300, 'x'));
  device.WaitDelivered();
  std::string out;
  ASSERT_TRUE(device.DeviceRead(1000, out));
  EXPECT_EQ(out.size(), 255u);
  ASSERT_TRUE(device.DeviceRead(100, out));
  EXPECT_EQ(out.size(), 45u);
}

TEST(DeviceRead, EmptyNonBlockingReadChecksTheLinkOnce) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  std::string out;
  EXPECT_FALSE(device.DeviceRead(10, out));
  EXPECT_EQ(device.CheckDeviceClosedCalls(), 1);
}

TEST(DeviceRead, LostLinkEndsABlockingReadWithoutWaiting) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.SetBlockingIO(true);
  device.LoseLink();
  uint8_t value = 0;
  EXPECT_FALSE(device.PeekChar(value));  // would hang on the fake clock if it waited
  EXPECT_EQ(device.ErrorCode(), QM_DeviceNotConnected);
}

TEST(DeviceRead, BlockingReadGivesUpAfterTheReadTimeout) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  device.SetBlockingIO(true);
  auto read = std::async(std::launch::async, [&] {
    std::string out;
    return device.DeviceRead(10, out);
  });
  // The fake time moves on until the wait of 200 ms ends.
  while (read.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
    clock.Advance(10);
  }
  EXPECT_FALSE(read.get());
  EXPECT_EQ(device.CheckDeviceClosedCalls(), 1);
}

// ---- Identity ---------------------------------------------------------------------------

struct FpgaCase {
  const char* Text;
  TQM_PeerType Peer;
  int Firmware;
  TQM_FPGAType Expected;
};

TEST(DeviceIdentity, FpgaVersionSetsTheTypeOnlyForValidDates) {
  // The fake clock stands in 2026.
  const FpgaCase cases[] = {
      {"", ptColdfire, 73, ft_unknown},
      {"FFFFFF.FF", ptColdfire, 73, ft_unknown},
      {"270101.01", ptColdfire, 73, ft_unknown},  // a year in the future
      {"221301.01", ptColdfire, 73, ft_unknown},  // month 13
      {"220100.01", ptColdfire, 73, ft_unknown},  // day 0
      {"220132.01", ptColdfire, 73, ft_unknown},  // day 32
      {"220101.XZ", ptColdfire, 73, ft_unknown},  // code not hex
      {"2201", ptColdfire, 73, ft_unknown},       // too short
      {"2a0101.01", ptColdfire, 73, ft_unknown},
      {"220101.0A", ptColdfire, 72, ft_Altera},
      {"220101.0A", ptColdfire, 73, ft_MicroSemi},
      {"210101.0A", ptColdfire, 73, ft_Altera},
      {"260101.0a", ptColdfire, 80, ft_MicroSemi},
      {"210101.0A", ptESP, 0, ft_MicroSemi},
  };
  for (const FpgaCase& c : cases) {
    TFakeClock clock;
    TLoopbackTransport device(clock, QM_HID, c.Peer);
    device.SetFirmwareVersionNumber(c.Firmware);
    device.SetFFPGAVersion(c.Text);
    EXPECT_EQ(device.FPGAtype(), c.Expected) << c.Text << " fw " << c.Firmware;
    EXPECT_EQ(device.FPGAVersion(), c.Text);
  }
}

TEST(DeviceIdentity, HardFeature32CarriesItsLowWordAndDeviceInfoNeedsASerial) {
  TFakeClock clock;
  TLoopbackTransport device(clock, QM_HID, ptESP);
  EXPECT_EQ(device.GetDeviceInfo(), nullptr);
  device.SetHardFeature32(0x00024001);
  EXPECT_EQ(device.HardFeature(), 0x4001);
  device.SetSerialNumberValue(0x12345678);
  EXPECT_TRUE(device.SerialNumberRead());
  const auto info = device.GetDeviceInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->FSerialNumber, 0x12345678u);
  EXPECT_EQ(info->FPeerType, ptESP);
  EXPECT_EQ(info->FHardFeature, 0x00024001u);
}

TEST(DeviceIdentity, OnlyFileDevicesLearnThePeerFromTheData) {
  TFakeClock clock;
  TLoopbackTransport usb(clock, QM_HID, ptColdfire);
  usb.SetPeerType(ptESP);
  EXPECT_EQ(usb.PeerType(), ptColdfire);
  TLoopbackTransport file(clock, QM_BinFile, ptUnknown);
  file.SetPeerType(ptESP);
  EXPECT_EQ(file.PeerType(), ptESP);
}

// ---- Connected users ---------------------------------------------------------------------

struct UsersCase {
  const char* Name;
  TQM_DeviceType Type;
  TQM_PeerType Peer;
  std::string Entries;
  std::string Expected;
};

TEST(ConnectedUsers, EntriesByKindByteOrderAndOwnLink) {
  const std::string zero(4, '\0');
  const UsersCase cases[] = {
      {"all empty", QM_HID, ptColdfire, std::string(16, '\0'), "  1: ---  2: ---  3: ---  4: ---"},
      {"esp little-endian usb", QM_HID, ptESP, Bytes({2, 0, 0, 0}) + zero + zero + zero,
       "  1: usb (me)  2: ---  3: ---  4: ---"},
      {"coldfire big-endian kinds", QM_CAN_Rack, ptColdfire,
       Bytes({0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}) + zero,
       "  1: usb  2: can (me)  3: serial  4: ---"},
      {"coldfire reads 02000000 as an address", QM_HID, ptColdfire,
       Bytes({2, 0, 0, 0}) + zero + zero + zero, "  1: 2.0.0.0  2: ---  3: ---  4: ---"},
      {"serial me", QM_Serial, ptESP, Bytes({4, 0, 0, 0}), "  1: serial (me)"},
      {"address of this host", QM_Remote, ptColdfire, Bytes({192, 168, 1, 4, 10, 0, 0, 9}),
       "  1: 192.168.1.4 (me)  2: 10.0.0.9"},
      {"partial entry ignored", QM_HID, ptColdfire, Bytes({0, 0, 0, 0, 1, 2}), "  1: ---"},
  };
  for (const UsersCase& c : cases) {
    TFakeClock clock;
    TLoopbackTransport device(clock, c.Type, c.Peer);
    EXPECT_EQ(device.ConvertConnectedUsersBinToAnsi(c.Entries, "192.168.1.4, 172.16.0.1"),
              c.Expected)
        << c.Name;
  }
}

TEST(ConnectedUsers, TextOfSixteenBytesElseCleared) {
  TFakeClock clock;
  TLoopbackTransport device(clock, QM_HID, ptColdfire);
  device.SetUserConnected(Bytes({0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 4, 10, 1, 2, 3}));
  EXPECT_EQ(device.UserConnected(), "Connected: ---     USB     Serial     10.1.2.3     ");
  device.SetUserConnected("short");
  EXPECT_EQ(device.UserConnected(), "");
}

// ---- Bytes seen by a transport ------------------------------------------------------------

TEST(TimeStampBytes, StartStateFromTheFirstCompleteTimeStamp) {
  TFakeClock clock;
  TLoopbackTransport device(clock);
  // The marker at the end with too few value bytes: nothing is read past it.
  const std::string truncated = Bytes({0x55, 0x08, 0x70, 0x16, 0x00, 0x00, 0x00});
  device.CheckTimeStampBytes(Span(truncated));
  EXPECT_EQ(device.DeviceStartState(), ds_unknown);

  device.CheckTimeStampBytes(Span(Bytes({0x01, 0x08, 0x70, 0x16, 0, 0, 0, 1, 0xBD})));
  EXPECT_EQ(device.DeviceStartState(), ds_ColdStart);
  device.CheckTimeStampBytes(Span(Bytes({0x08, 0x70, 0x16, 0, 0, 0, 9})));
  EXPECT_EQ(device.DeviceStartState(), ds_ColdStart);  // decided once

  TLoopbackTransport warm(clock);
  warm.CheckTimeStampBytes(Span(Bytes({0x08, 0x70, 0x16, 0, 0, 0, 9})));
  EXPECT_EQ(warm.DeviceStartState(), ds_WarmStart);
}

TEST(BinaryRecording, LinkDevicesRecordEveryBlock) {
  test::TTempFolder folder;
  TFakeClock clock;
  TLoopbackTransport usb(clock, QM_HID);
  const std::string name = (folder / "QM_RawData.bin").string();
  ASSERT_TRUE(usb.StartSaveBinaryData(name));
  EXPECT_TRUE(usb.BinSaveRawData());
  usb.SaveBinaryData(Span(std::string("abc")));
  usb.SaveBinaryData(Span(std::string("def")));
  usb.StopSaveBinaryData();
  usb.SaveBinaryData(Span(std::string("ignored")));
  EXPECT_EQ(test::ReadFile(name), "abcdef");

  TLoopbackTransport file(clock, QM_TxtFile);
  EXPECT_FALSE(file.StartSaveBinaryData((folder / "x.bin").string()));
}

// ---- Held-back records ---------------------------------------------------------------------

TEST(SavedReports, SixteenFitTheSeventeenthReplacesTheOldest) {
  TQM_SavedReports ring(-1);
  const auto stamp = [](uint32_t n) {
    TQM_ReportStruct record;
    record.SetTimestamp(n);
    return record;
  };
  for (uint32_t n = 1; n <= 16; ++n) ring.Add(stamp(n));
  EXPECT_EQ(ring.Count(), 16u);  // a full ring is not empty
  EXPECT_EQ(ring.Take().GetTimestamp(), 1u);
  ring.Add(stamp(17));
  ring.Add(stamp(18));  // the 17th pending record
  EXPECT_EQ(ring.Count(), 16u);
  std::vector<uint32_t> order;
  while (ring.Count() > 0) order.push_back(ring.Take().GetTimestamp());
  EXPECT_EQ(order.front(), 3u);
  EXPECT_EQ(order.back(), 18u);
  EXPECT_EQ(order.size(), 16u);
  EXPECT_EQ(ring.Take().GetReportType(), rt_None);
}

}  // namespace
}  // namespace orb
