#include "app/FileDecode.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

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
