#include "protocol/QM_Commands.h"

#include <gtest/gtest.h>

#include <string>

namespace orb {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int value : values) bytes += static_cast<char>(value);
  return bytes;
}

TCommandTarget ColdFire(uint32_t hardFeature = 1, int firmware = 0) {
  TCommandTarget target;
  target.PeerType = ptColdfire;
  target.HardFeature = hardFeature;
  target.FirmwareVersion = firmware;
  return target;
}

TCommandTarget Esp(int firmware = 0) {
  TCommandTarget target;
  target.PeerType = ptESP;
  target.FirmwareVersion = firmware;
  return target;
}

TCommandTarget Serial(TQM_PeerType peer, int channels) {
  TCommandTarget target;
  target.DevType = QM_Serial;
  target.PeerType = peer;
  target.ChannelCount = channels;
  return target;
}

struct GateCase {
  const char* Name;
  TCommandTarget Target;
  std::string Command;
  TQM_Result Result;
  std::string After;  // the sent bytes, or the refusal text
};

class GateTest : public ::testing::TestWithParam<GateCase> {};

TEST_P(GateTest, AcceptsOrRefusesWithTheExactText) {
  const GateCase& c = GetParam();
  std::string command = c.Command;
  EXPECT_EQ(GateCommand(c.Target, command, -1, "TSourceItem[0]"), c.Result);
  EXPECT_EQ(command, c.After);
}

TCommandTarget WithLimit(int limit, int pending) {
  TCommandTarget target = ColdFire();
  target.CmdLimit = limit;
  target.PendingCmds = pending;
  return target;
}

TCommandTarget Closed() {
  TCommandTarget target = ColdFire();
  target.PortOpen = false;
  return target;
}

TCommandTarget File(TQM_DeviceType type) {
  TCommandTarget target = ColdFire(0);
  target.DevType = type;
  return target;
}

TCommandTarget Raw() {
  TCommandTarget target = ColdFire();
  target.RawDataOption = true;
  return target;
}

const std::string kCalib = std::string("\x85%b", 3) + std::string(129, '\0');

INSTANTIATE_TEST_SUITE_P(
    Commands, GateTest,
    ::testing::Values(
        // Link state and queue limit (a limit of N lets N + 1 in).
        GateCase{"closed", Closed(), "\x01", QM_CmdIgnored, "No connection, Command ignored: 01"},
        GateCase{"limit_2_pending_2", WithLimit(2, 2), "\x01", QM_No_Err, "\x01"},
        GateCase{"limit_2_pending_3", WithLimit(2, 3), "\x01", QM_CmdIgnored,
                 "Command FiFo full, Command ignored: 01"},
        // ESP peers: bit 7 stripped, ColdFire-only commands refused.
        GateCase{"esp_strips_msb", Esp(), Bytes({0xC1}), QM_No_Err, "\x41"},
        GateCase{"esp_keeps_0x80", Esp(), Bytes({0x80}), QM_No_Err, Bytes({0x80})},
        GateCase{"esp_calibration", Esp(), "\x02", QM_CmdIgnored,
                 "ORC2: Command not supported: 02"},
        GateCase{"esp_flash_write", Esp(), Bytes({0x85, '#', 0, 7, 0xE0, 0, 1}), QM_CmdIgnored,
                 "ORC2: Command not supported: 85230007E00001"},
        GateCase{"coldfire_keeps_msb", ColdFire(), Bytes({0xC1}), QM_No_Err, Bytes({0xC1})},
        // Lengths, arguments and models.
        GateCase{"version_too_long", ColdFire(), "\x01\x01", QM_CmdIgnored,
                 "Ignore invalid command: 0101"},
        GateCase{"ohr_block_4", ColdFire(), "\x03\x04", QM_No_Err, "\x03\x04"},
        GateCase{"ohr_block_5", ColdFire(), "\x03\x05", QM_CmdIgnored,
                 "Ignore invalid command: 0305"},
        GateCase{"ord_only_refused", ColdFire(1), "\x08", QM_CmdIgnored,
                 "Ignore unknown command: 08"},
        GateCase{"ord_only_accepted", ColdFire(0x2001), "\x08", QM_No_Err, "\x08"},
        GateCase{"0x0E_esp", Esp(), "\x0E", QM_No_Err, "\x0E"},
        GateCase{"dac_bit2_len4", ColdFire(5), Bytes({0x10, 1, 2, 3}), QM_No_Err,
                 Bytes({0x10, 1, 2, 3})},
        GateCase{"dac_bit2_len1", ColdFire(5), "\x10", QM_CmdIgnored, "Ignore invalid command: 10"},
        GateCase{"dac_ord_len1", ColdFire(0x2001), "\x10", QM_No_Err, "\x10"},
        GateCase{"dac_plain_orc", ColdFire(1), "\x10", QM_CmdIgnored, "Ignore unknown command: 10"},
        GateCase{"dac_binfile_unknown_hf", File(QM_BinFile), Bytes({0x10, 0, 0, 1}), QM_No_Err,
                 Bytes({0x10, 0, 0, 1})},
        GateCase{"interval_2E_unknown", ColdFire(), "\x2E", QM_CmdIgnored,
                 "Ignore unknown command: 2E"},
        GateCase{"channels_3C_unknown", ColdFire(), "\x3C", QM_CmdIgnored,
                 "Ignore unknown command: 3C"},
        GateCase{"channels_3F_12", ColdFire(), "\x3F\x0C", QM_No_Err, "\x3F\x0C"},
        GateCase{"channels_3F_24", ColdFire(), "\x3F\x18", QM_CmdIgnored,
                 "Ignore invalid command: 3F18"},
        GateCase{"raw_mode_without_option", ColdFire(), "\x46", QM_CmdIgnored,
                 "Mode raw data not supported: 46"},
        GateCase{"raw_mode_with_option", Raw(), "\x46", QM_No_Err, "\x46"},
        GateCase{"esp_service_fw_113", Esp(113), Bytes({0x60, 1, 2, 3, 4}), QM_CmdIgnored,
                 "Command not supported, Firmware < 114: 6001020304"},
        GateCase{"esp_service_coldfire", ColdFire(), Bytes({0x60, 1, 2, 3, 4}), QM_CmdIgnored,
                 "Ignore unknown command: 6001020304"},
        GateCase{"empty", ColdFire(), "", QM_CmdIgnored, "Ignore unknown command: "},
        // Serial-link minima at the table edges; channel count 0 counts as 25.
        GateCase{"serial_cf_8ch_5ms", Serial(ptColdfire, 8), "\x22", QM_CmdIgnored,
                 "Command ignored: serial connection limited to 10ms"},
        GateCase{"serial_cf_8ch_10ms", Serial(ptColdfire, 8), "\x23", QM_No_Err, "\x23"},
        GateCase{"serial_cf_6ch_5ms", Serial(ptColdfire, 6), "\x22", QM_No_Err, "\x22"},
        GateCase{"serial_cf_15ch_10ms", Serial(ptColdfire, 15), "\x23", QM_CmdIgnored,
                 "Command ignored: serial connection limited to 20ms"},
        GateCase{"serial_cf_unknown_ch", Serial(ptColdfire, 0), "\x23", QM_CmdIgnored,
                 "Command ignored: serial connection limited to 20ms"},
        GateCase{"serial_esp_6ch_2ms", Serial(ptESP, 6), "\x21", QM_No_Err, "\x21"},
        GateCase{"serial_esp_6ch_1ms", Serial(ptESP, 6), "\x20", QM_CmdIgnored,
                 "Command ignored: serial connection limited to 2ms"},
        GateCase{"serial_esp_5ch_1ms", Serial(ptESP, 5), "\x20", QM_No_Err, "\x20"},
        GateCase{"serial_esp_12ch_2ms", Serial(ptESP, 12), "\xA1", QM_CmdIgnored,
                 "Command ignored: serial connection limited to 5ms"},
        GateCase{"serial_cf_extended", Serial(ptColdfire, 4), Bytes({0x85, 'B', 1}), QM_CmdIgnored,
                 "Serial connection: Command not supported: 854201"},
        // Extended commands: lengths, address ranges, firmware minima.
        GateCase{"users_fw_44", ColdFire(1, 44), Bytes({0x85, 'B', 1}), QM_CmdIgnored,
                 "Command not supported, Firmware < 45: 854201"},
        GateCase{"users_fw_unknown", ColdFire(1, 0), Bytes({0x85, 'B', 1}), QM_No_Err,
                 Bytes({0x85, 'B', 1})},
        GateCase{"users_esp_fw_100", Esp(100), Bytes({0x85, 'B', 1}), QM_CmdIgnored,
                 "Command not supported, Firmware < 101: 854201"},
        GateCase{"users_bad_arg", ColdFire(), Bytes({0x85, 'B', 2}), QM_CmdIgnored,
                 "Ignore invalid command: 854202"},
        GateCase{"extended_alone", ColdFire(), Bytes({0x85}), QM_CmdIgnored,
                 "Ignore invalid command: 85"},
        GateCase{"extended_unknown_sub", ColdFire(), Bytes({0x85, 0x99}), QM_CmdIgnored,
                 "Ignore invalid command: 8599"},
        GateCase{"mem_read_in_range", ColdFire(), Bytes({0x85, 0x40, 0x20, 0, 0xFF, 0xFF, 128}),
                 QM_No_Err, Bytes({0x85, 0x40, 0x20, 0, 0xFF, 0xFF, 128})},
        GateCase{"mem_read_out_of_range", ColdFire(), Bytes({0x85, 0x40, 0, 8, 0, 0, 128}),
                 QM_CmdIgnored, "Ignore invalid command: 85400008000080"},
        GateCase{"flash_low_needs_bit14", ColdFire(1, 62), Bytes({0x85, '#', 0, 0, 0, 16, 1}),
                 QM_CmdIgnored,
                 "Ignore invalid command: 852300000010"
                 "01"},
        GateCase{"flash_low_with_bit14", ColdFire(0x4001, 62), Bytes({0x85, '#', 0, 0, 0, 16, 1}),
                 QM_No_Err, Bytes({0x85, '#', 0, 0, 0, 16, 1})},
        GateCase{"flash_fw_61", ColdFire(1, 61), Bytes({0x85, '#', 0, 7, 0xE0, 0, 1}),
                 QM_CmdIgnored,
                 "Command not supported, Firmware < 62: 852300"
                 "07E00001"},
        GateCase{"flash_outside_window", ColdFire(1, 62), Bytes({0x85, '#', 0, 7, 0xF0, 0, 1}),
                 QM_CmdIgnored,
                 "Ignore invalid command: 852300"
                 "07F00001"},
        GateCase{"nvs_block_len132", Esp(), kCalib, QM_No_Err, kCalib},
        GateCase{"nvs_kind_x", Esp(), Bytes({0x85, '%', 'x', 0}), QM_CmdIgnored,
                 "Ignore invalid command: 85257800"},
        GateCase{"sram_range", ColdFire(), Bytes({0x85, 's', 0x30, 7, 0xFF, 0xFF}), QM_No_Err,
                 Bytes({0x85, 's', 0x30, 7, 0xFF, 0xFF})},
        GateCase{"sram_out_of_range", ColdFire(), Bytes({0x85, 's', 0x30, 8, 0, 0}), QM_CmdIgnored,
                 "Ignore invalid command: 857330080000"}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(CommandClassification, DrivesTheAwaitedAnswerAndThePause) {
  EXPECT_TRUE(Is7020Cmd("\x4A"));
  EXPECT_FALSE(Is7020Cmd("\x3A"));
  EXPECT_TRUE(IsChannelCmd("\x3A"));
  EXPECT_FALSE(Is7020Cmd(Bytes({0x4A, 0x00})));
  EXPECT_TRUE(IsChannelCmd(Bytes({0xBF, 12})));
  EXPECT_TRUE(IsReadNVSCmd(Bytes({0x85, 'E', 'b', 1})));

  EXPECT_EQ(ResponseForCommand("\x0A", 0xFFFF), crt_phaseReset);
  EXPECT_EQ(ResponseForCommand(Bytes({0xA3}), 0xFFFF), crt_interval);
  EXPECT_EQ(ResponseForCommand("\x41", 0xFFFF), crt_mode);
  EXPECT_EQ(ResponseForCommand("\x5E", 0xFFFF), crt_scrambler);
  EXPECT_EQ(ResponseForCommand("\x5E", 0x0230), crt_none);  // scrambler bits already set
  EXPECT_EQ(ResponseForCommand("\x5E", 0x0210), crt_scrambler);
  EXPECT_EQ(ResponseForCommand("\x31", 0xFFFF), crt_channel);
  EXPECT_EQ(ResponseForCommand(Bytes({0x85, 'E', 'i', 3}), 0xFFFF), crt_ReadNVS);
  EXPECT_EQ(ResponseForCommand("\x01", 0xFFFF), crt_none);

  EXPECT_EQ(PauseAfterCommandMs(Bytes({0x85, '#', 0, 7, 0xE0, 0})), 20);
  EXPECT_EQ(PauseAfterCommandMs(Bytes({0x85, 'C', 0, 0, 0, 0, 128})), 20);
  EXPECT_EQ(PauseAfterCommandMs("\x02"), 20);
  EXPECT_EQ(PauseAfterCommandMs("\x03\x01"), 20);
  EXPECT_EQ(PauseAfterCommandMs(Bytes({0x85, '%', 'i'})), 30);
  EXPECT_EQ(PauseAfterCommandMs("\x23"), 0);
  EXPECT_EQ(PauseAfterCommandMs(""), 0);
}

TEST(CommandInterpreter, DecodesTheSingleByteVocabulary) {
  TQM_CommandInterpreter interpreter(-1);
  EXPECT_TRUE(interpreter.CheckCommand("\x30"));
  EXPECT_EQ(interpreter.ChannelCount(), 24);
  EXPECT_TRUE(interpreter.ChannelCountCmd());
  EXPECT_FALSE(interpreter.ChannelCountCmd());  // a flag clears when read

  EXPECT_TRUE(interpreter.CheckCommand("\x3B"));
  EXPECT_EQ(interpreter.ChannelCount(), 11);

  EXPECT_TRUE(interpreter.CheckCommand(Bytes({0xC2})));
  EXPECT_EQ(interpreter.Mode(), 2);
  EXPECT_TRUE(interpreter.ModeCmd());
  EXPECT_TRUE(interpreter.ClearBuffer());

  EXPECT_TRUE(interpreter.CheckCommand("\x23"));
  EXPECT_EQ(interpreter.Rate(), 3);
  EXPECT_EQ(interpreter.Interval(), 10);
  EXPECT_TRUE(interpreter.IntervalCmd());

  EXPECT_TRUE(interpreter.CheckCommand("\x5E"));
  EXPECT_EQ(interpreter.Scrambler(), 1);

  EXPECT_TRUE(interpreter.CheckCommand(Bytes({0x10, 0x12, 0x34, 0x56})));
  EXPECT_EQ(interpreter.DAC(), 0x123456);
  EXPECT_TRUE(interpreter.CheckCommand("\x3F\x10"));
  EXPECT_EQ(interpreter.ChannelCount(), 16);
  EXPECT_TRUE(interpreter.CheckCommand("\x01"));
  EXPECT_TRUE(interpreter.VersionCmd());
  EXPECT_EQ(interpreter.ErrorCode(), QM_No_Err);
}

TEST(CommandInterpreter, RefusesWithCodeAndText) {
  TQM_CommandInterpreter interpreter(-1);
  const struct {
    std::string Command;
    std::string Message;
  } cases[] = {
      {"\x3C", "Unknown command 3C"},
      {"\x2E", "Unknown command 2E"},
      {"\x47", "Unknown command 47"},
      {"\x03", "Unknown command 03"},
      {"\x53", "Unsupported scrambler command 53"},
      {Bytes({0x85, 'E', 'b'}), "Unsupported command 854562"},
      {"", "command missing"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(interpreter.CheckCommand(c.Command)) << c.Message;
    EXPECT_EQ(interpreter.ErrorCode(), QM_CmdIgnored);
    EXPECT_EQ(interpreter.ErrorMessage(), c.Message);
  }
}

TEST(CommandInterpreter, TakesStorageWritesInsideTheWindow) {
  TQM_CommandInterpreter interpreter(-1);
  std::string write = Bytes({0x85, '#', 0, 7, 0xE0, 0x80}) + std::string(128, '\x5A');
  EXPECT_TRUE(interpreter.CheckCommand(write));
  EXPECT_TRUE(interpreter.WriteFRAMCmd());
  EXPECT_EQ(interpreter.FRAMAdr(), 0x80);
  EXPECT_EQ(interpreter.FRAMContent(), std::string(128, '\x5A'));

  const std::string calibration = Bytes({0x85, '#', 0, 7, 0xE0, 0}) + std::string(96, '\x11');
  EXPECT_TRUE(interpreter.CheckCommand(calibration));
  EXPECT_TRUE(interpreter.WriteFRAMCmd());
  EXPECT_EQ(interpreter.FRAMContent(), std::string(96, '\x11'));

  EXPECT_FALSE(interpreter.CheckCommand(write + "x"));  // longer than a block
  write[4] = static_cast<char>(0xE3);  // 0x7E380: beyond the window
  EXPECT_FALSE(interpreter.CheckCommand(write));
  EXPECT_EQ(interpreter.ErrorMessage().substr(0, 20), "Unsupported command ");
}

TEST(CommandIntervals, IndexToMsAndText) {
  EXPECT_EQ(IntervalIndexToMs(0), 1);
  EXPECT_EQ(IntervalIndexToMs(13), 20000);
  EXPECT_EQ(IntervalIndexToMs(14), 0);
  EXPECT_EQ(IntervalIndexToText(9), "1s");
  EXPECT_EQ(IntervalIndexToText(-1), "");
}

}  // namespace
}  // namespace orb
