#pragma once
// The multi-sampler: the one object that turns the report strings of every
// session into the lines of every measurement log file. It buffers each
// session's reports per string class, writes a line when every source of a
// definition has what the line needs (the main source sets the rate; faster
// sources are sub-sampled, slower ones repeat their last report), aligns
// sources of one counter by its time stamps, and opens, rotates and closes
// the files.
//
// Threads: the report thread adds strings, the main thread changes the
// definitions and the session list; one lock serialises both, so the lines
// of a file are written by one thread at a time. Lines are written straight
// to the file, so a crash loses at most the line being written.

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "data/DataSinks.h"
#include "logging/App_LogDefinition.h"
#include "logging/App_MultiSampler.h"
#include "logging/LogUnit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "session/LogOptions.h"

namespace orb {

class TAppSettings;

// A file message for the main window: code 91 opened, 92 closed; type 0
// error, 2 information.
using TOnSamplerMsg = std::function<void(int Code, const std::string& Text, int MsgType)>;

class TORB_MultiSampler final : public IDataSampler {
 public:
  static constexpr int kSourceCount = 5;  // string classes

  TORB_MultiSampler(int aLogId, const IClock& clock, const TLogOptionsSnapshot& options,
                    std::filesystem::path programFolder,
                    size_t bufferSize = TCircularStringBuffer::kDefaultSize);
  ~TORB_MultiSampler() override;
  TORB_MultiSampler(const TORB_MultiSampler&) = delete;
  TORB_MultiSampler& operator=(const TORB_MultiSampler&) = delete;

  void SetOnMsg(TOnSamplerMsg handler);

  // ---- Configuration (main thread) ----
  // Takes the definition; returns its index (an empty slot is reused).
  int AddDefinition(std::unique_ptr<TLogDefinition> logDef);
  void ChangeDefinition(int dIndex, std::unique_ptr<TLogDefinition> logDef);
  void RemoveDefinition(int dIndex);
  // A reason closes an open file as an error.
  void SetEnabled(int dIndex, bool Value, const std::string& reason = "");
  void SetAddHeader(int dIndex, bool Value);
  int DefinitionCount() const;
  // The definition that writes `fileName`; -1 when none does.
  int FindDefinition(const std::string& fileName) const;
  bool LogFileActive() const;
  // A definition whose folder cannot be created writes into `logRoot`.
  void ReadSettings(TAppSettings& Settings, const std::filesystem::path& logRoot);
  void SaveSettings(TAppSettings& Settings) const;
  // The sessions that exist; the sampler keeps the pointers until the next
  // call, so a session is handed out of the list before it is freed.
  void UpdateSessionList(const std::vector<ISamplerSession*>& sessions);
  void CloseFilesSession(int sIndex, bool sCopy);
  // Older settings: the linear-combination outputs of session sIndex became
  // its virtual channels virtLC1 and virtLC2 (0: none).
  void TransformLinComb(int sIndex, int virtLC1, int virtLC2);
  // The sessions are saved renumbered: the definitions follow them.
  void UpdateSessionIndex(int oldIndex, int newIndex);
  // Bits 8, 16 or 32: the log time settings changed.
  void UpdateOptions(int what);
  // The file a definition writes now; empty while closed.
  std::filesystem::path ActualFileName(int dIndex) const;

  // ---- Data (report threads) ----
  void AddStrings(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void AddStringsVirtual(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void AddStringsSpecial(int SessId, bool SessIsCopy, const TReportStrings& Strings) override;
  void SetSessionSyncTime(int SessId, bool SessIsCopy, std::string_view SyncTime) override;
  void AddWarning(int SessId, bool SessIsCopy, std::string_view Text) override;
  void UpdateSession(int SessId, bool SessIsCopy, int Code, std::string_view Text) override;
  void AddTimeStamp(int SessId, bool SessIsCopy, int64_t TimeStamp100ms) override;

 private:
  struct TDefinition;
  struct TSession;

  TSession* FindSession(int sIndex, bool sCopy) const;
  TMultiProtocolItem* FindItem(TSession& session, int dIndex, TSamplerStringClass aClass) const;
  void AddReport(int sIndex, bool sCopy, TSamplerStringClass aClass, const TReportStrings& strings);
  void LogDefinitionsChanged(int sIndex, bool sCopy);
  void UpdateTimeSynchro();
  void CheckLogging(TSession& session, TSamplerStringClass aClass);
  // Every source of the class has what the next line needs, and the
  // counters are level.
  bool LineReady(TDefinition& definition, TSamplerStringClass aClass);
  bool CheckLogStrings(TSession& session, bool isMain, int dIndex, TSamplerStringClass aClass);
  bool CheckTimeSynchro(TDefinition& definition);
  // False when no file could be opened for the line.
  bool GenerateLogStrings(TDefinition& definition);
  void GetSampleData(TDefinition& definition);
  int64_t GetNextDataIndex(TSession& session, TMultiProtocolItem& item);
  void SetLogDone(TSession& session, TMultiProtocolItem& logged, double n);
  int64_t GetCountProtocolReady(TSession& session, TSamplerStringClass aClass);
  void ForgetPositions(TSession& session);
  void ClearBuffers(TSession& session);

  // Files.
  bool OpenFile(TDefinition& definition);
  void CloseFile(TDefinition& definition, const std::string& reason, bool asError);
  void Restart(TDefinition& definition, const std::string& text);
  void WriteHeader(TDefinition& definition);
  // `pcNow`: Now() as read once for the line.
  void WriteLine(TDefinition& definition, const std::string& line, TDateTime pcNow);
  void WriteComment(TDefinition& definition, const std::string& text);
  void AppendTimeColumn(std::string& out, const TDefinition& definition, TDateTime pcNow) const;
  void WriteText(TDefinition& definition, const std::string& text);
  TDateTime Now() const;  // the computer's clock in the log time zone
  // The time whose date names a definition's files: the main source's
  // device time when that is the log time, else `pcNow`.
  TDateTime FileTime(const TDefinition& definition, TDateTime pcNow) const;
  std::vector<TLogFileSource> FileSources(const TDefinition& definition) const;
  std::string SessionText(int sIndex, int what, std::string_view text) const;
  bool HasSource(const TDefinition& definition, int sIndex, bool sCopy) const;
  void Message(int code, const std::string& text, int type) const;
  void Log(std::string_view text) const;
  // Builds the text only when the debug log writes it.
  template <typename Make>
  void LogLazy(Make make) const {
    if (LogActive(FLogId)) Log(make());
  }

  const int FLogId;
  const IClock& FClock;
  const TLogOptionsSnapshot& FOptions;
  const std::filesystem::path FProgramFolder;
  const size_t FBufferSize;

  mutable std::mutex FLockObj;  // everything below
  TOnSamplerMsg FOnMsg;
  std::vector<std::unique_ptr<TDefinition>> FDefinitionList;  // null: empty slot
  std::vector<std::unique_ptr<TSession>> FSessionList;
  struct TSyncEntry {
    TSession* Session;
    TMultiProtocolItem* Item;
  };
  std::vector<TSyncEntry> FSyncEntries;  // reused by every time check
};

}  // namespace orb
