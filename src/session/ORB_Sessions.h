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
#include <string>

#include "data/LTV_DataManagement.h"
#include "data/ORC_DataManagement.h"
#include "session/App_Sessions.h"
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
  int64_t DeviceMs() const { return FDeviceMs; }
  // A copy answers with its parent's.
  TDateTime ORCDateTime() const;
  // Read-and-clear.
  bool DeviceInterruptedError() { return FDeviceInterruptedError.exchange(false); }
  int IntervalIndex() const { return FIntervalIndex; }

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

  // 1 = sent; the refusal's reason in `command` otherwise.
  int SendCommand(std::string command);

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
  // The text report just taken; only data reports are stored so far.
  void ThreadEvent_Report(int64_t deviceMs);
  void ThreadEvent_Report(const TQM_ReportStruct& record);
  void SetDeviceTime(int64_t deviceMs);
  bool IsDemo() const { return FOpenString == "DemoData"; }

  const TSessionServices FServices;
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
  bool FWaitOHRData = false;
  bool FWait7F51 = false;
  bool FWaitRawTimestamp = false;

  std::atomic<TDeviceRequest> FDeviceRequest{TDeviceRequest::None};
  std::mutex FRequestLock;  // guards FRequestText
  std::string FRequestText;

  // Kept in the settings (ORB_SessionSettings.cpp).
  TQM_ChannelData FLTVChannelData{ckLTV};
  TQM_ChannelData FVirtualLTVChannelData{ckVirtualLTV};
  std::string FvirtualLTVDescription;
  bool FDebugStream = false;  // kept until the stream switch exists
  uint32_t FSerialNumberINI = 0xFFFFFFFF;
  bool FDemoODI = true;
  bool FDemoLTV = true;
  TODISigNames FODISigNames = DefaultODISigNames();
  TDateTime FiniDateTime{std::numeric_limits<double>::quiet_NaN()};
  bool FORCtimeCheckNeeded = false;
  bool FRunLocalTcpServer = false;
  uint16_t FLocalTcpServerPort = 0;
  bool FUseDeviceCalibration = true;
  int FRawIntervalIndex = -1;
  bool FRawAvg = false;
  std::array<int, 2> FLinCombChannels{};
  void ReadODISigNames(TSessionKeyReader& reader);
  // Files before version 6: the two linear combinations become virtual
  // channels.
  void ConvertLinearCombinations(TSessionKeyReader& reader);
};

}  // namespace orb
