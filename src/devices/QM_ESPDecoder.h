#pragma once
// Reports of ESP firmware (blocks, see protocol/QM_ESPBlock.h) as decoded
// records and, for the text interface, in the binary form with a 2-byte
// header. Besides decoding, the decoder watches the counter's timing: the
// FPGA time of measurements (start and continuity), time stamps, the
// heartbeat while no data arrive, and the version message; for firmware
// below 114 it generates the time stamps itself. Records that have to wait
// (a measurement behind its time stamp, results during a recovery) go to the
// report device's saved-record ring, which is emptied before the next block
// is read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devices/QM_ReportDevice.h"
#include "platform/Clock.h"
#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_ESPBlock.h"

namespace orb {

class TQM_ESPDecoder final : public TQM_ReportDecoder {
 public:
  // Without time stamp or measurement for this long the heartbeat reports
  // that no data come.
  static constexpr int64_t kNoDataMs = 5000;
  // Unreadable version messages ask for the version again at most this
  // often in a row.
  static constexpr int kMaxVersionRequests = 3;
  // FPGA times count ms modulo this.
  static constexpr int kFPGAPeriod = 20000;

  // `host` checks storage answers and knows the calibration factor; `clock`
  // gives the receive ticks. Both outlive the decoder. `flagVersion`: the
  // firmware sends scrambler and flag field in F.
  TQM_ESPDecoder(IBinaryReportHost& host, IClock& clock, bool flagVersion = false);

  std::string_view Name() const override { return "ESP"; }
  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) override;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override;
  void ResetStreamState() override;

  // The firmware number the timing rules use (-1 unknown) and whether the
  // FPGA time of a measurement marks the end of its interval.
  int FirmwareNumber() const { return FVersion; }
  bool IntervalEnd() const { return FORCMeasIntervalEnd; }

 private:
  enum class TRead : uint8_t { kNone, kCleared, kBadFormat, kBlock };
  // What a block became: nothing, the block's own report (FBlock), or a
  // record that is final (saved records and recovery already handled).
  enum class TOutcome : uint8_t { kEmpty, kPlain, kRecord, kDone };

  TOutcome Decode(TQM_ReportDevice& device, TQM_ReportStruct& record, bool text);
  TRead ReadTransmitReport(TQM_ReportDevice& device, TQM_ReportStruct& record);
  TOutcome Dispatch(TQM_ReportDevice& device, TQM_ReportStruct& record);
  // The record of FBlock as it is; storage answers stay raw on the text path.
  void PlainRecord(TQM_ReportDevice& device, TQM_ReportStruct& record, bool text);
  void RecoveryError(TQM_ReportDevice& device, TQM_ReportStruct& record) const;

  TOutcome Measurement(TQM_ReportDevice& device, TQM_ReportStruct& record);
  // False rejects the block; `error` is set when it is accepted with an
  // FPGA time error; `t` is the FPGA time the rules use.
  bool CheckESP_ORCMeasurement(TQM_ReportDevice& device, int interval, int& t, std::string& error);
  TOutcome ESPGenerateTimestamps(TQM_ReportDevice& device, int t, TQM_ReportStruct& record);
  bool CheckESP_Timestamp(TQM_ReportDevice& device);
  bool CheckESP_Heartbeat(TQM_ReportDevice& device, TQM_ReportStruct& record);
  bool CheckESP_Version(TQM_ReportDevice& device, TQM_ReportStruct& record);
  void ApplyMessageEffects(TQM_ReportDevice& device);

  static void Log(TQM_ReportDevice& device, std::string_view text);
  static void LogWarningLine(TQM_ReportDevice& device, std::string_view text);

  IBinaryReportHost& FHost;
  IClock& FClock;
  TESPBlockContext FContext;
  TESPBlockReader FReader;
  TESPBlock FBlock;

  bool FORCMeasIntervalEnd = false;
  int FVersion = -1;
  uint8_t FLastMeasMode = 255;
  int64_t FOffsetFPGA = 0;
  std::optional<int64_t> FFirstReceiveTicks;
  std::optional<int64_t> FReceiveTicksTimestamp;
  std::optional<int64_t> FReceiveTicksMeasuremnt;
  bool FPowerUpNoReference = false;
  bool FRefClockError = false;
  bool FRefClockErrorSend = false;
  int FVersionRequests = 0;
};

// The record in the binary form of the text interface; an error record
// gives its text and code.
TQM_Result ESPRecordToBinary(const TQM_ReportStruct& record, std::string& report);

}  // namespace orb
