#pragma once
// Commands to the counters: the acceptance rules a source applies before a
// command goes anywhere, the classification that drives the pacing of the
// link, the interval tables, and the interpreter of the single-byte
// vocabulary for devices that carry out commands themselves.
// Pure functions on the command bytes and a snapshot of the target.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/QM_CommonTypes.h"

namespace orb {

// Interval index 0..13 of the interval commands: 1 ms .. 20 s.
constexpr int kIntervalCount = 14;
int IntervalIndexToMs(int index);                 // 0 outside 0..13
std::string_view IntervalIndexToText(int index);  // "1ms" .. "20s", empty outside

// Hard-feature bits the rules test.
constexpr uint32_t kHardFeatureLtvOrS = 0x0004;  // bit 2
constexpr uint32_t kHardFeatureFlash = 0x4000;   // bit 14
constexpr bool IsORDModel(uint32_t hardFeature) { return (hardFeature & 0x2001) == 0x2001; }

// What the gate needs to know about the source and its counter.
struct TCommandTarget {
  bool PortOpen = true;
  int CmdLimit = 0;  // 0 = no limit
  int PendingCmds = 0;
  TQM_DeviceType DevType = QM_HID;
  TQM_PeerType PeerType = ptColdfire;
  uint32_t HardFeature = 0;  // the 16-bit word
  int ChannelCount = 0;      // 0 = unknown
  int FirmwareVersion = 0;   // 0 = unknown
  bool RawDataOption = false;
};

// The source's acceptance rules. On QM_No_Err `command` holds the bytes to
// send (an ESP peer gets bit 7 of the first byte removed); on QM_CmdIgnored
// it holds the reason. Log lines begin with `debugTag`.
TQM_Result GateCommand(const TCommandTarget& target, std::string& command, int logId,
                       std::string_view debugTag);

// Classification for the pacing rules (bit 7 of a single byte is ignored).
bool Is7020Cmd(std::string_view command);
bool IsChannelCmd(std::string_view command);
bool IsReadNVSCmd(std::string_view command);

// The answer an ESP counter sends for the command; crt_none when none is
// awaited. A scrambler command awaits nothing when the current report header
// is known (not 0xFFFF) and has bits 4 and 5 set.
TCmdResponseType ResponseForCommand(std::string_view command, uint32_t reportHeader);
// The pause before the next command after this one was written: 20 ms after
// FRAM and flash writes, 30 ms after non-volatile writes, else 0.
int PauseAfterCommandMs(std::string_view command);

// Decodes the single-byte vocabulary for the simulator. Flags clear when read.
class TQM_CommandInterpreter {
 public:
  explicit TQM_CommandInterpreter(int logId) : FLogId(logId) {}

  bool CheckCommand(std::string_view command);

  TQM_Result ErrorCode() const { return FErrorCode; }
  const std::string& ErrorMessage() const { return FErrorMessage; }
  int ChannelCount() const { return FChannelCount; }
  int DAC() const { return FDAC; }
  uint8_t Mode() const { return FMode; }
  uint8_t Rate() const { return FRate; }
  int Interval() const { return FInterval; }
  uint8_t Scrambler() const { return FScrambler; }
  uint8_t OHRBlock() const { return FOHRBlock; }
  uint16_t FRAMAdr() const { return FFRAMAdr; }
  const std::string& FRAMContent() const { return FFRAMContent; }

  bool ChannelCountCmd() { return Take(FChannelCountCmd); }
  bool ClearBuffer() { return Take(FClearBuffer); }
  bool GetCalibCmd() { return Take(FGetCalibCmd); }
  bool GetOHRCmd() { return Take(FGetOHRCmd); }
  bool IntervalCmd() { return Take(FIntervalCmd); }
  bool ModeCmd() { return Take(FModeCmd); }
  bool ResetPhaseDiffCmd() { return Take(FResetPhaseDiffCmd); }
  bool ReSyncCmd() { return Take(FReSyncCmd); }
  bool ScramblerCmd() { return Take(FScramblerCmd); }
  bool SetDACCmd() { return Take(FSetDACCmd); }
  bool VersionCmd() { return Take(FVersionCmd); }
  bool WriteFRAMCmd() { return Take(FWriteFRAMCmd); }

 private:
  static bool Take(bool& flag) {
    const bool value = flag;
    flag = false;
    return value;
  }
  bool CheckSingleByte(std::string_view command);
  bool CheckLonger(std::string_view command);
  bool Refuse(std::string_view text, std::string_view command);

  TQM_Result FErrorCode = QM_No_Err;
  std::string FErrorMessage;
  int FLogId;
  int FChannelCount = 0;
  int FDAC = 0;
  uint8_t FMode = 0;
  uint8_t FRate = 0;
  int FInterval = 0;
  uint8_t FScrambler = 0;
  bool FChannelCountCmd = false;
  bool FClearBuffer = false;
  bool FGetCalibCmd = false;
  uint8_t FOHRBlock = 0;
  uint16_t FFRAMAdr = 0;
  std::string FFRAMContent;
  bool FGetOHRCmd = false;
  bool FIntervalCmd = false;
  bool FModeCmd = false;
  bool FResetPhaseDiffCmd = false;
  bool FReSyncCmd = false;
  bool FScramblerCmd = false;
  bool FSetDACCmd = false;
  bool FVersionCmd = false;
  bool FWriteFRAMCmd = false;
};

}  // namespace orb
