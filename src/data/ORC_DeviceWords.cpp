// Digital inputs, device time stamps, heartbeat words and averages of the
// counter store: written by the report thread, read by the views.

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr size_t kODIHeader = 5;  // 4 header digits and a separator
constexpr size_t kODIField = 9;   // a separator and 8 hexadecimal digits
constexpr size_t kHeartbeatHeader = 4;
constexpr size_t kHeartbeatField = 9;
constexpr uint32_t kTransmitRingWords = 131072;

}  // namespace

void TORC_DataManagement::AddTimeStamp(int64_t time100ms) {
  TLock lock(FLockObj);
  if (time100ms % 10 == 0) {
    ++FTimeCount;
    FTimeIndex = GetWriteX(hsNone);
  }
  LogLazy([&] {
    return ".AddTimeStamp " + IntToText(time100ms) + ", laufX=" + IntToText(GetWriteX(hsNone)) +
           " Index=" + IntToText(FTimeIndex) + ", Anzahl=" + IntToText(FTimeCount);
  });
}

int TORC_DataManagement::GetNewCountTimeStamp(int startX) const {
  TLock lock(FLockObj);
  if (FTimeIndex == -1) {
    Log(".GetNewCountTimeStamp keine TimeStamps da -> 0");
    return 0;
  }
  const int n = GetNewCount(startX, hsNone);
  LogLazy([&] { return ".GetNewCount=" + IntToText(n); });
  if (n == 0) return 0;
  // The time stamp marks the slot the next report goes to; until that report
  // is stored there is nothing from the stamp on.
  const int write = GetWriteX(hsNone);
  if (FTimeIndex == write) {
    Log(".GetNewCountTimeStamp TimeStamp da aber Messwert nicht  -> 0");
    return 0;
  }
  const int newest = (write - 1) & kRingMask;
  const int result = ((newest - FTimeIndex) & kRingMask) + 1;
  LogLazy([&] {
    return ".GetNewCountTimeStamp=" + IntToText(result) + ", x=" + IntToText(newest) +
           ", timeX=" + IntToText(FTimeIndex);
  });
  return result;
}

int TORC_DataManagement::TimeCount() const {
  TLock lock(FLockObj);
  return FTimeCount;
}

int TORC_DataManagement::TimeIndex() const {
  TLock lock(FLockObj);
  return FTimeIndex;
}

int64_t TORC_DataManagement::GetORCTimeGraphic(int x) const {
  TLock lock(FLockObj);
  return FORCTime[static_cast<size_t>(x & kRingMask)];
}

int64_t TORC_DataManagement::LastORCTime() const {
  TLock lock(FLockObj);
  if (GetNewCount(-1, hsNone) == 0) return -1;
  return FORCTime[static_cast<size_t>((GetWriteX(hsNone) - 1) & kRingMask)];
}

int64_t TORC_DataManagement::LastTimeStamp() const { return LastORCTime() / 1000; }

bool TORC_DataManagement::AddODI(std::string_view BufCopy) {
  const std::string_view text = BufCopy.substr(std::min(kODIHeader, BufCopy.size()));
  int n = static_cast<int>(text.size() / kODIField);
  TLock lock(FLockObj);
  if (n > kMaxODICards) {
    if (FPLLError) {
      LogError(".AddODI invalid ODICount" + IntToText(n) + " -> ignore during PLL error");
      return false;
    }
    LogError(".AddODI invalid ODICount" + IntToText(n) + " -> " + IntToText(kMaxODICards));
    n = kMaxODICards;
  }
  // Every card is read before anything changes.
  std::array<uint32_t, kMaxODICards> cards{};
  for (int i = 0; i < n; ++i) {
    if (!TryHexTextToUInt32(text.substr(kODIField * static_cast<size_t>(i) + 1, 8), cards[i])) {
      LogError(".AddODI invalid card " + IntToText(i + 1) + ": " + std::string(text));
      return false;
    }
  }
  if (n != FODICount && FPLLError) {
    LogError(".AddODI invalid ODICount" + IntToText(n) + " -> ignore during PLL error");
    return false;
  }
  FODIs_HEX.assign(text);
  std::copy_n(cards.begin(), n, FODI.begin());
  if (n != FODICount) {
    LogLazy([&] { return ": ODICount=" + IntToText(n); });
    if (FOnODICount) Deliver([handler = FOnODICount, n] { handler(5, n); });
  }
  FODICount = n;
  return true;
}

uint32_t TORC_DataManagement::GetODI(int card) const {
  if (card < 1 || card > kMaxODICards) return 0;
  TLock lock(FLockObj);
  return FODI[static_cast<size_t>(card - 1)];
}

int TORC_DataManagement::ODICount() const {
  TLock lock(FLockObj);
  return FODICount;
}

std::string TORC_DataManagement::ODIText() const {
  TLock lock(FLockObj);
  return FODIs_HEX;
}

void TORC_DataManagement::SetOnODICount(TOnInt handler) {
  TLock lock(FLockObj);
  FOnODICount = std::move(handler);
}

void TORC_DataManagement::AddHeartbeat(std::string_view s, int64_t aDeviceMs) {
  const std::string_view words = s.substr(std::min(kHeartbeatHeader, s.size()));
  TLock lock(FLockObj);
  FDeviceMs = aDeviceMs;
  FHeartbeatString = aDeviceMs == -1 ? std::string() : IntToGroupedText(aDeviceMs, '.');
  if (FHeartbeatString.size() < 9) FHeartbeatString.insert(0, 9 - FHeartbeatString.size(), ' ');
  const size_t count = std::min(words.size() / kHeartbeatField, size_t{kHeartbeatWords});
  for (size_t i = 0; i < count; ++i) {
    uint32_t word = 0;
    if (!TryHexTextToUInt32(words.substr(i * kHeartbeatField + 1, 8), word)) break;
    FHeartbeat[i] = word;
    FHeartbeatString.append(";").append(IntToHex(word, 8));
  }
}

void TORC_DataManagement::AddHeartbeat(const TQM_ReportStruct& report) {
  const int64_t ms = report.GetDeviceMs();
  const TQM_Int32 values = report.GetInt32();
  const size_t count =
      std::min(static_cast<size_t>(report.GetLength()) / 4, size_t{kHeartbeatWords});
  TLock lock(FLockObj);
  FDeviceMs = ms;
  FHeartbeatString = ms == -1 ? std::string() : IntToGroupedText(ms, '.');
  if (FHeartbeatString.size() < 9) FHeartbeatString.insert(0, 9 - FHeartbeatString.size(), ' ');
  for (size_t i = 0; i < count; ++i) {
    FHeartbeat[i] = values[i];
    FHeartbeatString.append(";").append(IntToHex(values[i], 8));
  }
}

std::string TORC_DataManagement::GetHeartbeatString() {
  TLock lock(FLockObj);
  std::string text;
  text.swap(FHeartbeatString);
  return text;
}

uint32_t TORC_DataManagement::GetESPTransmitBufferAmount() {
  TLock lock(FLockObj);
  const uint32_t head = FHeartbeat[4];  // words 5 and 6
  const uint32_t tail = FHeartbeat[5];
  const uint32_t amount = (head < tail ? head + kTransmitRingWords - tail : head - tail) * 4;
  FhighAmount = std::max(FhighAmount, amount);
  return amount;
}

uint32_t TORC_DataManagement::GetESPTransmitBufferHighAmount() const {
  TLock lock(FLockObj);
  return FhighAmount;
}

void TORC_DataManagement::AddShort(std::span<const double> values, int count) {
  AddAverage(values, count, hsShort);
}

void TORC_DataManagement::AddLong(std::span<const double> values, int count) {
  AddAverage(values, count, hsLong);
}

void TORC_DataManagement::AddAverage(std::span<const double> values, int count,
                                     THorizontalScale scale) {
  if (count < 1) return;  // no values averaged
  TOnSender handler;
  {
    TLock lock(FLockObj);
    auto& rings = scale == hsShort ? FAvgShort : FAvgLong;
    const size_t x = static_cast<size_t>(GetWriteX(scale));
    const size_t n = std::min(values.size(), size_t{kMaxDataChannels});
    for (size_t i = 0; i < n; ++i) rings[i][x] = values[i] / count;
    AdvanceX(scale);
    handler = scale == hsShort ? FOnShortAverage : FOnLongAverage;
  }
  if (handler) Deliver([handler, this] { handler(0, this); });
}

void TORC_DataManagement::SetOnShortAverage(TOnSender handler) {
  TLock lock(FLockObj);
  FOnShortAverage = std::move(handler);
}

void TORC_DataManagement::SetOnLongAverage(TOnSender handler) {
  TLock lock(FLockObj);
  FOnLongAverage = std::move(handler);
}

}  // namespace orb
