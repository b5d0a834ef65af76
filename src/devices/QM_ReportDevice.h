#pragma once
// The report device sits on one TQM_BaseDevice and runs on the report
// thread: it cuts reports out of the device's bytes with a decoder strategy,
// keeps the version data and the device time, holds back records, and runs
// the command queue, which the main thread fills while the report thread
// writes one queued command between two reports.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_SavedReports.h"
#include "protocol/QM_CommonTypes.h"
#include "protocol/QM_Report.h"

namespace orb {

class TQM_ReportDevice;

// One way of cutting reports out of a device's bytes. A decoder that learns
// that the stream is of another kind hands over with
// TQM_ReportDevice::ReplaceDecoder; the swap happens when its call returns.
class TQM_ReportDecoder {
 public:
  virtual ~TQM_ReportDecoder() = default;
  virtual std::string_view Name() const = 0;
  // One report as its text or bytes; an empty report when none is complete.
  virtual TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) = 0;
  // One report as a record; rt_None when none is complete.
  virtual void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) = 0;
  // Writes at most one queued command; the base engine unless the stream
  // has a command dialogue of its own.
  virtual TQM_Result ProcessCommand(TQM_ReportDevice& device, std::string& message);
  // The stream starts again from its first byte (a replayed file rewound):
  // forget any half-read frame and the framing state.
  virtual void ResetStreamState() {}
  // Decoders of text lines: the line the last report came from, valid until
  // the next call.
  virtual std::string_view LastLine() const { return {}; }
  // Decoders of binary reports: the report (header and body) that the last
  // record was read from, empty when the last call read none from the
  // stream (nothing complete, an error, a further part of a packed report).
  virtual std::string_view LastBinaryReport() const { return {}; }
};

class TQM_ReportDevice {
 public:
  // `codec` is the source's text codec state; both outlive this object.
  TQM_ReportDevice(TQM_BaseDevice& device, TSourceCodecState& codec,
                   std::unique_ptr<TQM_ReportDecoder> decoder);
  ~TQM_ReportDevice();
  TQM_ReportDevice(const TQM_ReportDevice&) = delete;
  TQM_ReportDevice& operator=(const TQM_ReportDevice&) = delete;

  // ---- Report pump (report thread) ------------------------------------------
  // In rxCommand mode the call runs the command engine instead of reading.
  TQM_Result GetReport(std::string& report);
  void GetReportStruct(TQM_ReportStruct& record);
  void ReplaceDecoder(std::unique_ptr<TQM_ReportDecoder> next);
  // A restarted stream also restarts the FPGA time checks.
  void ResetStreamState() {
    FLastFPGA = -1;
    FDecoder->ResetStreamState();
  }
  const TQM_ReportDecoder* Decoder() const { return FDecoder.get(); }

  // ---- Commands ----------------------------------------------------------------
  // Any thread. Writes at once or queues; 0 when queued or written, else the
  // device's error code with its message in `command`.
  TQM_Result SendCommand(std::string& command);
  // Report thread: writes the first queued command when the pacing allows
  // and returns to rxData.
  TQM_Result BaseProcessCommand(std::string& message);
  int GetPendingCmdsCount() const;
  TReadModes RxMode() const;
  // Serial links send a command only in place of an acknowledgement: takes
  // the first queued command and enters rxCommand, unless none waits or the
  // pacing holds commands back.
  bool TakeCommandForAck(std::string& command);
  // The decoder's own command dialogue has ended: back to rxData.
  void EndCommandDialogue();
  // Removes the first queued command when it is the version request (an
  // answer to it arrived); true when it did.
  bool TakeQueuedVersionCommand();

  // ---- Errors --------------------------------------------------------------------
  // Takes the device's error; a buffer overflow or a new connection means
  // lost data: the next format error is ignored and the pacing ends.
  TQM_Result CheckDeviceError(std::string& message);
  // Returns the flag and clears it.
  bool TakeIgnoreNextFormatError() { return FIgnoreNextFormatError.exchange(false); }

  // ---- Held-back records --------------------------------------------------------
  void SetSavedReport(const TQM_ReportStruct& record) { FSavedReports.Add(record); }
  TQM_ReportStruct GetSavedReport() { return FSavedReports.Take(); }
  size_t SavedReportCount() const { return FSavedReports.Count(); }

  // ---- Version ----------------------------------------------------------------------
  // The payload of a ColdFire 0x7001 message. False when it was ignored (a
  // version is already known) or holds no version.
  bool ExtractFirmware(std::string_view payload);
  // A line "7001VERSION...".
  bool ExtractFirmwareVersionDateTextReport(std::string_view line);
  // The ESP version text; true when the minor number was read.
  bool ESPExtractFirmware(std::string_view text);
  bool ExtractUserID(std::string_view text);
  bool ExtractSerialNumber(std::string_view text);

  bool VersionReceived() const { return FVersionReceived.load(); }
  const std::string& VersionString() const { return FVersionString; }
  const std::string& FWVersionString() const { return FFWVersionString; }
  int Major() const { return FMajor; }
  int Minor() const { return FMinor; }
  int Version() const { return FVersion; }
  const std::string& FirmwareDate() const { return FFirmwareDate; }
  const std::string& FPGAVersion() const { return FFPGAVersion; }
  uint16_t HardFeature() const { return FHardFeature; }
  const std::string& HardFeatureString() const { return FHardFeatureString; }
  const std::string& VersionIP() const { return FVersionIP; }
  uint32_t VersionSerialNumber() const { return FVersionSerialNumber; }
  uint8_t VersionUser() const { return FVersionUser; }
  // Hard features with bit 1 and without bit 0.
  bool IsLTVonly() const { return (FHardFeature & 3) == 2; }

  // ---- Device time --------------------------------------------------------------
  // 0x7016 counts tenths, 0x7015 seconds; from the second data report after
  // a time stamp on, each data report adds its interval.
  void UpdateDeviceMs(uint32_t header, uint32_t value);
  // Updates the device time from the record and stamps the record with it.
  void StampRecord(TQM_ReportStruct& record);
  int64_t DeviceMs() const { return FDeviceMs; }
  void ReSync();
  void ResetLastFPGA();
  int LastFPGA() const { return FLastFPGA; }
  // ESP blocks carry the FPGA time and the 100 ms counter themselves.
  void SetLastFPGA(int fpgaTime) { FLastFPGA = fpgaTime; }
  int64_t Device100ms() const { return FDevice100ms; }
  void SetDevice100ms(int64_t tenths) { FDevice100ms = tenths; }
  void SetDeviceMs(int64_t ms) { FDeviceMs = ms; }

  TQM_BaseDevice& Device() { return FDevice; }
  TSourceCodecState& Codec() { return FCodec; }
  const std::string& DbgTag() const { return FDbgTag; }

 private:
  void Log(std::string_view text) const;
  void ApplyColdfireVersion(std::string_view text);
  void AfterDecoderCall(bool engineRan);
  void AppendCommand(std::string_view reason, const std::string& command);

  TQM_BaseDevice& FDevice;
  TSourceCodecState& FCodec;
  const int FLogId;
  const std::string FDbgTag;
  std::unique_ptr<TQM_ReportDecoder> FDecoder;
  std::unique_ptr<TQM_ReportDecoder> FNextDecoder;

  // Guards the queue, the read mode and the write token: only one writer
  // (SendCommand or the engine) talks to the device at a time, and the
  // check "queue or write" is one step with the append.
  mutable std::mutex FCmdLock;
  std::deque<std::string> FCmdList;
  TReadModes FRxMode = rxData;
  bool FWriting = false;
  // Lets the report thread skip the lock while nothing is queued.
  std::atomic<size_t> FQueuedHint{0};

  std::atomic<bool> FIgnoreNextFormatError{false};
  TQM_SavedReports FSavedReports;

  std::atomic<bool> FVersionReceived{false};
  std::string FVersionString;
  std::string FFWVersionString;
  int FMajor = -1;
  int FMinor = -1;
  int FVersion = -1;
  std::string FFirmwareDate;
  std::string FFPGAVersion;
  uint16_t FHardFeature = 0;
  std::string FHardFeatureString;
  std::string FVersionIP;
  uint32_t FVersionSerialNumber = TQM_BaseDevice::kUnknownSerial;
  uint8_t FVersionUser = 255;

  int64_t FDeviceMs = -1;
  int64_t FDevice100ms = -1;
  int FDeviceMsCount = 0;
  int FLastFPGA = -1;
};

}  // namespace orb
