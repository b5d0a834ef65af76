#include "app/FileDecode.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "protocol/BinaryFixtures.h"
#include "protocol/QM_ESPBlock.h"
#include "protocol/QM_Framing.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

struct TDecoded {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

TDecoded Decode(const std::filesystem::path& path, bool text = false) {
  std::ostringstream out;
  std::ostringstream err;
  TDecodeOptions options;
  options.Text = text;
  options.StallCalls = 1000;
  TDecoded decoded;
  decoded.Exit = RunDecode(path.string(), options, out, err);
  decoded.Out = out.str();
  decoded.Err = err.str();
  return decoded;
}

class FileDecodeTest : public ::testing::Test {
 protected:
  test::TTempFolder folder;
};

TEST_F(FileDecodeTest, TextRecordingAsRecordsAndAsLines) {
  const auto path = folder / "20260101_000000_0_QM_ReportData.txt";
  test::WriteFile(path,
                  "7015; 12\r\n"
                  "0910;   1.500000;   2.250000\r\n"
                  "7015; 13\r\n"
                  "0910;   1.750000;   2.000000");
  const TDecoded records = Decode(path);
  EXPECT_EQ(records.Exit, 0) << records.Err;
  EXPECT_NE(records.Err.find("4 reports, 0 errors, "), std::string::npos) << records.Err;
  const TDecoded lines = Decode(path, true);
  EXPECT_EQ(lines.Exit, 0);
  EXPECT_EQ(lines.Out,
            "7015; 12\n0910;   1.500000;   2.250000\n7015; 13\n0910;   1.750000;   2.000000\n");
}

TEST_F(FileDecodeTest, FilesThatCannotBeOpenedExitWith2) {
  EXPECT_EQ(Decode(folder / "missing.bin").Exit, 2);
  test::WriteFile(folder / "x_QM_RawData.bin", "abc");
  const TDecoded raw = Decode(folder / "x_QM_RawData.bin");
  EXPECT_EQ(raw.Exit, 2);
  EXPECT_NE(raw.Err.find("Raw-data recordings cannot be replayed"), std::string::npos);
  test::WriteFile(folder / "rec.bin LOOP_FOR_EVER", "abc");
  EXPECT_EQ(Decode(folder / "rec.bin LOOP_FOR_EVER").Exit, 2);  // would never end
}

// Whatever a file holds, decoding ends at its end.
TEST_F(FileDecodeTest, SurvivesAnyFile) {
  std::mt19937 random(7);
  const auto bytes = [&](size_t count) {
    std::string text(count, '\0');
    for (char& c : text) c = static_cast<char>(random());
    return text;
  };
  const std::pair<std::string, std::string> files[] = {
      {"empty.bin", ""},
      {"empty_QM_ReportData.txt", ""},
      {"random.bin", bytes(300'000)},
      {"random_QM_ReportData.txt", bytes(300'000)},
      {"long_QM_ReportData.txt", std::string(200'000, '7') + "\r\n0910;1\r\n"},
      {"numbers_QM_ReportData.txt",
       "0910;1e999;-1e999;nan\r\n0000;99999999999999999999999.5\r\n7015;4294967296\r\n"
       "7016;-1\r\nFFFF;x\r\n7900;" +
           std::string(5000, ';') + "\r\n"},
  };
  for (const auto& [name, content] : files) {
    SCOPED_TRACE(name);
    test::WriteFile(folder / name, content);
    for (const bool text : {false, true}) {
      const TDecoded decoded = Decode(folder / name, text);
      EXPECT_EQ(decoded.Exit, 0) << decoded.Err;
      EXPECT_NE(decoded.Err.find(" reports, "), std::string::npos) << decoded.Err;
    }
  }
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Recordings of the three binary stream kinds, made with the program's own
// encoders: each is recognised from its first bytes and replayed whole.
class BinaryRecordingTest : public ::testing::Test {
 protected:
  // A ColdFire time stamp and a 2-channel phase report at 1 s.
  static std::vector<std::string> ColdfireReports(int count) {
    std::vector<std::string> reports;
    for (int n = 0; n < count; ++n) {
      reports.push_back(test::Header(0x7015) + test::Bytes({0, 0, 0, static_cast<uint8_t>(n)}));
      std::string data = test::Header(0x0910);
      for (int channel = 0; channel < 2; ++channel) {
        data += test::ValueRecord(8, test::MantissaFor(0.25 * (n + channel), 8));
      }
      reports.push_back(data);
    }
    return reports;
  }

  TDecoded DecodeFile(const std::string& name, const std::string& content) {
    test::WriteFile(folder / name, content);
    return Decode(folder / name);
  }

  test::TTempFolder folder;
};

TEST_F(BinaryRecordingTest, EspUsbAndSerialRecordingsReplayWhole) {
  std::string esp;
  for (int n = 0; n < 20; ++n) {
    const std::vector<double> values{1.5 + n, 2.5 + n};
    esp += ESPEncodeBlock(ESPMeasurementBlock(0x03, static_cast<uint16_t>(9 + 10 * n), values));
  }
  std::string usb;
  std::string serial;
  uint8_t end = 0xBF;
  for (const std::string& report : ColdfireReports(20)) {
    ASSERT_TRUE(EncodeUSBFrame(report, usb));
    ASSERT_TRUE(EncodeSerialFrame(report, end, serial));
    end = end == 0xBF ? 0xBD : 0xBF;
  }
  const std::pair<std::string, std::string> recordings[] = {
      {"esp.bin", esp}, {"usb.bin", usb}, {"serial.bin", serial}};
  for (const auto& [name, content] : recordings) {
    SCOPED_TRACE(name);
    const TDecoded decoded = DecodeFile(name, content);
    EXPECT_EQ(decoded.Exit, 0);
    EXPECT_NE(decoded.Err.find(" 0 errors"), std::string::npos) << decoded.Err << decoded.Out;
    EXPECT_EQ(std::count(decoded.Out.begin(), decoded.Out.end(), '\n'), name == "esp.bin" ? 20 : 40)
        << decoded.Err << decoded.Out;
  }
}

}  // namespace
}  // namespace orb
