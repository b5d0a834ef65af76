#pragma once
// The base of every session: one configured connection with its identity
// (index, letter, copy flag), how it is shown, its open string and its
// messages. Counter sessions (ORB_Sessions.h) and sensor sessions build on it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "session/ORB_ChannelData.h"
#include "session/ORB_MessageItem.h"
#include "session/ORB_Sync.h"

namespace orb {

class TAppSettings;
class TDataManagement;

enum TConnectionType : int {
  ctUnknown = -1,
  ctUSB = 0,
  ctSerial = 1,
  ctNetwork = 2,
  ctTCPServer = 3,
  ctFile = 4,
  ctCAN = 5,
  ctArchive = 6,
  ctBlueTooth = 7,
  ctDemoNone = 8,
};

class TSessionItem;

// Receives the session's messages (any thread); the owner adds them to the
// message list.
using TOnSessionMsg = std::function<void(TMessageItem Item)>;
// The session's open string, colour, name or open state changed. Main thread.
using TOnSessionUpdate = std::function<void(TSessionItem& Session)>;

class TSessionItem {
 public:
  static constexpr int32_t kDefaultColor = 0xFFFF00;
  static constexpr int kDefaultIntervalMs = 1000;

  TSessionItem(int aLogId, TOnSessionMsg aOnMsg, TOnSessionUpdate aOnUpdate, int aIndex,
               bool aIsCopy);
  virtual ~TSessionItem() = default;
  TSessionItem(const TSessionItem&) = delete;
  TSessionItem& operator=(const TSessionItem&) = delete;

  int Index() const { return FIndex; }
  bool IsCopy() const { return FIsCopy; }
  // "A" for index 0.
  std::string Letter() const;
  // Never given to another session, so a queued record can tell whether its
  // session still exists.
  uint64_t Generation() const { return FGeneration; }
  TSessionRef Ref() const { return {FIndex, FIsCopy, FGeneration}; }
  int LogId() const { return FLogId; }
  int SessionType() const { return FSessionType; }

  int32_t Color() const { return FColor; }
  // "none": configured but never opened; empty: not configured.
  const std::string& OpenString() const { return FOpenString; }
  int ConnectionType() const { return FConnectionType; }
  const std::string& FriendlyName() const { return FFriendlyName; }
  bool IsRunning() const { return FDeviceOpened; }
  int IntervalMs() const { return FIntervalMs; }
  // 0xFFFFFFFF while unknown.
  uint32_t SerialNumber() const { return FSerialNumber; }
  virtual TDataManagement* DataManagement() const = 0;

  // Main thread.
  virtual void SetOpenParams(const std::string& aOpenString, int aConnectionType,
                             const std::string& friendly, int32_t aColor);
  // The session's keys under `Prefix` ("Session_" + index + "_"), read once
  // right after creation and written whenever the program saves its state.
  virtual void ReadSettings(TAppSettings& Settings, const std::string& Prefix);
  virtual void SaveSettings(TAppSettings& Settings, const std::string& Prefix);
  // Names, colours and flags of the counter and virtual channels.
  TQM_ChannelData& ChannelData() { return FChannelData; }
  TQM_ChannelData& VirtualChannelData() { return FvirtualChannelData; }
  const std::string& VirtualDescription() const { return FvirtualDescription; }
  void SetVirtualDescription(const std::string& value) { FvirtualDescription = value; }
  // What reading the settings could not take (message 61); empty when all was well.
  const std::string& ErrorMessage() const { return FErrorMessage; }
  bool DebugLog() const { return FDebugLog; }
  bool DebugReport() const { return FDebugReport; }
  bool DebugLowLevel() const { return FDebugLowLevel; }
  // Renumbers the session (sessions are saved without gaps).
  virtual void UpdateIndex(int aIndex);
  // Empty `error`: the device is open.
  virtual bool OpenDevice(std::string& error) = 0;
  virtual void CloseDevice(bool stopServer) = 0;
  // Report thread: true when a report or an error result was taken.
  virtual bool GetReport() = 0;

  // Messages of this session, marked as coming from a worker thread.
  virtual void AddError(int code, int subCode, const std::string& text);
  void AddWarning(int code, int subCode, const std::string& text);
  void AddInfo(int code, int subCode, const std::string& text);

  // FDbgTag + ", " + open string [+ ", " + friendly name].
  std::string ToString() const;

 protected:
  // "TQMSessionItem[0/False]"
  void SetDbgTag(std::string_view className);
  void Log(std::string_view text) const;
  void LogError(std::string_view text) const;
  void AddMessage(TMsgType type, int code, int subCode, const std::string& text);
  void Update() {
    if (FOnUpdate) FOnUpdate(*this);
  }

  const bool FIsCopy;
  int FIndex;
  const uint64_t FGeneration;
  int FLogId;
  int FSessionType = 0;
  std::string FDbgTag;
  int32_t FColor = kDefaultColor;
  std::string FOpenString;
  int FConnectionType = ctUnknown;
  std::string FFriendlyName;
  std::atomic<bool> FDeviceOpened{false};
  std::atomic<int> FIntervalMs{kDefaultIntervalMs};  // read by the sampler from any thread
  uint32_t FSerialNumber = 0xFFFFFFFF;
  TOnSessionMsg FOnMsg;
  TOnSessionUpdate FOnUpdate;

  // Kept in the settings with the session.
  TQM_ChannelData FChannelData{ckCounter};
  TQM_ChannelData FvirtualChannelData{ckVirtual};
  std::string FvirtualDescription;
  bool FDebugLog = false;  // kept and saved; nothing switches the debug file yet
  bool FDebugReport = true;
  bool FDebugLowLevel = true;
  bool FProfessional = false;  // the default of some keys
  std::string FErrorMessage;

 private:
  std::string FClassName;
};

}  // namespace orb
