#pragma once
// A recorded report file replayed as if a counter were connected. The file
// is read into the receive buffer on the report thread whenever a read finds
// the buffer empty; the report device decodes it with the decoders of live
// data. Text recordings are read line by line, whole lines only.
//
// The device type comes from the name: "QM_ReportData.txt" text lines,
// "QM_RawData.bin" raw data (refused: it cannot be replayed), anything else
// the bytes a counter sent.

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "devices/QM_BaseDevice.h"

namespace orb {

class TQM_FileDeviceItem final : public TQM_BaseDevice {
 public:
  // Bytes taken from the file per read call.
  static constexpr size_t kFilePiece = 10'240;
  // Bytes read from the disk at a time.
  static constexpr size_t kDiskRead = 65'536;
  // A text line never grows beyond this; the rest of a longer run without
  // line end comes as the next line.
  static constexpr size_t kMaxTextLine = 65'536;
  // Until the replay has seen a time stamp every report waits this long.
  static constexpr int kWaitWithoutTimestampMs = 200;

  static TQM_DeviceType DeviceTypeOfName(const std::string& fileName);

  // Opens the file for reading; a file that cannot be opened gives the
  // device the error QM_DeviceNotFound with the reason.
  TQM_FileDeviceItem(int logId, const std::string& fileName, bool loopForEver, int multiId = 0,
                     IClock& clock = SystemClock(), std::shared_ptr<TEvent> receiveEvent = nullptr);
  ~TQM_FileDeviceItem() override;

  TQM_Result OpenPort(std::string& message) override;
  void ClosePort() override;
  TQM_Result DeviceWrite(std::string_view bytes) override;
  bool CheckDeviceClosed() override;
  std::string ToString() const override;
  // Starts the replay again from the first byte: the buffered bytes are
  // dropped without counting as lost data.
  void ResetDevice() override;

  // Binary recordings: the base reads, after any pause.
  bool DeviceRead(size_t count, std::string& out) override;
  bool PeekData(std::span<uint8_t> out) override;
  bool PeekAnsi(size_t count, std::string& out) override;
  bool PeekChar(uint8_t& value) override;

  // Text recordings: the next line without its line end (LF, CR LF), read
  // across refills up to kMaxTextLine; the last line needs no line end.
  // False when the file has no more lines or a pause runs.
  bool ReadTextLine(std::string& line);

  const std::string& Filename() const { return FFilename; }
  // Bytes taken from the file so far (they may still wait in the buffer).
  uint64_t BytesFromFile() const { return FBytesFromFile; }
  bool LoopForEver() const { return FLoopForEver; }
  bool TimestampReceived() const { return FTimestampReceived.load(); }
  void SetTimestampReceived();
  // The pause before the next report (the source sets it after each one).
  void SetWaitMs(int ms);
  int WaitMs() const { return FWaitMs; }

 private:
  // Fills the receive buffer from the file; false at the end of the file
  // (without LoopForEver) or when nothing fits.
  bool ReadFileIntoBuffer();
  // The end of the file: true when a looped replay may go on.
  bool SetEOF();
  void Rewind();
  // 0 when reading may go on; a blocking device sleeps the pause away.
  int RemainingWaitMs(std::string_view operation);

  const std::string FFilename;
  const bool FLoopForEver;
  // The stream's own buffer: the file is read from the disk in large
  // blocks, whatever the size of the pieces taken from the stream.
  std::unique_ptr<char[]> FStreamBuffer;
  std::ifstream FDataStream;
  bool FStreamOpen = false;
  std::string FRawLine;
  std::string FChunk;
  size_t FRawLineStart = 0;    // the characters before it are taken
  size_t FRawLineScanned = 0;  // from FRawLineStart, without a line end
  std::atomic<bool> FTimestampReceived{false};
  uint64_t FBytesFromFile = 0;
  int FWaitMs = 0;
  int64_t FLastRead = 0;
};

}  // namespace orb
