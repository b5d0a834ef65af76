// The report pump: what the report thread calls over and over. Each call
// returns at most one report and applies the rules that make the stream
// trustworthy: held-back reports first, repeated errors once, lost
// connections closed, the per-second count check on every time stamp,
// ignore spans after a restarted data stream, recordings and file pacing.
//
// Both forms run the same rules: the text pump takes the record pump's
// record and writes it as its line (text sources keep their line as read).
#include <array>

#include "devices/QM_FileDevice.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_ESPReport.h"
#include "protocol/QM_Header.h"
#include "sources/QM_SourceItem.h"

namespace orb {
namespace {

// Expected counts by interval index: up to index 6 (per 0x7016 tick) and 9
// (per 0x7015 second) measurements per tick, above ticks per measurement.
constexpr std::array<int, 14> kPerTick16 = {100, 50, 20, 10, 5, 2, 1, 2, 5, 10, 20, 50, 100, 200};
constexpr std::array<int, 14> kPerTick15 = {1000, 500, 200, 100, 50, 20, 10, 5, 2, 1, 2, 5, 10, 20};
constexpr int kLastPerTick16 = 6;
constexpr int kLastPerTick15 = 9;

bool IsDataRecord(const TQM_ReportStruct& record) {
  const TQM_ReportType type = record.GetReportType();
  return (type == rt_Phase || type == rt_Double || type == rt_Int32) &&
         !IsMessageHeader(static_cast<uint32_t>(record.GetHeader()));
}

std::string BigEndianValue(uint32_t value) {
  std::string bytes(4, '\0');
  StoreBE32(reinterpret_cast<uint8_t*>(bytes.data()), value);
  return bytes;
}

}  // namespace

void TSourceItem::GetReportStruct(TQM_ReportStruct& record) { PumpRecord(record); }

TQM_Result TSourceItem::GetReport(std::string& report, int64_t& deviceMs) {
  report.clear();
  const bool asRead = PumpRecord(FTextRecord);
  deviceMs = FActualDevice ? FActualDevice->DeviceMs() : -1;
  switch (FTextRecord.GetReportType()) {
    case rt_None:
      return QM_No_Err;
    case rt_Error:
      report = FTextRecord.GetErrorText();
      return FTextRecord.GetErrorCode();
    default:
      if (asRead && FdasSindASCIIdaten && FActualDevice) {
        report = FActualDevice->Decoder()->LastLine();
      } else {
        AppendReportStructText(report, FCodec, FTextRecord);
      }
      return QM_No_Err;
  }
}

void TSourceItem::ArchiveLastReport() {
  // An item's length is one byte: longer reports (large packed ones) are
  // not archived.
  const std::string_view report = FActualDevice->Decoder()->LastBinaryReport();
  if (report.empty() || report.size() > 255) return;
  FArchiveItem.assign(1, static_cast<char>(report.size()));
  FArchiveItem.append(report);
  FArchive->ArchiveData(FArchiveItem);
}

bool TSourceItem::PumpRecord(TQM_ReportStruct& record) {
  record.Clear();
  bool asRead = true;
  if (FHasHeldRecord) {
    record = FHeldRecord;
    FHasHeldRecord = false;
  } else if (!FProcessStringReceived_ASCII.empty()) {
    record.SetMessage(0x7F22, FProcessStringReceived_ASCII);
    FProcessStringReceived_ASCII.clear();
    return false;
  } else if (!FActualDevice || !FDevice->PortIsOpened()) {
    return false;
  } else {
    FActualDevice->GetReportStruct(record);
    if (FArchive != nullptr) ArchiveLastReport();
  }

  switch (record.GetReportType()) {
    case rt_None:
      return asRead;
    case rt_Error:
      HandleError(record);
      asRead = false;
      break;
    default:
      FLastDeviceErrorMessage.clear();
      FCodec.FHeader = static_cast<uint16_t>(record.GetHeader());
      FCodec.FIsData = IsDataRecord(record);
      if (FCodec.FIsData) FCodec.FDataHeader = FCodec.FHeader;
      // An ESP counter's values and tables need the source's state
      // (phase continuation, LTV groups, connected users).
      if (FCodec.FIsData) {
        asRead = TakeData(record);
        if (asRead && FDevice && FDevice->PeerType() == ptESP)
          ProcessESPRecord(FCodec, *this, record);
      } else {
        if (FDevice && FDevice->PeerType() == ptESP) ProcessESPRecord(FCodec, *this, record);
        asRead = TakeMessage(record);
      }
      break;
  }
  if (record.GetReportType() == rt_None) return false;

  const uint32_t header = static_cast<uint32_t>(record.GetHeader());
  if (record.GetReportType() == rt_Error) {
    LogErrorText(FLogId, FDbgTag + ".GetReportStruct failed: " + record.ToString());
  } else {
    LogDebugLazy(FLogId, [&] { return FDbgTag + ".GetReportStruct: " + record.ToString(); });
    if (IsDataRecord(record) || (HeaderIsTimestampOrORC(header) && header != 0x7015)) {
      FCodec.FLastOrcHeader = header;
    }
  }
  if (FReportStream.IsOpen() && record.GetReportType() != rt_Error) {
    if (asRead && FdasSindASCIIdaten) {
      AppendReportLine(FActualDevice->Decoder()->LastLine());
    } else {
      FReportLine.clear();
      AppendReportStructText(FReportLine, FCodec, record);
      AppendReportLine(std::string(FReportLine));
    }
  }
  if (!FActualDevice) return asRead;  // the connection was closed
  if (IsDataRecord(record) && FDevice->PeerType() == ptColdfire) {
    FDevice->SetORCChannelCount(record.GetValueCount());
  }
  record.SetDeviceMs(FActualDevice->DeviceMs());
  if (FFileDevice != nullptr && FReplayPacing && record.GetReportType() != rt_Error) {
    if (FConnection.FileDataWait) {
      if (IsDataRecord(record)) FFileDevice->SetWaitMs(GetHeaderMs(header));
    } else if (!FFileDevice->TimestampReceived()) {
      FFileDevice->SetWaitMs(TQM_FileDeviceItem::kWaitWithoutTimestampMs);
    }
  }
  return asRead;
}

void TSourceItem::HandleError(TQM_ReportStruct& record) {
  const TQM_Result code = record.GetErrorCode();
  std::string text = record.GetErrorText();
  switch (code) {
    case QM_Err_ReceiveBufferOverflow:
      ResetAfterBufferCleared();
      ResetChecks(": receive buffer cleared");
      record.SetMessage(0x7F23, "Buffer cleared after buffer overflow");
      return;
    case QM_WriteError:
      text = "No connection to device. Port closed";
      CloseAfterError(".GetReportStruct: Port closed because of WriteError");
      break;
    case QM_DeviceNotConnected:
      if (FDevice && FDevice->IsUSBDevice()) {
        text = "No connection to USB device. Please check connector";
        Log(".GetReportStruct: USB DeviceNotConnectedError -> try again");
      } else {
        text = "No connection to device. Port closed";
        CloseAfterError(".GetReportStruct: Port closed because of DeviceNotConnected");
      }
      break;
    case QM_HardwareFault:
      text += " Connection closed";
      CloseAfterError(".GetReportStruct: Port closed because of HardwareFault");
      break;
    case QM_Err_ServerDown:
      text = "No connection to server. Please check if server is running";
      CloseAfterError(".GetReportStruct: Port closed because of ServerDown");
      break;
    case QM_Err_Reconnected:
      Log(".GetReportStruct: Reconnected -> clear LTVData received, reset data/timestamp checks");
      FCodec.FLTVReceived = false;
      ResetChecks(": reconnected");
      break;
    case QM_Err_Disconnected:
      text = "No connection to device. Port closed";
      CloseAfterError(".GetReportStruct: Port closed because of Disconnected");
      break;
    default:
      break;
  }
  // The same error again and again would flood the caller: only a new
  // text is delivered.
  if (text == FLastDeviceErrorMessage) {
    record.Clear();
    return;
  }
  FLastDeviceErrorMessage = text;
  record.SetError(code, text);
}

void TSourceItem::CloseAfterError(std::string_view reason) {
  Log(reason);
  CloseConnection();
}

bool TSourceItem::TakeData(TQM_ReportStruct& record) {
  if (ignoreDataPerSecondCounter > 0) {
    // The device repeats data after a restart of its stream: drop them,
    // and a packed report's remaining parts with them.
    FCodec.FPacked = false;
    FCodec.PackCount = 0;
    if (--ignoreDataPerSecondCounter == 0) Log(".GetReportStruct END ignore Data");
    record.Clear();
    return false;
  }
  if (!FCodec.FirstDataReceived) Log(".GetReportStruct: FirstDataReceived");
  FCodec.FirstDataReceived = true;
  if (FCodec.FirstTimestampReceived) ++FCodec.dataPerSecondCounter;
  return true;
}

void TSourceItem::CountTimestamp(TQM_ReportStruct& record, std::string_view operation) {
  const auto header = static_cast<uint16_t>(record.GetHeader());
  const uint32_t value = record.GetCardinal();
  FCodec.FHeader = header;
  FCodec.CountTimestamp(".GetReportStruct");
  // The last second in seconds, whichever unit the stamp counts in.
  FDevice->SetReceivedSec(header == 0x7016 ? value / 10 : value);
  if (FFileDevice != nullptr) FFileDevice->SetTimestampReceived();
  const std::string error = CheckDataPerSecondCounter();
  if (error.empty()) return;
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + ".GetReportStruct " + std::string(operation) +
           " - Fehlerreport 7F22 aufbewahren: " + error;
  });
  FProcessStringReceived_ASCII = error.substr(6);  // without "7F22: "
}

bool TSourceItem::TakeMessage(TQM_ReportStruct& record) {
  const auto header = static_cast<uint16_t>(record.GetHeader());
  switch (header) {
    case 0x7001: {
      FIsLTVonly = FActualDevice->IsLTVonly();
      if (FdasSindASCIIdaten) return true;
      std::string version(record.PayloadView());
      if (FDevice->PeerType() == ptColdfire) {
        const size_t user = version.find("User");
        if (user != std::string::npos) version.resize(std::min(version.size(), user + 5));
      }
      version += " / SW: ";
      version += kLibraryVersion;
      if (version != FDeviceVersion) {
        FDeviceVersion = version;
        for (const int id : {FLogId, FLogIdStream}) {
          std::vector<std::string> lines = GetHeaderLines(id);
          lines.push_back(version);
          SetHeaderLines(id, lines);
        }
      }
      record.SetMessage(0x7001, version);
      return false;
    }
    case 0x7015:
      CountTimestamp(record, "7015");
      return true;
    case 0x7016: {
      CountTimestamp(record, "7016");
      const uint32_t tenths = record.GetCardinal();
      if (tenths % 10 == 0) {
        record.SetMessage(0x7015, BigEndianValue(tenths / 10));
        return false;
      }
      if (!FCodec.Fsend7016) record.Clear();
      return FCodec.Fsend7016;
    }
    case 0x7020:
      ResetChecks("GetReportStruct: header changed");
      return true;
    case 0x7021:
      Log(".GetReportStruct Do NOT report ChannelSelection data to app");
      record.Clear();
      return false;
    case 0x7022:
      ResetAfterBufferCleared();
      ResetChecks(": receive buffer cleared");
      return true;
    case 0x7F23:
      ResetChecks(": receive buffer cleared");
      return true;
    case 0x7114:
    case 0x7115: {
      const uint32_t second = record.GetCardinal();
      if (second == FDevice->ReceivedSec()) {
        ignoreDataPerSecondCounter = FCodec.dataPerSecondCounter != 0 ? FCodec.dataPerSecondCounter
                                                                      : dataPerSecondCounterReset;
        std::string text = ".GetReportStruct START ignore Data";
        if (header == 0x7115) {
          text += ", ignoreDataPerSecondCounter=" + IntToText(ignoreDataPerSecondCounter);
        }
        Log(text);
      }
      record.Clear();
      return false;
    }
    case 0x7900:
      FCodec.FLTVReceived = true;
      return true;
    case 0x7F51:
      ResetChecks(": re-synchronisation");
      FActualDevice->ReSync();
      LogDebug(FLogId, "TSourceItem.ReSync");
      return true;
    case 0x7FF2:
      if (record.PayloadView() == "Scrambler in use!") {
        Log(" Scrambler in use");
      } else {
        ResetChecks(" receive input data overrun");
      }
      return true;
    case 0x7FF8:
    case 0x7FF9:
      FCodec.FReferenceClockError = header == 0x7FF9;
      return true;
    case 0x7FFA:
      if (FDevice->UserID() == kNoUserId) return true;
      record.SetMessage(0x7FFA, "UserID " + IntToText(FDevice->UserID()) + " already in use");
      return false;
    default:
      return true;
  }
}

void TSourceItem::ResetChecks(std::string_view reason) {
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + "." + std::string(reason) + " -> reset data/timestamp checks";
  });
  FCodec.ResetTimestampDataCounter();
}

void TSourceItem::ResetAfterBufferCleared() {
  Log(".ProcessString Reset nach BufferCleared ###");
  dataPerSecondCounterReset = FCodec.dataPerSecondCounter;
  FCodec.dataPerSecondCounter = 0;
  ignoreDataPerSecondCounter = 0;
  if (FDevice && FDevice->PeerType() == ptESP) FActualDevice->ResetLastFPGA();
}

std::string TSourceItem::CheckDataPerSecondCounter() {
  constexpr std::string_view kTag = ".CheckDataPerSecondCounter";
  const uint16_t header = FCodec.FHeader;
  if (!FCodec.FirstDataReceived || !FCodec.FirstTimestampReceived ||
      (header != 0x7015 && header != 0x7016)) {
    LogDebugLazy(FLogId, [&] {
      return FDbgTag + std::string(kTag) +
             " NO data/timestamp checks: FirstDataReceived=" + IntToText(FCodec.FirstDataReceived) +
             ", FirstTimestampReceived=" + IntToText(FCodec.FirstTimestampReceived) +
             ", Header=" + IntToHex(header, 4);
    });
    return std::string();
  }
  if (FCodec.FDataHeader == kNoDataHeader) {
    Log(std::string(kTag) + " NO data/timestamp checks:  invalid DataHeader");
    return std::string();
  }
  const int index = TQMHeader(static_cast<uint16_t>(FCodec.FDataHeader)).FIntervalIndex;
  // Intervals above 20 s have no expected counts.
  if (index < 0 || index >= static_cast<int>(kPerTick16.size())) return std::string();

  const bool tenths = header == 0x7016;
  const auto slot = static_cast<size_t>(index);
  const int expected = tenths ? kPerTick16[slot] : kPerTick15[slot];
  int& ticks = FCodec.FTimestampCounter;
  const int found = FCodec.dataPerSecondCounter_copy;
  std::string error;
  if (index <= (tenths ? kLastPerTick16 : kLastPerTick15)) {
    if (found != expected) {
      error = std::string(expected < found ? "Timestamp" : "Measurement") + " missing: expected " +
              IntToText(expected) + ", found " + IntToText(found);
    }
    ticks = 0;
  } else {
    const std::string duration =
        tenths ? (ticks < 10 ? IntToText(ticks * 100) + "ms" : IntToText(ticks / 10) + "s")
               : IntToText(ticks) + "s";
    if (ticks < expected && found != 0) {
      error = "Timestamp missing: " + IntToText(found) +
              (tenths ? " measurements, found after " : " measurements found after ") + duration;
    } else if (ticks >= expected && found != 1) {
      error = "Measurement missing: expected 1, found " + IntToText(found) + " after " + duration;
      ticks = 0;
    } else if (found == 1) {
      ticks = 0;
    }
  }

  const bool firstCheck = FCodec.FFirstCheckDataPerSecondCounter;
  if (firstCheck && !IsMessageHeader(FCodec.FLastOrcHeader)) {
    if (FFileDevice != nullptr && FConnection.FileDataLoopForEver) {
      Log(std::string(kTag) + ": FileData with LoopForEver -> NO reset");
    } else {
      ticks = 0;
      FCodec.dataPerSecondCounter_copy = 0;
      FCodec.FFirstCheckDataPerSecondCounter = false;
      Log(std::string(kTag) + " reset FirstCheckFlag and counter");
    }
  }
  if (header == 0x7015) FCodec.FLastOrcHeader = 0x7015;
  if (error.empty()) return error;
  const std::string logged =
      (tenths ? "." : "") + std::string("CheckDataPerSecondCounter failed: ") + error;
  if (firstCheck) {
    LogDebugLazy(FLogId, [&] { return FDbgTag + logged; });
    Log(std::string(kTag) + " ignore error message");
    return std::string();
  }
  LogWarning(FLogId, FDbgTag + logged);
  return "7F22: " + error;
}

}  // namespace orb
