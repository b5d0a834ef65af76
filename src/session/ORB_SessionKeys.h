#pragma once
// Pieces of the session key layout that the base session and the counter
// session share: typed reads that survive bad text, and the keys of a group
// of virtual channels.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/App_CommonTypes.h"
#include "platform/NumberFormat.h"

namespace orb {

class TAppSettings;
class TDataManagement;
class TQM_ChannelData;

// Reads the keys under one prefix. A value that does not convert leaves the
// default in force and its error in `Error` (the first one only), so one bad
// line never costs the rest of the session.
class TSessionKeyReader {
 public:
  TSessionKeyReader(TAppSettings& Settings, std::string Prefix, std::string& Error)
      : FSettings(Settings), FPrefix(std::move(Prefix)), FError(Error) {}

  TAppSettings& Settings() { return FSettings; }
  const std::string& Prefix() const { return FPrefix; }
  std::string Key(std::string_view name) const { return FPrefix + std::string(name); }

  bool Get(std::string_view name, bool Default);
  int32_t Get(std::string_view name, int32_t Default);
  // Integers outside min..max keep the default too.
  int32_t Get(std::string_view name, int32_t Default, int32_t min, int32_t max);
  uint32_t GetU(std::string_view name, uint32_t Default);
  double Get(std::string_view name, double Default);
  std::string Get(std::string_view name, const std::string& Default);
  // A channel group under Prefix + name.
  void ReadGroup(std::string_view name, TQM_ChannelData& group);
  // Remembers `error` for message 61 unless an earlier one is kept.
  void Note(std::string_view name, std::string_view error);

 private:
  TAppSettings& FSettings;
  const std::string FPrefix;
  std::string& FError;
};

// Signal names of the eight digital-input cards, 32 bits each; by default
// "ODI" + card + "_Bit" + bit (card 1..8, bit 0..31).
constexpr int kODICards = 8;
constexpr int kODISignals = 32;
using TODISigNames = std::array<std::array<std::string, kODISignals>, kODICards>;
TODISigNames DefaultODISigNames();

// Numbers separated by `separator` (a trailing one allowed); items that are
// missing or not finite numbers read as 0.
void ReadFactorList(std::string_view text, std::string_view separator, const NumberFormat& format,
                    double* values, size_t count);

// A virtual channel needs one factor other than 0.
bool HasFactors(const TChannelFactors& factors);
// The highest virtual channel of `store` with a factor; 0 when none has.
int LastVirtualChannel(const TDataManagement& store);

// The virtual channels of `store` under P = Prefix + name ("V_", "VLTV_"):
// P "Description", the group under P, and P + k + "_Factors" with 24
// numbers each followed by ";". Reading takes all 24 factor keys and sets
// the group's channel count to the store's virtual channel count.
void ReadVirtualChannels(TSessionKeyReader& reader, std::string_view name, TDataManagement& store,
                         TQM_ChannelData& group, std::string& description);
// Without virtual channels every key beginning with P is removed instead.
void SaveVirtualChannels(TAppSettings& Settings, const std::string& P, TDataManagement& store,
                         const TQM_ChannelData& group, const std::string& description);

}  // namespace orb
