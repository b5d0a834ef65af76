#pragma once
// The settings store: an ordered list of "name=value" lines that mirrors one
// text file. Lines keep their order and duplicates survive; a name is looked
// up without regard to case and the first line with that name wins. Typed
// reads append the default when the name is missing, so the first save of a
// new file writes every key the program asked for. Writes change the list
// only when the text differs.
//
// One thread only: the main thread owns the store. Values that worker
// threads need are handed to them as immutable snapshots (LogOptions.h).

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ConvertError.h"
#include "platform/NumberFormat.h"

namespace orb {

// The settings file could not be created, read or written.
class ESettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TAppSettings {
 public:
  TAppSettings();
  TAppSettings(const TAppSettings&) = delete;
  TAppSettings& operator=(const TAppSettings&) = delete;
  TAppSettings(TAppSettings&&) = default;
  TAppSettings& operator=(TAppSettings&&) = default;

  // Binds the store to `FileName` and replaces the list by the file's lines
  // (CR LF, LF and CR all end a line; a UTF-8 byte-order mark is kept for the
  // next save). A missing file is created empty.
  void LoadFromFile(const std::string& FileName);

  // Writes "INI_Version", then replaces the bound file atomically: a crash
  // during the save leaves the old file or the new one, never a broken one.
  // Lines end with LF.
  void SaveSettings();
  void SaveSettings(const std::string& FileName);

  // The list as file content, and the list replaced by file content.
  std::string Text() const;
  void SetText(std::string_view content);

  bool GetValue(std::string_view Name, bool Default);
  char GetValue(std::string_view Name, char Default);
  double GetValue(std::string_view Name, double Default);
  int32_t GetValue(std::string_view Name, int32_t Default);
  std::string GetValue(std::string_view Name, const std::string& Default);
  std::string GetValue(std::string_view Name, const char* Default);
  uint32_t GetUValue(std::string_view Name, uint32_t Default);
  bool IsEnabled(std::string_view Name, bool Default) { return GetValue(Name, Default); }
  // Any other argument type would silently pick one of the forms above.
  template <typename T>
  T GetValue(std::string_view Name, T Default) = delete;

  void SetValue(std::string_view Name, bool Value);
  void SetValue(std::string_view Name, double Value);  // NaN deletes the line
  void SetValue(std::string_view Name, int32_t Value);
  void SetValue(std::string_view Name, std::string_view Value);  // "" deletes the line
  void SetValue(std::string_view Name, const std::string& Value) {
    SetValue(Name, std::string_view(Value));
  }
  void SetValue(std::string_view Name, const char* Value) {
    SetValue(Name, std::string_view(Value));
  }
  void SetUValue(std::string_view Name, uint32_t Value);
  template <typename T>
  void SetValue(std::string_view Name, T Value) = delete;

  // Prefixes compare with case, unlike name lookups.
  void RemoveKeys(std::string_view Prefix);
  bool TestKeys(std::string_view Prefix) const;

  // Reads "INI_Version" (appending 0 when missing) into VersionFormat.
  int32_t GetVersionFormat();
  // Raises VersionFormat to `Version`; never lowers it.
  void SetVersionFormat(int32_t Version);
  int32_t VersionFormat() const { return FVersionFormat; }

  bool AutoSaveSettings() const { return FAutoSaveSettings; }
  void SetAutoSaveSettings(bool Value);
  const std::string& Filename() const { return FFilename; }
  const NumberFormat& FormatSettings() const { return FFormatSettings; }
  void SetFormatSettings(const NumberFormat& Format) { FFormatSettings = Format; }
  bool ValuesLoaded() const { return FValuesLoaded; }
  const std::vector<std::string>& Lines() const { return FLines; }

 protected:
  void Clear();

 private:
  struct TNameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;
  };
  struct TNameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };

  // Index of the first line named `Name`, or -1.
  ptrdiff_t Find(std::string_view Name);
  // The stored value, or false when the name is missing (after appending
  // Name "=" DefaultText).
  bool ReadOrAppend(std::string_view Name, std::string_view DefaultText, std::string_view& Value);
  // The change-only write; `AutoSave` is false for the write that saving does.
  void StoreText(std::string_view Name, std::string_view Text, bool AutoSave);
  void Append(std::string_view Name, std::string_view Text);
  void EraseLine(size_t Index);
  void RebuildIndex();

  bool FAutoSaveSettings = false;
  std::string FFilename;
  bool FValuesLoaded = false;
  int32_t FVersionFormat = 0;
  NumberFormat FFormatSettings;
  std::vector<std::string> FLines;
  bool FHasByteOrderMark = false;
  // First line of each name; rebuilt lazily after a line was removed.
  std::unordered_map<std::string, size_t, TNameHash, TNameEqual> FIndex;
  bool FIndexValid = true;
};

}  // namespace orb
