#include "session/App_Settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>

#include "platform/Files.h"

namespace orb {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kVersionKey = "INI_Version";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A line's name is the text before its first "="; a line without "=" has none.
bool SplitLine(std::string_view line, std::string_view& name, std::string_view& value) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  name = line.substr(0, equals);
  value = line.substr(equals + 1);
  return true;
}

std::string MakeLine(std::string_view name, std::string_view text) {
  std::string line;
  line.reserve(name.size() + 1 + text.size());
  line.append(name).append(1, '=').append(text);
  // A line break inside a value would turn the rest into lines of their own
  // on the next load, so it is stored as a blank.
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return line;
}

std::string IntegerText(int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

size_t TAppSettings::TNameHash::operator()(std::string_view name) const {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(LowerAscii(c));
    hash *= 1099511628211ull;
  }
  return static_cast<size_t>(hash);
}

bool TAppSettings::TNameEqual::operator()(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

TAppSettings::TAppSettings() {
  // Read from the still empty list, so the flag always starts off; only the
  // property turns it on.
  FAutoSaveSettings = GetValue("AutoSaveSettings", false);
}

void TAppSettings::LoadFromFile(const std::string& FileName) {
  FFilename = FileName;
  std::error_code existsError;
  if (!std::filesystem::exists(FileName, existsError)) {
    std::string error;
    if (!WriteFileAtomic(FileName, {}, error)) throw ESettingsFileError(error);
  }
  std::string content;
  std::string error;
  if (!ReadWholeFile(FileName, content, error)) throw ESettingsFileError(error);
  SetText(content);
  FValuesLoaded = !FLines.empty();
}

void TAppSettings::SaveSettings() {
  StoreText(kVersionKey, IntegerText(FVersionFormat), false);
  if (FFilename.empty()) return;
  std::string error;
  if (!WriteFileAtomic(FFilename, Text(), error)) throw ESettingsFileError(error);
}

void TAppSettings::SaveSettings(const std::string& FileName) {
  FFilename = FileName;
  SaveSettings();
}

std::string TAppSettings::Text() const {
  // A first line that begins with the mark's bytes needs a mark of its own,
  // else the next load would take its bytes for the mark.
  const bool byteOrderMark =
      FHasByteOrderMark || (!FLines.empty() && FLines.front().starts_with(kByteOrderMark));
  size_t size = byteOrderMark ? kByteOrderMark.size() : 0;
  for (const std::string& line : FLines) size += line.size() + 1;
  std::string content;
  content.reserve(size);
  if (byteOrderMark) content += kByteOrderMark;
  for (const std::string& line : FLines) {
    content += line;
    content += '\n';
  }
  return content;
}

void TAppSettings::SetText(std::string_view content) {
  FHasByteOrderMark = content.starts_with(kByteOrderMark);
  if (FHasByteOrderMark) content.remove_prefix(kByteOrderMark.size());
  FLines.clear();
  while (!content.empty()) {
    const size_t end = content.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      FLines.emplace_back(content);
      break;
    }
    FLines.emplace_back(content.substr(0, end));
    const bool crLf = content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
    content.remove_prefix(end + (crLf ? 2 : 1));
  }
  RebuildIndex();
}

bool TAppSettings::GetValue(std::string_view Name, bool Default) {
  std::string_view value;
  if (!ReadOrAppend(Name, Default ? "True" : "False", value)) return Default;
  return value == "True";
}

char TAppSettings::GetValue(std::string_view Name, char Default) {
  std::string_view value;
  if (!ReadOrAppend(Name, std::string_view(&Default, 1), value) || value.empty()) return Default;
  return value.front();
}

double TAppSettings::GetValue(std::string_view Name, double Default) {
  const std::string defaultText =
      std::isnan(Default) ? std::string() : FloatToShortestText(Default, FFormatSettings);
  std::string_view value;
  if (!ReadOrAppend(Name, defaultText, value)) return Default;
  if (value.empty()) return std::nan("");
  const std::string normalized = NormalizeDecimalSeparator(value, FFormatSettings.DecimalSeparator);
  double result = 0;
  if (!TryTextToFloat(normalized, result, FFormatSettings)) {
    throw EConvertError(NotAFloatMessage(value));
  }
  return result;
}

int32_t TAppSettings::GetValue(std::string_view Name, int32_t Default) {
  std::string_view value;
  if (!ReadOrAppend(Name, IntegerText(Default), value)) return Default;
  int32_t result = 0;
  if (!TryTextToInt32(value, result)) {
    throw EConvertError(NotAnIntegerMessage(value));
  }
  return result;
}

std::string TAppSettings::GetValue(std::string_view Name, const std::string& Default) {
  std::string_view value;
  if (!ReadOrAppend(Name, Default, value)) return Default;
  return std::string(value);
}

std::string TAppSettings::GetValue(std::string_view Name, const char* Default) {
  return GetValue(Name, std::string(Default));
}

uint32_t TAppSettings::GetUValue(std::string_view Name, uint32_t Default) {
  std::string_view value;
  if (!ReadOrAppend(Name, IntegerText(Default), value)) return Default;
  int64_t wide = 0;
  if (!TryTextToInt64(value, wide)) {
    throw EConvertError(NotAnIntegerMessage(value));
  }
  return static_cast<uint32_t>(wide);
}

void TAppSettings::SetValue(std::string_view Name, bool Value) {
  StoreText(Name, Value ? "True" : "False", true);
}

void TAppSettings::SetValue(std::string_view Name, double Value) {
  StoreText(Name, std::isnan(Value) ? std::string() : FloatToShortestText(Value, FFormatSettings),
            true);
}

void TAppSettings::SetValue(std::string_view Name, int32_t Value) {
  StoreText(Name, IntegerText(Value), true);
}

void TAppSettings::SetValue(std::string_view Name, std::string_view Value) {
  StoreText(Name, Value, true);
}

void TAppSettings::SetUValue(std::string_view Name, uint32_t Value) {
  StoreText(Name, IntegerText(Value), true);
}

void TAppSettings::RemoveKeys(std::string_view Prefix) {
  const auto before = FLines.size();
  std::erase_if(FLines, [Prefix](const std::string& line) {
    std::string_view name;
    std::string_view value;
    return SplitLine(line, name, value) && name.starts_with(Prefix);
  });
  if (FLines.size() != before) FIndexValid = false;
}

bool TAppSettings::TestKeys(std::string_view Prefix) const {
  return std::any_of(FLines.begin(), FLines.end(), [Prefix](const std::string& line) {
    std::string_view name;
    std::string_view value;
    return SplitLine(line, name, value) && name.starts_with(Prefix);
  });
}

int32_t TAppSettings::GetVersionFormat() {
  FVersionFormat = GetValue(kVersionKey, int32_t{0});
  return FVersionFormat;
}

void TAppSettings::SetVersionFormat(int32_t Version) {
  FVersionFormat = std::max(FVersionFormat, Version);
}

void TAppSettings::SetAutoSaveSettings(bool Value) {
  FAutoSaveSettings = Value;
  SetValue("AutoSaveSettings", Value);
}

void TAppSettings::Clear() {
  FLines.clear();
  RebuildIndex();
}

ptrdiff_t TAppSettings::Find(std::string_view Name) {
  if (!FIndexValid) RebuildIndex();
  const auto found = FIndex.find(Name);
  return found == FIndex.end() ? -1 : static_cast<ptrdiff_t>(found->second);
}

bool TAppSettings::ReadOrAppend(std::string_view Name, std::string_view DefaultText,
                                std::string_view& Value) {
  const ptrdiff_t index = Find(Name);
  if (index < 0) {
    Append(Name, DefaultText);
    return false;
  }
  std::string_view name;
  SplitLine(FLines[static_cast<size_t>(index)], name, Value);
  return true;
}

void TAppSettings::StoreText(std::string_view Name, std::string_view Text, bool AutoSave) {
  const ptrdiff_t index = Find(Name);
  std::string_view current;
  if (index >= 0) {
    std::string_view name;
    SplitLine(FLines[static_cast<size_t>(index)], name, current);
  }
  if (current == Text) return;
  if (Text.empty()) {
    EraseLine(static_cast<size_t>(index));
  } else if (index >= 0) {
    FLines[static_cast<size_t>(index)] = MakeLine(Name, Text);
  } else {
    Append(Name, Text);
  }
  if (AutoSave && FAutoSaveSettings) SaveSettings();
}

void TAppSettings::Append(std::string_view Name, std::string_view Text) {
  FLines.push_back(MakeLine(Name, Text));
  if (FIndexValid) FIndex.emplace(std::string(Name), FLines.size() - 1);
}

void TAppSettings::EraseLine(size_t Index) {
  FLines.erase(FLines.begin() + static_cast<ptrdiff_t>(Index));
  FIndexValid = false;
}

void TAppSettings::RebuildIndex() {
  FIndex.clear();
  for (size_t i = 0; i < FLines.size(); ++i) {
    std::string_view name;
    std::string_view value;
    if (SplitLine(FLines[i], name, value)) FIndex.emplace(std::string(name), i);
  }
  FIndexValid = true;
}

}  // namespace orb
