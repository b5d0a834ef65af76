// The source's files: its three debug logs, the folder they and the
// recordings go to, and the recordings of delivered reports (text) and of
// the received bytes (binary).
#include <filesystem>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"
#include "sources/QM_SourceItem.h"

namespace orb {
namespace {

std::string FlagText(bool on) { return on ? "TRUE" : "FALSE"; }

// The stream log's column line for the peer kind.
std::string StreamColumns(const TQM_BaseDevice* device) {
  if (device == nullptr) return std::string();
  if (device->PeerType() == ptESP) return "Magic    t  c  FPGA  Flags   Chk U S Ptr   Values";
  if (device->IsNetworkDevice()) {
    return "Magic     Size      ByteCount Offset    Flags     WritePtr  ReadPtr   Reserved";
  }
  return std::string();
}

}  // namespace

void TSourceItem::WriteLogHeaders() {
  const std::string version = "QM-DLL Version: " + std::string(kLibraryVersion) +
                              ", ReportLog=" + FlagText(FReportLog) +
                              ", LowLevelLog=" + FlagText(FLowLevelLog);
  SetHeaderLines(FLogId, {version, ""});
  std::vector<std::string> stream{version, ""};
  const std::string columns = StreamColumns(FDevice.get());
  if (!columns.empty()) stream.insert(stream.begin() + 1, columns);
  SetHeaderLines(FLogIdStream, stream);
}

bool TSourceItem::SetOutputPath(const std::string& path, std::string& message) {
  std::string reason;
  if (path.empty() || !ProbeWritableFolder(path, reason)) {
    if (path.empty()) reason = "empty path";
    message = "Invalid path(" + path + "): " + reason;
    LogErrorText(FLogId, FDbgTag + ".SetOutputPath: path invalid " + message);
    return false;
  }
  FOutputPath = path.back() == '/' ? path : path + "/";
  for (const int id : {FLogId, FLogIdStream, FLogIdStreamDbg}) SetSavePath(id, FOutputPath);
  return true;
}

void TSourceItem::SetDebugLog(bool on, int id, bool errorOnly) {
  if (!on) {
    SetLogFile(FLogId, "", false);
    return;
  }
  SetLogFile(FLogId, FOutputPath + "QM_DLL_LOG_" + IntToText(id) + ".txt", errorOnly);
}

void TSourceItem::SetDebugLogStream(bool on, int id, bool errorOnly) {
  if (!on) {
    SetLogFile(FLogIdStream, "", false);
    SetLogFile(FLogIdStreamDbg, "", false);
    return;
  }
  WriteLogHeaders();
  SetLogFile(FLogIdStream, FOutputPath + "QM_Stream_LOG_" + IntToText(id) + ".txt", errorOnly);
  SetLogFile(FLogIdStreamDbg, FOutputPath + "QM_StreamDbg_LOG_" + IntToText(id) + ".txt",
             errorOnly);
}

// Recordings are never overwritten: a second one started in the same second
// gets a numbered name.
bool TSourceItem::StartSaveReportData(int id, std::string& message) {
  StopSaveReportData();
  const std::string stem = ArchiveTimeToText(FServices.Clock->NowLocal()) + "_" + IntToText(id);
  FReportFile = CreateUniqueFile(FOutputPath, stem, "_QM_ReportData.txt", FReportStream, message);
  if (FReportFile.empty()) {
    LogErrorText(FLogId, FDbgTag + ".StartSaveReportData failed: " + message);
    return false;
  }
  Log(" SaveReportData to " + FReportFile.string());
  return true;
}

void TSourceItem::StopSaveReportData() {
  if (!FReportStream.IsOpen()) return;
  Log(" StopSaveReportData");
  FReportStream.Close();
}

void TSourceItem::AppendReportLine(std::string_view line) {
  if (!FReportStream.IsOpen()) return;
  FReportLine.assign(line);
  FReportLine += "\r\n";
  // One write per line: a crash loses at most the line being written.
  if (!FReportStream.Write(FReportLine)) {
    LogErrorText(FLogId, FDbgTag + ".SaveReportData write failed, recording stopped");
    FReportStream.Close();
  }
}

bool TSourceItem::StartSaveBinaryData(int id, std::string& message) {
  if (!FDevice) {
    message = "No connection";
    return false;
  }
  const std::string stem = ArchiveTimeToText(FServices.Clock->NowLocal()) + "_" + IntToText(id);
  TExclusiveFile reserved;
  const std::filesystem::path name =
      CreateUniqueFile(FOutputPath, stem, "_QM_BinaryData.bin", reserved, message);
  if (name.empty()) return false;
  reserved.Close();
  if (!FDevice->StartSaveBinaryData(name.string())) {
    std::error_code ignored;
    std::filesystem::remove(name, ignored);
    message = "Binary recording not possible for " + FDevice->ToString();
    return false;
  }
  return true;
}

void TSourceItem::StopSaveBinaryData() {
  if (FDevice) FDevice->StopSaveBinaryData();
}

}  // namespace orb
