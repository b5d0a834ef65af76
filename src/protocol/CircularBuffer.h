#pragma once
// The receive ring buffer of a device. Transport threads write the bytes that
// arrive and set the receive event; the report device peeks at them and
// confirms what it used. A write that does not fit is refused whole, nothing
// is ever overwritten. After a loss of data the "buffer cleared" flag blocks
// every peek until the reader has taken the flag, so that it notices the gap.
//
// Every operation holds the buffer's lock for its whole run. The 1 MiB
// storage is part of the object: create it on the heap.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Event.h"

namespace orb {

class TCircularBuffer {
 public:
  static constexpr size_t kCapacity = 1'048'576;
  // A message that waits for a frame end is refused beyond this size: a
  // stream without frame ends must not make it grow without limit.
  static constexpr size_t kMaxPendingInsertion = 65'536;

  // `receiveEvent` (may be null) is set by every write and reset by peeks
  // that find nothing. ReceivedTime comes from `clock`.
  TCircularBuffer(int logId, std::shared_ptr<TEvent> receiveEvent, IClock& clock = SystemClock());
  TCircularBuffer(const TCircularBuffer&) = delete;
  TCircularBuffer& operator=(const TCircularBuffer&) = delete;

  bool Write(std::span<const uint8_t> data);
  // Also places a pending insertion behind the first frame end of `data`.
  bool WriteAnsiString(std::string_view data);
  // The part of `data` from the 1-based position `start` with at most
  // `count` bytes (nothing when `start` lies behind the end).
  bool WriteAnsiString(std::string_view data, size_t start, size_t count);
  // Places a complete message at the next frame boundary (behind the last
  // frame end of the unread bytes, or behind the first one still to come).
  bool InsertAnsiString(std::string_view message);

  // Peeks copy the oldest unread bytes without removing them; they return
  // false and leave the output alone when fewer bytes are there or the
  // buffer was cleared.
  bool PeekChar(uint8_t& value);
  bool PeekData(std::span<uint8_t> out);  // exactly out.size() bytes
  bool PeekAnsiString(size_t count, std::string& out);
  // Removes `count` peeked bytes; false (and no change) when fewer are there.
  bool ConfirmPeekedData(size_t count);
  bool Read(std::span<uint8_t> out);
  bool ReadAnsiString(size_t count, std::string& out);

  void Clear();                   // drops unread bytes; a pending insertion stays
  // Drops unread bytes without marking a loss: for an owner that restarts
  // the stream itself (a replayed file rewound).
  void Discard();
  void SetReceivedDataIgnored();  // a transport dropped bytes before they got here
  void SetNoEOL();                // the stream has no frame ends

  void GetAmounts(size_t& amount, size_t& highAmount) const;
  size_t Amount() const;
  size_t HighAmount() const;  // largest amount since the buffer was last empty
  size_t AvailableSpace() const;
  bool BufferCleared();  // returns the flag and clears it
  bool DoResetEvent() const;
  void SetDoResetEvent(bool reset);
  TDateTime ReceivedTime() const;
  const std::shared_ptr<TEvent>& ReceiveEvent() const { return FReceiveEvent; }

 private:
  void CopyIn(std::span<const uint8_t> data);
  void CopyOut(size_t count, uint8_t* out) const;
  void Consume(size_t count);
  bool CanPeek(std::string_view clearedText, size_t count);
  void Signal();

  const int FLogId;
  IClock& FClock;
  std::array<uint8_t, kCapacity> FBuffer;
  bool FBufferCleared = false;
  size_t FReadIndex = 0;
  size_t FWriteIndex = 0;
  bool FNoEOL = false;
  std::string FToBeInsertedData;
  size_t FAmount = 0;
  size_t FHighAmount = 0;
  mutable std::mutex FLockObj;
  const std::shared_ptr<TEvent> FReceiveEvent;
  TDateTime FReceivedTime;
  bool FDoResetEvent = true;
};

}  // namespace orb
