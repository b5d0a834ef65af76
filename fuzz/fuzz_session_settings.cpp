// Arbitrary text as a settings file, read into a counter session under
// "Session_0_". Reading must never throw, whatever the file holds; for every
// third length the session also saves, and what it saved must read back
// without complaint. One session of each kind serves every input: creating
// the stores each time would slow the run tenfold, and reading sets every
// value it stores.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "session/App_Settings.h"
#include "data/NullDataSampler.h"
#include "session/ORB_Sessions.h"
#include "sources/FakeConnectionEnvironment.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"

namespace {

struct TFixture {
  TFixture() : sources(Services()), queue(nullptr) {}

  orb::TSourceServices Services() {
    orb::TSourceServices services;
    services.Factory = &factory;
    services.Environment = &machine;
    return services;
  }

  std::unique_ptr<orb::TQMSessionItem> NewSession(bool professional) {
    orb::TSessionServices services{&sources, &queue, &sampler, &options, professional};
    return std::make_unique<orb::TQMSessionItem>(
        services, -1, [this](orb::TMessageItem item) { errors += item.Code == 61; }, nullptr, 0);
  }

  orb::test::TFakeConnectionEnvironment machine;
  orb::TDeviceFactory factory;
  orb::TSourceList sources;
  orb::TMainSyncQueue queue;
  orb::TNullDataSampler sampler;
  orb::TLogOptionsSnapshot options;
  int errors = 0;
  std::unique_ptr<orb::TQMSessionItem> plain = NewSession(false);
  std::unique_ptr<orb::TQMSessionItem> professional = NewSession(true);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFixture fixture;
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  // The length picks the session kind, so any file can reach both.
  const bool professional = (size & 1) != 0;
  orb::TQMSessionItem& session = professional ? *fixture.professional : *fixture.plain;

  orb::TAppSettings settings;
  settings.SetText(content);
  try {
    settings.GetVersionFormat();
  } catch (const orb::EConvertError&) {
    return 0;  // the store refuses such a file before any session reads it
  }
  session.ReadSettings(settings, "Session_0_");

  if (size % 3 != 0) return 0;
  orb::TAppSettings saved;
  session.SaveSettings(saved, "Session_0_");
  saved.SetText(saved.Text());
  saved.GetVersionFormat();
  fixture.errors = 0;
  session.ReadSettings(saved, "Session_0_");
  if (fixture.errors != 0 || !session.ErrorMessage().empty()) std::abort();
  return 0;
}
