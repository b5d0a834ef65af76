// LTV report lines and device calibration lines into one LTV store. The first
// byte picks the kind of line and the log decimal separator, the rest is the
// line. A rejected line must leave the ring where it was.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/LTV_DataManagement.h"
#include "data/NullDataSampler.h"

namespace {

struct TFixture {
  TFixture() : Store(-1, 0, false, Options) {
    Store.SetSampler(&Sampler);
    Store.SetAddLogStrings(true);
    orb::TChannelFactors factors{};
    factors[0] = 1;
    factors[1] = -1;
    Store.SetVirtualFactors(1, factors);
  }
  orb::TLogOptionsSnapshot Options;
  orb::TNullDataSampler Sampler;
  orb::TLTV_DataManagement Store;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFixture* fixture = new TFixture;
  if (size == 0) return 0;
  orb::TLTV_DataManagement& store = fixture->Store;
  const bool comma = (data[0] & 2) != 0;
  if (comma != (fixture->Options.Current()->FormatSettingsLog.DecimalSeparator == ',')) {
    orb::TLogOptions options;
    options.FormatSettingsLog = orb::NumberFormat::WithDecimalSeparator(comma ? ',' : '.');
    fixture->Options.Publish(options);
  }
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    store.AddCalibration(line);
    return 0;
  }
  const int before = store.GetWriteX(orb::hsNone);
  if (!store.AddLTV(line)) {
    if (store.GetWriteX(orb::hsNone) != before) __builtin_trap();
    return 0;
  }
  if (store.ChannelCount() > orb::kMaxDataChannels) __builtin_trap();
  for (int k = 1; k <= store.ChannelCount(); ++k) {
    if (!std::isfinite(store.GetCalibrateCalculated(k))) __builtin_trap();
    store.GetTextModeString(orb::tmLTVDiff, k);
  }
  store.GetTextModeVirtualString(orb::tmLTV, 1);
  return 0;
}
