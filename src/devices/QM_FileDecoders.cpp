#include "devices/QM_FileDecoders.h"

#include "devices/QM_ESPDecoder.h"
#include "devices/QM_SerialDecoder.h"
#include "devices/QM_TextLineDecoder.h"
#include "devices/QM_USBDecoder.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {

// ---- Text recordings --------------------------------------------------------------

bool TQM_FileTextDecoder::NextLine(TQM_ReportDevice& device, TQM_Result& error,
                                   std::string& message) {
  error = QM_No_Err;
  if (FFile.ReadTextLine(FLine)) return true;
  error = device.CheckDeviceError(message);
  if (error != QM_No_Err) {
    LogDebug(FFile.LogId(), ".FileGetTextReport.DeviceError(" + FFile.Filename() + ")=" + message);
  }
  return false;
}

void TQM_FileTextDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  TQM_Result error = QM_No_Err;
  std::string message;
  if (!NextLine(device, error, message)) {
    if (error != QM_No_Err) record.SetError(error, message);
    return;
  }
  if (FLine.empty()) return;
  if (TQM_TextLineDecoder::DecodeLine(device, FLine, record)) {
    LogDebugLazy(FFile.LogId(), [&] {
      return ".FileGetTextReport FirmwareVersion=" + IntToText(device.Version()) +
             ", Feature=" + IntToHex(device.HardFeature(), 4) + ", Date=" + device.FirmwareDate();
    });
  }
}

TQM_Result TQM_FileTextDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  TQM_Result error = QM_No_Err;
  if (!NextLine(device, error, report)) return error;
  device.ExtractFirmwareVersionDateTextReport(FLine);
  report = FLine;
  return QM_No_Err;
}

// ---- Binary recordings ------------------------------------------------------------

std::vector<TFileStreamKind> BinaryStreamKinds(IBinaryReportHost& host, IClock& clock) {
  return {
      {".FileGetBinReport: Umschalten auf ESP-Binärdaten", ptESP,
       [&host, &clock] { return std::make_unique<TQM_ESPDecoder>(host, clock); }},
      {".FileGetBinReport: Umschalten auf USB-Binärdaten", ptColdfire,
       [&host] { return std::make_unique<TQM_USBDecoder>(host); }},
      {".FileGetBinReport: Umschalten auf serielle Binärdaten", ptColdfire,
       [&host, &clock] { return std::make_unique<TQM_SerialDecoder>(host, clock); }},
  };
}

TQM_FileDetectDecoder::TQM_FileDetectDecoder(TQM_FileDeviceItem& file,
                                             std::vector<TFileStreamKind> kinds)
    : FFile(file), FKinds(std::move(kinds)) {}

void TQM_FileDetectDecoder::Detect(TQM_ReportDevice& device,
                                   const std::function<bool(TQM_ReportDecoder&)>& attempt) {
  LogDebug(FFile.LogId(), ".FileGetBinReport: Binärdaten von ESP, USB oder seriell?");
  for (size_t k = 0; k < FKinds.size(); ++k) {
    const TFileStreamKind& kind = FKinds[k];
    if (k > 0) {
      // The kinds before consumed bytes while they tried: start again.
      FFile.ResetDevice();
    }
    FFile.SetPeerType(kind.Peer);
    std::unique_ptr<TQM_ReportDecoder> decoder = kind.MakeDecoder();
    const bool last = k + 1 == FKinds.size();
    bool recognised = false;
    for (int n = 0; n < (last ? 1 : kind.Attempts) && !recognised; ++n) {
      recognised = attempt(*decoder) || last;
    }
    if (!recognised) continue;
    LogDebug(FFile.LogId(), kind.SwitchLog);
    device.ReplaceDecoder(std::move(decoder));
    return;
  }
}

void TQM_FileDetectDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  Detect(device, [&](TQM_ReportDecoder& decoder) {
    record.Clear();
    decoder.GetReportStruct(device, record);
    return record.GetReportType() != rt_None && record.GetReportType() != rt_Error;
  });
}

TQM_Result TQM_FileDetectDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  TQM_Result result = QM_No_Err;
  Detect(device, [&](TQM_ReportDecoder& decoder) {
    report.clear();
    result = decoder.GetReport(device, report);
    return result == QM_No_Err && !report.empty();
  });
  return result;
}

}  // namespace orb
