#include "devices/QM_FileDevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/QM_DemoDecoder.h"
#include "devices/QM_FileDecoders.h"
#include "protocol/ByteOrder.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using test::TTempFolder;

// A report of the simulator's stream format: marker, header, count, values.
std::string DemoData(uint16_t header, double value) {
  std::string bytes = "\xFB\xFB\xFB\xFB";
  bytes += static_cast<char>(header >> 8);
  bytes += static_cast<char>(header & 0xFF);
  bytes += '\x01';
  uint8_t raw[8];
  StoreLE(raw, value);
  bytes.append(reinterpret_cast<const char*>(raw), 8);
  return bytes;
}

class FileDeviceTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = (folder / name).string();
    test::WriteFile(path, content);
    return path;
  }

  // Every text line until the device reports an error.
  std::vector<std::string> TextLines(TQM_FileDeviceItem& file, TQM_Result& end,
                                     std::string& message) {
    TQM_ReportDevice report(file, codec, std::make_unique<TQM_FileTextDecoder>(file));
    std::vector<std::string> lines;
    std::string line;
    for (int guard = 0; guard < 1'000'000; ++guard) {
      line.clear();
      end = report.GetReport(line);
      if (end != QM_No_Err) break;
      lines.push_back(line);
    }
    message = line;
    return lines;
  }

  TTempFolder folder;
  TFakeClock clock;
  TSourceCodecState codec;
};

TEST_F(FileDeviceTest, TypeFromTheNameAndOneSerialNumberAfterTheOther) {
  struct Case {
    std::string Name;
    TQM_DeviceType Type;
  };
  const Case cases[] = {{"20240101_120000_3_QM_ReportData.txt", QM_TxtFile},
                        {"x_QM_RawData.bin", QM_RawFile},
                        {"rec.bin", QM_BinFile},
                        {"notes.txt", QM_BinFile}};
  for (const Case& c : cases) EXPECT_EQ(TQM_FileDeviceItem::DeviceTypeOfName(c.Name), c.Type);

  const std::string path = Write("rec.bin", "x");
  TQM_FileDeviceItem first(-1, path, false, 0, clock);
  TQM_FileDeviceItem second(-1, path, false, 0, clock);
  EXPECT_EQ(second.SerialNumberValue(), first.SerialNumberValue() + 1);
  EXPECT_EQ(first.SerialNumberValue() & 0xFF000000u, 0x11000000u);
}

TEST_F(FileDeviceTest, FilesThatCannotBeReplayedAreRefusedAtOpen) {
  std::string message;
  TQM_FileDeviceItem missing(-1, (folder / "gone.bin").string(), false, 0, clock);
  EXPECT_EQ(missing.OpenPort(message), QM_DeviceNotFound);
  EXPECT_NE(message.find("gone.bin"), std::string::npos);

  TQM_FileDeviceItem raw(-1, Write("a_QM_RawData.bin", "abc"), false, 0, clock);
  EXPECT_EQ(raw.OpenPort(message), QM_Err_BadFormat);
  EXPECT_EQ(message, "Raw-data recordings cannot be replayed: ");

  const std::string empty = Write("empty.bin", "");
  TQM_FileDeviceItem nothing(-1, empty, false, 0, clock);
  EXPECT_EQ(nothing.OpenPort(message), QM_Err_EndOfFile);
  EXPECT_EQ(message, "File " + empty + " EOF reached");
}

// A text recording larger than two receive buffers: a line ends with its CR
// exactly at the end of the first fill, long lines cross refills, and the
// last line has no line end. Every line arrives whole, then the end.
TEST_F(FileDeviceTest, TextLinesSurviveRefillsAndHaveNoLengthLimitBelowTheCap) {
  std::vector<std::string> expected;
  std::string content;
  const auto add = [&](const std::string& line) {
    expected.push_back(line);
    content += line + "\r\n";
  };
  const size_t fill = TCircularBuffer::kCapacity;
  while (content.size() < fill - 200) add("7015;" + std::to_string(expected.size()));
  add(std::string(fill - 1 - content.size(), 'a'));  // its CR is the last byte of the fill
  ASSERT_EQ(content[fill - 1], '\r');
  ASSERT_EQ(content[fill], '\n');
  add(std::string(5000, 'b'));
  while (content.size() < 2 * fill + 100'000) add("0910;1;" + std::to_string(expected.size()));
  expected.push_back("last line without end");
  content += expected.back();

  const std::string path = Write("t_QM_ReportData.txt", content);
  TQM_FileDeviceItem file(-1, path, false, 0, clock);
  std::string message;
  ASSERT_EQ(file.OpenPort(message), QM_No_Err) << message;
  TQM_Result end = QM_No_Err;
  const std::vector<std::string> lines = TextLines(file, end, message);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) ASSERT_EQ(lines[i], expected[i]) << "line " << i;
  EXPECT_EQ(end, QM_Err_EndOfFile);
  EXPECT_EQ(message, "File " + path + " EOF reached");
  EXPECT_TRUE(file.TimestampReceived());
}

TEST_F(FileDeviceTest, OverlongRunsAreCutAndLoopedFilesStartAgain) {
  const std::string path = Write(
      "t_QM_ReportData.txt", std::string(TQM_FileDeviceItem::kMaxTextLine + 10, 'x') + "\n1\n2");
  TQM_FileDeviceItem file(-1, path, true, 0, clock);
  std::string message;
  ASSERT_EQ(file.OpenPort(message), QM_No_Err);
  std::string line;
  std::vector<size_t> lengths;
  for (int n = 0; n < 8; ++n) {
    ASSERT_TRUE(file.ReadTextLine(line));
    lengths.push_back(line.size());
  }
  const size_t cap = TQM_FileDeviceItem::kMaxTextLine;
  // The "2" without line end does not run into the next round's first line.
  EXPECT_EQ(lengths, (std::vector<size_t>{cap, 10, 1, 1, cap, 10, 1, 1}));
  EXPECT_EQ(file.ErrorCode(), QM_No_Err);
}

TEST_F(FileDeviceTest, PauseHoldsBackNonBlockingReadsUntilItRunsOut) {
  const std::string path = Write("t_QM_ReportData.txt", "1\r\n2\r\n");
  TQM_FileDeviceItem file(-1, path, false, 0, clock);
  std::string message;
  ASSERT_EQ(file.OpenPort(message), QM_No_Err);
  std::string line;
  ASSERT_TRUE(file.ReadTextLine(line));
  file.SetWaitMs(100);
  EXPECT_FALSE(file.ReadTextLine(line));
  clock.Advance(99);
  EXPECT_FALSE(file.ReadTextLine(line));
  clock.Advance(1);
  ASSERT_TRUE(file.ReadTextLine(line));
  EXPECT_EQ(line, "2");
  EXPECT_EQ(file.DeviceWrite("\x01"), QM_No_Err);  // commands are ignored
}

// A recording in the simulator's format: the first kind tried does not know
// it and eats bytes while trying; the rewind lets the second kind start from
// the first byte, so the first record delivered is the first in the file.
TEST_F(FileDeviceTest, DetectionRewindsBetweenKindsAndKeepsTheOneThatWorks) {
  class TByteEater final : public TQM_ReportDecoder {
   public:
    std::string_view Name() const override { return "Eater"; }
    TQM_Result GetReport(TQM_ReportDevice&, std::string&) override { return QM_No_Err; }
    void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct&) override {
      std::string eaten;
      device.Device().DeviceRead(5, eaten);
    }
  };
  test::TFakeReportHost host;
  const auto kinds = [&] {
    return std::vector<TFileStreamKind>{
        {"eater", ptESP, [] { return std::make_unique<TByteEater>(); }},
        {"demo", ptColdfire, [&] { return std::make_unique<TQM_DemoDecoder>(host); }},
        {"fallback", ptColdfire, [] { return std::make_unique<TByteEater>(); }}};
  };
  const std::string path = Write("rec.bin", DemoData(0x0910, 1.5) + DemoData(0x0910, 2.5));
  TQM_FileDeviceItem file(-1, path, false, 0, clock);
  std::string message;
  ASSERT_EQ(file.OpenPort(message), QM_No_Err);
  TQM_ReportDevice report(file, codec, std::make_unique<TQM_FileDetectDecoder>(file, kinds()));
  TQM_ReportStruct record;
  report.GetReportStruct(record);
  EXPECT_EQ(report.Decoder()->Name(), "Demo");
  EXPECT_EQ(file.PeerType(), ptColdfire);
  ASSERT_EQ(record.GetReportType(), rt_Double);
  EXPECT_DOUBLE_EQ(record.GetDoubles()[0], 1.5);
  record.Clear();
  report.GetReportStruct(record);
  EXPECT_DOUBLE_EQ(record.GetDoubles()[0], 2.5);

  const std::string garbage = Write("garbage.bin", std::string(64, '\x55'));
  TQM_FileDeviceItem other(-1, garbage, false, 0, clock);
  ASSERT_EQ(other.OpenPort(message), QM_No_Err);
  TQM_ReportDevice otherReport(other, codec,
                               std::make_unique<TQM_FileDetectDecoder>(other, kinds()));
  otherReport.GetReportStruct(record);
  EXPECT_EQ(otherReport.Decoder()->Name(), "Eater");  // the last kind takes over untested
}

}  // namespace
}  // namespace orb
