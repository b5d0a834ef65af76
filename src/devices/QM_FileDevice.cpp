#include "devices/QM_FileDevice.h"

#include <array>
#include <condition_variable>
#include <mutex>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

// Every file device gets the next number; the first one 0x11000001.
std::atomic<uint32_t> GFileSerialNumber{0x11000000};

}  // namespace

TQM_DeviceType TQM_FileDeviceItem::DeviceTypeOfName(const std::string& fileName) {
  if (fileName.find("QM_ReportData.txt") != std::string::npos) return QM_TxtFile;
  if (fileName.find("QM_RawData.bin") != std::string::npos) return QM_RawFile;
  return QM_BinFile;
}

TQM_FileDeviceItem::TQM_FileDeviceItem(int logId, const std::string& fileName, bool loopForEver,
                                       int multiId, IClock& clock,
                                       std::shared_ptr<TEvent> receiveEvent)
    : TQM_BaseDevice(logId, DeviceTypeOfName(fileName), multiId, clock, std::move(receiveEvent)),
      FFilename(fileName),
      FLoopForEver(loopForEver),
      FStreamBuffer(std::make_unique<char[]>(kDiskRead)) {
  SetHasCommandList(true);
  SetDevicePath(fileName);
  const uint32_t serial = GFileSerialNumber.fetch_add(1) + 1;
  SetSerialNumberValue(serial);
  LogDebugLazy(LogId(), [&] {
    return "TQM_FileDeviceItem.Create SerialNumberValue=" + IntToHex(serial, 8);
  });
  FDataStream.rdbuf()->pubsetbuf(FStreamBuffer.get(), kDiskRead);
  FDataStream.open(fileName, std::ios::binary);
  FStreamOpen = FDataStream.is_open();
  if (!FStreamOpen) {
    const std::string message = "Cannot open file " + fileName;
    LogErrorText(LogId(), "FileDeviceItem: " + message);
    SetError(QM_DeviceNotFound, message);
  }
}

TQM_FileDeviceItem::~TQM_FileDeviceItem() = default;

std::string TQM_FileDeviceItem::ToString() const { return "QM_File: Filename=" + FFilename; }

TQM_Result TQM_FileDeviceItem::OpenPort(std::string& message) {
  FRawLine.clear();
  FRawLineStart = 0;
  FRawLineScanned = 0;
  if (PortIsOpened()) return QM_No_Err;
  if (ErrorCode() == QM_DeviceNotFound) {
    message = ErrorMessage();
    return QM_DeviceNotFound;
  }
  if (DevType() == QM_RawFile) {
    // Raw T1/T2/T3 words have no report decoder: replaying them would
    // deliver nothing while looking like a working source.
    message = "Raw-data recordings cannot be replayed: ";
    LogErrorText(LogId(), "### Failed Open FileDevice " + FFilename + " ### raw data");
    return QM_Err_BadFormat;
  }
  Log("### Open FileDevice " + FFilename + " ###");
  if (!ReadFileIntoBuffer()) {
    Log("### Failed Open FileDevice " + FFilename + " ###");
    const TDeviceError error = TakeError();
    message = error.Message;
    FDataStream.close();
    FStreamOpen = false;
    return error.Code == QM_No_Err ? QM_Err_EndOfFile : error.Code;
  }
  QuitError();
  SetPortIsOpened(true);
  Log("### Opened FileDevice " + FFilename + " ###");
  return QM_No_Err;
}

void TQM_FileDeviceItem::ClosePort() {
  SetPortIsOpened(false);
  if (!FStreamOpen) {
    Log("FileDevice.ClosePort already closed");
    return;
  }
  Log("### Close FileDevice " + FFilename + " ###");
  FDataStream.close();
  FStreamOpen = false;
}

TQM_Result TQM_FileDeviceItem::DeviceWrite(std::string_view bytes) {
  LogDebugLazy(LogId(), [&] { return ".FileProcessCommand: ignore " + BytesToHex(bytes); });
  return QM_No_Err;
}

bool TQM_FileDeviceItem::CheckDeviceClosed() {
  Log("FileDevice.CheckDeviceClosed");
  const bool closed =
      DevType() == QM_TxtFile ? ErrorCode() == QM_Err_EndOfFile : !ReadFileIntoBuffer();
  if (closed) SetPortIsOpened(false);
  return closed;
}

void TQM_FileDeviceItem::ResetDevice() {
  Log("TQM_FileDeviceItem.ResetDevice");
  ReceiveBuffer().Discard();
  FRawLine.clear();
  FRawLineStart = 0;
  FRawLineScanned = 0;
  Rewind();
  // Opened again: an end of file met before the rewind no longer holds.
  QuitError();
  SetPortIsOpened(ReadFileIntoBuffer());
}

void TQM_FileDeviceItem::Rewind() {
  FDataStream.clear();
  FDataStream.seekg(0);
}

bool TQM_FileDeviceItem::ReadFileIntoBuffer() {
  if (!FStreamOpen) return false;
  std::array<char, kFilePiece> piece;
  size_t space = ReceiveBuffer().AvailableSpace();
  size_t total = 0;
  bool rewound = false;
  while (space > 0) {
    FDataStream.read(piece.data(), static_cast<std::streamsize>(std::min(kFilePiece, space)));
    const size_t got = static_cast<size_t>(FDataStream.gcount());
    if (got == 0) {
      // Another program may still append: the next call reads on from here.
      FDataStream.clear();
      if (total > 0) break;
      if (!FLoopForEver || rewound) {
        SetEOF();
        Log("FileDevice.ReadFileIntoBuffer: EOF");
        return false;
      }
      // The last line of a text file needs no line end; it must not run
      // into the first line of the next round.
      if (!FRawLine.empty()) FRawLine.push_back('\n');
      Rewind();
      rewound = true;
      continue;
    }
    if (!ReceiveBuffer().Write(std::span(reinterpret_cast<const uint8_t*>(piece.data()), got))) {
      SetError(QM_Err_ReceiveBufferOverflow,
               "FileDevice.ReadFileIntoBuffer.Write failed: anz=" + IntToText(got) +
                   ", Available=" + IntToText(ReceiveBuffer().AvailableSpace()));
      return false;
    }
    total += got;
    space -= got;
    FBytesFromFile += got;
  }
  LogDebugLazy(LogId(), [&] {
    return "FileDevice.ReadFileIntoBuffer: " + IntToText(total) + " Bytes aus Datei lesen";
  });
  return total > 0;
}

bool TQM_FileDeviceItem::SetEOF() {
  if (!FStreamOpen) {
    SetError(QM_Err_EndOfFile, "File " + FFilename + " already closed");
    return false;
  }
  const std::string message = "File " + FFilename + " EOF reached";
  Log("FileDeviceItem.SetEOF " + message + ", Bytes left=" + IntToText(BufferAmount()));
  SetError(QM_Err_EndOfFile, message);
  return false;
}

void TQM_FileDeviceItem::SetTimestampReceived() {
  if (!FTimestampReceived.exchange(true)) Log("FileDevice.SetTimestampReceived");
}

void TQM_FileDeviceItem::SetWaitMs(int ms) {
  FWaitMs = ms;
  FLastRead = Clock().MonotonicMs();
  LogDebugLazy(LogId(), [&] { return "FileDevice.SetWaitMs " + IntToText(ms); });
}

int TQM_FileDeviceItem::RemainingWaitMs(std::string_view operation) {
  if (FWaitMs <= 0) return 0;
  const int64_t remaining = FLastRead + FWaitMs - Clock().MonotonicMs();
  if (remaining <= 0) {
    FWaitMs = 0;
    return 0;
  }
  if (!BlockingIO()) {
    LogDebugLazy(LogId(), [&] {
      return "FileDevice." + std::string(operation) + " remaining wait [ms] " +
             IntToText(remaining);
    });
    return static_cast<int>(remaining);
  }
  LogDebugLazy(LogId(), [&] {
    return "FileDevice." + std::string(operation) + " BlockingIO wait [ms] " + IntToText(remaining);
  });
  std::mutex sleepLock;
  std::condition_variable never;
  std::unique_lock lock(sleepLock);
  Clock().WaitUntil(never, lock, FLastRead + FWaitMs, [] { return false; });
  FWaitMs = 0;
  return 0;
}

bool TQM_FileDeviceItem::DeviceRead(size_t count, std::string& out) {
  return RemainingWaitMs("DeviceRead") == 0 && TQM_BaseDevice::DeviceRead(count, out);
}

bool TQM_FileDeviceItem::PeekData(std::span<uint8_t> out) {
  return RemainingWaitMs("PeekData") == 0 && TQM_BaseDevice::PeekData(out);
}

bool TQM_FileDeviceItem::PeekAnsi(size_t count, std::string& out) {
  return RemainingWaitMs("PeekData") == 0 && TQM_BaseDevice::PeekAnsi(count, out);
}

bool TQM_FileDeviceItem::PeekChar(uint8_t& value) {
  return RemainingWaitMs("PeekChar") == 0 && TQM_BaseDevice::PeekChar(value);
}

bool TQM_FileDeviceItem::ReadTextLine(std::string& line) {
  if (RemainingWaitMs("DeviceRead") > 0) return false;
  constexpr size_t kChunk = 4096;
  for (;;) {
    const size_t end = FRawLine.find('\n', FRawLineStart + FRawLineScanned);
    if (end != std::string::npos) {
      const size_t stop = end > FRawLineStart && FRawLine[end - 1] == '\r' ? end - 1 : end;
      line.assign(FRawLine, FRawLineStart, stop - FRawLineStart);
      // The line stays until no whole line is left: one move per chunk
      // instead of one per line.
      FRawLineStart = end + 1;
      FRawLineScanned = 0;
      break;
    }
    FRawLine.erase(0, FRawLineStart);
    FRawLineStart = 0;
    FRawLineScanned = FRawLine.size();
    if (FRawLine.size() >= kMaxTextLine) {
      LogWarning(LogId(), "FileDevice.ReadTextLine: line longer than " + IntToText(kMaxTextLine) +
                              " bytes cut");
      line.assign(FRawLine, 0, kMaxTextLine);
      FRawLine.erase(0, kMaxTextLine);
      FRawLineScanned = 0;
      break;
    }
    const size_t amount = std::min({BufferAmount(), kChunk, kMaxTextLine - FRawLine.size()});
    if (amount == 0) {
      if (ReadFileIntoBuffer()) continue;
      Log("FileDeviceItem.ReadRawLine failed: EOF");
      if (FRawLine.empty()) {
        CheckDeviceClosed();
        return false;
      }
      // The last line of the file, without a line end.
      line.assign(FRawLine);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      FRawLine.clear();
      FRawLineScanned = 0;
      break;
    }
    if (!ReceiveBuffer().ReadAnsiString(amount, FChunk)) continue;
    FRawLine += FChunk;
  }
  // Once seen, the lines need not be searched again.
  if (!TimestampReceived() &&
      (line.find("7016") != std::string::npos || line.find("7015") != std::string::npos)) {
    SetTimestampReceived();
  }
  return true;
}

}  // namespace orb
