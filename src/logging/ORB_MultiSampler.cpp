#include "logging/ORB_MultiSampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "logging/LogUnit.h"
#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"
#include "platform/NumberFormat.h"
#include "session/App_Settings.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFirstCreate = "First create";
constexpr uint32_t kCounterTypes = kLogTypesCounter | kLogTypesVirtual;
constexpr int kSlots = kReportStringSlots;

bool Synchronisable(TSamplerStringClass aClass) {
  return aClass == sscStandard || aClass == sscVirtual;
}

// The day of a date-time taken to the millisecond, as its texts show it: a
// device time of midnight may lie a rounding error before it.
int64_t DayOf(TDateTime value) {
  constexpr int64_t kMsPerDay = 86'400'000;
  const int64_t ms = DateTimeToUnixMs(value);
  return ms / kMsPerDay - (ms % kMsPerDay < 0 ? 1 : 0);
}

// The decimal separator the numbers of a line use; 0 when it has none.
char LineSeparator(std::string_view data) {
  if (data.find(',') != std::string_view::npos) return ',';
  if (data.find('.') != std::string_view::npos) return '.';
  return 0;
}

}  // namespace

struct TORB_MultiSampler::TDefinition {
  int DefIndex = -1;
  std::unique_ptr<TLogDefinition> LogDef;
  TExclusiveFile File;
  fs::path FileName;
  int64_t FileBytes = 0;
  TDateTime FileDate{};
  int FileNumber = 1;  // where the search for a free name begins
  bool HeaderNeeded = true;
  std::string ResetText{kFirstCreate};
  char DecimalSeparator = '.';
  bool TimeSynchroNeeded = false;
  std::string TimeString;
  std::string Line;  // reused for every line
  std::string Out;   // the line with its time column
};

struct TORB_MultiSampler::TSession {
  explicit TSession(ISamplerSession* session, size_t bufferSize)
      : Session(session),
        Index(session->Index()),
        Copy(session->IsCopy()),
        Buffers{TCircularStringBuffer(bufferSize), TCircularStringBuffer(bufferSize),
                TCircularStringBuffer(bufferSize), TCircularStringBuffer(bufferSize),
                TCircularStringBuffer(bufferSize)} {}

  TCircularStringBuffer& Buffer(TSamplerStringClass aClass) {
    return Buffers[static_cast<size_t>(aClass)];
  }

  ISamplerSession* Session;
  int Index;
  bool Copy;
  std::array<TCircularStringBuffer, kSourceCount> Buffers;
  std::vector<TMultiProtocolItem> Items;
  uint32_t HasLog = 0;
  int64_t TimeStamp = -1;
  std::string SyncTime;
  TLogSourceInfo Info;  // taken when definitions change or a file opens
};

TORB_MultiSampler::TORB_MultiSampler(int aLogId, const IClock& clock,
                                     const TLogOptionsSnapshot& options, fs::path programFolder,
                                     size_t bufferSize)
    : FLogId(aLogId),
      FClock(clock),
      FOptions(options),
      FProgramFolder(std::move(programFolder)),
      FBufferSize(bufferSize) {}

TORB_MultiSampler::~TORB_MultiSampler() {
  std::lock_guard lock(FLockObj);
  for (const auto& definition : FDefinitionList) {
    if (definition) CloseFile(*definition, "", false);
  }
}

void TORB_MultiSampler::SetOnMsg(TOnSamplerMsg handler) {
  std::lock_guard lock(FLockObj);
  FOnMsg = std::move(handler);
}

void TORB_MultiSampler::Log(std::string_view text) const {
  if (LogActive(FLogId)) LogDebug(FLogId, "TORB_MultiSampler" + std::string(text));
}

void TORB_MultiSampler::Message(int code, const std::string& text, int type) const {
  if (FOnMsg) FOnMsg(code, text, type);
}

// ---- Configuration --------------------------------------------------------------------------

int TORB_MultiSampler::AddDefinition(std::unique_ptr<TLogDefinition> logDef) {
  std::lock_guard lock(FLockObj);
  const fs::path folder = fs::path(logDef->FileName()).parent_path();
  if (!folder.empty()) {
    std::error_code code;
    fs::create_directories(folder, code);
  }
  auto slot = std::find(FDefinitionList.begin(), FDefinitionList.end(), nullptr);
  if (slot == FDefinitionList.end()) slot = FDefinitionList.insert(slot, nullptr);
  *slot = std::make_unique<TDefinition>();
  TDefinition& definition = **slot;
  definition.DefIndex = static_cast<int>(slot - FDefinitionList.begin());
  definition.LogDef = std::move(logDef);
  definition.HeaderNeeded = definition.LogDef->AddHeader();
  LogDefinitionsChanged(-1, false);
  return definition.DefIndex;
}

void TORB_MultiSampler::ChangeDefinition(int dIndex, std::unique_ptr<TLogDefinition> logDef) {
  std::lock_guard lock(FLockObj);
  if (dIndex < 0 || dIndex >= static_cast<int>(FDefinitionList.size()) ||
      !FDefinitionList[static_cast<size_t>(dIndex)]) {
    return;
  }
  TDefinition& definition = *FDefinitionList[static_cast<size_t>(dIndex)];
  CloseFile(definition, "Definition changed", false);
  const bool renamed = logDef->FileName() != definition.LogDef->FileName();
  definition.LogDef = std::move(logDef);
  definition.ResetText = renamed ? std::string(kFirstCreate) : "Definition changed";
  if (renamed) definition.FileNumber = 1;
  definition.HeaderNeeded = definition.LogDef->AddHeader();
  definition.TimeSynchroNeeded = false;
  LogDefinitionsChanged(-1, false);
}

void TORB_MultiSampler::RemoveDefinition(int dIndex) {
  std::lock_guard lock(FLockObj);
  if (dIndex < 0 || dIndex >= static_cast<int>(FDefinitionList.size())) return;
  auto& slot = FDefinitionList[static_cast<size_t>(dIndex)];
  if (!slot) return;
  CloseFile(*slot, "", false);
  slot.reset();
  LogDefinitionsChanged(-1, false);
}

void TORB_MultiSampler::SetEnabled(int dIndex, bool Value, const std::string& reason) {
  std::lock_guard lock(FLockObj);
  if (dIndex < 0 || dIndex >= static_cast<int>(FDefinitionList.size()) ||
      !FDefinitionList[static_cast<size_t>(dIndex)]) {
    return;
  }
  TDefinition& definition = *FDefinitionList[static_cast<size_t>(dIndex)];
  CloseFile(definition, reason, !reason.empty());
  definition.LogDef->SetEnabled(Value);
  definition.ResetText = kFirstCreate;
  definition.HeaderNeeded = definition.LogDef->AddHeader();
  LogDefinitionsChanged(-1, false);
}

void TORB_MultiSampler::SetAddHeader(int dIndex, bool Value) {
  std::lock_guard lock(FLockObj);
  if (dIndex < 0 || dIndex >= static_cast<int>(FDefinitionList.size()) ||
      !FDefinitionList[static_cast<size_t>(dIndex)]) {
    return;
  }
  TDefinition& definition = *FDefinitionList[static_cast<size_t>(dIndex)];
  if (definition.LogDef->AddHeader() == Value) return;
  CloseFile(definition, "Header changed", false);
  definition.ResetText = "Header changed";
  definition.LogDef->SetAddHeader(Value);
  definition.HeaderNeeded = Value;
  LogDefinitionsChanged(-1, false);
}

int TORB_MultiSampler::FindDefinition(const std::string& fileName) const {
  std::lock_guard lock(FLockObj);
  for (const auto& definition : FDefinitionList) {
    if (definition && definition->LogDef->FileName() == fileName) return definition->DefIndex;
  }
  return -1;
}

int TORB_MultiSampler::DefinitionCount() const {
  std::lock_guard lock(FLockObj);
  return static_cast<int>(std::count_if(FDefinitionList.begin(), FDefinitionList.end(),
                                        [](const auto& d) { return d != nullptr; }));
}

bool TORB_MultiSampler::LogFileActive() const {
  std::lock_guard lock(FLockObj);
  return std::any_of(FDefinitionList.begin(), FDefinitionList.end(),
                     [](const auto& d) { return d && d->LogDef->Enabled(); });
}

void TORB_MultiSampler::ReadSettings(TAppSettings& Settings, const fs::path& logRoot) {
  for (auto& definition : ReadLogDefinitions(Settings)) {
    const fs::path name(definition->FileName());
    std::error_code code;
    fs::create_directories(name.parent_path(), code);
    if (name.has_parent_path() && !fs::is_directory(name.parent_path(), code)) {
      LogErrorText(FLogId, "Invalid log file path=" + name.parent_path().string());
      definition->SetFileName((logRoot / name.filename()).string());
    }
    AddDefinition(std::move(definition));
  }
}

void TORB_MultiSampler::SaveSettings(TAppSettings& Settings) const {
  std::lock_guard lock(FLockObj);
  std::vector<const TLogDefinition*> definitions;
  for (const auto& definition : FDefinitionList) {
    if (definition) definitions.push_back(definition->LogDef.get());
  }
  SaveLogDefinitions(Settings, definitions);
}

void TORB_MultiSampler::UpdateSessionList(const std::vector<ISamplerSession*>& sessions) {
  std::lock_guard lock(FLockObj);
  bool changed = false;
  // Sessions that went: their sampler sessions, their sources, and
  // definitions left without a source.
  for (auto it = FSessionList.begin(); it != FSessionList.end();) {
    const bool stays =
        std::find(sessions.begin(), sessions.end(), (*it)->Session) != sessions.end();
    if (stays) {
      ++it;
      continue;
    }
    const int sIndex = (*it)->Index;
    const bool sCopy = (*it)->Copy;
    for (auto& definition : FDefinitionList) {
      if (!definition) continue;
      TLogDefinition& logDef = *definition->LogDef;
      for (int n = logDef.GetCount() - 1; n >= 0; --n) {
        const TSimpleLogDefinition* source = logDef.GetDefinition(n);
        if (source->Source() == sIndex && source->SourceCopy() == sCopy) {
          LogLazy([&] {
            return std::string(".BaseUpdateSessionList remove simple:" + source->ToString());
          });
          logDef.RemoveDefinition(n);
        }
      }
      if (logDef.GetCount() == 0) {
        CloseFile(*definition, "", false);
        definition.reset();
      }
    }
    it = FSessionList.erase(it);
    changed = true;
  }
  for (ISamplerSession* session : sessions) {
    const bool known = std::any_of(FSessionList.begin(), FSessionList.end(),
                                   [&](const auto& s) { return s->Session == session; });
    if (known) continue;
    FSessionList.push_back(std::make_unique<TSession>(session, FBufferSize));
    changed = true;
  }
  if (changed) LogDefinitionsChanged(-1, false);
}

void TORB_MultiSampler::CloseFilesSession(int sIndex, bool sCopy) {
  std::lock_guard lock(FLockObj);
  for (const auto& definition : FDefinitionList) {
    if (!definition || !HasSource(*definition, sIndex, sCopy)) continue;
    Restart(*definition, "Source " + std::string(1, static_cast<char>('A' + sIndex)) + " closed");
  }
}

void TORB_MultiSampler::UpdateSessionIndex(int oldIndex, int newIndex) {
  std::lock_guard lock(FLockObj);
  for (const auto& definition : FDefinitionList) {
    if (definition) definition->LogDef->UpdateSessionIndex(oldIndex, newIndex);
  }
  for (const auto& session : FSessionList) {
    if (session->Index == oldIndex) session->Index = newIndex;
  }
}

void TORB_MultiSampler::TransformLinComb(int sIndex, int virtLC1, int virtLC2) {
  std::lock_guard lock(FLockObj);
  constexpr int kLinCombRow = 2;
  constexpr int kVirtualFrequency = 11;
  bool changed = false;
  for (const auto& definition : FDefinitionList) {
    if (!definition) continue;
    TLogDefinition& logDef = *definition->LogDef;
    bool converted = false;
    for (int n = 0; n < logDef.GetCount(); ++n) {
      TSimpleLogDefinition& source = *logDef.GetDefinition(n);
      if (source.Source() != sIndex || source.SourceCopy() || source.StringClass() != sscStandard ||
          !(source.IsEnabled(kLinCombRow, 1) || source.IsEnabled(kLinCombRow, 2))) {
        continue;
      }
      source.SetEnabled(kLinCombRow, 1, false);
      source.SetEnabled(kLinCombRow, 2, false);
      converted = true;
    }
    if (!converted) continue;
    TSimpleLogDefinition* target = nullptr;
    for (int n = 0; n < logDef.GetCount() && target == nullptr; ++n) {
      TSimpleLogDefinition* source = logDef.GetDefinition(n);
      if (source->Source() == sIndex && !source->SourceCopy() &&
          source->StringClass() == sscVirtual) {
        target = source;
      }
    }
    if (target == nullptr) {
      logDef.AddDefinition(
          std::make_unique<TSimpleLogDefinition>(sIndex, TLogEnabledArray{}, sscVirtual, false, 0));
      target = logDef.GetDefinition(logDef.GetCount() - 1);
    }
    target->SetHasLogType(kVirtualFrequency);
    for (const int channel : {virtLC1, virtLC2}) {
      if (channel > 0) target->SetEnabled(1, channel, true);
    }
    changed = true;
  }
  if (changed) LogDefinitionsChanged(-1, false);
}

void TORB_MultiSampler::UpdateOptions(int what) {
  std::lock_guard lock(FLockObj);
  if ((what & (8 | 16 | 32)) == 0) return;
  for (const auto& definition : FDefinitionList) {
    if (definition) Restart(*definition, "Time settings changed");
  }
}

fs::path TORB_MultiSampler::ActualFileName(int dIndex) const {
  std::lock_guard lock(FLockObj);
  if (dIndex < 0 || dIndex >= static_cast<int>(FDefinitionList.size())) return {};
  const auto& definition = FDefinitionList[static_cast<size_t>(dIndex)];
  return definition && definition->File.IsOpen() ? definition->FileName : fs::path();
}

// ---- Sessions and protocol items ------------------------------------------------------------

TORB_MultiSampler::TSession* TORB_MultiSampler::FindSession(int sIndex, bool sCopy) const {
  for (const auto& session : FSessionList) {
    if (session->Index == sIndex && session->Copy == sCopy) return session.get();
  }
  return nullptr;
}

TMultiProtocolItem* TORB_MultiSampler::FindItem(TSession& session, int dIndex,
                                                TSamplerStringClass aClass) const {
  for (TMultiProtocolItem& item : session.Items) {
    if (item.DefIndex == dIndex && item.StringClass == aClass) return &item;
  }
  return nullptr;
}

bool TORB_MultiSampler::HasSource(const TDefinition& definition, int sIndex, bool sCopy) const {
  const TLogDefinition& logDef = *definition.LogDef;
  for (int n = 0; n < logDef.GetCount(); ++n) {
    const TSimpleLogDefinition* source = logDef.GetDefinition(n);
    if (source->Source() == sIndex && source->SourceCopy() == sCopy) return true;
  }
  return false;
}

void TORB_MultiSampler::LogDefinitionsChanged(int sIndex, bool sCopy) {
  const auto concerned = [&](const TSession& session) {
    return sIndex == -1 || (session.Index == sIndex && session.Copy == sCopy);
  };
  for (const auto& session : FSessionList) {
    if (!concerned(*session)) continue;
    for (TMultiProtocolItem& item : session->Items) item.Valid = false;
    session->Info = session->Session->LogSourceInfo();
  }
  for (const auto& definition : FDefinitionList) {
    if (!definition) continue;
    const TLogDefinition& logDef = *definition->LogDef;
    if (!logDef.Enabled()) continue;
    if (sIndex != -1 && !HasSource(*definition, sIndex, sCopy)) continue;
    const TSimpleLogDefinition* main = logDef.GetDefinition(0);
    const TSession* mainSession =
        main != nullptr ? FindSession(main->Source(), main->SourceCopy()) : nullptr;
    const double a = mainSession != nullptr ? mainSession->Session->IntervalMs() : 1000;
    for (int n = 0; n < logDef.GetCount(); ++n) {
      TSimpleLogDefinition& source = *logDef.GetDefinition(n);
      // Every source of the definition: a new interval of the main source
      // changes the factors of the others too.
      TSession* session = FindSession(source.Source(), source.SourceCopy());
      if (session == nullptr) continue;
      const double b = std::max(1, session->Session->IntervalMs());
      source.SetReportFactor(a / b);
      LogLazy([&] {
        return std::string(".BaseLogDefinitionsChanged dIndex=" + IntToText(definition->DefIndex) +
                           ", simple=" + IntToText(n) + ": " + source.ToString() +
                           " (mainInterval=" + FloatToShortestText(a) +
                           ", simpleInterval=" + FloatToShortestText(b) + ")");
      });
      TMultiProtocolItem* item = FindItem(*session, definition->DefIndex, source.StringClass());
      if (item == nullptr) {
        session->Items.emplace_back();
        item = &session->Items.back();
      }
      *item = TMultiProtocolItem{};
      item->DefIndex = definition->DefIndex;
      item->StringClass = source.StringClass();
      item->LogTypes = source.LogTypes();
      item->Needed = source.ReportFactor();
      item->SerialNumber = session->Session->SerialNumber();
      item->KeepLastReport = source.ReportFactor() < 1 || session->Session->IsSensor();
    }
  }
  for (const auto& session : FSessionList) {
    if (!concerned(*session)) continue;
    std::erase_if(session->Items, [](const TMultiProtocolItem& item) { return !item.Valid; });
    session->HasLog = 0;
    for (const TMultiProtocolItem& item : session->Items) session->HasLog |= item.LogTypes;
    session->Session->SetSamplerLogTypes(session->HasLog);
  }
  UpdateTimeSynchro();
}

void TORB_MultiSampler::UpdateTimeSynchro() {
  for (const auto& definition : FDefinitionList) {
    if (!definition || !definition->LogDef->Enabled()) continue;
    const TLogDefinition& logDef = *definition->LogDef;
    int counterSources = 0;
    for (int n = 0; n < logDef.GetCount(); ++n) {
      const TSimpleLogDefinition& source = *logDef.GetDefinition(n);
      const TSession* session = FindSession(source.Source(), source.SourceCopy());
      if (session != nullptr && !session->Session->IsSensor() && !session->Copy &&
          Synchronisable(source.StringClass()) && (source.LogTypes() & kCounterTypes) != 0) {
        ++counterSources;
      }
    }
    if (counterSources < 2) continue;
    LogLazy([&] {
      return std::string(".UpdateTimeSynchro dIndex=" + IntToText(definition->DefIndex) +
                         ", orcCount=" + IntToText(counterSources) + " -> TimeSynchroNeeded");
    });
    definition->TimeSynchroNeeded = true;
    for (const auto& session : FSessionList) {
      if (session->Session->IsSensor() || session->Copy) continue;
      for (TMultiProtocolItem& item : session->Items) {
        if (item.DefIndex != definition->DefIndex || !Synchronisable(item.StringClass)) continue;
        item.TimeSynchroNeeded = true;
        if (item.SerialNumber < 0) item.SerialNumber = session->Session->SerialNumber();
        item.TimeIndex = -1;
        item.TimeStampCount = 0;
        item.TimeStampStartValue = -1;
        item.FirstLineDone = false;
        item.NextDataIndex = -1;
        item.Done = 0;
      }
    }
  }
}

// ---- Data -----------------------------------------------------------------------------------

void TORB_MultiSampler::AddStrings(int SessId, bool SessIsCopy, const TReportStrings& Strings) {
  AddReport(SessId, SessIsCopy, sscStandard, Strings);
}

void TORB_MultiSampler::AddStringsVirtual(int SessId, bool SessIsCopy,
                                          const TReportStrings& Strings) {
  AddReport(SessId, SessIsCopy, sscVirtual, Strings);
}

void TORB_MultiSampler::AddStringsSpecial(int SessId, bool SessIsCopy,
                                          const TReportStrings& Strings) {
  AddReport(SessId, SessIsCopy, sscSpecial, Strings);
}

void TORB_MultiSampler::SetSessionSyncTime(int SessId, bool SessIsCopy, std::string_view SyncTime) {
  std::lock_guard lock(FLockObj);
  TSession* session = FindSession(SessId, SessIsCopy);
  if (session != nullptr) session->SyncTime = SyncTime;
}

void TORB_MultiSampler::AddReport(int sIndex, bool sCopy, TSamplerStringClass aClass,
                                  const TReportStrings& strings) {
  std::lock_guard lock(FLockObj);
  if (FDefinitionList.empty()) return;
  TSession* session = FindSession(sIndex, sCopy);
  if (session == nullptr) return;
  const bool read = std::any_of(session->Items.begin(), session->Items.end(),
                                [&](const auto& item) { return item.StringClass == aClass; });
  if (!read) return;
  const auto dropped = static_cast<int64_t>(session->Buffer(aClass).AddReport(strings));
  if (dropped > 0) {
    // The positions follow the strings that went; the files say so.
    std::vector<int> lost;
    for (TMultiProtocolItem& item : session->Items) {
      if (item.StringClass != aClass) continue;
      item.NextDataIndex =
          item.NextDataIndex < 0 ? -1 : std::max(0.0, item.NextDataIndex - dropped);
      item.TimeIndex = item.TimeIndex < dropped ? -1 : item.TimeIndex - dropped;
      item.Done = std::max(0.0, item.Done - static_cast<double>(dropped / kSlots));
      lost.push_back(item.DefIndex);
    }
    for (const int dIndex : lost) {
      if (FDefinitionList[static_cast<size_t>(dIndex)]) {
        Restart(*FDefinitionList[static_cast<size_t>(dIndex)], "Loss of data");
      }
    }
  }
  CheckLogging(*session, aClass);
}

void TORB_MultiSampler::CheckLogging(TSession& session, TSamplerStringClass aClass) {
  // Writing lines changes positions, never the list of items.
  for (size_t i = 0; i < session.Items.size(); ++i) {
    if (session.Items[i].StringClass != aClass) continue;
    const int dIndex = session.Items[i].DefIndex;
    TDefinition* definition = FDefinitionList[static_cast<size_t>(dIndex)].get();
    if (definition == nullptr || !definition->LogDef->Enabled()) continue;
    if (!LineReady(*definition, aClass)) continue;
    // Lines held back while a counter was behind follow at once, so the file
    // keeps up with its main source. Every line uses up a report of the main
    // source, so only its buffer bounds the loop.
    const TSimpleLogDefinition& main = *definition->LogDef->GetDefinition(0);
    const TSession* mainSession = FindSession(main.Source(), main.SourceCopy());
    int64_t more = main.StringClass() == aClass && mainSession != nullptr
                       ? mainSession->Buffers[static_cast<size_t>(aClass)].Count() / kSlots
                       : 0;
    while (GenerateLogStrings(*definition) && more-- > 0 && LineReady(*definition, aClass)) {
    }
  }
}

bool TORB_MultiSampler::LineReady(TDefinition& definition, TSamplerStringClass aClass) {
  const TLogDefinition& logDef = *definition.LogDef;
  bool ready = logDef.GetCount() > 0;
  for (int n = 0; n < logDef.GetCount() && ready; ++n) {
    const TSimpleLogDefinition& source = *logDef.GetDefinition(n);
    if (source.StringClass() != aClass) continue;
    TSession* sourceSession = FindSession(source.Source(), source.SourceCopy());
    ready = sourceSession != nullptr &&
            CheckLogStrings(*sourceSession, n == 0, definition.DefIndex, aClass);
  }
  if (!ready) return false;
  if (definition.TimeSynchroNeeded && !CheckTimeSynchro(definition)) {
    Log(" CheckTimeSynchro missing strings");
    return false;
  }
  return true;
}

bool TORB_MultiSampler::CheckLogStrings(TSession& session, bool isMain, int dIndex,
                                        TSamplerStringClass aClass) {
  const TMultiProtocolItem* item = FindItem(session, dIndex, aClass);
  if (item == nullptr) return false;
  double factor = item->Needed;
  if (!isMain) factor = session.Session->IsSensor() ? 1 : (item->Needed < 1 ? 0 : item->Needed);
  const double required = kSlots * factor;
  const int64_t count = session.Buffer(aClass).Count();
  const double available =
      static_cast<double>(count) - (isMain && item->NextDataIndex >= 0 ? item->NextDataIndex : 0);
  if (required <= available) return true;
  LogDebugLazy(FLogId, [&] {
    return "TORB_MultiSampler.BaseCheckLogStrings: Count=" + IntToText(count) +
           ", next=" + FloatToShortestText(item->NextDataIndex) +
           ", soll=" + FloatToShortestText(required) + " missing strings";
  });
  return false;
}

bool TORB_MultiSampler::CheckTimeSynchro(TDefinition& definition) {
  const TLogDefinition& logDef = *definition.LogDef;
  std::vector<TSyncEntry>& entries = FSyncEntries;
  entries.clear();
  for (int n = 0; n < logDef.GetCount(); ++n) {
    const TSimpleLogDefinition& source = *logDef.GetDefinition(n);
    TSession* session = FindSession(source.Source(), source.SourceCopy());
    if (session == nullptr || session->Session->IsSensor() || session->Copy ||
        (source.LogTypes() & kCounterTypes) == 0) {
      continue;
    }
    TMultiProtocolItem* item = FindItem(*session, definition.DefIndex, source.StringClass());
    if (item == nullptr || !Synchronisable(item->StringClass)) continue;
    if (item->SerialNumber < 0) item->SerialNumber = session->Session->SerialNumber();
    if (item->SerialNumber < 0) {
      Log(".CheckTimeSynchro missing serial number");
      return false;
    }
    const int64_t count = session->Buffer(item->StringClass).Count();
    if (!item->TimeSynchroNeeded || item->FirstLineDone) {
      if (std::max<int64_t>(0, item->RoundedNextDataIndex()) >= count) {
        LogLazy([&] {
          return std::string(".CheckTimeSynchro missing report: count=" + IntToText(count));
        });
        return false;
      }
    } else if (item->TimeIndex < 0) {
      Log(".CheckTimeSynchro no timestamp");
      return false;
    } else if (count - item->TimeIndex < kSlots) {
      LogLazy([&] {
        return std::string(".CheckTimeSynchro missing report for timestamp: count=" +
                           IntToText(count));
      });
      return false;
    }
    entries.push_back({session, item});
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const TMultiProtocolItem& item = *entries[i].Item;
    for (size_t r = 0; r < i; ++r) {
      const TSyncEntry& reference = entries[r];
      if (reference.Item->SerialNumber == item.SerialNumber) {
        const int64_t stamp = reference.Session->TimeStamp;
        if (stamp < item.TimeStampStartValue ||
            stamp > item.TimeStampStartValue + item.TimeStampCount - 1) {
          LogLazy([&] {
            return std::string(".CheckTimeSynchro ungleiche Zeitstempel: " + IntToText(stamp));
          });
          return false;
        }
        break;
      }
      if (definition.File.IsOpen() && reference.Item->TimeIndex >= 0 && item.TimeIndex >= 0 &&
          reference.Item->TimeStampCount != item.TimeStampCount) {
        Log(".CheckTimeSynchro ungleiche Anzahl Zeitstempel:");
        return false;
      }
    }
  }
  Log(".CheckTimeSynchro ok");
  return true;
}

bool TORB_MultiSampler::GenerateLogStrings(TDefinition& definition) {
  const TLogDefinition& logDef = *definition.LogDef;
  if (definition.TimeSynchroNeeded && !definition.File.IsOpen()) {
    for (int n = 0; n < logDef.GetCount(); ++n) {
      const TSimpleLogDefinition& source = *logDef.GetDefinition(n);
      TSession* session = FindSession(source.Source(), source.SourceCopy());
      if (session == nullptr) continue;
      TMultiProtocolItem* item = FindItem(*session, definition.DefIndex, source.StringClass());
      if (item == nullptr) continue;
      item->TimeStampCount = 1;
      item->TimeStampStartValue = session->TimeStamp;
    }
    Log(" reset time stamp counts");
  }
  // One reading of the clock serves the new-day check and the time column.
  const TDateTime pcNow = Now();
  if (definition.File.IsOpen()) {
    // A new day or a full file starts the next file.
    const TDateTime now = FileTime(definition, pcNow);
    if (DayOf(now) != DayOf(definition.FileDate)) {
      Restart(definition, "New Day");
    } else if (logDef.FileSize() > 0 && definition.FileBytes >= logDef.FileSize()) {
      Restart(definition, "File size reached");
    }
  }
  if (!definition.File.IsOpen() && !OpenFile(definition)) return false;
  GetSampleData(definition);
  WriteLine(definition, definition.Line, pcNow);
  return true;
}

void TORB_MultiSampler::GetSampleData(TDefinition& definition) {
  const TLogDefinition& logDef = *definition.LogDef;
  definition.TimeString.clear();
  definition.Line.clear();
  TReportViews report;
  for (int n = 0; n < logDef.GetCount(); ++n) {
    const TSimpleLogDefinition& source = *logDef.GetDefinition(n);
    TSession* session = FindSession(source.Source(), source.SourceCopy());
    if (session == nullptr) continue;
    TMultiProtocolItem* item = FindItem(*session, definition.DefIndex, source.StringClass());
    const TReportViews* taken = nullptr;
    int64_t idx = -1;
    if (item != nullptr) {
      idx = GetNextDataIndex(*session, *item);
      if (idx >= 0 && session->Buffer(source.StringClass()).ReportAt(idx, report)) taken = &report;
    }
    if (n == 0 && taken == nullptr) {
      LogErrorText(FLogId,
                   "TORB_MultiSampler.GetSampleData dIndex=" + IntToText(definition.DefIndex) +
                       " failed: keine main reports, session=" + IntToText(session->Index) + "/" +
                       (session->Copy ? "True" : "False"));
    }
    if (taken != nullptr && definition.TimeString.empty())
      definition.TimeString.assign((*taken)[9]);
    AppendLogSourceColumns(definition.Line, logDef.Option(), {&source, &session->Info}, taken,
                           session->SyncTime);
    if (taken != nullptr) SetLogDone(*session, *item, item->Needed);
  }
}

int64_t TORB_MultiSampler::GetNextDataIndex(TSession& session, TMultiProtocolItem& item) {
  const int64_t count = session.Buffer(item.StringClass).Count();
  if (count == 0) return -1;
  if (!item.TimeSynchroNeeded || item.FirstLineDone) {
    if (!item.TimeSynchroNeeded && !item.FirstLineDone && item.Done == 0 &&
        item.NextDataIndex < 0) {
      item.NextDataIndex = static_cast<double>(count - kSlots);  // begin with the newest
    } else if (item.NextDataIndex < 0) {
      item.NextDataIndex = 0;
    }
  } else {
    item.NextDataIndex = item.TimeIndex < count ? static_cast<double>(item.TimeIndex) : -1;
  }
  return item.RoundedNextDataIndex();
}

void TORB_MultiSampler::SetLogDone(TSession& session, TMultiProtocolItem& logged, double n) {
  logged.Done += n;
  logged.SynchroWait = false;
  const TSamplerStringClass aClass = logged.StringClass;
  const int64_t c = GetCountProtocolReady(session, aClass);
  if (c > 0) {
    session.Buffer(aClass).ClearOldest(c);
    LogLazy([&] {
      return std::string("].SetLogDoneIntern: gelöscht " + IntToText(c) +
                         " Reports, count=" + IntToText(session.Buffer(aClass).Count()));
    });
  }
  logged.NextDataIndex += n * kSlots;
  for (TMultiProtocolItem& item : session.Items) {
    if (item.StringClass != aClass) continue;
    item.NextDataIndex = item.NextDataIndex - static_cast<double>(c);
    if (item.NextDataIndex < 0) item.NextDataIndex = -1;
    item.Done = std::max(0.0, item.Done - static_cast<double>(c / kSlots));
    item.TimeIndex = item.TimeIndex - c < 0 ? -1 : item.TimeIndex - c;
  }
}

int64_t TORB_MultiSampler::GetCountProtocolReady(TSession& session, TSamplerStringClass aClass) {
  const int64_t count = session.Buffer(aClass).Count();
  int64_t ready = std::numeric_limits<int64_t>::max();
  for (TMultiProtocolItem& item : session.Items) {
    if (item.StringClass != aClass) continue;
    int64_t free = 0;
    if (item.Needed > item.Done) {
      free = 0;
    } else if (!item.TimeSynchroNeeded || item.FirstLineDone) {
      free = item.Done < 1 ? 0 : static_cast<int64_t>(item.Done) * kSlots;
      if (item.KeepLastReport && free == count) free -= kSlots;
    } else {
      free = std::max<int64_t>(0, item.RoundedNextDataIndex());
      if (item.Needed >= 1) free += kSlots;
      const int64_t more = static_cast<int64_t>(item.Needed) * kSlots - kSlots;
      if (item.Needed > 1 && count >= free + more) free += more;
    }
    if (item.Done > 0) item.FirstLineDone = true;
    ready = std::min(ready, free);
  }
  if (ready == std::numeric_limits<int64_t>::max()) return 0;
  return std::clamp<int64_t>(ready, 0, count);
}

void TORB_MultiSampler::AddTimeStamp(int SessId, bool SessIsCopy, int64_t TimeStamp100ms) {
  std::lock_guard lock(FLockObj);
  TSession* session = FindSession(SessId, SessIsCopy);
  if (session == nullptr) return;
  session->TimeStamp = TimeStamp100ms;
  for (TMultiProtocolItem& item : session->Items) {
    if (item.TimeStampStartValue < 0) item.TimeStampStartValue = TimeStamp100ms;
    if (!item.TimeSynchroNeeded) continue;
    // The item's own buffer: the virtual strings may begin later than the
    // standard ones.
    item.TimeIndex = session->Buffer(item.StringClass).Count();
    item.TimeStampCount += 1;
    item.SynchroWait = true;
  }
}

// ---- Events ---------------------------------------------------------------------------------

std::string TORB_MultiSampler::SessionText(int sIndex, int what, std::string_view text) const {
  if (!text.empty()) return std::string(text);
  static constexpr std::string_view kTexts[] = {
      "",
      "Header changed",
      "Header changed",
      "Measurement settings changed",
      "Data cleared",
      "",
      "Virtual definitions changed",
      "One or more lines lost due to ORC transmit buffer overflow",
      "",
      "Device error message received",
      "LTV Channels changed",
      "LTV Data cleared",
      "closed",
      "Reference clock error",
      "LTV Calibration Data changed",
  };
  if (what == 15) return std::string(kFirstCreate);
  if (what == 16) return "Loss of data";
  if (what == 17) return "OHR Data changed";
  const std::string letter(1, static_cast<char>('A' + sIndex));
  if (what < 1 || what > 14 || kTexts[what].empty()) return "Source " + letter;
  return "Source " + letter + " " + std::string(kTexts[what]);
}

void TORB_MultiSampler::ForgetPositions(TSession& session) {
  for (TMultiProtocolItem& item : session.Items) {
    item.NextDataIndex = -1;
    item.Done = 0;
    item.TimeIndex = -1;
    item.FirstLineDone = false;
  }
}

void TORB_MultiSampler::ClearBuffers(TSession& session) {
  for (TCircularStringBuffer& buffer : session.Buffers) buffer.Clear();
  ForgetPositions(session);
}

void TORB_MultiSampler::UpdateSession(int SessId, bool SessIsCopy, int Code,
                                      std::string_view Text) {
  std::lock_guard lock(FLockObj);
  const std::string text = SessionText(SessId, Code, Text);
  TSession* session = FindSession(SessId, SessIsCopy);
  const auto restartIf = [&](auto condition) {
    for (const auto& definition : FDefinitionList) {
      if (definition && HasSource(*definition, SessId, SessIsCopy) && condition(*definition)) {
        Restart(*definition, text);
      }
    }
  };
  const auto mask = [&](uint32_t types) {
    return [=, this](const TDefinition& d) {
      return d.LogDef->HasDefinitionMask(SessId, SessIsCopy, types);
    };
  };
  const auto always = [](const TDefinition&) { return true; };
  switch (Code) {
    case 1:
    case 9:
      restartIf(mask(kLogTypesCounter));
      break;
    case 2:
      restartIf([](const TDefinition& d) { return d.LogDef->AddHeader(); });
      break;
    case 3:
      restartIf(mask(kLogTypesCounter));
      LogDefinitionsChanged(SessId, SessIsCopy);
      break;
    case 4:
    case 11:
      if (session != nullptr) ClearBuffers(*session);
      break;
    case 5:
      for (const auto& definition : FDefinitionList) {
        if (!definition || !HasSource(*definition, SessId, SessIsCopy)) continue;
        if (definition->LogDef->AddHeader()) {
          Restart(*definition, text);
        } else {
          WriteComment(*definition, text);
        }
      }
      break;
    case 6:
      restartIf([&](const TDefinition& d) {
        return d.LogDef->HasStringClass(SessId, SessIsCopy, sscVirtual);
      });
      break;
    case 7:
    case 12:
    case 13:
    case 16:
      if (session != nullptr) ClearBuffers(*session);
      restartIf(always);
      break;
    case 10:
    case 14:
    case 15:
      // 15 too only restarts: a file with measurement lines is never deleted.
      restartIf(mask(kLogTypesLTV));
      break;
    case 17:
      restartIf(mask(kCounterTypes));
      break;
    default:
      break;
  }
}

void TORB_MultiSampler::AddWarning(int SessId, bool SessIsCopy, std::string_view Text) {
  std::lock_guard lock(FLockObj);
  const std::string text(Text);
  for (const auto& definition : FDefinitionList) {
    if (!definition || !definition->LogDef->Enabled() ||
        !HasSource(*definition, SessId, SessIsCopy)) {
      continue;
    }
    if (definition->LogDef->AddHeader()) {
      Restart(*definition, text);
    } else {
      WriteComment(*definition, text);
    }
  }
}

// ---- Files ----------------------------------------------------------------------------------

TDateTime TORB_MultiSampler::Now() const {
  return FOptions.Current()->LogTimeZoneSystem ? FClock.NowUtc() : FClock.NowLocal();
}

TDateTime TORB_MultiSampler::FileTime(const TDefinition& definition, TDateTime pcNow) const {
  // With the device time in the time column, its date also names the files
  // and starts the next day's file.
  if (FOptions.Current()->LogTimeSourceORC) {
    const TSimpleLogDefinition* main = definition.LogDef->GetDefinition(0);
    const TSession* session =
        main != nullptr ? FindSession(main->Source(), main->SourceCopy()) : nullptr;
    const TDateTime device = session != nullptr
                                 ? session->Session->DeviceDateTime()
                                 : TDateTime{std::numeric_limits<double>::quiet_NaN()};
    if (!std::isnan(device.Days)) return device;
  }
  return pcNow;
}

std::vector<TLogFileSource> TORB_MultiSampler::FileSources(const TDefinition& definition) const {
  std::vector<TLogFileSource> sources;
  const TLogDefinition& logDef = *definition.LogDef;
  for (int n = 0; n < logDef.GetCount(); ++n) {
    const TSimpleLogDefinition* source = logDef.GetDefinition(n);
    const TSession* session = FindSession(source->Source(), source->SourceCopy());
    if (session != nullptr) sources.push_back({source, &session->Info});
  }
  return sources;
}

bool TORB_MultiSampler::OpenFile(TDefinition& definition) {
  const TLogDefinition& logDef = *definition.LogDef;
  const TDateTime now = FileTime(definition, Now());
  std::string error;
  // The numbers of a day count on from the last file of this definition.
  if (DayOf(now) != DayOf(definition.FileDate)) definition.FileNumber = 1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    definition.FileName = ActualLogFileName(logDef.FileName(), logDef.PrependDate(), now,
                                            FProgramFolder, definition.FileNumber++);
    std::error_code code;
    fs::create_directories(definition.FileName.parent_path(), code);
    // Never an existing file: a name taken meanwhile gets the next number.
    if (definition.File.CreateNew(definition.FileName, error)) break;
  }
  if (!definition.File.IsOpen()) {
    LogErrorText(FLogId,
                 "TORB_MultiSampler.OpenFile " + definition.FileName.string() + ": " + error);
    return false;
  }
  definition.FileBytes = 0;
  definition.FileDate = now;
  definition.DecimalSeparator = FOptions.Current()->FormatSettingsLog.DecimalSeparator;
  Message(91, "Log opened " + definition.FileName.string(), 2);
  // The sessions' names and channels as they are now.
  for (int n = 0; n < logDef.GetCount(); ++n) {
    const TSimpleLogDefinition* source = logDef.GetDefinition(n);
    if (TSession* session = FindSession(source->Source(), source->SourceCopy())) {
      session->Info = session->Session->LogSourceInfo();
    }
  }
  if (definition.HeaderNeeded && logDef.AddHeader()) WriteHeader(definition);
  definition.HeaderNeeded = false;
  return true;
}

void TORB_MultiSampler::WriteHeader(TDefinition& definition) {
  const auto options = FOptions.Current();
  TLogTimeSettings time;
  time.SourceIsDevice = options->LogTimeSourceORC;
  time.ZoneUTC = options->LogTimeZoneSystem;
  time.TimeFormat = options->LogTimeFormat;
  time.Numbers = options->FormatSettingsLog;
  const std::vector<TLogFileSource> sources = FileSources(definition);
  const std::string header =
      BuildLogHeader(*definition.LogDef, sources, definition.ResetText, time);
  WriteText(definition, header);
}

void TORB_MultiSampler::CloseFile(TDefinition& definition, const std::string& reason,
                                  bool asError) {
  if (!definition.File.IsOpen()) return;
  definition.File.Close();
  const std::string name = definition.FileName.string();
  if (definition.FileBytes == 0) {
    std::error_code code;
    fs::remove(definition.FileName, code);
  }
  if (reason.empty()) {
    Message(92, "Log closed " + name, 2);
  } else {
    Message(92, "Log closed (" + reason + "): " + name, asError ? 0 : 2);
  }
}

void TORB_MultiSampler::Restart(TDefinition& definition, const std::string& text) {
  CloseFile(definition, text, false);
  definition.ResetText = text;
  definition.HeaderNeeded = definition.LogDef->AddHeader();
}

void TORB_MultiSampler::AppendTimeColumn(std::string& out, const TDefinition& definition,
                                         TDateTime pcNow) const {
  const auto options = FOptions.Current();
  if (options->LogTimeSourceORC && !definition.TimeString.empty()) {
    out += definition.TimeString;
  } else {
    AppendDateTimeFormatted(out, options->LogTimeFormat, pcNow);
  }
}

void TORB_MultiSampler::WriteText(TDefinition& definition, const std::string& text) {
  if (definition.File.Write(text)) definition.FileBytes += static_cast<int64_t>(text.size());
}

void TORB_MultiSampler::WriteLine(TDefinition& definition, const std::string& line,
                                  TDateTime pcNow) {
  const char separator = LineSeparator(line);
  if (separator != 0 && separator != definition.DecimalSeparator) {
    // The line goes into the next file, which starts with it.
    Restart(definition, "Floating point format changed");
    if (!OpenFile(definition)) return;
    definition.DecimalSeparator = separator;
  }
  definition.Out.clear();
  AppendTimeColumn(definition.Out, definition, pcNow);
  definition.Out += line;
  definition.Out += "\r\n";
  WriteText(definition, definition.Out);
}

void TORB_MultiSampler::WriteComment(TDefinition& definition, const std::string& text) {
  if (!definition.File.IsOpen()) return;
  definition.Out.clear();
  AppendTimeColumn(definition.Out, definition, Now());
  definition.Out += "# # " + text + " #\r\n";
  WriteText(definition, definition.Out);
}

}  // namespace orb
