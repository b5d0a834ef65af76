#include "session/App_Sessions.h"

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

uint64_t NextGeneration() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

TSessionItem::TSessionItem(int aLogId, TOnSessionMsg aOnMsg, TOnSessionUpdate aOnUpdate, int aIndex,
                           bool aIsCopy)
    : FIsCopy(aIsCopy),
      FIndex(aIndex),
      FGeneration(NextGeneration()),
      FLogId(aLogId),
      FOnMsg(std::move(aOnMsg)),
      FOnUpdate(std::move(aOnUpdate)) {
  FChannelData.SetNames("Channel_" + Letter());
  FvirtualChannelData.SetNames("VChannel_" + Letter());
}

std::string TSessionItem::Letter() const { return std::string(1, static_cast<char>('A' + FIndex)); }

void TSessionItem::SetDbgTag(std::string_view className) {
  FClassName = className;
  FDbgTag = FClassName + "[" + IntToText(FIndex) + "/" + (FIsCopy ? "True" : "False") + "]";
}

void TSessionItem::SetOpenParams(const std::string& aOpenString, int aConnectionType,
                                 const std::string& friendly, int32_t aColor) {
  FOpenString = aOpenString;
  FConnectionType = aConnectionType;
  FFriendlyName = friendly;
  FColor = aColor;
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + ".SetOpenParams " + FOpenString + ", type=" + IntToText(FConnectionType) +
           ", " + FFriendlyName + ", color=" + IntToHex(static_cast<uint32_t>(FColor), 6);
  });
}

void TSessionItem::UpdateIndex(int aIndex) {
  FIndex = aIndex;
  SetDbgTag(FClassName);
}

void TSessionItem::AddMessage(TMsgType type, int code, int subCode, const std::string& text) {
  if (!FOnMsg) return;
  TMessageItem item;
  item.sIndex = FIndex;
  item.sColor = FColor;
  item.Text = text;
  item.MsgType = type;
  item.Code = code;
  item.SubCode = subCode;
  item.ViaThread = true;
  FOnMsg(std::move(item));
}

void TSessionItem::AddError(int code, int subCode, const std::string& text) {
  LogError(".AddError Code=" + IntToText(code) + "/" + IntToText(subCode) + ": " + text);
  AddMessage(mtError, code, subCode, text);
}

void TSessionItem::AddWarning(int code, int subCode, const std::string& text) {
  AddMessage(mtWarning, code, subCode, text);
}

void TSessionItem::AddInfo(int code, int subCode, const std::string& text) {
  AddMessage(mtInfo, code, subCode, text);
}

std::string TSessionItem::ToString() const {
  std::string text = FDbgTag + ", " + FOpenString;
  if (!FFriendlyName.empty()) text += ", " + FFriendlyName;
  return text;
}

void TSessionItem::Log(std::string_view text) const {
  if (LogActive(FLogId)) LogDebug(FLogId, FDbgTag + std::string(text));
}

void TSessionItem::LogError(std::string_view text) const {
  if (LogActive(FLogId)) LogErrorText(FLogId, FDbgTag + std::string(text));
}

}  // namespace orb
