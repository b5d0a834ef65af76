#include "protocol/QM_Commands.h"

#include <array>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr std::array<int, kIntervalCount> kIntervalMs = {1,   2,   5,    10,   20,   50,    100,
                                                         200, 500, 1000, 2000, 5000, 10000, 20000};
constexpr std::array<std::string_view, kIntervalCount> kIntervalTexts = {
    "1ms",   "2ms",   "5ms", "10ms", "20ms", "50ms", "100ms",
    "200ms", "500ms", "1s",  "2s",   "5s",   "10s",  "20s"};

constexpr std::string_view kUnknownText = "Ignore unknown command";
constexpr std::string_view kInvalidText = "Ignore invalid command";
constexpr std::string_view kEspNotSupportedText = "ORC2: Command not supported";

uint8_t Byte(std::string_view bytes, size_t index) { return static_cast<uint8_t>(bytes[index]); }

// Why a rule refused a command, or kAccept.
enum class TVerdict : uint8_t { kAccept, kUnknown, kInvalid, kEspNotSupported, kRawNotSupported };

struct TRule {
  TVerdict Verdict = TVerdict::kAccept;
  int MinFirmware = 0;
};

TRule Length(std::string_view command, size_t length, int minFirmware = 0) {
  return {command.size() == length ? TVerdict::kAccept : TVerdict::kInvalid, minFirmware};
}

TRule LengthRange(std::string_view command, size_t low, size_t high, int minFirmware = 0) {
  const bool ok = command.size() >= low && command.size() <= high;
  return {ok ? TVerdict::kAccept : TVerdict::kInvalid, minFirmware};
}

TRule OnlyIf(bool condition, TRule rule) { return condition ? rule : TRule{TVerdict::kUnknown}; }

bool InMemoryRanges(uint32_t address) {
  return address < 0x80000 || (address >= 0x20000000 && address <= 0x2000FFFF) ||
         (address >= 0x30000000 && address <= 0x3007FFFF);
}

// Lowest interval index a serial link carries for this many channels.
int SerialMinimumIndex(int channels, TQM_PeerType peer) {
  if (channels <= 0 || channels > 25) channels = 25;
  if (peer == ptESP) return channels <= 5 ? 0 : channels <= 11 ? 1 : 2;
  return channels <= 6 ? 2 : channels <= 14 ? 3 : 4;
}

TRule SingleByteRule(const TCommandTarget& target, std::string_view command) {
  const uint8_t code = Byte(command, 0) & 0x7F;
  const uint32_t hf = target.HardFeature;
  const bool esp = target.PeerType == ptESP;
  const bool ord = IsORDModel(hf);
  if (code == 0x00 || code == 0x01 || code == 0x0A || code == 0x0F) return Length(command, 1);
  if (code == 0x02 || code == 0x05) {
    return esp ? TRule{TVerdict::kEspNotSupported} : Length(command, 1);
  }
  if (code == 0x03) {
    if (esp) return {TVerdict::kEspNotSupported};
    const bool ok = command.size() == 2 && Byte(command, 1) >= 1 && Byte(command, 1) <= 4;
    return {ok ? TVerdict::kAccept : TVerdict::kInvalid};
  }
  if (code == 0x08 || code == 0x09 || (code >= 0x0B && code <= 0x0D)) {
    return OnlyIf(ord, Length(command, 1));
  }
  if (code == 0x0E) return OnlyIf(ord || esp, Length(command, 1));
  if (code == 0x10) {
    size_t required = (hf & kHardFeatureLtvOrS) != 0 ? 4 : ord ? 1 : 0;
    if (hf == 0 && (target.DevType == QM_BinFile || target.DevType == QM_TxtFile)) required = 4;
    return OnlyIf(required != 0, Length(command, required));
  }
  if (code >= 0x11 && code <= 0x14) {
    return OnlyIf((hf & kHardFeatureLtvOrS) != 0 || ord, Length(command, 1));
  }
  if ((code >= 0x15 && code <= 0x1F) || code == 0x47) return OnlyIf(ord, Length(command, 1));
  if ((code >= 0x20 && code <= 0x2D) || (code >= 0x30 && code <= 0x3B) ||
      (code >= 0x40 && code <= 0x45) || (code >= 0x50 && code <= 0x5F)) {
    return Length(command, 1);
  }
  if (code == 0x3F) {
    const bool ok = command.size() == 2 && Byte(command, 1) >= 12 && Byte(command, 1) <= 23;
    return {ok ? TVerdict::kAccept : TVerdict::kInvalid};
  }
  if (code == 0x46) {
    return target.RawDataOption ? Length(command, 1) : TRule{TVerdict::kRawNotSupported};
  }
  if (code == 0x60) return OnlyIf(esp, Length(command, 5, 114));
  return {TVerdict::kUnknown};
}

TRule ExtendedRule(const TCommandTarget& target, std::string_view command) {
  if (command.size() < 2) return {TVerdict::kInvalid};
  const size_t length = command.size();
  const auto address = [&] { return LoadBE32(reinterpret_cast<const uint8_t*>(&command[2])); };
  const auto byte2In = [&](uint8_t low, uint8_t high) {
    return Byte(command, 2) >= low && Byte(command, 2) <= high;
  };
  const uint8_t sub = Byte(command, 1);
  switch (sub) {
    case 0x10:
    case 0x11:
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
    case 0x30:
    case 0x32:
    case 0x38:
    case 0x50:
    case 0x51:
    case 0x52:
    case 0x60:
      return Length(command, 2);
    case 0x12:
    case 0x3A:
    case 0x3B:
    case 0x3C:
    case 0x3D:
      return Length(command, 10);
    case 0x20:
      return {length >= 7 && length <= 127 && InMemoryRanges(address()) ? TVerdict::kAccept
                                                                        : TVerdict::kInvalid};
    case 0x21:
      return Length(command, 14, 19);
    case 0x22:
      return LengthRange(command, 3, 127, 19);
    case 0x23: {
      if (target.PeerType == ptESP) return {TVerdict::kEspNotSupported};
      if (length < 7 || length > 127) return {TVerdict::kInvalid};
      const uint32_t at = address();
      const bool ok = at > 2047 ? at >= 0x7E000 && at <= 0x7EFFF
                                : (target.HardFeature & kHardFeatureFlash) != 0;
      return {ok ? TVerdict::kAccept : TVerdict::kInvalid, 62};
    }
    case 0x25:
      if (length < 3) return {TVerdict::kInvalid};
      switch (Byte(command, 2)) {
        case 'b':
          return Length(command, 132);
        case 'i':
          return Length(command, 8);
        case 's':
          return LengthRange(command, 6, 44);
        default:
          return {TVerdict::kInvalid};
      }
    case 0x39:
      return Length(command, 6);
    case 0x3E:
      return LengthRange(command, 10, 127);
    case 0x40:
      return {length == 7 && InMemoryRanges(address()) ? TVerdict::kAccept : TVerdict::kInvalid};
    case 0x41:
      return Length(command, 2, 19);
    case 0x42:
      return {length == 3 && Byte(command, 2) == 1 ? TVerdict::kAccept : TVerdict::kInvalid,
              target.PeerType == ptColdfire ? 45 : 101};
    case 0x43:
      return Length(command, 7, 62);
    case 0x44:
      return Length(command, 3, 73);
    case 0x45:
      return Length(command, 4);
    case 0x48:
      return {length == 11 && byte2In(1, 10) ? TVerdict::kAccept : TVerdict::kInvalid};
    case 0x49:
      return {length == 3 && byte2In(1, 10) ? TVerdict::kAccept : TVerdict::kInvalid};
    case 0x72:
    case 0x80:
      return Length(command, 3);
    case 0x73: {
      if (length != 6) return {TVerdict::kInvalid};
      const uint32_t at = address();
      return {at >= 0x30000000 && at <= 0x3007FFFF ? TVerdict::kAccept : TVerdict::kInvalid};
    }
    default:
      return {TVerdict::kInvalid};
  }
}

TQM_Result Ignore(std::string& command, std::string text, int logId, std::string_view debugTag,
                  std::string_view logPrefix) {
  command = std::move(text);
  if (LogActive(logId))
    LogErrorText(logId, std::string(debugTag) + std::string(logPrefix) + command);
  return QM_CmdIgnored;
}

}  // namespace

int IntervalIndexToMs(int index) {
  return index >= 0 && index < kIntervalCount ? kIntervalMs[static_cast<size_t>(index)] : 0;
}

std::string_view IntervalIndexToText(int index) {
  return index >= 0 && index < kIntervalCount ? kIntervalTexts[static_cast<size_t>(index)]
                                              : std::string_view();
}

TQM_Result GateCommand(const TCommandTarget& target, std::string& command, int logId,
                       std::string_view debugTag) {
  const auto log = [&](std::string_view text) {
    if (LogActive(logId)) LogDebug(logId, std::string(debugTag) + std::string(text));
  };
  if (!target.PortOpen) {
    return Ignore(command, "No connection, Command ignored: " + BytesToHex(command), logId,
                  debugTag, ".SendCommand ");
  }
  if (target.CmdLimit != 0 && target.PendingCmds > target.CmdLimit) {
    return Ignore(command, "Command FiFo full, Command ignored: " + BytesToHex(command), logId,
                  debugTag, ".SendCommand ");
  }
  std::string_view refusal = kUnknownText;
  TRule rule{TVerdict::kUnknown};
  if (!command.empty() && Byte(command, 0) != 0x85) {
    if (target.PeerType == ptESP && Byte(command, 0) > 0x80) {
      log(".SendCommand ORC2: omit MSB from " + BytesToHex(command));
      command[0] = static_cast<char>(Byte(command, 0) & 0x7F);
    }
    rule = SingleByteRule(target, command);
    const int index = Byte(command, 0) & 0x0F;
    const int code = Byte(command, 0) & 0x7F;
    if (rule.Verdict == TVerdict::kAccept && target.DevType == QM_Serial && code >= 0x20 &&
        code <= 0x2D) {
      const int minimum = SerialMinimumIndex(target.ChannelCount, target.PeerType);
      log(".SendCommand: serial min rate=" + IntToHex(static_cast<uint64_t>(minimum), 2) +
          " cmd=" + BytesToHex(command));
      if (index < minimum) {
        return Ignore(command,
                      "Command ignored: serial connection limited to " +
                          std::string(IntervalIndexToText(minimum)),
                      logId, debugTag, ".SendCommand failed: ");
      }
    }
  } else if (!command.empty()) {
    if (target.PeerType == ptColdfire && target.DevType == QM_Serial) {
      refusal = "Serial connection: Command not supported";
    } else {
      refusal = kInvalidText;
      rule = ExtendedRule(target, command);
    }
  }
  switch (rule.Verdict) {
    case TVerdict::kAccept:
      if (rule.MinFirmware != 0 && target.FirmwareVersion != 0 &&
          target.FirmwareVersion < rule.MinFirmware) {
        std::string text = "Command not supported, Firmware < ";
        AppendIntText(text, rule.MinFirmware);
        return Ignore(command, text + ": " + BytesToHex(command), logId, debugTag,
                      ".SendCommand failed: ");
      }
      return QM_No_Err;
    case TVerdict::kInvalid:
      refusal = kInvalidText;
      break;
    case TVerdict::kEspNotSupported:
      refusal = kEspNotSupportedText;
      log(".SendCommand ORC2: Command not supported");
      break;
    case TVerdict::kRawNotSupported:
      refusal = "Mode raw data not supported";
      log(".SendCommand: Mode raw data not supported");
      break;
    case TVerdict::kUnknown:
      break;
  }
  return Ignore(command, std::string(refusal) + ": " + BytesToHex(command), logId, debugTag,
                ".SendCommand failed: ");
}

bool Is7020Cmd(std::string_view command) {
  if (command.size() != 1) return false;
  const uint8_t code = Byte(command, 0) & 0x7F;
  return code == 0x0A || (code >= 0x20 && code <= 0x2F) || (code >= 0x40 && code <= 0x5F);
}

bool IsChannelCmd(std::string_view command) {
  if (command.size() == 1) {
    const uint8_t code = Byte(command, 0) & 0x7F;
    return code >= 0x30 && code <= 0x3B;
  }
  return command.size() == 2 && (Byte(command, 0) & 0x7F) == 0x3F;
}

bool IsReadNVSCmd(std::string_view command) {
  return command.size() >= 2 && Byte(command, 0) == 0x85 && command[1] == 'E';
}

TCmdResponseType ResponseForCommand(std::string_view command, uint32_t reportHeader) {
  if (IsChannelCmd(command)) return crt_channel;
  if (IsReadNVSCmd(command)) return crt_ReadNVS;
  if (!Is7020Cmd(command)) return crt_none;
  const uint8_t code = Byte(command, 0) & 0x7F;
  if (code == 0x0A) return crt_phaseReset;
  if (code < 0x30) return crt_interval;
  if (code < 0x50) return crt_mode;
  if (reportHeader < 0xFFFF && (reportHeader & 0x30) == 0x30) return crt_none;
  return crt_scrambler;
}

int PauseAfterCommandMs(std::string_view command) {
  if (command.empty()) return 0;
  const uint8_t first = Byte(command, 0);
  if (first == 0x02 || first == 0x03) return 20;
  if (first != 0x85 || command.size() < 2) return 0;
  if (command[1] == '#' || command[1] == 'C') return 20;
  return command[1] == '%' ? 30 : 0;
}

// ---- Interpreter --------------------------------------------------------------

bool TQM_CommandInterpreter::Refuse(std::string_view text, std::string_view command) {
  FErrorCode = QM_CmdIgnored;
  FErrorMessage = std::string(text) + BytesToHex(command);
  return false;
}

bool TQM_CommandInterpreter::CheckCommand(std::string_view command) {
  FErrorCode = QM_No_Err;
  FErrorMessage.clear();
  if (command.empty()) {
    FErrorCode = QM_CmdIgnored;
    FErrorMessage = "command missing";
    LogDebug(FLogId, "TQM_CommandInterpreter.CheckCommand: no command");
    return false;
  }
  const bool known = command.size() == 1 ? CheckSingleByte(command) : CheckLonger(command);
  if (!known && FErrorCode == QM_No_Err) return Refuse("Unknown command ", command);
  return known;
}

bool TQM_CommandInterpreter::CheckSingleByte(std::string_view command) {
  uint8_t byte = Byte(command, 0);
  if ((byte & 0x80) != 0 && byte != 0x85) {
    FClearBuffer = true;
    byte &= 0x7F;
  }
  const int group = byte & 0x70;
  const int low = byte & 0x0F;
  switch (group) {
    case 0x40:
      if (low > 6) return false;
      FMode = static_cast<uint8_t>(low);
      FModeCmd = true;
      return true;
    case 0x50:
      if (low != 0 && low != 0x0E && low != 0x0F) {
        return Refuse("Unsupported scrambler command ", command);
      }
      FScrambler = low == 0 ? 0 : low == 0x0E ? 1 : 2;
      FScramblerCmd = true;
      return true;
    case 0x60:
    case 0x70:
    case 0x10:
      return true;
    case 0x30:
      if (low > 11) return false;
      FChannelCount = low == 0 ? kMaxChannels : low;
      FChannelCountCmd = true;
      return true;
    case 0x20:
      if (low >= kIntervalCount) return false;
      FRate = static_cast<uint8_t>(low);
      FInterval = IntervalIndexToMs(low);
      FIntervalCmd = true;
      return true;
    default:  // 0x00..0x0F
      switch (low) {
        case 0x00:
        case 0x05:
          return true;
        case 0x01:
          return FVersionCmd = true;
        case 0x02:
          return FGetCalibCmd = true;
        case 0x0A:
          return FResetPhaseDiffCmd = true;
        case 0x0F:
          return FReSyncCmd = true;
        default:
          return false;
      }
  }
}

bool TQM_CommandInterpreter::CheckLonger(std::string_view command) {
  const uint8_t first = Byte(command, 0);
  if (first == 0x03 && command.size() == 2 && Byte(command, 1) >= 1 && Byte(command, 1) <= 4) {
    FOHRBlock = Byte(command, 1);
    return FGetOHRCmd = true;
  }
  if (first == 0x10 && command.size() == 4) {
    FDAC = static_cast<int>((uint32_t{Byte(command, 1)} << 16) | (uint32_t{Byte(command, 2)} << 8) |
                            Byte(command, 3));
    return FSetDACCmd = true;
  }
  if (first == 0x3F && command.size() == 2 && Byte(command, 1) >= 12 && Byte(command, 1) <= 23) {
    FChannelCount = Byte(command, 1);
    return FChannelCountCmd = true;
  }
  if (first != 0x85) return false;
  constexpr uint32_t kStorageStart = 0x7E000;
  constexpr size_t kBlock = 128;
  // A whole block, or the 96 bytes of a calibration write at the start.
  if (command[1] == '#' && command.size() > 6 && command.size() <= 6 + kBlock) {
    const uint32_t address = LoadBE32(reinterpret_cast<const uint8_t*>(&command[2]));
    if (address >= kStorageStart && address <= kStorageStart + 0x200) {
      FFRAMAdr = static_cast<uint16_t>(address - kStorageStart);
      FFRAMContent.assign(command.substr(6));
      return FWriteFRAMCmd = true;
    }
  }
  return Refuse("Unsupported command ", command);
}

}  // namespace orb
