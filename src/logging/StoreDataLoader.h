#pragma once
// The archive's file format: records of {StartTime, EndTime, Data}, each
// written as two little-endian doubles, a little-endian 32-bit length and the
// bytes. Minute files hold one record, hourly files the minute files of
// their hour one after another. The loader reads them back and takes every
// length from the file as untrusted.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace orb {

struct TStoreDataRecord {
  TDateTime StartTime;
  TDateTime EndTime;
  std::string Data;
  bool operator==(const TStoreDataRecord&) const = default;
};

// (sender, text): the archive's errors.
using TNotifyError = std::function<void(const void* Sender, const std::string& Text)>;

void AppendStoreDataRecord(std::string& out, const TStoreDataRecord& record);
// Reads the record at `offset` and moves past it; false at the end or when
// the rest is not a whole record (`error` tells which).
bool ReadStoreDataRecord(std::string_view bytes, size_t& offset, TStoreDataRecord& record,
                         std::string& error);
// "StartTime-EndTime" for log lines.
std::string StoreDataRecordSpan(const TStoreDataRecord& record);

class TStoreDataLoader {
 public:
  explicit TStoreDataLoader(int aLogId) : FLogId(aLogId) {}
  void SetOnError(TNotifyError handler) { FOnError = std::move(handler); }

  bool LoadRecordCountFromFile(const std::string& filename, int& count);
  // Up to `capacity` records.
  bool LoadFromFile(const std::string& filename, std::vector<TStoreDataRecord>& records,
                    size_t capacity);
  bool LoadFromFile(const std::string& filename, std::string& content);

 private:
  bool ReadAll(const std::string& filename, std::string& content);
  bool Failed(const std::string& filename, const std::string& message);

  int FLogId;
  TNotifyError FOnError;
};

}  // namespace orb
