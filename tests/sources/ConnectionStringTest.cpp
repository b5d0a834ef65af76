#include <gtest/gtest.h>

#include "FakeConnectionEnvironment.h"
#include "protocol/QM_TextUtils.h"
#include "sources/QM_ConnectionString.h"

namespace orb {
namespace {

class ConnectionStringTest : public ::testing::Test {
 protected:
  ConnectionStringTest() {
    machine.Files = {"/data/rec.bin", "/data/odd:name.txt", "cancel.txt"};
    machine.LocalDevices = {"/dev/ttyACM0", "/dev/serial/by-id/usb-Q:M-if00"};
    machine.Hosts = {{"counter.lab", {"10.0.0.7"}}, {"twin.lab", {"10.0.0.8", "10.0.0.9"}}};
  }

  TQM_Result Split(std::string_view text) {
    return SplitConnectionString(text, machine, -1, connection);
  }
  TQM_Result Select(std::string_view text) {
    const TQM_Result split = Split(text);
    if (split != QM_No_Err) return split;
    return SelectDevice(connection, machine, -1, target, message);
  }

  test::TFakeConnectionEnvironment machine;
  TConnectionString connection;
  TDeviceTarget target;
  std::string message;
};

TEST_F(ConnectionStringTest, KeywordsPrefixesAndTheLastColon) {
  struct Case {
    std::string Text;
    bool Orc2, Host, Struct, Loop, Wait;
    int UserId;
    std::string Address, Parameter;
  };
  const Case cases[] = {
      {"ORC2:/HOST:/counter.lab:4001 USERID=2 ReportStruct", true, true, true, false, false, 2,
       "counter.lab", "4001"},
      {"  orc2:/192.168.1.5 reportstruct  ", true, false, true, false, false, 255, "192.168.1.5",
       ""},
      {"/dev/ttyACM0:115200", false, false, false, false, false, 255, "/dev/ttyACM0", "115200"},
      {"/data/rec.bin LOOP_FOR_EVER", false, false, false, true, false, 255, "/data/rec.bin", ""},
      {"/data/rec.bin wait_interval Loop_For_Ever", false, false, false, true, true, 255,
       "/data/rec.bin", ""},
      // A path with ":" is all address when the whole names a file.
      {"/data/odd:name.txt", false, false, false, false, false, 255, "/data/odd:name.txt", ""},
      {"USERID=7 10.0.0.1", false, false, false, false, false, 255, "10.0.0.1", ""},
      {"USERID=4 10.0.0.1", false, false, false, false, false, 4, "10.0.0.1", ""},
      {"USERID=99999999999999999999 10.0.0.1", false, false, false, false, false, 255, "10.0.0.1",
       ""},
      {"ARCHIVE:10.0.0.1:4000 20240101_000000;20240102_000000", false, false, false, false, false,
       255, "ARCHIVE:10.0.0.1", "4000 20240101_000000;20240102_000000"},
      {"DemoData", false, false, false, false, false, 255, "DemoData", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    ASSERT_EQ(Split(c.Text), QM_No_Err);
    EXPECT_EQ(connection.FisORC2, c.Orc2);
    EXPECT_EQ(connection.FisHost, c.Host);
    EXPECT_EQ(connection.FReportStruct, c.Struct);
    EXPECT_EQ(connection.FileDataLoopForEver, c.Loop);
    EXPECT_EQ(connection.FileDataWait, c.Wait);
    EXPECT_EQ(connection.FUserId, c.UserId);
    EXPECT_EQ(connection.FAddress, c.Address);
    EXPECT_EQ(connection.FParameter, c.Parameter);
  }
  EXPECT_EQ(Split(":4001"), QM_Err_BadFormat);
  EXPECT_EQ(Split("  :4001"), QM_Err_BadFormat);
}

TEST_F(ConnectionStringTest, DeviceKindsAndTheirParameters) {
  struct Case {
    std::string Text;
    TDeviceKind Kind;
    std::string Address;
    int Port;
  };
  const Case cases[] = {
      {"CAN:RACK3", TDeviceKind::CanRack, "Rack 3/0", 0},
      {"can:rackF channel2 type=0x21", TDeviceKind::CanRack, "Rack F/2", 0},
      {"TCP:10.0.0.1:5000", TDeviceKind::TcpServer, "10.0.0.1", 5000},
      {"ARCHIVE:10.0.0.1:4000 20240101_000000", TDeviceKind::Archive, "10.0.0.1", 4000},
      {"DemoData:anything", TDeviceKind::Simulator, "DemoData", 0},
      {"10.0.0.1", TDeviceKind::Network, "10.0.0.1", 0},
      {"10.0.0.1:4001", TDeviceKind::Network, "10.0.0.1", 4001},
      {"HOST:/counter.lab:4001", TDeviceKind::Network, "10.0.0.7", 4001},
      {"/dev/ttyACM0:9600", TDeviceKind::Local, "/dev/ttyACM0", 0},
      {"/dev/serial/by-id/usb-Q:M-if00", TDeviceKind::Local, "/dev/serial/by-id/usb-Q:M-if00", 0},
      {"/data/rec.bin", TDeviceKind::File, "/data/rec.bin", 0},
      // A file whose name starts like a CAN adapter stays a file.
      {"cancel.txt", TDeviceKind::File, "cancel.txt", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    ASSERT_EQ(Select(c.Text), QM_No_Err) << message;
    EXPECT_EQ(target.Kind, c.Kind);
    EXPECT_EQ(target.Address, c.Address);
    EXPECT_EQ(target.Port, c.Port);
  }

  ASSERT_EQ(Select("CAN:RACKF channel2 type=0x21"), QM_No_Err);
  EXPECT_EQ(target.CanNode, 15);
  EXPECT_EQ(target.CanChannel, 2);
  EXPECT_EQ(target.CanType, 0x21);
  ASSERT_EQ(Select("/dev/ttyACM0:fast"), QM_No_Err);
  EXPECT_EQ(target.Baud, kDefaultBaud);
  ASSERT_EQ(Select("/dev/ttyACM0:9600"), QM_No_Err);
  EXPECT_EQ(target.Baud, 9600);
  ASSERT_EQ(Select("TCP:10.0.0.1:5000"), QM_No_Err);
  EXPECT_EQ(target.Splash, "Connecting to TCP-Server 10.0.0.1:5000. Please wait...");
  ASSERT_EQ(Select("ARCHIVE:10.0.0.1:4000 20240101_000000;20240102_000000"), QM_No_Err);
  EXPECT_EQ(target.Splash, "Connecting to TCP-Archiv 10.0.0.1:4000. Please wait...");
  EXPECT_FALSE(target.ArchiveOpenEnd);
  EXPECT_DOUBLE_EQ(target.ArchiveEnd.Days - target.ArchiveStart.Days, 1.0);
  ASSERT_EQ(Select("ARCHIVE:10.0.0.1:4000 20240101_000000"), QM_No_Err);
  EXPECT_TRUE(target.ArchiveOpenEnd);
  ASSERT_EQ(Select("HOST:/counter.lab"), QM_No_Err);
  EXPECT_EQ(target.Splash, "Connecting to 10.0.0.7. Please wait...");
}

TEST_F(ConnectionStringTest, RefusedStringsSayWhy) {
  struct Case {
    std::string Text;
    TQM_Result Result;
    std::string Message;
  };
  const Case cases[] = {
      {"CANOPEN:1", QM_Err_BadFormat, "Invalid CAN address: "},
      {"CAN:RACK", QM_Err_BadFormat, "Invalid CAN address: "},
      {"CAN:RACK1 CHANNEL4", QM_Err_BadFormat, "Invalid CAN address: "},
      {"CAN:RACK1 TYPE=0x22", QM_Err_BadFormat, "Invalid CAN address: "},
      {"TCP:10.0.0:5000", QM_Err_BadFormat, "Invalid TCP-Server address: "},
      {"TCP:10.0.0.1:65536", QM_Err_BadFormat, "Invalid TCP-Server address: "},
      {"TCP:10.0.0.1", QM_Err_BadFormat, "Invalid TCP-Server address: "},
      {"ARCHIVE:10.0.0.1:4000", QM_Err_BadFormat, "TCP-Archive StartTime missing: "},
      {"ARCHIVE:10.0.0.1:4000 2024", QM_Err_BadFormat, "Invalid TCP-Archive StartTime: "},
      {"ARCHIVE:10.0.0.1:4000 20240101_000000;20241301_000000", QM_Err_BadFormat,
       "Invalid TCP-Archive EndTime: "},
      {"10.0.0.1:port", QM_Err_BadFormat, "Invalid port: "},
      {"HOST:/twin.lab", QM_DeviceNotFound, "Host name not found: twin.lab"},
      {"HOST:/nowhere.lab", QM_DeviceNotFound, "Host name not found: nowhere.lab"},
      {"demodata", QM_DeviceNotFound, "Device not found: demodata"},
      {"/data/missing.bin", QM_DeviceNotFound, "Device not found: /data/missing.bin"},
      {"", QM_DeviceNotFound, "Device not found: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Select(c.Text), c.Result);
    EXPECT_EQ(message, c.Message);
  }
}

TEST(SystemConnectionEnvironment, FilesDevicesAndLocalHost) {
  const TSystemConnectionEnvironment machine;
  EXPECT_TRUE(machine.IsLocalDevice("/dev/null"));
  EXPECT_FALSE(machine.IsLocalDevice("/etc/hostname"));
  EXPECT_FALSE(machine.FileExists("/dev/null"));
  EXPECT_FALSE(machine.FileExists("/no/such/file"));
  EXPECT_EQ(machine.ResolveHost("127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
}

}  // namespace
}  // namespace orb
