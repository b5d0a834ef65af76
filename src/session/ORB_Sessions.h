#pragma once
// The counter session: a source of the source list reached by its number,
// the counter and LTV stores that its reports fill, and the device state
// those reports carry. A counter with LTV channels gets a copy session that
// shows the LTV part under the same index; it shares the parent's stores.
//
// Threads: OpenDevice, CloseDevice, HandleDeviceRequest and the copy's
// creation run on the main thread; GetReport on the report thread. When a
// report result asks for a reopen or a close, the report thread only records
// the request and stops polling; the main thread carries it out in
// HandleDeviceRequest, so a device is only ever opened and closed on one
// thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/LTV_DataManagement.h"
#include "data/ORC_DataManagement.h"
#include "platform/Clock.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_Report.h"
#include "session/App_Sessions.h"
#include "session/ORB_SamplerLink.h"
#include "session/ORB_SessionKeys.h"
#include "sources/QM_SourceList.h"

namespace orb {

class IDataSampler;
class TMainSyncQueue;

// What a counter session needs from the program around it; all outlive it.
struct TSessionServices {
  TSourceList* Sources = nullptr;
  TMainSyncQueue* Queue = nullptr;
  IDataSampler* Sampler = nullptr;  // the multi-sampler
  const TLogOptionsSnapshot* Options = nullptr;
  // Professional mode: sessions with report records take them as records.
  bool Professional = false;
  // "Now" for the device's start time, and the start-up waits' time-outs.
  const IClock* Clock = &SystemClock();
};

// What the report thread left for the main thread.
enum class TDeviceRequest { None, Reopen, Close };

class TQMSessionItem final : public TSessionItem {
 public:
  static constexpr int kNoHeaderYet = 0x10000;
  static constexpr uint8_t kNoUserId = 255;

  // Allocates the session's source in the source list.
  TQMSessionItem(const TSessionServices& services, int aLogId, TOnSessionMsg aOnMsg,
                 TOnSessionUpdate aOnUpdate, int aIndex);
  ~TQMSessionItem() override;

  // The LTV copy of `parent`: same index, the parent's stores and connection.
  static std::unique_ptr<TQMSessionItem> CopyLTVPart(TQMSessionItem& parent);

  TDataManagement* DataManagement() const override;
  TORC_DataManagement& ORC_DM() const { return *FORC_DM; }
  TLTV_DataManagement& LTV_DM() const { return *FLTV_DM; }
  int MultiId() const { return FMultiId; }
  TQMSessionItem* LinkedSession() const { return FLinkedSession; }
  // The session's and its stores' way to the multi-sampler.
  TSamplerLink& SamplerLink() const { return *FSamplerLink; }
  // What a log file states of this session (ORB_SamplerLink.cpp); only the
  // thread that owns the session.
  TLogSourceInfo LogSourceInfo() const;
  int64_t DeviceMs() const { return FDeviceMs; }
  // A copy answers with its parent's.
  TDateTime ORCDateTime() const;
  // Read-and-clear.
  bool DeviceInterruptedError() { return FDeviceInterruptedError.exchange(false); }
  int IntervalIndex() const { return FIntervalIndex; }
  uint8_t Mode() const { return FMode; }
  uint8_t ScramblerIndex() const { return FScrambler; }
  int PPIIndex() const { return FPPI; }
  const std::string& VersionString() const { return FVersionString; }
  bool IsESP() const { return FisESP; }
  bool ORConly() const { return FORConly; }
  bool LTVonly() const { return FLTVonly; }
  uint16_t HardFeature() const { return FHardFeature; }
  bool HasORC() const;
  bool HasLTV() const;
  // Text of the last status report / of the last time stamp ("Sync: ").
  const std::string& BufNo7000() const { return FBufNo7000; }
  const std::string& BufNo7015() const { return FBufNo7015; }
  TDateTime ORCDateTimeStart() const { return FORCDateTimeStart; }
  bool IsModeAverage() const;
  bool IsModeFrequencyEnabled() const;
  bool IsModePhaseEnabled() const;
  bool IsModePhaseDiffEnabled() const;
  bool IsModeRawDataEnabled() const;
  bool IsModeLTVdiffEnabled() const;

  // Remembered across runs (settings).
  void SetDataPortINI(uint16_t port) { FDataPortINI = port; }
  uint16_t DataPortINI() const { return FDataPortINI; }
  void SetUserIdINI(uint8_t id) { FUserIdINI = id; }
  uint8_t UserIdINI() const { return FUserIdINI; }
  void SetReportStruct(bool value) { FReportStruct = value; }
  void SetClearBufferOnStart(bool value) { FClearBufferOnStart = value; }
  // Simulator settings sent when "DemoData" opens.
  void SetDemoSettings(int channels, uint8_t mode, int rate);

  void SetOpenParams(const std::string& aOpenString, int aConnectionType,
                     const std::string& friendly, int32_t aColor) override;
  // The counter keys after the base keys; reading converts older layouts.
  void ReadSettings(TAppSettings& Settings, const std::string& Prefix) override;
  void SaveSettings(TAppSettings& Settings, const std::string& Prefix) override;
  TQM_ChannelData& LTVChannelData() { return FLTVChannelData; }
  TQM_ChannelData& VirtualLTVChannelData() { return FVirtualLTVChannelData; }
  const std::string& VirtualLTVDescription() const { return FvirtualLTVDescription; }
  uint32_t SerialNumberINI() const { return FSerialNumberINI; }
  // The stored start time of the device clock, to be checked once against
  // the device's; NaN when none was stored.
  TDateTime IniDateTime() const { return FiniDateTime; }
  bool ORCtimeCheckNeeded() const { return FORCtimeCheckNeeded; }
  // card 1..8, bit 0..31.
  const std::string& ODISigName(int card, int bit) const;
  // The virtual channel that linear combination n (1, 2) of an older file
  // became; 0 when it was not converted.
  int LinCombChannel(int n) const;
  bool OpenDevice(std::string& error) override;
  void CloseDevice(bool stopServer) override;
  bool GetReport() override;
  void AddError(int code, int subCode, const std::string& text) override;

  // Main thread: carries out a reopen or close the report thread asked for.
  // Returns whether there was one.
  bool HandleDeviceRequest();
  TDeviceRequest PendingDeviceRequest() const { return FDeviceRequest.load(); }

  // ---- Commands and device functions (ORB_SessionCommands.cpp) ----
  // A menu command: the command characters and the menu's caption.
  void SetCommand(const std::string& Cmd, const std::string& CmdText);
  // 1 = sent; a refusal is error 76, an exception error 77 and a close.
  int SendCommand(std::string command);
  // $60, interval and offset as little-endian 16-bit numbers; a negative
  // offset is sent as offset + 20000. Without `use` both are $FFFF.
  static std::string PPICommand(bool use, int intervalMs, int offsetMs);
  // The PPI offset the user entered for this session, in ms.
  void SetPPIOffset(int offsetMs) { FPPIOffset = offsetMs; }
  bool SendPPICommand(bool use);
  // The connection's debug file; `error` tells why it was refused.
  bool Debug(bool Value, std::string& error);
  void DebugFlags(bool Report, bool LowLevel);
  void SetDebugStream(bool Value);
  void SetSaveBinaryData(bool Value);
  void SetSaveReportData(bool Value);
  bool SaveBinaryData() const { return FSaveBinaryData; }
  // The folder of the connection's files; false with `error` set when the
  // connection refuses it.
  bool SetDebugPath(const std::string& Value, std::string& error);
  const std::string& DebugPath() const { return FDebugPath; }
  // A closed session whose connection appears in the attached devices'
  // text opens itself; true when it did.
  bool CheckUsbAttached(const std::string& serialNumberString);
  bool SaveReportData() const { return FSaveReportData; }
  // Returns false when the port is to change while the server runs.
  bool UpdateLocalServer(bool Run, uint16_t Port);
  double GetNomFreq(int kanal) const;
  void SetNomFreq(int kanal, double Value);
  bool UseDeviceCalibration() const { return FUseDeviceCalibration; }
  void SetUseDeviceCalibration(bool Value);
  // Sends the 24 values to the device; true when it took them.
  bool UserChangedDeviceCalibration(const TCalibrationData& data);
  // Brings `Value` into the device's range; false when it cannot be stored.
  bool CheckCalibrationRange(double& Value);
  int CalibFactorFloatToInt();
  void SetCalibFactorFloatToInt(int Value);
  const TOHRSettings& OHRSettings() const { return FOHRSettings; }
  void SetOHRSettings(const TOHRSettings& settings);
  bool RequestConnectedUsers();
  bool ResetDevice();
  const std::array<std::string, 4>& ConnectedUsers() const { return FConnectedUsers; }
  bool Ref20MHz() const { return FRef20MHz; }
  void SetRef20MHz(bool Value);
  uint32_t GetSerialNumber();
  bool SerialNumberOk() const { return FSerialNumberOk; }
  // Exchanges nominal frequencies with the device information of the
  // serial number: the session's when it has any, else the device's.
  void UpdateNominalFrequencies();
  TQM_DeviceStartState DeviceStartState() const { return FDeviceStartState; }

 private:
  struct TCopyTag {};
  TQMSessionItem(TCopyTag, TQMSessionItem& parent);

  // The closed device's last steps: the sampler, the request, the update.
  void Closed();
  // The report paths: text reports, or records in professional mode.
  bool GetTextReport();
  bool GetRecordReport();
  // The reaction to a result of the source that is not a report.
  void ActOnResult(TMultiCode code, const std::string& text);
  void FileEnded(const std::string& text);
  void RequestDevice(TDeviceRequest request, int code, const std::string& text);
  // Routes the stores' events to this session's messages and queue records.
  void ConnectStores();
  // One attempt; `text` is the open string in and the error out.
  bool TryOpen(std::string& text);
  void SendOpenCommands();
  // The report just taken, as text in FMultiBufferReport or as a record.
  void ThreadEvent_Report();
  void ThreadEvent_Report(const TQM_ReportStruct& record);

  // Report evaluation (ORB_SessionReports.cpp). `line` is the whole text
  // report, `text` the part after the header; `record` is set on the record
  // path and carries the values.
  void EvaluateReport(uint32_t header, std::string_view line, std::string_view text,
                      const TQM_ReportStruct* record);
  // False while a start-up wait holds the report back.
  bool PassStartUpWaits(uint16_t header, std::string_view text);
  void CheckExpectedHeader(uint16_t header);
  void CheckOHRWait();
  void CountOverflow(uint32_t header);
  void ComputeStartTime();
  void CheckStartTimePlausibility();
  void ActOnHeader(uint16_t header, std::string_view line, std::string_view text,
                   const TQM_ReportStruct* record);
  void TakeTimestamp(uint16_t header, std::string_view text);
  void TakeData(uint16_t header, std::string_view line, const TQM_ReportStruct* record);
  void CountThroughput();
  void SetDataHeader(uint16_t value, bool announce, bool from7020);
  void SpecialReport(uint16_t header, std::string_view line, std::string_view text);
  void TakeVersion(std::string_view line, std::string_view text);
  void ApplyHardFeatures(uint16_t features);
  void Queue(TSyncWhat what, int code, int value = 0);
  bool IsRawMode() const { return FMode == 6 || FMode == 7; }
  void ReadDeviceCalibration();
  void TakeCalibrationReport(std::string_view line);
  void ApplyCalibration(const TCalibrationData& data);
  void TakeOHRReport(std::string_view line);
  void TakeConnectedUsers(std::string_view text);
  void SetDeviceTime(int64_t deviceMs);
  bool IsDemo() const { return FOpenString == "DemoData"; }

  // The session's own and the copy's sampler links are stale.
  void MarkSamplerInfoStale();

  const TSessionServices FServices;
  // Outlives the stores' use of it: the destructor takes it from them first.
  std::unique_ptr<TSamplerLink> FSamplerLink;
  int FMultiId = -1;
  // Shared with the copy, so neither outlives the other's use of them.
  std::shared_ptr<TORC_DataManagement> FORC_DM;
  std::shared_ptr<TLTV_DataManagement> FLTV_DM;
  TQMSessionItem* FLinkedSession = nullptr;

  std::string FMultiBufferReport;  // reused for every report
  TQM_ReportStruct FReportRecord;
  int64_t FDeviceMs = -1;
  TDateTime FORCDateTime{};
  TDateTime FORCDateTimeStart{std::numeric_limits<double>::quiet_NaN()};
  int FHeader = kNoHeaderYet;
  int FOldHeader = kNoHeaderYet;
  int FIntervalIndex = -1;
  uint8_t FMode = 255;
  uint8_t FScrambler = 255;
  char FDecSep = ',';
  uint16_t FDataPortINI = 0;
  uint8_t FUserIdINI = kNoUserId;
  bool FReportStruct = false;
  bool FClearBufferOnStart = false;
  bool FisESP = false;
  bool PhaDiffReset = false;
  std::string FVersionString;
  bool FReferenceClockError = false;
  std::atomic<bool> FDeviceInterruptedError{false};
  int FDemoChannels = 4;
  uint8_t FDemoMode = 1;
  int FDemoRate = 9;
  int FOpenCommandIndex = 0;

  // Start-up waits, ended by the report evaluation.
  bool FWaitBufferCleared = false;
  bool FWaitExpectedHeader = false;
  bool FWaitOHRData = false;
  bool FWait7F51 = false;
  bool FWaitRawTimestamp = false;
  std::optional<TQMHeader> FExpectedHeader;
  std::vector<std::string> FAddedOpenCommands;
  int64_t FWaitOHRTicks = 0;  // monotonic ms of the last OHR request
  int FWaitOHRCount = 0;
  // A time stamp held back by a wait, passed on before the next data.
  uint16_t FignoredTimestampHeader = 0;
  std::string FignoredTimestamp;

  // Commands and device functions.
  int FPPIOffset = 0;
  std::string FDebugPath;
  bool FDebugLog = false;
  bool FDebugStream = false;
  bool FSaveBinaryData = false;
  bool FSaveReportData = false;
  bool FRunLocalTcpServer = false;
  uint16_t FLocalTcpServerPort = 0;
  bool FUseDeviceCalibration = true;
  bool FLTVCalibrationSet = false;
  int FCalibrationsApplied = 0;
  int FCalibFactorFloatToInt = -1;  // -1: not read yet
  TOHRSettings FOHRSettings;
  bool FOHRSettingsSet = false;
  int FOHRChanges = 0;
  bool FRef20MHz = false;
  bool FSerialNumberOk = false;
  TQM_DeviceStartState FDeviceStartState = ds_unknown;
  std::array<std::string, 4> FConnectedUsers;
  TSourceCodecState FRecordText;  // message records as text

  // The device state the reports carry.
  std::optional<TQMHeader> FDataHeader;
  int FPPI = 0;
  std::string FPPItext;
  std::string FScramblerText;
  bool FRawAvg = false;
  int FRawIntervalIndex = -1;
  bool FhasPPI = false;
  bool FPPIcmdSent = false;
  bool FisRTC = false;
  uint16_t FHardFeature = 0;
  bool FORConly = false;
  bool FLTVonly = false;
  bool FPLLError = false;
  int FPLLokCount = 0;
  bool FReportDataDuringReferenceClockError = true;
  int FOverflowCounter = 0;
  double FRemainTime = 0;  // s
  std::string FBufNo7000;
  std::string FBufNo7015;
  bool FORCtimeCheckNeeded = false;
  TDateTime FiniDateTime{std::numeric_limits<double>::quiet_NaN()};
  std::string FORCtimeText;  // reused for every data report
  // Throughput: data reports since FZMStart (monotonic ms), and the sums of
  // the finished blocks of 10,000.
  int FZMCount = 0;
  int64_t FZMStart = -1;
  int FZMSum = 0;
  int64_t FZMSumTime = 0;

  std::atomic<TDeviceRequest> FDeviceRequest{TDeviceRequest::None};
  std::mutex FRequestLock;  // guards FRequestText
  std::string FRequestText;

  // Kept in the settings (ORB_SessionSettings.cpp).
  TQM_ChannelData FLTVChannelData{ckLTV};
  TQM_ChannelData FVirtualLTVChannelData{ckVirtualLTV};
  std::string FvirtualLTVDescription;
  uint32_t FSerialNumberINI = 0xFFFFFFFF;
  bool FDemoODI = true;
  bool FDemoLTV = true;
  TODISigNames FODISigNames = DefaultODISigNames();
  std::array<int, 2> FLinCombChannels{};
  void ReadODISigNames(TSessionKeyReader& reader);
  // Files before version 6: the two linear combinations become virtual
  // channels.
  void ConvertLinearCombinations(TSessionKeyReader& reader);
};

}  // namespace orb
