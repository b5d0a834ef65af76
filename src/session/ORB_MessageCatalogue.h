#pragma once
// The fixed catalogue of numbered user messages, one table per notification
// class. The notification dialogs list these texts and let the user pick the
// codes that raise notifications; the first row of each table stands for the
// whole class.

#include <span>
#include <string_view>

#include "session/ORB_MessageItem.h"

namespace orb {

enum TNotifyClass { ncErrorWarning, ncInfo, ncHW, ncSW };

struct TMessageRecord {
  TMsgType MsgType;
  int Code;
  std::string_view Text;
};

std::span<const TMessageRecord> MessageCatalogue(TNotifyClass Class);

// Codes from 0x7000 up are the header codes of the counter's status reports;
// a status report with a detail number gives header * 16 + detail
// (0x7FF1 detail 1: 524049).
constexpr int StatusMessageCode(int Header, int Detail) { return Header * 16 + Detail; }

// Codes the message list treats specially.
constexpr int kMsgConnectionRunningAgain = 23;
constexpr int kMsgFPGADataFormatError = 0x7FF4;  // 32756
constexpr int kMsgRefClockOk = 0x7FF8;           // 32760
constexpr int kMsgRefClockInvalid = 0x7FF9;      // 32761
constexpr int kMsgPLLUnlocked = 0x7FFF;          // 32767

}  // namespace orb
