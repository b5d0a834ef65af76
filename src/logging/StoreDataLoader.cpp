#include "logging/StoreDataLoader.h"

#include <cstring>

#include "logging/LogUnit.h"
#include "platform/Files.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"

namespace orb {
namespace {

constexpr size_t kRecordHead = 8 + 8 + 4;

void AppendDouble(std::string& out, double value) {
  uint8_t bytes[8];
  StoreLE(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

}  // namespace

void AppendStoreDataRecord(std::string& out, const TStoreDataRecord& record) {
  AppendDouble(out, record.StartTime.Days);
  AppendDouble(out, record.EndTime.Days);
  uint8_t length[4];
  StoreLE(length, static_cast<int32_t>(record.Data.size()));
  out.append(reinterpret_cast<const char*>(length), sizeof length);
  out += record.Data;
}

bool ReadStoreDataRecord(std::string_view bytes, size_t& offset, TStoreDataRecord& record,
                         std::string& error) {
  error.clear();
  if (offset >= bytes.size()) return false;
  if (bytes.size() - offset < kRecordHead) {
    error = "record head cut off at byte " + IntToText(static_cast<int64_t>(offset));
    return false;
  }
  const auto* head = reinterpret_cast<const uint8_t*>(bytes.data() + offset);
  record.StartTime.Days = LoadLE<double>(head);
  record.EndTime.Days = LoadLE<double>(head + 8);
  const int32_t length = LoadLE<int32_t>(head + 16);
  const size_t rest = bytes.size() - offset - kRecordHead;
  if (length < 0 || static_cast<size_t>(length) > rest) {
    error = "invalid record length " + IntToText(length) + " at byte " +
            IntToText(static_cast<int64_t>(offset));
    return false;
  }
  record.Data.assign(bytes.substr(offset + kRecordHead, static_cast<size_t>(length)));
  offset += kRecordHead + static_cast<size_t>(length);
  return true;
}

std::string StoreDataRecordSpan(const TStoreDataRecord& record) {
  return DateTimeToText(record.StartTime) + "-" + DateTimeToText(record.EndTime);
}

bool TStoreDataLoader::Failed(const std::string& filename, const std::string& message) {
  const std::string text = "Error on reading file: " + filename + "\r\n" + message;
  if (FOnError) {
    FOnError(this, text);
  } else {
    LogErrorText(FLogId, "### StoreDataLoader " + text);
  }
  return false;
}

bool TStoreDataLoader::ReadAll(const std::string& filename, std::string& content) {
  std::string error;
  if (!ReadWholeFile(filename, content, error)) return Failed(filename, error);
  return true;
}

bool TStoreDataLoader::LoadRecordCountFromFile(const std::string& filename, int& count) {
  count = 0;
  std::string content;
  if (!ReadAll(filename, content)) return false;
  size_t offset = 0;
  TStoreDataRecord record;
  std::string error;
  while (ReadStoreDataRecord(content, offset, record, error)) ++count;
  return error.empty() || Failed(filename, error);
}

bool TStoreDataLoader::LoadFromFile(const std::string& filename,
                                    std::vector<TStoreDataRecord>& records, size_t capacity) {
  records.clear();
  std::string content;
  if (!ReadAll(filename, content)) return false;
  size_t offset = 0;
  TStoreDataRecord record;
  std::string error;
  while (records.size() < capacity && ReadStoreDataRecord(content, offset, record, error)) {
    records.push_back(record);
  }
  return error.empty() || Failed(filename, error);
}

bool TStoreDataLoader::LoadFromFile(const std::string& filename, std::string& content) {
  return ReadAll(filename, content);
}

}  // namespace orb
