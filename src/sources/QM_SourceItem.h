#pragma once
// One connected counter as the rest of the program sees it. The source takes
// a connection string apart, has the factory create the device, owns it
// through a report device, keeps its debug logs, saves delivered reports to
// a file and passes commands on. The report pump (QM_SourcePump.cpp) is the
// half the report thread calls.
//
// A source has no thread of its own and no lock: its owner runs one
// operation at a time on it (connect, close and commands on the main
// thread, the pump on the report thread).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "devices/QM_FileDevice.h"
#include "devices/QM_ReportDevice.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Files.h"
#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_Report.h"
#include "sources/QM_ConnectionString.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_ReportArchive.h"

namespace orb {

// Shows a short text while the program waits for a device; the windows
// show a splash, the headless program nothing.
class IBusyNotifier {
 public:
  virtual ~IBusyNotifier() = default;
  virtual void Show(std::string_view text) = 0;
  virtual void Hide() = 0;
};

// Everything a source needs from the program around it.
struct TSourceServices {
  IDeviceFactory* Factory = nullptr;
  const IConnectionEnvironment* Environment = nullptr;
  IClock* Clock = &SystemClock();
  IBusyNotifier* Busy = nullptr;  // may be null
};

class TSourceItem final : public IBinaryReportHost {
 public:
  // `receiveEvent` is handed to every device the source creates; without one
  // the devices use the process-wide "BaseReceiveEvent".
  TSourceItem(int multiId, bool resetEvent, std::shared_ptr<TEvent> receiveEvent,
              const TSourceServices& services);
  ~TSourceItem() override;
  TSourceItem(const TSourceItem&) = delete;
  TSourceItem& operator=(const TSourceItem&) = delete;

  // ---- Connection ---------------------------------------------------------------
  TQM_Result OpenConnectionString(std::string_view text, bool blockingIO, std::string& message);
  void CloseConnection();
  TQM_ReportDevice* ActualDevice() { return FActualDevice.get(); }
  const TConnectionString& Connection() const { return FConnection; }

  // ---- Debug logs and recordings -------------------------------------------------
  // "Invalid path(...): reason" in `message` when no file can be created there.
  bool SetOutputPath(const std::string& path, std::string& message);
  const std::string& OutputPath() const { return FOutputPath; }
  void SetDebugLog(bool on, int id, bool errorOnly);
  void SetDebugLogStream(bool on, int id, bool errorOnly);
  bool StartSaveReportData(int id, std::string& message);
  void StopSaveReportData();
  bool SaveReportData() const { return FReportStream.IsOpen(); }
  const std::filesystem::path& ReportDataFile() const { return FReportFile; }
  bool StartSaveBinaryData(int id, std::string& message);
  void StopSaveBinaryData();

  // ---- Commands --------------------------------------------------------------------
  // The source's gate, then the report device's queue; QM_CmdIgnored with
  // the reason in `command` when refused.
  TQM_Result SendCommand(std::string& command);
  TQM_Result RequestConnectedUser();
  TQM_Result ResetDevice();

  // ---- Report pump (report thread) -----------------------------------------------
  void GetReportStruct(TQM_ReportStruct& record);
  // A text line, its code and the device time in ms (-1 when unknown).
  TQM_Result GetReport(std::string& report, int64_t& deviceMs);

  // ---- Information -----------------------------------------------------------------
  int MultiId() const { return FMultiId; }
  int LogId() const { return FLogId; }
  int LogIdStream() const { return FLogIdStream; }
  const std::string& DbgTag() const { return FDbgTag; }
  const std::string& DeviceVersion() const { return FDeviceVersion; }
  bool IsFileDevice() const;
  uint32_t GetSerialNumber() const;
  uint16_t GetHardFeature() const;
  uint32_t GetHardFeature32() const;
  // The report device's version number when known (100 x major + minor for
  // ESP peers), else the device's firmware number, 0 while unknown.
  int GetFirmwareVersion() const;
  int GetPendingCmdsCount() const;
  size_t GetBufferAmount() const;
  TQM_DeviceStartState GetDeviceStartState() const;
  std::unique_ptr<TQM_DeviceInfo> GetDeviceInfo() const;
  bool ReferenceClockError() const { return FCodec.FReferenceClockError; }
  const TSourceCodecState& Codec() const { return FCodec; }

  // ---- Options the owner sets --------------------------------------------------
  void SetOptRawData(bool on) { FCodec.FOptRawData = on; }
  void SetCalibFactorFloatToInt(int factor);
  void SetCmdLimit(int limit) { FCmdLimit = limit; }
  void SetLTV(int format) { FCodec.FLTV = format; }
  void SetIsLTVonly(bool on) { FIsLTVonly = on; }
  bool IsLTVonly() const { return FIsLTVonly; }
  void SetSend7016(bool on) { FCodec.Fsend7016 = on; }
  // Replayed files are paced like a live counter unless this is off (a
  // file is read through as fast as it goes).
  void SetReplayPacing(bool on) { FReplayPacing = on; }
  // Every binary report received from now on also goes to `archive`
  // (nullptr: none); the archive outlives its use here.
  void SetReportArchive(IReportArchive* archive) { FArchive = archive; }
  void SetDecimalSeparator(char separator);
  char DecimalSeparator() const { return FCodec.FFormatSettings.DecimalSeparator; }
  // Shown in the debug logs' header lines.
  void SetLowLevelLog(bool on) { FLowLevelLog = on; }
  void SetReportLog(bool on) { FReportLog = on; }

  // ---- What the binary decoders ask of the source -------------------------------
  TQM_PeerType PeerType() const override;
  uint32_t ReceivedSec() const override;
  void SetReceivedSec(uint32_t second) override;
  int UserId() const override;
  int CalibFactorFloatToInt() const override { return FCalibFactorFloatToInt; }
  std::string ConnectedUsersText(std::string_view body) override;
  std::string Check7902Report(std::string_view body) override;
  std::string CheckDataPerSecondCounter() override;
  std::string LibraryVersionText() const override { return std::string(kLibraryVersion); }

 private:
  TQM_Result OpenConnection(std::string& message);
  void SetActualDevice(TCreatedDevice created);
  // After opening a USB or serial counter: refuses the link when the counter
  // has no free user slot; any other report is kept for delivery.
  TQM_Result CheckTooManyUsers(std::string& message);
  void AppendReportLine(std::string_view line);
  // One record through every rule of the pump; false when the record is
  // not the device's report as it came (replaced, generated or held back).
  bool PumpRecord(TQM_ReportStruct& record);
  void ArchiveLastReport();
  // Error records: lost connections, repeated errors.
  void HandleError(TQM_ReportStruct& record);
  // Ignore span and counting of data records; false when dropped.
  bool TakeData(TQM_ReportStruct& record);
  // The rules by message header; false when the record was replaced.
  bool TakeMessage(TQM_ReportStruct& record);
  void CountTimestamp(TQM_ReportStruct& record, std::string_view operation);
  void ResetChecks(std::string_view reason);
  void ResetAfterBufferCleared();
  void CloseAfterError(std::string_view reason);
  void WriteLogHeaders();
  void Log(std::string_view text) const;
  void ShowBusy(std::string_view text);
  void HideBusy();

  const int FMultiId;
  const std::string FDbgTag;
  const int FLogId;
  const int FLogIdStream;
  const int FLogIdStreamDbg;
  const bool FResetEvent;
  const std::shared_ptr<TEvent> FReceiveEvent;
  const TSourceServices FServices;

  TConnectionString FConnection;
  // The device is owned here and outlives its report device.
  std::unique_ptr<TQM_BaseDevice> FDevice;
  std::unique_ptr<TQM_ReportDevice> FActualDevice;
  TSourceCodecState FCodec;
  std::string FDeviceVersion = "Device Version not received yet";

  std::string FOutputPath;
  TExclusiveFile FReportStream;
  std::filesystem::path FReportFile;
  std::string FReportLine;

  int FCalibFactorFloatToInt = 1000;
  int FCmdLimit = 0;
  bool FIsLTVonly = false;
  bool FLowLevelLog = false;
  bool FReportLog = false;
  // The device delivers text lines (text files, TCP devices).
  bool FdasSindASCIIdaten = false;

  // Report pump (QM_SourcePump.cpp). Records held back for the next calls:
  // one the user check read, then the text of a failed per-second check.
  bool FHasHeldRecord = false;
  TQM_ReportStruct FHeldRecord;
  std::string FProcessStringReceived_ASCII;
  std::string FLastDeviceErrorMessage;
  int dataPerSecondCounterReset = 0;
  int ignoreDataPerSecondCounter = 0;
  TQM_ReportStruct FTextRecord;
  // Set while the device is a replayed file, which the pump paces.
  TQM_FileDeviceItem* FFileDevice = nullptr;
  bool FReplayPacing = true;
  IReportArchive* FArchive = nullptr;
  std::string FArchiveItem;  // reused for every archived report
};

}  // namespace orb
