#include "devices/QM_FramedDecoder.h"

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"

namespace orb {

namespace {

constexpr int kColdfireRecordSize = 7;
constexpr uint8_t kPackedMarker = 0xF0;

const uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

bool StartsWith(std::string_view report, uint8_t first, uint8_t second) {
  return report.size() >= 2 && static_cast<uint8_t>(report[0]) == first &&
         static_cast<uint8_t>(report[1]) == second;
}

}  // namespace

std::string TQM_FramedDecoder::LogLine(const TQM_ReportDevice& device,
                                       std::string_view text) const {
  std::string line = device.DbgTag();
  line += FTag;
  line += text;
  return line;
}

TQM_Result TQM_FramedDecoder::PendingError(TQM_ReportDevice& device, std::string& message) const {
  const TQM_Result error = device.CheckDeviceError(message);
  if (error != QM_No_Err && LogActive(device.Device().LogId())) {
    std::string line = LogLine(device, ".DeviceError(");
    line += ResultName(error);
    line += ")=";
    line += message;
    LogDebug(device.Device().LogId(), line);
  }
  return error;
}

TQM_ReportDecoder* TQM_FramedDecoder::HandOverToEsp(TQM_ReportDevice& device) {
  if (!FEspDecoder || device.Device().PeerType() != ptESP) return nullptr;
  LogDebug(device.Device().LogId(), LogLine(device, " umschalten auf ESP"));
  std::unique_ptr<TQM_ReportDecoder> esp = FEspDecoder();
  TQM_ReportDecoder* reader = esp.get();
  // The report device keeps it alive and makes it current when this call
  // returns; until then the call is forwarded to it.
  device.ReplaceDecoder(std::move(esp));
  return reader;
}

void TQM_FramedDecoder::TrackDeviceTime(TQM_ReportDevice& device, std::string_view report) const {
  if (report.size() < 2) return;
  if (static_cast<uint8_t>(report[0]) >= kPackedMarker) {
    // Every sub-report of a packed data report is one interval.
    if (report.size() < 3) return;
    const uint32_t header = LoadBE16(Bytes(report) + 1);
    const int parts = (static_cast<uint8_t>(report[0]) & 0x0F) + 1;
    for (int i = 0; i < parts; ++i) device.UpdateDeviceMs(header, 0);
    return;
  }
  const uint32_t header = LoadBE16(Bytes(report));
  const uint32_t value = report.size() >= 6 ? LoadBE32(Bytes(report) + 2) : 0;
  device.UpdateDeviceMs(header, value);
}

bool TQM_FramedDecoder::AcceptReport(TQM_ReportDevice& device, std::string_view report) const {
  const int logId = device.Device().LogId();
  if (StartsWith(report, 0x70, 0x01)) {
    const std::string_view text = report.substr(2);
    if (text.find("User") != std::string_view::npos) device.ExtractUserID(text);
    if (device.VersionReceived()) {
      device.ExtractFirmware(text);  // logs that it is ignored
      return false;
    }
    if (device.ExtractFirmware(text) && LogActive(logId)) {
      std::string line = LogLine(device, " FirmwareVersion=");
      AppendIntText(line, device.Version());
      line += ", Feature=";
      AppendIntHex(line, device.HardFeature(), 4);
      line += ", Date=" + device.FirmwareDate() + ", FPGAVersion=" + device.FPGAVersion();
      LogDebug(logId, line);
    }
  } else if (StartsWith(report, 0x79, 0x01)) {
    LogDebug(logId, LogLine(device, " 7901 -> reset cmd delay"));
    device.Device().SetDelayNextCmdMs(0);
  }
  TrackDeviceTime(device, report);
  return true;
}

TQM_Result TQM_FramedDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  if (TQM_ReportDecoder* esp = HandOverToEsp(device)) return esp->GetReport(device, report);
  const TQM_Result result = ReadFrame(device, report);
  if (result != QM_Err_BadFormatIgnore) return result;
  report.clear();
  return QM_No_Err;
}

void TQM_FramedDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  if (TQM_ReportDecoder* esp = HandOverToEsp(device)) {
    esp->GetReportStruct(device, record);
    return;
  }
  FReportFresh = false;
  TSourceCodecState& codec = device.Codec();
  std::string_view body;
  if (!(codec.FPacked && NextPackedReport(codec, body))) {
    const TQM_Result result = ReadFrame(device, FReport);
    if (result == QM_Err_BadFormatIgnore) return;
    if (result != QM_No_Err) {
      record.SetError(result, FReport);
      return;
    }
    if (FReport.empty()) return;
    if (CheckHeader(codec, FReport, kColdfireRecordSize, body, record) != QM_No_Err) return;
    FReportFresh = true;
  }
  ProcessBinReportStruct(codec, FHost, body, record);
  record.SetDeviceMs(device.DeviceMs());
}

}  // namespace orb
