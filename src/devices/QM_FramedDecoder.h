#pragma once
// What the USB and the serial framing of ColdFire counters share: a good
// frame's binary report updates the report device (user id, version, the
// end of the command pause, device time), the text path hands the report
// on as bytes, and the record path decodes it (packed reports one
// sub-report per call). An ESP peer gets the ESP reader instead.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devices/QM_ReportDevice.h"
#include "protocol/QM_BinaryReport.h"

namespace orb {

class TQM_FramedDecoder : public TQM_ReportDecoder {
 public:
  using TDecoderFactory = std::function<std::unique_ptr<TQM_ReportDecoder>()>;

  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) final;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) final;
  std::string_view LastBinaryReport() const final {
    return FReportFresh ? std::string_view(FReport) : std::string_view();
  }

 protected:
  // `host` outlives the decoder; `espDecoder` (may be empty) makes the
  // reader for ESP peers; `tag` begins the log lines (".USBGetReport").
  TQM_FramedDecoder(IBinaryReportHost& host, TDecoderFactory espDecoder, std::string_view tag)
      : FHost(host), FEspDecoder(std::move(espDecoder)), FTag(tag) {}

  // The next frame's report (header and body) into `report`: empty when
  // none is complete, the error text with an error code, and
  // QM_Err_BadFormatIgnore for a frame dropped silently.
  virtual TQM_Result ReadFrame(TQM_ReportDevice& device, std::string& report) = 0;

  // The report of a good frame; false when it is dropped (a repeated
  // version).
  bool AcceptReport(TQM_ReportDevice& device, std::string_view report) const;
  // The device's pending error and its text, logged.
  TQM_Result PendingError(TQM_ReportDevice& device, std::string& message) const;
  // The report device's tag, this reader's tag and `text`.
  std::string LogLine(const TQM_ReportDevice& device, std::string_view text) const;

 private:
  // The ESP reader that takes over for an ESP peer, or nullptr.
  TQM_ReportDecoder* HandOverToEsp(TQM_ReportDevice& device);
  void TrackDeviceTime(TQM_ReportDevice& device, std::string_view report) const;

  IBinaryReportHost& FHost;
  TDecoderFactory FEspDecoder;
  std::string_view FTag;
  std::string FReport;
  bool FReportFresh = false;  // FReport was read by the last call
};

}  // namespace orb
