#pragma once
// The program-wide register of sources, reached by source number (the
// position in the list; sources are only added). Every operation answers
// with an interface code of its own instead of a device-layer result.
//
// Locking: the list lock guards only the list, the options and the device
// information list. Each source has its own lock that serialises the
// operations on it; device work (opening, closing, reading) runs under that
// lock alone, so a slow open of one source never holds up the reports of
// another. At most one report request per source is outstanding.

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/QM_CommonTypes.h"
#include "sources/QM_SourceItem.h"

namespace orb {

// Interface codes.
enum TMultiCode : int {
  mcOtherError = 0,
  mcSuccess = 1,
  mcWriteError = 3,
  mcServerDown = 4,
  mcTextCut = 6,
  mcNotConnected = 7,
  mcOverflow = 8,
  mcHardwareFault = 9,
  mcUnknownSource = 10,
  mcCommandRefused = 11,
  mcNotSupported = 12,
  mcReconnected = 13,
  mcRecovered = 14,
  mcException = 15,
};

// The interface code of a result (by its low 7 bits).
TMultiCode InterfaceCode(TQM_Result result);

class TSourceList {
 public:
  // Texts handed out are cut to this length (code mcTextCut).
  static constexpr size_t kMaxText = 1024;
  static constexpr int kMaxRequests = 100;
  static constexpr int kMaxCommandLength = 127;
  // Switches the raw-data option on for every source.
  static constexpr uint32_t kRawDataAccessCode = 0x52415744;

  // Creates source 0.
  explicit TSourceList(const TSourceServices& services);
  ~TSourceList();
  TSourceList(const TSourceList&) = delete;
  TSourceList& operator=(const TSourceList&) = delete;

  int Multi_AddSource();
  int Count() const;
  void Multi_SetEventOptions(std::shared_ptr<TEvent> event, bool resetEvent);
  void Multi_SetOptionCode(uint32_t code);
  static std::string Multi_GetVersion() { return std::string(kLibraryVersion); }

  // `text`: the connection string in, the error text out.
  int Multi_OpenConnectionEx(int id, std::string& text, bool blockingIO);
  void Multi_CloseConnection(int id);

  // Report requests (report thread).
  int Multi_GetReportEx(int id, std::string& report, int64_t& deviceMs);
  void Multi_GetReportStruct(TQM_ReportStruct& record, int id);

  // `command`: the bytes in, the reason out when refused.
  int Multi_SendCommand(int id, std::string& command);
  int Multi_GetPendingCmdsCount(int id);
  int Multi_RequestConnectedUser(int id);
  int Multi_ResetDevice(int id);

  std::string Multi_SetOutputPath(int id, std::string path);
  // The log's file name, or the reason it is not written.
  std::string Multi_SetDebugLog(int id, bool on, bool errorOnly);
  std::string Multi_SetDebugLogStream(int id, bool on, bool errorOnly);
  void Multi_DebugFlags(int id, bool reportLog, bool lowLevelLog);
  int Multi_SetDecimalSeparator(int id, char separator);
  int Multi_SetSend7016(int id, bool on);
  // A replayed file keeps the pace of its time stamps unless switched off.
  int Multi_SetReplayPacing(int id, bool on);
  // The binary reports of source `id` also go to `archive` (nullptr: none).
  int Multi_SetReportArchive(int id, IReportArchive* archive);
  int Multi_StartSaveReportData(int id, std::string& message);
  int Multi_StopSaveReportData(int id);
  int Multi_StartSaveBinaryData(int id, std::string& message);
  int Multi_StopSaveBinaryData(int id);

  int Multi_SetCalibrationDataString(int id, std::string_view text);
  void Multi_SetCalibFactorFloatToInt(int id, int factor);
  int Multi_SetOHRDataString(int id, std::string_view text);
  int Multi_ReadOHRData(int id);
  int Multi_GetToolsDataString(int id, std::string& text);

  uint32_t Multi_GetSerialNumber(int id);
  uint16_t Multi_GetHardFeature(int id);
  int Multi_GetFirmwareVersion(int id);
  bool Multi_IsFileDevice(int id);
  std::optional<TQM_DeviceInfo> Multi_GetDeviceInfo(uint32_t serialNumber);
  // Changes the entry of `serialNumber` under the list's lock; false when
  // there is none.
  bool Multi_UpdateDeviceInfo(uint32_t serialNumber,
                              const std::function<void(TQM_DeviceInfo&)>& change);
  // The user id the device gave this connection (255: none).
  int Multi_GetUserId(int id);
  TQM_DeviceStartState Multi_GetDeviceStartState(int id);

  // The text for an unknown number.
  static std::string NotFoundText(int id);

 private:
  struct TEntry {
    std::mutex Lock;  // serialises the operations on the source
    std::unique_ptr<TSourceItem> Source;
    std::atomic<bool> RequestRunning{false};
  };

  // The entry, or nullptr; entries are never removed, so the pointer stays.
  TEntry* Find(int id) const;
  // Runs `work` on the source under its own lock; `missing` for an unknown
  // number.
  template <typename Work, typename Result>
  Result WithSource(int id, Result missing, Work&& work);
  // A report request: false when another one for this source runs or the
  // table is full.
  bool BeginRequest(TEntry& entry, std::string_view operation);
  void EndRequest(TEntry& entry);
  std::unique_ptr<TSourceItem> NewSource(int id);
  void Log(std::string_view text) const;
  // High-resolution settings need ColdFire firmware 67 or ESP firmware 109.
  static bool SupportsOHR(TSourceItem& source);

  const TSourceServices FServices;
  mutable std::mutex FListLock;
  std::deque<std::unique_ptr<TEntry>> FEntries;
  std::shared_ptr<TEvent> FReceiveEvent;
  bool FResetEvent = true;
  bool FOptRawData = false;
  std::atomic<int> FRequestsRunning{0};
  TQM_DeviceInfoList FDeviceInfos;
  int FLogId = -1;
};

}  // namespace orb
