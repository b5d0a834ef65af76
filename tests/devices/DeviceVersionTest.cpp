#include "devices/QM_DeviceVersion.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

struct ColdfireCase {
  const char* Text;
  bool HasModel;
  uint16_t HardFeature;
  int Version;
  const char* Date;
  const char* Fpga;
  std::optional<uint32_t> Serial;
  const char* IP;
};

TEST(ColdfireVersion, FieldsByModelAndFirmware) {
  const ColdfireCase cases[] = {
      // Firmware 39: no serial number.
      {"ORC: 39US CF 2010-01-02 / 100101.01 / 0000ABCD / 10.0.0.1 / User1", true, 0x0007, 39,
       "2010-01-02", "100101.01", std::nullopt, ""},
      // 40..49: serial number, no address.
      {"OR40: 45F CF 2015-01-01 / 150101.01 / 0000ABCD / 10.0.0.1 / User1", true, 0x4008, 45,
       "2015-01-01", "150101.01", 0xABCD, ""},
      // 50 and more with more than four parts: the address too.
      {"ORC: 56US CF 2021-03-04 / 7 / 12AB34CD / 192.168.1.5 / User2", true, 0x0007, 56,
       "2021-03-04", "7", 0x12AB34CD, "192.168.1.5"},
      {"ORC: 56US CF 2021-03-04 / 7 / 12AB34CD / 192.168.1.5", true, 0x0007, 56, "2021-03-04", "7",
       0x12AB34CD, ""},
      // The first part from the third on that reads as hex is the serial number.
      {"LTV: 60 CF d / f / zz / 0012 / ip", true, 0x0002, 60, "d", "f", 0x12, "0012"},
      {"ORD: 70 CF x / f / 1", true, 0x2001, 70, "x", "f", 1, ""},
      {"RawORC: 50S CF x", true, 0x0005, 50, "x", "", std::nullopt, ""},
      {"XYZ: 50 CF x", true, 0x8000, 50, "x", "", std::nullopt, ""},
      {"ORC: CF x", true, 0x0001, -1, "x", "", std::nullopt, ""},
      {"just text", false, 0, -1, "", "", std::nullopt, ""},
      {"", false, 0, -1, "", "", std::nullopt, ""},
  };
  for (const ColdfireCase& c : cases) {
    const TColdfireVersion v = ParseColdfireVersion(c.Text);
    EXPECT_EQ(v.Text, c.Text);
    EXPECT_EQ(v.HasModel, c.HasModel) << c.Text;
    EXPECT_EQ(v.HardFeature, c.HardFeature) << c.Text;
    EXPECT_EQ(v.Version, c.Version) << c.Text;
    EXPECT_EQ(v.FirmwareDate, c.Date) << c.Text;
    EXPECT_EQ(v.FPGAVersion, c.Fpga) << c.Text;
    EXPECT_EQ(v.SerialNumber, c.Serial) << c.Text;
    EXPECT_EQ(v.IP, c.IP) << c.Text;
  }
}

TEST(ColdfireVersion, VersionStringOfAMessage) {
  EXPECT_EQ(VersionStringOf("VERSION:ORC: 56 CF x\r\n"), "ORC: 56 CF x");
  EXPECT_EQ(VersionStringOf("VERSION"), "");
  EXPECT_EQ(VersionStringOf("no version"), "");
}

TEST(EspVersion, CompleteText) {
  const TEspVersion v = ParseEspVersion(
      "ORC2 4Ch / 1A2B3C4D 3 / FW: ORC2-1.14 2023-05-01 / HW:230101.0A / IP: 0501A8C0");
  EXPECT_TRUE(v.Valid());
  EXPECT_TRUE(v.Complaints.empty());
  EXPECT_EQ(v.HardFeatureText, "ORC2 4Ch");
  EXPECT_EQ(v.SerialNumber, 0x1A2B3C4Du);
  EXPECT_EQ(v.UserId, 3);
  EXPECT_EQ(v.FirmwareText, "ORC2-1.14 2023-05-01");
  EXPECT_EQ(v.Major, 1);
  EXPECT_EQ(v.Minor, 14);
  EXPECT_EQ(v.Version, 114);
  EXPECT_EQ(v.FirmwareDate, "2023-05-01");
  EXPECT_EQ(v.FPGAVersion, "230101.0A");
  EXPECT_EQ(v.IP, "192.168.1.5");
}

TEST(EspVersion, BadPartsAreSkippedAndValidityNeedsTheMinor) {
  const struct {
    const char* Text;
    bool Valid;
    std::vector<std::string> Complaints;
  } cases[] = {
      {"X / zz 3 / FW: A-2.05 d / HW:h / IP: 1", true, {"invalid SerialNumber=zz 3"}},
      {"X / 12 / FW: A-2.05", true, {"invalid UserID=12"}},
      {"X / 12 3 / FW A-1.2 / HW h / IP: x",
       false,
       {"invalid FW=FW A-1.2", "invalid HW=HW h", "invalid IP=IP: x"}},
      {"X / 12 3 / FW: A-1.", false, {"invalid FW=FW: A-1."}},
      {"X / 12 3 / FW: A1.2", false, {"invalid FW=FW: A1.2"}},
      {"X", false, {}},
  };
  for (const auto& c : cases) {
    const TEspVersion v = ParseEspVersion(c.Text);
    EXPECT_EQ(v.Valid(), c.Valid) << c.Text;
    EXPECT_EQ(v.Complaints, c.Complaints) << c.Text;
  }
}

TEST(VersionText, UserIdAndSerialNumber) {
  EXPECT_EQ(VersionUserId("VERSION ORC: 56 / a / b / User3"), 3);
  EXPECT_EQ(VersionUserId("VERSION ORC: 56 / User"), std::nullopt);
  EXPECT_EQ(VersionUserId("VERSION ORC: 56 / Userx"), std::nullopt);
  EXPECT_EQ(VersionUserId("ORC: 56 / User3"), std::nullopt);
  EXPECT_EQ(VersionSerialNumber("VERSION ORC: 56 / 7 / 00C0FFEE / x"), 0x00C0FFEEu);
  EXPECT_EQ(VersionSerialNumber("VERSION ORC: 56 / 7"), std::nullopt);
}

}  // namespace
}  // namespace orb
