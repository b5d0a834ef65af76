#pragma once
// The names, colours and flags of one group of up to 24 channels, shared by a
// session and its views, with the group's keys in the settings file.
// Colours are $00BBGGRR (red in the low byte); every colour has a darker and
// a lighter variant for curves drawn over each other.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

class TAppSettings;

// Which palette entry channel 1 takes and how channels are named at first.
enum TChannelGroupKind : int {
  ckCounter = 0,
  ckLinComb = 1,
  ckViewSecond = 2,  // second colour set of a view
  ckLTV = 3,
  ckVirtual = 4,
  ckVirtualLTV = 5,
};

// What follows every item of a stored list of names or colours.
constexpr std::string_view kItemSeparator = ", ";

// The items of a stored list in which every item is followed by
// `separator` ("a, b, "); a last item without one counts too.
std::vector<std::string_view> SplitItemList(std::string_view text, std::string_view separator);

// Luminance of `color` moved by `delta` steps of the 0..240
// hue-luminance-saturation scale, clipped to the scale.
int32_t AdjustLuminance(int32_t color, int delta);

class TQM_ChannelData {
 public:
  static constexpr int kChannels = 24;
  // What a colour outside 1..24 reads as; a window may show its own.
  static constexpr int32_t kButtonFaceColor = 0xF0F0F0;
  static constexpr int kDarkLuminance = -50;
  static constexpr int kLightLuminance = 80;

  explicit TQM_ChannelData(TChannelGroupKind kind = ckCounter);

  // Channels 1..24; reads outside give false, "" or the button-face colour,
  // writes outside are ignored.
  bool ChannelEnabled(int k) const;
  void SetChannelEnabled(int k, bool value);
  bool PersistEnabled(int k) const;
  void SetPersistEnabled(int k, bool value);
  int32_t ChannelColor(int k) const;
  int32_t ChannelDarkColor(int k) const;
  int32_t ChannelLightColor(int k) const;
  // Sets the dark and light variants too.
  void SetChannelColor(int k, int32_t color);
  std::string ChannelId(int k) const;
  void SetChannelId(int k, const std::string& id);
  std::string ChannelName(int k) const;
  void SetChannelName(int k, const std::string& name);

  int MaxChannels() const { return FMaxChannels; }
  void SetMaxChannels(int value) { FMaxChannels = value; }
  int Selected() const { return FSelected; }  // 0 = none
  void SetSelected(int value) { FSelected = value; }

  // Channel n is named prefix + n.
  void SetNames(std::string_view prefix);

  // The group under `Prefix`: "Ids", "Names", "Colors" from format version 1
  // on, "Name_" n and "Color_" n before. A colour that is no number keeps
  // the current one; the first such conversion error comes back in `error`
  // and the rest is still read. Returns false when there was one.
  bool ReadSettings(TAppSettings& Settings, const std::string& Prefix, std::string& error);
  // Nothing is written while no channel has a name.
  void SaveSettings(TAppSettings& Settings, const std::string& Prefix) const;

  // The enabled flags of a view under `Key`, the persistence flags under
  // Key + "Persist": 24 characters, "1" for set.
  void ReadViewFlags(TAppSettings& Settings, const std::string& Key);
  void SaveViewFlags(TAppSettings& Settings, const std::string& Key) const;

 private:
  template <typename T>
  using TChannels = std::array<T, kChannels>;

  TChannels<bool> FChannelEnabled{};
  TChannels<int32_t> FChannelColors{};
  TChannels<int32_t> FChannelDarkColors{};
  TChannels<int32_t> FChannelLightColors{};
  TChannels<bool> FPersistEnabled{};
  int FMaxChannels = kChannels;
  TChannels<std::string> FChannelIds;
  TChannels<std::string> FChannelNames;
  int FSelected = 0;
};

}  // namespace orb
