#include "protocol/CircularBuffer.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "logging/LogUnit.h"

namespace orb {

namespace {
constexpr size_t kIndexMask = TCircularBuffer::kCapacity - 1;
static_assert((TCircularBuffer::kCapacity & kIndexMask) == 0, "capacity must be a power of two");

bool IsFrameEnd(uint8_t value) { return value == 0xBD || value == 0xBF; }

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}
}  // namespace

TCircularBuffer::TCircularBuffer(int logId, std::shared_ptr<TEvent> receiveEvent, IClock& clock)
    : FLogId(logId), FClock(clock), FReceiveEvent(std::move(receiveEvent)) {}

bool TCircularBuffer::Write(std::span<const uint8_t> data) {
  std::lock_guard lock(FLockObj);
  if (data.size() > kCapacity - FAmount) return false;
  CopyIn(data);
  Signal();
  return true;
}

bool TCircularBuffer::WriteAnsiString(std::string_view data) {
  std::lock_guard lock(FLockObj);
  if (FToBeInsertedData.empty()) {
    if (data.size() > kCapacity - FAmount) return false;
    CopyIn(Bytes(data));
    Signal();
    return true;
  }
  const std::string_view pending = FToBeInsertedData;
  if (FAmount == 0) {
    // Nothing unread: the message starts the stream, the data follow. The
    // message always fits, it is far smaller than the buffer.
    CopyIn(Bytes(pending));
    FToBeInsertedData.clear();
    const bool written = data.size() <= kCapacity - FAmount;
    if (written) CopyIn(Bytes(data));
    Signal();
    return written;
  }
  const auto frameEnd = std::find_if(data.begin(), data.end(),
                                     [](char c) { return IsFrameEnd(static_cast<uint8_t>(c)); });
  if (frameEnd == data.end()) {
    // The frame goes on: the message keeps waiting.
    if (data.size() > kCapacity - FAmount) return false;
    CopyIn(Bytes(data));
    Signal();
    return true;
  }
  if (data.size() + pending.size() > kCapacity - FAmount) return false;
  const size_t head = static_cast<size_t>(frameEnd - data.begin()) + 1;
  CopyIn(Bytes(data.substr(0, head)));
  CopyIn(Bytes(pending));
  CopyIn(Bytes(data.substr(head)));
  FToBeInsertedData.clear();
  Signal();
  return true;
}

bool TCircularBuffer::WriteAnsiString(std::string_view data, size_t start, size_t count) {
  const size_t offset = start > 0 ? start - 1 : 0;
  return WriteAnsiString(offset < data.size() ? data.substr(offset, count) : std::string_view());
}

bool TCircularBuffer::InsertAnsiString(std::string_view message) {
  std::lock_guard lock(FLockObj);
  try {
    if (message.size() > kCapacity - FAmount) return false;
    if (FAmount == 0 || FNoEOL) {
      CopyIn(Bytes(message));
      Signal();
      return true;
    }
    size_t behindFrameEnd = 0;  // unread bytes after the last frame end
    while (behindFrameEnd < FAmount &&
           !IsFrameEnd(FBuffer[(FWriteIndex - 1 - behindFrameEnd) & kIndexMask])) {
      ++behindFrameEnd;
    }
    if (behindFrameEnd == FAmount) {
      // Inside a frame: the message goes behind the next frame end written.
      if (FToBeInsertedData.size() + message.size() > kMaxPendingInsertion) {
        LogErrorText(FLogId, "TCircularBuffer.InsertAnsiString: pending message too long, refused");
        return false;
      }
      FToBeInsertedData += message;
      return true;
    }
    // The beginning of an incomplete frame is taken out and written again
    // behind the message.
    std::string incomplete(behindFrameEnd, '\0');
    FWriteIndex = (FWriteIndex - behindFrameEnd) & kIndexMask;
    for (size_t i = 0; i < behindFrameEnd; ++i) {
      incomplete[i] = static_cast<char>(FBuffer[(FWriteIndex + i) & kIndexMask]);
    }
    FAmount -= behindFrameEnd;
    CopyIn(Bytes(message));
    CopyIn(Bytes(incomplete));
    Signal();
    return true;
  } catch (const std::exception& exception) {
    LogException(FLogId, "TCircularBuffer.InsertAnsiString failed", exception);
    throw;
  }
}

bool TCircularBuffer::PeekChar(uint8_t& value) {
  std::lock_guard lock(FLockObj);
  if (!CanPeek("CircularBuffer.PeekChar nichts liefern, BufferCleared", 1)) return false;
  CopyOut(1, &value);
  return true;
}

bool TCircularBuffer::PeekData(std::span<uint8_t> out) {
  std::lock_guard lock(FLockObj);
  if (!CanPeek("CircularBuffer.PeekData nichts liefern, BufferCleared", out.size())) return false;
  CopyOut(out.size(), out.data());
  return true;
}

bool TCircularBuffer::PeekAnsiString(size_t count, std::string& out) {
  std::lock_guard lock(FLockObj);
  if (!CanPeek("CircularBuffer.PeekAnsiString nichts liefern, BufferCleared", count)) return false;
  out.resize(count);
  CopyOut(count, reinterpret_cast<uint8_t*>(out.data()));
  return true;
}

bool TCircularBuffer::ConfirmPeekedData(size_t count) {
  std::lock_guard lock(FLockObj);
  if (count > FAmount) return false;
  Consume(count);
  return true;
}

bool TCircularBuffer::Read(std::span<uint8_t> out) {
  std::lock_guard lock(FLockObj);
  if (!CanPeek("CircularBuffer.PeekData nichts liefern, BufferCleared", out.size())) return false;
  CopyOut(out.size(), out.data());
  Consume(out.size());
  return true;
}

bool TCircularBuffer::ReadAnsiString(size_t count, std::string& out) {
  std::lock_guard lock(FLockObj);
  if (!CanPeek("CircularBuffer.PeekAnsiString nichts liefern, BufferCleared", count)) return false;
  out.resize(count);
  CopyOut(count, reinterpret_cast<uint8_t*>(out.data()));
  Consume(count);
  return true;
}

void TCircularBuffer::Clear() {
  std::lock_guard lock(FLockObj);
  if (FAmount > 0) {
    FBufferCleared = true;
    LogDebug(FLogId, "CircularBuffer.Clear: set BufferCleared");
  } else if (!FBufferCleared) {
    LogDebug(FLogId, "CircularBuffer.Clear: without set BufferCleared");
  }
  FReadIndex = 0;
  FWriteIndex = 0;
  FAmount = 0;
  FHighAmount = 0;
  if (FDoResetEvent && FReceiveEvent) FReceiveEvent->ResetEvent();
}

void TCircularBuffer::Discard() {
  std::lock_guard lock(FLockObj);
  FReadIndex = 0;
  FWriteIndex = 0;
  FAmount = 0;
  FHighAmount = 0;
}

void TCircularBuffer::SetReceivedDataIgnored() {
  std::lock_guard lock(FLockObj);
  if (FBufferCleared) return;
  FBufferCleared = true;
  LogDebug(FLogId, "CircularBuffer.SetReceivedDataIgnored: set BufferCleared");
}

void TCircularBuffer::SetNoEOL() {
  std::lock_guard lock(FLockObj);
  LogDebug(FLogId, "CircularBuffer.SetNoEOL");
  FNoEOL = true;
}

void TCircularBuffer::GetAmounts(size_t& amount, size_t& highAmount) const {
  std::lock_guard lock(FLockObj);
  amount = FAmount;
  highAmount = FHighAmount;
}

size_t TCircularBuffer::Amount() const {
  std::lock_guard lock(FLockObj);
  return FAmount;
}

size_t TCircularBuffer::HighAmount() const {
  std::lock_guard lock(FLockObj);
  return FHighAmount;
}

size_t TCircularBuffer::AvailableSpace() const {
  std::lock_guard lock(FLockObj);
  return kCapacity - FAmount;
}

bool TCircularBuffer::BufferCleared() {
  std::lock_guard lock(FLockObj);
  const bool cleared = FBufferCleared;
  FBufferCleared = false;
  return cleared;
}

bool TCircularBuffer::DoResetEvent() const {
  std::lock_guard lock(FLockObj);
  return FDoResetEvent;
}

void TCircularBuffer::SetDoResetEvent(bool reset) {
  std::lock_guard lock(FLockObj);
  FDoResetEvent = reset;
}

TDateTime TCircularBuffer::ReceivedTime() const {
  std::lock_guard lock(FLockObj);
  return FReceivedTime;
}

// Callers have checked that `data` fits.
void TCircularBuffer::CopyIn(std::span<const uint8_t> data) {
  FReceivedTime = FClock.NowLocal();
  if (data.empty()) return;
  const size_t first = std::min(data.size(), kCapacity - FWriteIndex);
  std::memcpy(FBuffer.data() + FWriteIndex, data.data(), first);
  std::memcpy(FBuffer.data(), data.data() + first, data.size() - first);
  FWriteIndex = (FWriteIndex + data.size()) & kIndexMask;
  FAmount += data.size();
  FHighAmount = std::max(FHighAmount, FAmount);
}

void TCircularBuffer::Consume(size_t count) {
  FReadIndex = (FReadIndex + count) & kIndexMask;
  FAmount -= count;
  if (FAmount == 0) FHighAmount = 0;
}

void TCircularBuffer::CopyOut(size_t count, uint8_t* out) const {
  const size_t first = std::min(count, kCapacity - FReadIndex);
  std::memcpy(out, FBuffer.data() + FReadIndex, first);
  std::memcpy(out + first, FBuffer.data(), count - first);
}

// False when `count` bytes cannot be peeked: then the reader is to wait for
// the next write.
bool TCircularBuffer::CanPeek(std::string_view clearedText, size_t count) {
  if (count == 0) return false;
  if (!FBufferCleared && count <= FAmount) return true;
  if (FBufferCleared) LogDebug(FLogId, clearedText);
  if (FDoResetEvent && FReceiveEvent) FReceiveEvent->ResetEvent();
  return false;
}

void TCircularBuffer::Signal() {
  if (FReceiveEvent) FReceiveEvent->SetEvent();
}

}  // namespace orb
