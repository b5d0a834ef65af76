#pragma once
// The vocabulary of the device layer: result codes, the decoded report record
// that a source hands to its consumers, the split phase value, the device
// information list and the small enumerations with their display names.
// Plain data and pure operations; nothing here does input or output.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NumberFormat.h"

namespace orb {

// Highest channel count anywhere in the device layer.
constexpr int kMaxChannels = 24;

// The version text of the device layer, as reports and logs show it.
constexpr std::string_view kLibraryVersion = "20.2.6 24-12-04";

// Result code of a device-layer operation; the value is the position.
enum TQM_Result : uint8_t {
  QM_No_Err,
  QM_No_Err_ASCII,
  QM_No_Err_Recovered,
  QM_System_Err,
  QM_Err_BadFormat,
  QM_Err_BadFormatIgnore,
  QM_Err_ReceiveBufferCleared,
  QM_Err_ReceiveBufferOverflow,
  QM_Err_DataTransferInterrupted,
  QM_DLL_internalError,
  QM_CmdIgnored,
  QM_WriteError,
  QM_DeviceNotConnected,
  QM_DeviceNotFound,
  QM_TooManyUser,
  QM_HardwareFault,
  QM_Err_Exception,
  QM_Err_SourceNotFound,
  QM_Err_DeviceResetted,
  QM_CAN_Err,
  QM_Err_EndOfFile,
  QM_FTDI_ConfigError,
  QM_FTDI_LoadError,
  QM_FTDI_ReadError,
  QM_FTDI_VCPError,
  QM_Err_ServerDown,
  QM_RpcCallFailed,
  QM_RpcCallDenied,
  QM_RpcResponseBadFormat,
  QM_ServerNotConnected,
  QM_NetworkNotConnected,
  QM_SocketError,
  QM_Err_CreateServerFailed,
  QM_Err_StartServerFailed,
  QM_Err_StopServerFailed,
  QM_Err_ConnectFailed,
  QM_Err_RequestTimeout,
  QM_Err_RequestDenied,
  QM_Err_RequestFailed,
  QM_Err_ReceiveServerFailed,
  QM_Err_RepeatRequest,
  QM_Err_PingFailed,
  QM_Err_Reconnected,
  QM_Err_Disconnected,
  QM_Err_AlreadyConnected,
  QM_Err_NoWatch,
  QM_Err_WatchErrorMsg,
};
constexpr int kResultCount = 47;

// The identifier of the code; bit 7 is ignored, unknown codes give
// "kein QM_Result".
std::string_view ResultName(uint8_t code);

enum TQM_ReportType : uint8_t { rt_None, rt_Error, rt_Message, rt_Phase, rt_Double, rt_Int32 };
// "None" ... "Int32"; empty for any other value.
std::string_view ReportTypeName(uint8_t type);

// A phase as whole cycles plus the fractional cycle. When the whole part of a
// value does not fit High (NaN, infinities, beyond 2^63) it stays in Low.
struct Phase {
  int64_t High = 0;
  double Low = 0;

  void FromDouble(double x);
  double ToDouble() const { return static_cast<double>(High) + Low; }
  void Clear() { *this = Phase{}; }
  bool IsCleared() const { return High == 0 && Low == 0; }
  // Moves the whole part of Low into High so that Low has the sign of the
  // total: (-1, 0] for a negative total, else [0, 1). Returns false (and
  // changes nothing) when Low is not finite or the whole part cannot move.
  bool Normalize() {
    // Most phases are normalised already: that check is inline, as phases are
    // normalised several times per channel and report.
    const bool negative = static_cast<double>(High) + Low < 0;
    if (negative ? Low < 0 && Low > -1.0 : Low > 0 && Low < 1.0) return true;
    // By value, so that the phase can stay in registers on the common path.
    bool moved = false;
    *this = WithWholeMoved(*this, moved);
    return moved;
  }
  // Reads "[-]digits[.|,digits]"; Low takes the sign of the text. Returns the
  // number of fraction digits, or -1 (phase unchanged) for any other text.
  int FromText(std::string_view text);

  static Phase Add(const Phase& a, const Phase& b) {
    Phase sum{static_cast<int64_t>(static_cast<uint64_t>(a.High) + static_cast<uint64_t>(b.High)),
              a.Low + b.Low};
    sum.Normalize();
    return sum;
  }
  static Phase Sub(const Phase& a, const Phase& b) {
    return Phase{
        static_cast<int64_t>(static_cast<uint64_t>(a.High) - static_cast<uint64_t>(b.High)),
        a.Low - b.Low};
  }
  static Phase DivBy(const Phase& a, double x);
  static Phase MulBy(const Phase& a, double x);
  // High right-aligned in 25 - decimals characters, then the fraction; at
  // most 26 characters.
  static std::string ToFixedText(const Phase& phase, int decimals, const NumberFormat& format);
  static void AppendFixedText(std::string& out, const Phase& phase, int decimals,
                              const NumberFormat& format);

  bool operator==(const Phase&) const = default;

 private:
  // Normalize for a Low that is not yet a fraction of the total's sign:
  // the normalised phase, or `p` itself with `moved` false.
  static Phase WithWholeMoved(Phase p, bool& moved);
};

// "[-]whole<separator>fraction" of the phase with the fraction rounded to
// `decimals` digits; a fraction that rounds to a whole cycle is carried.
void AppendPhaseFixed(std::string& out, const Phase& phase, int decimals,
                      const NumberFormat& format);
std::string PhaseToFixed(const Phase& phase, int decimals, const NumberFormat& format = {});

using TQM_Doubles = std::array<double, kMaxChannels>;
using TQM_Int32 = std::array<uint32_t, 2 * kMaxChannels>;
using TQM_ReportPhases = std::array<Phase, kMaxChannels>;

// The 520-byte block of a decoded report, copied whole between threads and
// across the source interface; little-endian at fixed offsets.
using TQM_ReportStructBase = std::array<uint8_t, 520>;

namespace report_layout {
constexpr size_t kType = 0;
constexpr size_t kDeviceMs = 8;
constexpr size_t kResult = 16;
constexpr size_t kHeader = 18;
constexpr size_t kLength = 20;
constexpr size_t kPayload = 24;
constexpr int kMaxPayload = 496;
static_assert(kDeviceMs % 8 == 0 && kDeviceMs >= kType + 1);
static_assert(kResult == kDeviceMs + 8 && kHeader == kResult + 2);
static_assert(kLength == kHeader + 2 && kPayload == kLength + 4);
static_assert(kPayload + kMaxPayload == std::tuple_size_v<TQM_ReportStructBase>);
}  // namespace report_layout

class TQM_ReportStruct {
 public:
  void Clear();
  // Longer texts become "Error text too long (n)" with QM_Err_BadFormat.
  void SetError(TQM_Result code, std::string_view text);
  void SetMessage(uint16_t header, std::string_view payload);
  void SetDoubles(uint16_t header, int count, const TQM_Doubles& values);
  void SetDoublesRaw(uint16_t header, std::string_view bytes);
  void SetPhases(uint16_t header, int count, const TQM_ReportPhases& phases);
  // `count` counts pairs of values.
  void SetInt32(uint16_t header, int count, const TQM_Int32& values);
  void SetDeviceMs(int64_t ms);
  // Message 0x7016; its value counts tenths of a second.
  void SetTimestamp(uint32_t tenths);

  TQM_ReportType GetReportType() const;
  int64_t GetDeviceMs() const;
  TQM_Result GetErrorCode() const;
  // -1 for rt_None, rt_Error and unknown types.
  int GetHeader() const;
  // The length field, bounded to 0..496.
  int GetLength() const;
  int GetValueCount() const;
  std::string GetPayload() const;
  std::string_view PayloadView() const;
  uint16_t GetWord() const;
  uint32_t GetCardinal() const;
  uint32_t GetTimestamp() const;
  std::string GetErrorText() const;
  // Zero-filled, then as many values as the payload holds and the array takes.
  TQM_Doubles GetDoubles() const;
  TQM_ReportPhases GetPhases() const;
  TQM_Int32 GetInt32() const;

  // The debug text, built on first use.
  const std::string& ToString() const;
  // Each value of an rt_Double record as "%14.3f;".
  std::string DoublesToText() const;

  const TQM_ReportStructBase& GetIntern() const { return FIntern; }
  void SetIntern(const TQM_ReportStructBase& block);

 private:
  void SetValues(TQM_ReportType type, uint16_t header, int length);
  double DoubleAt(int index) const;
  Phase PhaseAt(int index) const;
  uint32_t UInt32At(int index) const;

  TQM_ReportStructBase FIntern{};
  mutable std::string FDbgString;
};

enum TQM_PeerType : uint8_t { ptUnknown, ptColdfire, ptESP };
enum TQM_FPGAType : uint8_t { ft_unknown, ft_Altera, ft_MicroSemi };
enum TCmdResponseType : uint8_t {
  crt_none,
  crt_interval,
  crt_mode,
  crt_scrambler,
  crt_channel,
  crt_phaseReset,
  crt_login,
  crt_ReadNVS,
};
enum TQM_DeviceStartState : uint8_t { ds_unknown, ds_ColdStart, ds_WarmStart };
enum TQM_DeviceType : uint8_t {
  QM_Serial,
  QM_HID,
  QM_CDC,
  QM_Remote,
  QM_BinFile,
  QM_TxtFile,
  QM_RawFile,
  QM_CAN_Rack,
  QM_TCP_Device,
  QM_TCP_Archive,
  QM_Simul,
  QM_FPGAUSB,
  QM_FPGANet,
};
enum TReadModes : uint8_t { rxCommand, rxData };
enum TTryState : uint8_t { tryCleared, tryRunning, tryFinished };

std::string_view PeerTypeName(int type);          // "unknown" for other values
std::string_view FPGATypeName(int type);          // "unknown" for other values
std::string CmdResponseTypeName(int type);        // "unknown <n>" for other values
std::string_view DeviceStartStateName(int type);  // empty for other values
std::string DeviceTypeName(int type);             // the number for other values

// One physical counter that was seen on some connection.
class TQM_DeviceInfo {
 public:
  static constexpr uint32_t kUnknownSerial = 0xFFFFFFFF;

  std::string GetConnectedUser(int n) const;
  void SetConnectedUser(int n, std::string_view user);
  std::string GetConnectedUserU2(int n) const;
  void SetConnectedUserU2(int n, std::string_view user);
  double GetNominalFreq(int channel) const;
  void SetNominalFreq(int channel, double frequency);
  std::string GetNominalFreqString() const;

  std::array<std::string, 4> FConnectedUser{"unknown", "unknown", "unknown", "unknown"};
  std::array<std::string, 4> FConnectedUserU2{"unknown", "unknown", "unknown", "unknown"};
  uint32_t FHardFeature = 0;
  int FIndex = 0;
  std::string FIPAddress;
  TQM_Doubles FNominalFreq{};
  TQM_PeerType FPeerType = ptUnknown;
  uint32_t FSerialNumber = kUnknownSerial;
};

// Device records by serial number. Not locked: the owner of a shared list
// serialises access to it.
class TQM_DeviceInfoList {
 public:
  // Index of the entry for the info's serial number: an existing entry is
  // completed where it has no value yet, else a copy is appended. -1 for an
  // unknown serial number.
  int AddInfo(const TQM_DeviceInfo& info);
  TQM_DeviceInfo* GetInfo(uint32_t serialNumber);
  int Count() const { return static_cast<int>(FItems.size()); }
  TQM_DeviceInfo& operator[](int index) { return *FItems[static_cast<size_t>(index)]; }

 private:
  std::vector<std::unique_ptr<TQM_DeviceInfo>> FItems;
};

struct TDebugSettings {
  bool OwnLogFile = true;
  bool DebugLog = true;
  bool LowLevelLog = true;
  bool ReportLog = true;

  void SetDefault() { *this = TDebugSettings{}; }
  void Clear() { OwnLogFile = DebugLog = LowLevelLog = ReportLog = false; }
  std::string ToText() const;  // four "0"/"1" characters
  // Needs at least four characters, else the record is left unchanged.
  void FromText(std::string_view text);
  bool operator==(const TDebugSettings&) const = default;
};

// A report of the FPGA boards: big-endian length and header, then content.
struct TQM_FpgaReport {
  static constexpr uint16_t kOwnReportBit = 0x8000;  // generated by the program

  uint16_t Len = 0;
  uint16_t Header = 0;
  std::string Content;

  // A short input clears the record; Content holds only the bytes present.
  void FromBytes(std::string_view bytes);
  std::string ToBytes();  // recomputes Len
  std::string ToDebugText() const;
};

struct TOHRSetting {
  double NomFreq = 0;
  double LOFreq = 0;
  long double Factor = 1;
  bool enabled = false;

  void Clear() { *this = TOHRSetting{}; }
  bool operator==(const TOHRSetting& other) const {
    return NomFreq == other.NomFreq && LOFreq == other.LOFreq && enabled == other.enabled;
  }
};

// Settings of the high-resolution channels.
struct TOHRSettings {
  static constexpr size_t kBlockSize = 512;

  std::string ErrorStr;
  std::array<TOHRSetting, kMaxChannels> OHRChannels{};
  int OHRChannelCount = 0;
  NumberFormat FormatSettings;
  bool WriteNeeded = false;

  void Clear();
  std::string ToText() const;
  // False with ErrorStr set when an entry is malformed; entries before it stay.
  bool FromText(std::string_view text);
  void UpdateFactors();
  // Four groups of 128 bytes as the device stores them.
  std::array<uint8_t, kBlockSize> ToDeviceBlock() const;
  bool operator==(const TOHRSettings& other) const { return OHRChannels == other.OHRChannels; }
};

}  // namespace orb
