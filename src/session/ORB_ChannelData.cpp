#include "session/ORB_ChannelData.h"

#include <algorithm>

#include "platform/ConvertError.h"
#include "platform/NumberFormat.h"
#include "session/App_Settings.h"

namespace orb {
namespace {

constexpr std::array<int32_t, TQM_ChannelData::kChannels> kBasePalette = {
    0x3F3F3F, 0x00FF00, 0x0000FF, 0xFF0000, 0xFFFF00, 0x22B14C, 0x0080FF, 0xFF8000,
    0x808000, 0x008040, 0x8080FF, 0xFF00FF, 0xFFC90E, 0x00FF80, 0x00FFFF, 0xFF80C0,
    0xFFFF80, 0x00C000, 0x0000A0, 0xFF0080, 0xEFC4B0, 0x30C090, 0xC8BFE7, 0x800080};

// Palette entry (0-based) of channel 1 per group kind.
constexpr std::array<int, 6> kFirstEntry = {0, 0, 12, 8, 16, 20};

// Hue, luminance and saturation on 0..240, red, green and blue on 0..255,
// in integer steps with rounding.
constexpr int kHlsMax = 240;
constexpr int kRgbMax = 255;
constexpr int kUndefinedHue = kHlsMax * 2 / 3;

struct THls {
  int H, L, S;
};

THls RgbToHls(int r, int g, int b) {
  const int cMax = std::max({r, g, b});
  const int cMin = std::min({r, g, b});
  THls hls{kUndefinedHue, ((cMax + cMin) * kHlsMax + kRgbMax) / (2 * kRgbMax), 0};
  if (cMax == cMin) return hls;
  const int range = cMax - cMin;
  if (hls.L <= kHlsMax / 2) {
    hls.S = (range * kHlsMax + (cMax + cMin) / 2) / (cMax + cMin);
  } else {
    const int rest = 2 * kRgbMax - cMax - cMin;
    hls.S = (range * kHlsMax + rest / 2) / rest;
  }
  const auto delta = [&](int c) { return ((cMax - c) * (kHlsMax / 6) + range / 2) / range; };
  if (r == cMax) {
    hls.H = delta(b) - delta(g);
  } else if (g == cMax) {
    hls.H = kHlsMax / 3 + delta(r) - delta(b);
  } else {
    hls.H = 2 * kHlsMax / 3 + delta(g) - delta(r);
  }
  if (hls.H < 0) hls.H += kHlsMax;
  if (hls.H > kHlsMax) hls.H -= kHlsMax;
  return hls;
}

int HueToRgb(int n1, int n2, int hue) {
  if (hue < 0) hue += kHlsMax;
  if (hue > kHlsMax) hue -= kHlsMax;
  if (hue < kHlsMax / 6) return n1 + ((n2 - n1) * hue + kHlsMax / 12) / (kHlsMax / 6);
  if (hue < kHlsMax / 2) return n2;
  if (hue < kHlsMax * 2 / 3) {
    return n1 + ((n2 - n1) * (kHlsMax * 2 / 3 - hue) + kHlsMax / 12) / (kHlsMax / 6);
  }
  return n1;
}

int32_t HlsToColor(const THls& hls) {
  int r, g, b;
  if (hls.S == 0) {
    r = g = b = hls.L * kRgbMax / kHlsMax;
  } else {
    const int magic2 = hls.L <= kHlsMax / 2
                           ? (hls.L * (kHlsMax + hls.S) + kHlsMax / 2) / kHlsMax
                           : hls.L + hls.S - (hls.L * hls.S + kHlsMax / 2) / kHlsMax;
    const int magic1 = 2 * hls.L - magic2;
    const auto channel = [&](int hue) {
      return std::clamp((HueToRgb(magic1, magic2, hue) * kRgbMax + kHlsMax / 2) / kHlsMax, 0,
                        kRgbMax);
    };
    r = channel(hls.H + kHlsMax / 3);
    g = channel(hls.H);
    b = channel(hls.H - kHlsMax / 3);
  }
  return static_cast<int32_t>(r | (g << 8) | (b << 16));
}

bool Valid(int k) { return k >= 1 && k <= TQM_ChannelData::kChannels; }
size_t At(int k) { return static_cast<size_t>(k - 1); }

std::string FlagText(const std::array<bool, TQM_ChannelData::kChannels>& flags) {
  std::string text;
  for (const bool flag : flags) text += flag ? '1' : '0';
  return text;
}

void ReadFlags(std::string_view text, std::array<bool, TQM_ChannelData::kChannels>& flags) {
  for (size_t i = 0; i < flags.size(); ++i) flags[i] = i < text.size() && text[i] == '1';
}

}  // namespace

std::vector<std::string_view> SplitItemList(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> items;
  while (!text.empty()) {
    const size_t end = text.find(separator);
    items.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + separator.size());
  }
  return items;
}

int32_t AdjustLuminance(int32_t color, int delta) {
  THls hls = RgbToHls(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
  hls.L = std::clamp(hls.L + delta, 0, kHlsMax);
  return HlsToColor(hls);
}

TQM_ChannelData::TQM_ChannelData(TChannelGroupKind kind) {
  const size_t first = static_cast<size_t>(kFirstEntry[static_cast<size_t>(kind)]);
  const std::string namePrefix = kind == ckLinComb ? "LC_" : "Channel_";
  for (int k = 1; k <= kChannels; ++k) {
    FChannelEnabled[At(k)] = true;
    FChannelIds[At(k)] = IntToText(k);
    FChannelNames[At(k)] = namePrefix + IntToText(k);
    SetChannelColor(k, kBasePalette[(first + At(k)) % kBasePalette.size()]);
  }
}

bool TQM_ChannelData::ChannelEnabled(int k) const { return Valid(k) && FChannelEnabled[At(k)]; }

void TQM_ChannelData::SetChannelEnabled(int k, bool value) {
  if (Valid(k)) FChannelEnabled[At(k)] = value;
}

bool TQM_ChannelData::PersistEnabled(int k) const { return Valid(k) && FPersistEnabled[At(k)]; }

void TQM_ChannelData::SetPersistEnabled(int k, bool value) {
  if (Valid(k)) FPersistEnabled[At(k)] = value;
}

int32_t TQM_ChannelData::ChannelColor(int k) const {
  return Valid(k) ? FChannelColors[At(k)] : kButtonFaceColor;
}

int32_t TQM_ChannelData::ChannelDarkColor(int k) const {
  return Valid(k) ? FChannelDarkColors[At(k)] : kButtonFaceColor;
}

int32_t TQM_ChannelData::ChannelLightColor(int k) const {
  return Valid(k) ? FChannelLightColors[At(k)] : kButtonFaceColor;
}

void TQM_ChannelData::SetChannelColor(int k, int32_t color) {
  if (!Valid(k)) return;
  FChannelColors[At(k)] = color;
  FChannelDarkColors[At(k)] = AdjustLuminance(color, kDarkLuminance);
  FChannelLightColors[At(k)] = AdjustLuminance(color, kLightLuminance);
}

std::string TQM_ChannelData::ChannelId(int k) const {
  return Valid(k) ? FChannelIds[At(k)] : std::string();
}

void TQM_ChannelData::SetChannelId(int k, const std::string& id) {
  if (Valid(k)) FChannelIds[At(k)] = id;
}

std::string TQM_ChannelData::ChannelName(int k) const {
  return Valid(k) ? FChannelNames[At(k)] : std::string();
}

void TQM_ChannelData::SetChannelName(int k, const std::string& name) {
  if (Valid(k)) FChannelNames[At(k)] = name;
}

void TQM_ChannelData::SetNames(std::string_view prefix) {
  for (int k = 1; k <= kChannels; ++k) FChannelNames[At(k)] = std::string(prefix) + IntToText(k);
}

bool TQM_ChannelData::ReadSettings(TAppSettings& Settings, const std::string& Prefix,
                                   std::string& error) {
  error.clear();
  const auto readColor = [&](int k, std::string_view text) {
    int32_t color = 0;
    if (TryTextToInt32(text, color)) {
      SetChannelColor(k, color);
    } else if (error.empty()) {
      error = NotAnIntegerMessage(text);
    }
  };
  for (int k = 1; k <= kChannels; ++k) FChannelIds[At(k)] = IntToText(k);

  if (Settings.VersionFormat() >= 1) {
    const auto readList = [&](const char* key, const auto& take) {
      const std::string text = Settings.GetValue(Prefix + key, "");
      const auto items = SplitItemList(text, kItemSeparator);
      const size_t count = std::min(items.size(), static_cast<size_t>(kChannels));
      for (size_t i = 0; i < count; ++i) take(static_cast<int>(i) + 1, items[i]);
    };
    readList("Ids", [&](int k, std::string_view item) { FChannelIds[At(k)] = item; });
    readList("Names", [&](int k, std::string_view item) { FChannelNames[At(k)] = item; });
    readList("Colors", readColor);
  } else {
    for (int k = 1; k <= kChannels; ++k) {
      const std::string n = IntToText(k);
      FChannelNames[At(k)] = Settings.GetValue(Prefix + "Name_" + n, FChannelNames[At(k)]);
      readColor(k, Settings.GetValue(Prefix + "Color_" + n, IntToText(FChannelColors[At(k)])));
    }
  }
  return error.empty();
}

void TQM_ChannelData::SaveSettings(TAppSettings& Settings, const std::string& Prefix) const {
  if (std::all_of(FChannelNames.begin(), FChannelNames.end(),
                  [](const std::string& name) { return name.empty(); })) {
    return;
  }
  std::string ids, names, colors;
  for (size_t i = 0; i < kChannels; ++i) {
    ids.append(FChannelIds[i]).append(kItemSeparator);
    names.append(FChannelNames[i]).append(kItemSeparator);
    colors.append(IntToText(FChannelColors[i])).append(kItemSeparator);
  }
  Settings.SetValue(Prefix + "Ids", ids);
  Settings.SetValue(Prefix + "Names", names);
  Settings.SetValue(Prefix + "Colors", colors);
  Settings.SetVersionFormat(1);
}

void TQM_ChannelData::ReadViewFlags(TAppSettings& Settings, const std::string& Key) {
  ReadFlags(Settings.GetValue(Key, std::string(kChannels, '1')), FChannelEnabled);
  ReadFlags(Settings.GetValue(Key + "Persist", std::string(kChannels, '0')), FPersistEnabled);
}

void TQM_ChannelData::SaveViewFlags(TAppSettings& Settings, const std::string& Key) const {
  Settings.SetValue(Key, FlagText(FChannelEnabled));
  Settings.SetValue(Key + "Persist", FlagText(FPersistEnabled));
}

}  // namespace orb
