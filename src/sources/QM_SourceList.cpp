#include "sources/QM_SourceList.h"

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

TMultiCode InterfaceCode(TQM_Result result) {
  switch (static_cast<TQM_Result>(result & 0x7F)) {
    case QM_No_Err:
      return mcSuccess;
    case QM_WriteError:
      return mcWriteError;
    case QM_Err_ServerDown:
      return mcServerDown;
    case QM_DeviceNotConnected:
    case QM_Err_EndOfFile:
    case QM_Err_Disconnected:
      return mcNotConnected;
    case QM_Err_ReceiveBufferOverflow:
      return mcOverflow;
    case QM_HardwareFault:
      return mcHardwareFault;
    case QM_CmdIgnored:
      return mcCommandRefused;
    case QM_Err_Reconnected:
      return mcReconnected;
    case QM_No_Err_Recovered:
      return mcRecovered;
    case QM_Err_Exception:
      return mcException;
    default:
      return mcOtherError;
  }
}

TSourceList::TSourceList(const TSourceServices& services) : FServices(services) {
  Multi_AddSource();
  FLogId = FEntries.front()->Source->LogId();
}

TSourceList::~TSourceList() = default;

std::string TSourceList::NotFoundText(int id) {
  return "Source-ID " + IntToText(id) + " not found";
}

void TSourceList::Log(std::string_view text) const { LogDebug(FLogId, text); }

std::unique_ptr<TSourceItem> TSourceList::NewSource(int id) {
  auto source = std::make_unique<TSourceItem>(id, FResetEvent, FReceiveEvent, FServices);
  source->SetOptRawData(FOptRawData);
  return source;
}

int TSourceList::Multi_AddSource() {
  std::lock_guard lock(FListLock);
  const int id = static_cast<int>(FEntries.size());
  auto entry = std::make_unique<TEntry>();
  entry->Source = NewSource(id);
  FEntries.push_back(std::move(entry));
  return id;
}

int TSourceList::Count() const {
  std::lock_guard lock(FListLock);
  return static_cast<int>(FEntries.size());
}

TSourceList::TEntry* TSourceList::Find(int id) const {
  std::lock_guard lock(FListLock);
  if (id < 0 || static_cast<size_t>(id) >= FEntries.size()) return nullptr;
  return FEntries[static_cast<size_t>(id)].get();
}

template <typename Work, typename Result>
Result TSourceList::WithSource(int id, Result missing, Work&& work) {
  TEntry* entry = Find(id);
  if (entry == nullptr) return missing;
  std::lock_guard lock(entry->Lock);
  return work(*entry->Source);
}

void TSourceList::Multi_SetEventOptions(std::shared_ptr<TEvent> event, bool resetEvent) {
  std::lock_guard lock(FListLock);
  FReceiveEvent = std::move(event);
  FResetEvent = resetEvent;
}

void TSourceList::Multi_SetOptionCode(uint32_t code) {
  if (code != kRawDataAccessCode) return;
  {
    std::lock_guard lock(FListLock);
    FOptRawData = true;
  }
  for (int id = 0; id < Count(); ++id) {
    WithSource(id, 0, [](TSourceItem& source) {
      source.SetOptRawData(true);
      return 0;
    });
  }
}

// ---- Connections -----------------------------------------------------------------------

int TSourceList::Multi_OpenConnectionEx(int id, std::string& text, bool blockingIO) {
  std::optional<TQM_DeviceInfo> info;
  const int code = WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    std::string message;
    const TQM_Result result = source.OpenConnectionString(text, blockingIO, message);
    if (result != QM_No_Err) {
      Log("Multi_OpenConnectionEx(" + IntToText(id) + "): " + message);
      text = message;
      return int{mcOtherError};
    }
    if (auto record = source.GetDeviceInfo()) info = *record;
    return int{mcSuccess};
  });
  if (code == mcUnknownSource) text = NotFoundText(id);
  if (info) {
    std::lock_guard lock(FListLock);
    FDeviceInfos.AddInfo(*info);
  }
  return code;
}

void TSourceList::Multi_CloseConnection(int id) {
  Log("Multi_CloseConnection(" + IntToText(id) + ")");
  WithSource(id, 0, [](TSourceItem& source) {
    source.CloseConnection();
    return 0;
  });
}

// ---- Report requests ----------------------------------------------------------------------

bool TSourceList::BeginRequest(TEntry& entry, std::string_view operation) {
  if (FRequestsRunning.fetch_add(1) >= kMaxRequests) {
    FRequestsRunning.fetch_sub(1);
    Log(std::string(operation) + " OrderCount=CmaxOrder=" + IntToText(kMaxRequests));
    return false;
  }
  if (entry.RequestRunning.exchange(true)) {
    FRequestsRunning.fetch_sub(1);
    Log(std::string(operation) + " is running yet");
    return false;
  }
  return true;
}

void TSourceList::EndRequest(TEntry& entry) {
  entry.RequestRunning = false;
  FRequestsRunning.fetch_sub(1);
}

void TSourceList::Multi_GetReportStruct(TQM_ReportStruct& record, int id) {
  record.Clear();
  TEntry* entry = Find(id);
  if (entry == nullptr) {
    record.SetError(QM_Err_SourceNotFound, NotFoundText(id));
    return;
  }
  if (!BeginRequest(*entry, "Multi_GetReportStruct")) return;
  {
    std::lock_guard lock(entry->Lock);
    entry->Source->GetReportStruct(record);
  }
  EndRequest(*entry);
}

int TSourceList::Multi_GetReportEx(int id, std::string& report, int64_t& deviceMs) {
  report.clear();
  deviceMs = -1;
  TEntry* entry = Find(id);
  if (entry == nullptr) {
    report = NotFoundText(id);
    return mcUnknownSource;
  }
  if (!BeginRequest(*entry, "GetReportEx")) return mcSuccess;
  TQM_Result result = QM_No_Err;
  {
    std::lock_guard lock(entry->Lock);
    result = entry->Source->GetReport(report, deviceMs);
  }
  EndRequest(*entry);
  if (report.size() > kMaxText) {
    report.resize(kMaxText);
    return mcTextCut;
  }
  return InterfaceCode(result);
}

// ---- Commands ---------------------------------------------------------------------------

int TSourceList::Multi_SendCommand(int id, std::string& command) {
  if (command.empty() || command.size() > kMaxCommandLength) {
    command = "Invalid command length = " + IntToText(static_cast<int64_t>(command.size())) +
              ", valid: 1.." + IntToText(kMaxCommandLength);
    return mcCommandRefused;
  }
  const int code = WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    return int{InterfaceCode(source.SendCommand(command))};
  });
  if (code == mcUnknownSource) command = NotFoundText(id);
  return code;
}

int TSourceList::Multi_GetPendingCmdsCount(int id) {
  return WithSource(id, 0, [](TSourceItem& source) { return source.GetPendingCmdsCount(); });
}

int TSourceList::Multi_RequestConnectedUser(int id) {
  return WithSource(id, int{mcUnknownSource}, [](TSourceItem& source) {
    return int{InterfaceCode(source.RequestConnectedUser())};
  });
}

int TSourceList::Multi_ResetDevice(int id) {
  return WithSource(id, int{mcUnknownSource},
                    [](TSourceItem& source) { return int{InterfaceCode(source.ResetDevice())}; });
}

// ---- Files and settings -------------------------------------------------------------------

std::string TSourceList::Multi_SetOutputPath(int id, std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return WithSource(id, NotFoundText(id), [&](TSourceItem& source) {
    std::string message;
    source.SetOutputPath(path, message);
    return message;
  });
}

std::string TSourceList::Multi_SetDebugLog(int id, bool on, bool errorOnly) {
  return WithSource(id, NotFoundText(id), [&](TSourceItem& source) {
    source.SetDebugLog(on, id, errorOnly);
    return GetLogFileName(source.LogId());
  });
}

std::string TSourceList::Multi_SetDebugLogStream(int id, bool on, bool errorOnly) {
  return WithSource(id, NotFoundText(id), [&](TSourceItem& source) {
    source.SetDebugLogStream(on, id, errorOnly);
    return GetLogFileName(source.LogIdStream());
  });
}

void TSourceList::Multi_DebugFlags(int id, bool reportLog, bool lowLevelLog) {
  Log("Multi_DebugFlags(" + IntToText(id) + "): ReportLog=" + IntToText(reportLog) +
      ", LowLevelLog=" + IntToText(lowLevelLog));
  WithSource(id, 0, [&](TSourceItem& source) {
    source.SetReportLog(reportLog);
    source.SetLowLevelLog(lowLevelLog);
    return 0;
  });
}

int TSourceList::Multi_SetDecimalSeparator(int id, char separator) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    source.SetDecimalSeparator(separator);
    return int{mcSuccess};
  });
}

int TSourceList::Multi_SetSend7016(int id, bool on) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    source.SetSend7016(on);
    return int{mcSuccess};
  });
}

int TSourceList::Multi_SetReplayPacing(int id, bool on) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    source.SetReplayPacing(on);
    return int{mcSuccess};
  });
}

int TSourceList::Multi_SetReportArchive(int id, IReportArchive* archive) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    source.SetReportArchive(archive);
    return int{mcSuccess};
  });
}

int TSourceList::Multi_StartSaveReportData(int id, std::string& message) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    return int{source.StartSaveReportData(id, message) ? mcSuccess : mcOtherError};
  });
}

int TSourceList::Multi_StopSaveReportData(int id) {
  return WithSource(id, int{mcUnknownSource}, [](TSourceItem& source) {
    source.StopSaveReportData();
    return int{mcSuccess};
  });
}

int TSourceList::Multi_StartSaveBinaryData(int id, std::string& message) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    return int{source.StartSaveBinaryData(id, message) ? mcSuccess : mcOtherError};
  });
}

int TSourceList::Multi_StopSaveBinaryData(int id) {
  return WithSource(id, int{mcUnknownSource}, [](TSourceItem& source) {
    source.StopSaveBinaryData();
    return int{mcSuccess};
  });
}

// ---- Device service ------------------------------------------------------------------------

bool TSourceList::SupportsOHR(TSourceItem& source) {
  const TQM_BaseDevice& device = source.ActualDevice()->Device();
  if (device.DevType() == QM_Simul) return false;
  const int firmware = source.GetFirmwareVersion();
  return device.PeerType() == ptESP ? firmware >= 109 : firmware >= 67;
}

int TSourceList::Multi_SetCalibrationDataString(int id, std::string_view text) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    if (source.ActualDevice() == nullptr) return int{mcUnknownSource};
    return int{source.ActualDevice()->Device().SetCalibrationDataString(text) ? mcSuccess
                                                                              : mcOtherError};
  });
}

void TSourceList::Multi_SetCalibFactorFloatToInt(int id, int factor) {
  WithSource(id, 0, [&](TSourceItem& source) {
    source.SetCalibFactorFloatToInt(factor);
    return 0;
  });
}

int TSourceList::Multi_SetOHRDataString(int id, std::string_view text) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    if (source.ActualDevice() == nullptr) return int{mcUnknownSource};
    if (!SupportsOHR(source)) return int{mcNotSupported};
    return int{source.ActualDevice()->Device().SetOHRDataString(text) ? mcSuccess : mcOtherError};
  });
}

int TSourceList::Multi_ReadOHRData(int id) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    TQM_ReportDevice* device = source.ActualDevice();
    if (device == nullptr) return int{mcUnknownSource};
    const bool simulator = device->Device().DevType() == QM_Simul;
    if (!simulator && !SupportsOHR(source)) return int{mcNotSupported};
    return int{device->Device().ReadOHRData(*device) ? mcSuccess : mcOtherError};
  });
}

int TSourceList::Multi_GetToolsDataString(int id, std::string& text) {
  return WithSource(id, int{mcUnknownSource}, [&](TSourceItem& source) {
    if (source.ActualDevice() == nullptr) {
      text = "No connection";
      return int{mcNotConnected};
    }
    text = source.ActualDevice()->Device().ToolsReadAll();
    if (text.size() > kMaxText) {
      text.resize(kMaxText);
      return int{mcTextCut};
    }
    return int{mcSuccess};
  });
}

// ---- Information --------------------------------------------------------------------------

uint32_t TSourceList::Multi_GetSerialNumber(int id) {
  return WithSource(id, uint32_t{0}, [](TSourceItem& source) { return source.GetSerialNumber(); });
}

uint16_t TSourceList::Multi_GetHardFeature(int id) {
  return WithSource(id, uint16_t{0}, [](TSourceItem& source) { return source.GetHardFeature(); });
}

int TSourceList::Multi_GetFirmwareVersion(int id) {
  return WithSource(id, 0, [](TSourceItem& source) { return source.GetFirmwareVersion(); });
}

bool TSourceList::Multi_IsFileDevice(int id) {
  return WithSource(id, false, [](TSourceItem& source) { return source.IsFileDevice(); });
}

std::optional<TQM_DeviceInfo> TSourceList::Multi_GetDeviceInfo(uint32_t serialNumber) {
  std::lock_guard lock(FListLock);
  const TQM_DeviceInfo* info = FDeviceInfos.GetInfo(serialNumber);
  if (info == nullptr) return std::nullopt;
  return *info;
}

bool TSourceList::Multi_UpdateDeviceInfo(uint32_t serialNumber,
                                         const std::function<void(TQM_DeviceInfo&)>& change) {
  std::lock_guard lock(FListLock);
  TQM_DeviceInfo* info = FDeviceInfos.GetInfo(serialNumber);
  if (info == nullptr) return false;
  change(*info);
  return true;
}

int TSourceList::Multi_GetUserId(int id) {
  return WithSource(id, 255, [](TSourceItem& source) { return source.UserId(); });
}

TQM_DeviceStartState TSourceList::Multi_GetDeviceStartState(int id) {
  return WithSource(id, ds_unknown,
                    [](TSourceItem& source) { return source.GetDeviceStartState(); });
}

}  // namespace orb
