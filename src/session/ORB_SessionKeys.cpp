#include "session/ORB_SessionKeys.h"

#include <algorithm>
#include <cmath>

#include "data/App_DataManagement.h"
#include "platform/ConvertError.h"
#include "session/App_Settings.h"
#include "session/ORB_ChannelData.h"

namespace orb {
namespace {

constexpr std::string_view kFactorSeparator = ";";

template <typename T, typename Read>
T ReadKeepingDefault(TSessionKeyReader& reader, std::string_view name, T Default, Read read) {
  try {
    return read();
  } catch (const EConvertError& error) {
    reader.Note(name, error.what());
    // The bad text stays in the file until the next save writes the default.
    return Default;
  }
}

std::string FactorsKey(const std::string& P, int k) { return P + IntToText(k) + "_Factors"; }

}  // namespace

bool TSessionKeyReader::Get(std::string_view name, bool Default) {
  return FSettings.GetValue(Key(name), Default);
}

int32_t TSessionKeyReader::Get(std::string_view name, int32_t Default) {
  return ReadKeepingDefault(*this, name, Default,
                            [&] { return FSettings.GetValue(Key(name), Default); });
}

int32_t TSessionKeyReader::Get(std::string_view name, int32_t Default, int32_t min, int32_t max) {
  const int32_t value = Get(name, Default);
  if (value >= min && value <= max) return value;
  std::string error(1, '\'');
  error += IntToText(value);
  error += "' is out of range";
  Note(name, error);
  return Default;
}

uint32_t TSessionKeyReader::GetU(std::string_view name, uint32_t Default) {
  return ReadKeepingDefault(*this, name, Default,
                            [&] { return FSettings.GetUValue(Key(name), Default); });
}

double TSessionKeyReader::Get(std::string_view name, double Default) {
  return ReadKeepingDefault(*this, name, Default,
                            [&] { return FSettings.GetValue(Key(name), Default); });
}

std::string TSessionKeyReader::Get(std::string_view name, const std::string& Default) {
  return FSettings.GetValue(Key(name), Default);
}

void TSessionKeyReader::ReadGroup(std::string_view name, TQM_ChannelData& group) {
  std::string error;
  if (!group.ReadSettings(FSettings, Key(name), error)) Note(std::string(name) + "Colors", error);
}

void TSessionKeyReader::Note(std::string_view name, std::string_view error) {
  if (FError.empty()) FError = Key(name) + ": " + std::string(error);
}

TODISigNames DefaultODISigNames() {
  TODISigNames names;
  for (int c = 1; c <= kODICards; ++c) {
    for (int b = 0; b < kODISignals; ++b) {
      names[static_cast<size_t>(c - 1)][static_cast<size_t>(b)] =
          "ODI" + IntToText(c) + "_Bit" + IntToText(b);
    }
  }
  return names;
}

void ReadFactorList(std::string_view text, std::string_view separator, const NumberFormat& format,
                    double* values, size_t count) {
  const auto items = SplitItemList(text, separator);
  for (size_t i = 0; i < count; ++i) {
    double value = 0;
    if (i < items.size()) {
      const std::string item = NormalizeDecimalSeparator(items[i], format.DecimalSeparator);
      if (!TryTextToFloat(item, value, format) || !std::isfinite(value)) value = 0;
    }
    values[i] = value;
  }
}

bool HasFactors(const TChannelFactors& factors) {
  return std::any_of(factors.begin(), factors.end(), [](double f) { return f != 0; });
}

int LastVirtualChannel(const TDataManagement& store) {
  for (int k = kMaxVirtualChannels; k >= 1; --k) {
    if (HasFactors(store.VirtualFactors(k))) return k;
  }
  return 0;
}

void ReadVirtualChannels(TSessionKeyReader& reader, std::string_view name, TDataManagement& store,
                         TQM_ChannelData& group, std::string& description) {
  const std::string P(name);
  description = reader.Get(P + "Description", std::string());
  reader.ReadGroup(P, group);
  for (int k = 1; k <= kMaxVirtualChannels; ++k) {
    const std::string text = reader.Get(FactorsKey(P, k), std::string());
    TChannelFactors factors{};
    ReadFactorList(text, kFactorSeparator, reader.Settings().FormatSettings(), factors.data(),
                   factors.size());
    store.SetVirtualFactors(k, factors);
  }
  group.SetMaxChannels(store.VirtualChannelCount());
}

void SaveVirtualChannels(TAppSettings& Settings, const std::string& P, TDataManagement& store,
                         const TQM_ChannelData& group, const std::string& description) {
  // Up to the last channel with factors, so a channel after an emptied one
  // is not lost.
  const int last = LastVirtualChannel(store);
  if (last == 0) {
    Settings.RemoveKeys(P);
    return;
  }
  Settings.SetValue(P + "Description", description);
  group.SaveSettings(Settings, P);
  for (int k = 1; k <= last; ++k) {
    std::string text;
    for (const double factor : store.VirtualFactors(k)) {
      text += FloatToShortestText(factor, Settings.FormatSettings());
      text += kFactorSeparator;
    }
    Settings.SetValue(FactorsKey(P, k), text);
  }
}

}  // namespace orb
