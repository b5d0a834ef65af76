#pragma once
// One user message of the message list: an error, warning or information
// tied to a session (or to the application itself), with its numbered code.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DateTime.h"

namespace orb {

class TNotification;

enum TMsgType { mtError, mtWarning, mtInfo };

// sIndex of the messages of the application itself.
constexpr int kAppMessageIndex = -2;
constexpr int32_t kAppMessageColor = 0xFFFFFF;  // white

struct TMessageItem {
  int sIndex = kAppMessageIndex;
  int32_t sColor = kAppMessageColor;  // $00BBGGRR
  std::string Text;
  TMsgType MsgType = mtInfo;
  int Code = 0;
  int SubCode = 0;
  TDateTime Time;  // local
  int Count = 1;
  std::shared_ptr<TNotification> Link;
  bool ViaThread = false;
  // When the item was made on the monotonic clock: ages are measured with it
  // because local time jumps at daylight-saving changes.
  int64_t MonotonicMs = 0;

  // Same session, type, code and subcode, and same text except for code
  // 32756, whose text varies from one report to the next.
  bool IsSame(const TMessageItem& aItem) const;

  // The line of the message window and of saved message files: date, time,
  // type, session letter and text, each blanked when `last` (the line above,
  // may be null) shows the same.
  std::string ItemToString(const TMessageItem* last) const;
};

}  // namespace orb
