// Parses arbitrary bytes as a settings file, reads a few keys in every typed
// form and checks that saving and loading again keeps the lines.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "session/App_Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  orb::TAppSettings settings;
  settings.SetText(content);
  for (const char* name : {"A", "INI_Version", "NomFreq1_4", "", "x=y"}) {
    try {
      settings.GetValue(name, 1.5);
    } catch (const orb::EConvertError&) {
    }
    try {
      settings.GetValue(name, int32_t{3});
    } catch (const orb::EConvertError&) {
    }
    try {
      settings.GetUValue(name, 7u);
    } catch (const orb::EConvertError&) {
    }
    settings.GetValue(name, true);
    settings.GetValue(name, '.');
    settings.GetValue(name, "default");
  }
  settings.RemoveKeys("A");
  settings.SetValue("B", "line\nbreak");
  const std::string text = settings.Text();
  orb::TAppSettings again;
  again.SetText(text);
  if (again.Lines() != settings.Lines() || again.Text() != text) std::abort();
  return 0;
}
