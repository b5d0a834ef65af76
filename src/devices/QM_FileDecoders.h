#pragma once
// The decoders of replayed files. Text recordings give one report per line.
// Binary recordings hold the bytes of one of three stream kinds; the first
// call finds out which by trying their decoders on the start of the file,
// and the one that understands it takes over for good.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devices/QM_FileDevice.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_BinaryReport.h"

namespace orb {

class TQM_FileTextDecoder final : public TQM_ReportDecoder {
 public:
  explicit TQM_FileTextDecoder(TQM_FileDeviceItem& file) : FFile(file) {}
  std::string_view Name() const override { return "FileText"; }
  // The line as it stands in the file.
  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) override;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override;
  std::string_view LastLine() const override { return FLine; }

 private:
  // False, with the device's error in `message`, when no line came.
  bool NextLine(TQM_ReportDevice& device, TQM_Result& error, std::string& message);

  TQM_FileDeviceItem& FFile;
  std::string FLine;
};

// One stream kind a binary recording may hold.
struct TFileStreamKind {
  std::string_view SwitchLog;  // logged when the kind is recognised
  TQM_PeerType Peer;
  std::function<std::unique_ptr<TQM_ReportDecoder>()> MakeDecoder;
  // Calls the decoder may use to recognise the stream; the last kind takes
  // over without a test.
  int Attempts = 2;
};

// The kinds a binary recording may hold, in the order they are tried: ESP
// blocks, the USB framing, the serial framing (which takes over untested).
std::vector<TFileStreamKind> BinaryStreamKinds(IBinaryReportHost& host, IClock& clock);

class TQM_FileDetectDecoder final : public TQM_ReportDecoder {
 public:
  TQM_FileDetectDecoder(TQM_FileDeviceItem& file, std::vector<TFileStreamKind> kinds);
  std::string_view Name() const override { return "FileDetect"; }
  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) override;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override;

 private:
  // Tries the kinds in order with `attempt`, which returns true when the
  // decoder delivered a report; the recognised decoder takes over.
  void Detect(TQM_ReportDevice& device, const std::function<bool(TQM_ReportDecoder&)>& attempt);

  TQM_FileDeviceItem& FFile;
  std::vector<TFileStreamKind> FKinds;
};

}  // namespace orb
