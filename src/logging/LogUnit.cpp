#include "logging/LogUnit.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include "logging/Logger.h"

namespace orb {

namespace {
// Loggers sit in fixed chunks that never move, so that any thread can look a
// logger up without a lock while another thread creates one.
constexpr int kChunkBits = 8;
constexpr int kChunkSize = 1 << kChunkBits;
constexpr int kMaxChunks = 4096;

using TChunk = std::array<std::atomic<TLogger*>, kChunkSize>;

struct TRegistry {
  std::mutex Lock;  // serialises creation and finalisation
  std::atomic<int> Count{0};
  std::array<std::atomic<TChunk*>, kMaxChunks> Chunks{};
};

// Never destroyed: threads may still log while static objects are torn down.
TRegistry& Registry() {
  static auto* registry = new TRegistry();
  return *registry;
}
}  // namespace

std::string LogLimitTypeName(TLogLimitType type) {
  switch (type) {
    case logUnlimited:
      return "logUnlimited";
    case logOverwrite:
      return "logOverwrite";
    case logCreateNew:
      return "logCreateNew";
  }
  return std::to_string(static_cast<int>(type));
}

int CreateLogger() { return CreateLogger(SystemClock()); }

int CreateLogger(IClock& clock) {
  TRegistry& registry = Registry();
  std::lock_guard lock(registry.Lock);
  const int id = registry.Count.load(std::memory_order_relaxed);
  if (id >= kChunkSize * kMaxChunks) return -1;
  auto& chunk = registry.Chunks[static_cast<size_t>(id >> kChunkBits)];
  if (chunk.load(std::memory_order_relaxed) == nullptr) {
    chunk.store(new TChunk{}, std::memory_order_release);
  }
  (*chunk.load(std::memory_order_relaxed))[id & (kChunkSize - 1)].store(new TLogger(id, clock),
                                                                        std::memory_order_release);
  registry.Count.store(id + 1, std::memory_order_release);
  return id;
}

TLogger* GetLogger(int id) {
  TRegistry& registry = Registry();
  if (id < 0 || id >= registry.Count.load(std::memory_order_acquire)) return nullptr;
  const TChunk* chunk =
      registry.Chunks[static_cast<size_t>(id >> kChunkBits)].load(std::memory_order_acquire);
  return (*chunk)[id & (kChunkSize - 1)].load(std::memory_order_acquire);
}

void FinalizeLoggers() {
  LogDebug(0, "LogUnit.finalization");
  TRegistry& registry = Registry();
  std::lock_guard lock(registry.Lock);
  const int count = registry.Count.load(std::memory_order_relaxed);
  for (int id = 0; id < count; ++id) {
    TChunk& chunk = *registry.Chunks[static_cast<size_t>(id >> kChunkBits)].load();
    delete chunk[id & (kChunkSize - 1)].exchange(nullptr, std::memory_order_acq_rel);
  }
}

bool LogActive(int id) {
  const TLogger* logger = GetLogger(id);
  return logger != nullptr && logger->Active();
}

void LogDebug(int id, std::string_view text) {
  if (TLogger* logger = GetLogger(id)) logger->LogIt(text);
}

void LogWarning(int id, std::string_view text) {
  if (TLogger* logger = GetLogger(id)) logger->LogWarning(text);
}

void LogErrorText(int id, std::string_view text) {
  if (TLogger* logger = GetLogger(id)) logger->LogError(text);
}

void LogAppendText(int id, std::string_view text) {
  if (TLogger* logger = GetLogger(id)) logger->LogAppend(text);
}

void LogBreak(int id) {
  if (TLogger* logger = GetLogger(id)) logger->LogNewLine();
}

void LogException(int id, std::string_view text, const std::exception& exception) {
  if (TLogger* logger = GetLogger(id)) logger->LogException(text, exception);
}

bool IsLogEnabled(int id) {
  const TLogger* logger = GetLogger(id);
  return logger != nullptr && logger->LogEnabled();
}

std::string GetLogFileName(int id) {
  const TLogger* logger = GetLogger(id);
  return logger != nullptr ? logger->InternLogFileName() : std::string();
}

std::string GetLogErrorMsg(int id) {
  const TLogger* logger = GetLogger(id);
  return logger != nullptr ? logger->ErrorMsg() : std::string();
}

std::vector<std::string> GetHeaderLines(int id) {
  const TLogger* logger = GetLogger(id);
  return logger != nullptr ? logger->HeaderLines() : std::vector<std::string>();
}

void SetLogFile(int id, const std::string& name, bool errorLog) {
  TLogger* logger = GetLogger(id);
  if (logger == nullptr) return;
  if (!name.empty()) logger->SetErrorLog(errorLog);
  logger->SetLogFileName(name);
}

void SetHeaderLines(int id, std::vector<std::string> lines) {
  if (TLogger* logger = GetLogger(id)) logger->SetHeaderLines(std::move(lines));
}

void SetLogLimit(int id, TLogLimitType type, uint32_t size) {
  if (TLogger* logger = GetLogger(id)) logger->SetLimit(type, size);
}

void SetSaveEnabled(int id, bool enabled) {
  if (TLogger* logger = GetLogger(id)) logger->SetSaveEnabled(enabled);
}

void SetSavePath(int id, const std::string& folder) {
  if (TLogger* logger = GetLogger(id)) logger->SetSavePath(folder);
}

}  // namespace orb
