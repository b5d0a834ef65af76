#include "session/ORB_MessageItem.h"

#include "platform/NumberFormat.h"
#include "session/ORB_MessageCatalogue.h"

namespace orb {

namespace {

// "YYYY-MM-DD hh:nn:ss": the date is the first ten characters, the time the
// last eight.
constexpr size_t kDateLength = 10;
constexpr size_t kTimeStart = 11;
constexpr size_t kTimeLength = 8;

const char* TypeText(TMsgType type) {
  switch (type) {
    case mtError:
      return "ERR  ";
    case mtWarning:
      return "WARN ";
    case mtInfo:
      break;
  }
  return "INFO ";
}

}  // namespace

bool TMessageItem::IsSame(const TMessageItem& aItem) const {
  return sIndex == aItem.sIndex && MsgType == aItem.MsgType && Code == aItem.Code &&
         SubCode == aItem.SubCode && (Code == kMsgFPGADataFormatError || Text == aItem.Text);
}

std::string TMessageItem::ItemToString(const TMessageItem* last) const {
  const std::string stamp = DateTimeToText(Time);
  std::string date = stamp.substr(0, kDateLength);
  std::string time = stamp.substr(kTimeStart, kTimeLength);
  std::string type = TypeText(MsgType);
  std::string session = sIndex < 0 ? " " : std::string(1, static_cast<char>('A' + sIndex));
  if (last != nullptr) {
    const std::string lastStamp = DateTimeToText(last->Time);
    if (lastStamp.compare(0, kDateLength, date) == 0) date.assign(date.size(), ' ');
    if (lastStamp.compare(kTimeStart, kTimeLength, time) == 0) time.assign(time.size(), ' ');
    if (last->MsgType == MsgType) type.assign(type.size(), ' ');
    if (last->sIndex == sIndex) session = " ";
  }
  if (ViaThread) type += " via thread";
  std::string line = date + " " + time + " " + type + " " + session + " " + Text;
  if (Count > 1) line += " (" + IntToText(Count) + ")";
  return line;
}

}  // namespace orb
