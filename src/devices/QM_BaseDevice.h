#pragma once
// The base of every connection to a counter. A transport derives from it and
// implements the five operations marked below; everything else is shared:
//
// - Bytes arrive only through the receive buffer. Transport threads write
//   into ReceiveBuffer() (which sets the receive event) and do nothing else
//   with the report side; the report device reads on its own thread.
// - Errors are reported with SetError / SetSystemError from any thread; the
//   report device takes code and message in one step (TakeError).
// - Command pacing (awaited answer, pause before the next command) is kept
//   in atomics here; transports call ApplyCommandPacing after a write and
//   SetCmdResponse(crt_none) when the answer arrives.
// - Binary recording may be fed from any thread.
//
// Identity fields are written on the report thread; those that the command
// gate reads from the main thread are atomics.

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "protocol/CircularBuffer.h"
#include "protocol/QM_CommonTypes.h"
#include "protocol/QM_ServiceCommands.h"

namespace orb {

class TQM_ReportDevice;

// Steps of the flash read that fetches the serial-number block.
enum TReadFlashStatus : int {
  rfs_Idle = 0,       // nothing requested (or the last try failed)
  rfs_Requested = 1,  // request written, answer expected in the tools buffer
  rfs_Waiting = 2,    // no answer yet
  rfs_Done = 3,
};

// The error state of a link.
struct TDeviceError {
  TQM_Result Code = QM_No_Err;
  std::string Message;
  int SystemError = 0;
};

class TQM_BaseDevice {
 public:
  static constexpr uint32_t kUnknownSerial = 0xFFFFFFFF;
  static constexpr int kDefaultReadTimeoutMs = 200;
  // An awaited answer or a run-out ColdFire pause ends after this long: a
  // lost answer must not stall the command queue for good.
  static constexpr int64_t kPacingTimeoutMs = 5000;

  // Without an event of its own the device uses the process-wide
  // "BaseReceiveEvent".
  TQM_BaseDevice(int logId, TQM_DeviceType type, int multiId = 0, IClock& clock = SystemClock(),
                 std::shared_ptr<TEvent> receiveEvent = nullptr);
  virtual ~TQM_BaseDevice();
  TQM_BaseDevice(const TQM_BaseDevice&) = delete;
  TQM_BaseDevice& operator=(const TQM_BaseDevice&) = delete;

  // ---- What a transport implements --------------------------------------
  virtual TQM_Result OpenPort(std::string& message) = 0;
  virtual void ClosePort() = 0;
  // Writes one command; on failure sets the error state and returns its code.
  virtual TQM_Result DeviceWrite(std::string_view bytes) = 0;
  // Called when a read found no data: a transport whose link died sets the
  // error state and returns true.
  virtual bool CheckDeviceClosed() = 0;
  // The device text of log lines.
  virtual std::string ToString() const;

  // Transports that keep their own command handling override these.
  virtual int GetPendingCmdsCount() const { return 0; }
  virtual void DeleteCommands() {}
  virtual void ResetDevice() {}
  virtual std::string DeviceHost() const { return std::string(); }
  virtual std::string DeviceIP() const { return std::string(); }
  virtual bool IsEqual(const TQM_BaseDevice& other) const;

  // ---- Reading (report thread) ---------------------------------------------
  // When nothing is there: CheckDeviceClosed, then (no error, blocking mode)
  // one wait of ReadTimeoutMs on the receive event and one more try. A write
  // between the try and the wait is never missed.
  virtual bool DeviceRead(size_t count, std::string& out);  // up to count (1..255) bytes
  virtual bool PeekData(std::span<uint8_t> out);            // exactly out.size() bytes
  virtual bool PeekAnsi(size_t count, std::string& out);
  virtual bool PeekChar(uint8_t& value);
  virtual bool ConfirmPeekedData(size_t count);
  // Service answers, in pieces of at most 255 bytes.
  bool ToolsRead(size_t count, std::string& out);
  std::string ToolsReadAll();

  size_t BufferAmount() const { return FReceiveBuffer->Amount(); }
  size_t BufferHighAmount() const { return FReceiveBuffer->HighAmount(); }
  void GetBufferAmounts(size_t& amount, size_t& highAmount) const {
    FReceiveBuffer->GetAmounts(amount, highAmount);
  }
  // Takes the buffer-cleared flag; a loss of data also ends the pacing,
  // because the answer it waits for may be among the lost bytes.
  bool ReceiveBufferCleared();
  TCircularBuffer& ReceiveBuffer() { return *FReceiveBuffer; }
  TCircularBuffer& ToolsBuffer() { return *FToolsBuffer; }
  const std::shared_ptr<TEvent>& ReceiveEvent() const { return FReceiveEvent; }

  // ---- Error state (any thread) ------------------------------------------
  void SetError(TQM_Result code, std::string_view message);
  // Code QM_System_Err, message header + ": (" + number + ")=" + content.
  void SetSystemError(int lastError, std::string_view header, std::string_view content);
  // Returns code, message and system error and clears them in one step.
  TDeviceError TakeError();
  void QuitError() { TakeError(); }
  TQM_Result ErrorCode() const;
  std::string ErrorMessage() const;
  int SystemLastError() const;

  // ---- Command pacing (any thread) ---------------------------------------
  TCmdResponseType CmdResponse() const;
  // Returns the previous value, so a failed request can restore it.
  TCmdResponseType SetCmdResponse(TCmdResponseType response);
  // The awaited answer; one that has been awaited for kPacingTimeoutMs is
  // given up (logged) and crt_none returned.
  TCmdResponseType AwaitedCmdResponse();
  void SetDelayNextCmdMs(int ms);  // 0 ends the pause
  // 0 without a pause, else the remaining ms; a pause that ran out gives 1
  // for ColdFire peers (it ends with the answer, or after kPacingTimeoutMs)
  // and 0 for the others.
  int GetDelayNextCmdMs();
  // The pacing rules after `command` was written: the awaited answer of an
  // ESP counter and the pause after storage writes. Returns the previous
  // awaited answer.
  TCmdResponseType ApplyCommandPacing(std::string_view command);
  // Data were lost (buffer cleared or overflowed, link re-established): the
  // awaited answer and the pause end now.
  void EndPacing(std::string_view reason);

  // ---- Identity --------------------------------------------------------------
  int LogId() const { return FLogId; }
  int MultiId() const { return FMultiId; }
  TQM_DeviceType DevType() const { return FDevType; }
  const std::string& DevicePath() const { return FDevicePath; }
  void SetDevicePath(std::string path) { FDevicePath = std::move(path); }
  TQM_PeerType PeerType() const { return FPeerType.load(); }
  // Only file devices learn their peer type from the data; others keep the
  // one found when connecting (a transport sets it with InitPeerType).
  void SetPeerType(TQM_PeerType peer);
  void InitPeerType(TQM_PeerType peer) { FPeerType = peer; }
  uint32_t SerialNumberValue() const { return FSerialNumberValue.load(); }
  bool SerialNumberRead() const { return FSerialNumberRead.load(); }
  void SetSerialNumberValue(uint32_t serial);
  uint8_t UserID() const { return FUserID; }
  void SetUserID(uint8_t id) { FUserID = id; }
  uint8_t CFUserID() const { return FCFUserID; }
  void SetCFUserID(uint8_t id);
  uint16_t HardFeature() const { return FHardFeature.load(); }
  void SetHardFeature(uint16_t feature);
  uint32_t HardFeature32() const { return FHardFeature32.load(); }
  void SetHardFeature32(uint32_t feature);
  int FirmwareVersionNumber() const { return FFirmwareVersionNumber.load(); }
  void SetFirmwareVersionNumber(int number);
  int FirmwareVersionMajor() const { return FFirmwareVersionMajor; }
  int FirmwareVersionMinor() const { return FFirmwareVersionMinor; }
  void SetESPFirmwareVersion(int major, int minor);
  TQM_FPGAType FPGAtype() const { return FFPGAtype; }
  const std::string& FPGAVersion() const { return FFPGAVersion; }
  // "YYMMDD.CC"; sets the FPGA type from the date, the peer and the firmware.
  void SetFFPGAVersion(std::string_view text);
  // A new record with serial number, peer type and hard features; nothing
  // while the serial number is unknown.
  std::unique_ptr<TQM_DeviceInfo> GetDeviceInfo() const;

  int ORCChannelCount() const { return FORCChannelCount.load(); }
  void SetORCChannelCount(int count) { FORCChannelCount = count; }
  uint32_t ORCReportHeader() const { return FORCReportHeader.load(); }
  void SetORCReportHeader(uint32_t header) { FORCReportHeader = header; }
  TQM_DeviceStartState DeviceStartState() const { return FDeviceStartState.load(); }
  void SetDeviceStartState(TQM_DeviceStartState state) { FDeviceStartState = state; }
  uint32_t ReceivedSec() const { return FReceivedSec.load(); }
  void SetReceivedSec(uint32_t second) { FReceivedSec = second; }

  // ---- Link state ------------------------------------------------------------
  bool PortIsOpened() const { return FPortIsOpened.load(); }
  void SetPortIsOpened(bool opened) { FPortIsOpened = opened; }
  bool BlockingIO() const { return FBlockingIO.load(); }
  void SetBlockingIO(bool blocking) { FBlockingIO = blocking; }
  int ReadTimeoutMs() const { return FReadTimeoutMs.load(); }
  void SetReadTimeoutMs(int ms) { FReadTimeoutMs = ms; }
  bool HasCommandList() const { return FHasCommandList; }
  void SetHasCommandList(bool has) { FHasCommandList = has; }

  bool IsSerialDevice() const { return FDevType == QM_Serial; }
  bool IsUSBDevice() const { return FDevType == QM_HID || FDevType == QM_CDC; }
  bool IsNetworkDevice() const { return FDevType == QM_Remote; }
  bool IsCANDevice() const { return FDevType == QM_CAN_Rack; }

  // ---- Connected users -------------------------------------------------------
  // Four 4-byte entries; any other length clears the text (logged).
  void SetUserConnected(std::string_view entries);
  const std::string& UserConnected() const { return FUserConnected; }
  // "  1: ---  2: usb (me)  3: 192.168.1.4 ..." for the complete entries
  // present (at most four); " (me)" marks this device's own link kind or an
  // address that occurs in `serverAddresses`.
  std::string ConvertConnectedUsersBinToAnsi(std::string_view entries,
                                             std::string_view serverAddresses) const;

  // ---- Bytes seen by a transport (any thread) --------------------------------
  // While the start state is unknown: a framed 0x7016 time stamp (08 70 16
  // and 4 value bytes) with value 1 means a cold start, any other a warm one.
  void CheckTimeStampBytes(std::span<const uint8_t> bytes);

  // Serial, USB, network and CAN devices only; false for the others or when
  // the file cannot be created.
  bool StartSaveBinaryData(const std::string& fileName);
  void StopSaveBinaryData();
  void SaveBinaryData(std::span<const uint8_t> data);
  bool BinSaveRawData() const { return FBinSaveRawData.load(); }

  // ---- Service commands (QM_DeviceService.cpp) --------------------------------
  // Calibration values go to the counter multiplied by this factor.
  int CalibFactorFloatToInt() const { return FCalibFactorFloatToInt.load(); }
  void SetCalibFactorFloatToInt(int factor);  // positive values only
  NumberFormat FormatSettings() const;
  void SetFormatSettings(const NumberFormat& format);

  // Written straight to the device, not through the command queue. Nothing
  // is written when a scaled value does not fit a signed 32-bit integer.
  bool SetCalibrationData(const TCalibrationValues& values);
  // Up to 24 values separated by ";"; missing ones are 0.
  bool SetCalibrationDataString(std::string_view text);
  // The four blocks, each after the pause the pacing rules give the one
  // before; the first failed write stops the rest.
  bool SetOHRData(const TOHRSettings& settings);
  bool SetOHRDataString(std::string_view text);
  // Requests the next block of the high-resolution settings through
  // `sender`, which receives the answers; true when the request was written
  // or queued.
  virtual bool ReadOHRData(TQM_ReportDevice& sender);
  // Reads a 0x7902 answer (report thread); may request the next block.
  // Returns "7902; " + text when a result is complete, else an empty text.
  std::string Check7902Report(std::string_view payload);
  // A report device that goes away stops receiving answers.
  void ForgetOHRSender(const TQM_ReportDevice& sender);
  // A read of the high-resolution settings waits for its next block.
  bool OHRReadPending() const;
  // One step of the flash read; the transport calls it until it is done.
  // Driven by one thread at a time.
  TReadFlashStatus ReadFlash();
  TReadFlashStatus StatusReadFlash() const { return FStatusReadFlash.load(); }
  std::string FlashVariables() const;

 protected:
  IClock& Clock() const { return FClock; }
  void Log(std::string_view text) const;

 private:
  template <typename Attempt>
  bool ReadOrWait(Attempt attempt);
  // Connected-user entry value in the peer's byte order.
  uint32_t EntryValue(const uint8_t* entry) const;
  void SetDelayDeadline(int64_t deadline);
  // Service commands: a direct write logged "{hex}", the end of a settings
  // read, the steps of the flash read, and a pause on the device's clock.
  bool WriteServiceCommand(std::string_view tag, const std::string& command);
  void ResetOHRRead();
  void RequestFlashInfo();
  void TakeFlashInfo();
  void WaitFlashInfo();
  void PauseMs(int ms) const;

  const int FLogId;
  const int FMultiId;
  const TQM_DeviceType FDevType;
  IClock& FClock;
  std::string FDevicePath;

  std::shared_ptr<TEvent> FReceiveEvent;
  std::unique_ptr<TCircularBuffer> FReceiveBuffer;
  std::unique_ptr<TCircularBuffer> FToolsBuffer;

  mutable std::mutex FErrorLock;
  TDeviceError FError;

  // Awaited answer in the top byte, the monotonic ms it was set below.
  std::atomic<uint64_t> FCmdResponseState{0};
  std::atomic<int64_t> FDelayDeadline;

  std::atomic<TQM_PeerType> FPeerType{ptUnknown};
  std::atomic<uint32_t> FSerialNumberValue{kUnknownSerial};
  std::atomic<bool> FSerialNumberRead{false};
  uint8_t FUserID = 255;
  uint8_t FCFUserID = 255;
  std::atomic<uint16_t> FHardFeature{0};
  std::atomic<uint32_t> FHardFeature32{0};
  std::atomic<int> FFirmwareVersionNumber{0};
  int FFirmwareVersionMajor = -1;
  int FFirmwareVersionMinor = -1;
  TQM_FPGAType FFPGAtype = ft_unknown;
  std::string FFPGAVersion;
  std::string FUserConnected;
  std::atomic<int> FORCChannelCount{0};
  std::atomic<uint32_t> FORCReportHeader{0xFFFF};
  std::atomic<TQM_DeviceStartState> FDeviceStartState{ds_unknown};
  std::atomic<uint32_t> FReceivedSec{0};

  std::atomic<bool> FPortIsOpened{false};
  std::atomic<bool> FBlockingIO{false};
  std::atomic<int> FReadTimeoutMs{kDefaultReadTimeoutMs};
  bool FHasCommandList = false;

  std::mutex FRecordLock;
  std::ofstream FBinDataStream;
  std::atomic<bool> FBinSaveRawData{false};

  // Service state. The lock guards the number format, the high-resolution
  // read state and the flash block; it is released before anything is
  // written to the device. The flash read's step and tick belong to the one
  // thread that drives it.
  std::atomic<int> FCalibFactorFloatToInt{1000};
  mutable std::mutex FServiceLock;
  NumberFormat FFormatSettings;
  TOHRSettings FOHRReadSettings;
  TQM_ReportDevice* FOHRSender = nullptr;
  int FOHRReadCount = 0;
  int FOHRReadCountLast = -1;
  int FOHREmptyRepeats = 0;
  std::string FFlashVariables;
  std::atomic<TReadFlashStatus> FStatusReadFlash{rfs_Idle};
  int64_t FTickReadFlash = 0;
};

}  // namespace orb
