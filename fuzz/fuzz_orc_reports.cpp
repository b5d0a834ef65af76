// Counter reports into one counter store: text lines, raw lines, binary
// report blocks, digital-input and heartbeat lines. The first byte picks the
// kind of input and, for text lines, the measurement mode in the header the
// fuzzer wrote; every log string and the views are built from what was
// stored. A rejected report must store nothing (a header change in it may
// still empty the store).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "data/NullDataSampler.h"
#include "data/ORC_DataManagement.h"

namespace {

struct TNullServer : orb::IDataServerOutput {
  void AddServerLine(int, int, std::string_view) override {}
};

struct TFixture {
  TFixture() : Store(-1, 0, false, Options) {
    Store.SetSampler(&Sampler);
    Store.SetServerOutput(&Server);
    Store.SetAddLogStrings(true);
    Store.SetSamplerLogTypes(0x3FFFF);
    orb::TChannelFactors factors{};
    factors[0] = 1;
    factors[1] = -1;
    factors[23] = 0.5;
    Store.SetVirtualFactors(1, factors);
  }
  orb::TLogOptionsSnapshot Options;
  orb::TNullDataSampler Sampler;
  TNullServer Server;
  orb::TORC_DataManagement Store;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFixture* fixture = new TFixture;
  if (size == 0) return 0;
  orb::TORC_DataManagement& store = fixture->Store;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);
  const int before = store.GetNewCount(-1, orb::hsNone);
  bool stored = true;
  switch (data[0] % 6) {
    case 0:
      stored = store.ExtractData(line, data[0]);
      break;
    case 1:
      store.SetNewHeader(0x6000);
      stored = store.ExtractRawData(line, data[0]);
      break;
    case 2: {
      orb::TQM_ReportStructBase block{};
      std::memcpy(block.data(), line.data(), std::min(line.size(), block.size()));
      orb::TQM_ReportStruct report;
      report.SetIntern(block);
      stored = store.ExtractReport(report);
      break;
    }
    case 3:
      store.AddODI(line);
      break;
    case 4:
      store.AddHeartbeat(line, data[0]);
      store.GetESPTransmitBufferAmount();
      break;
    default:
      store.SetPLLError(!store.PLLError());
      break;
  }
  if (!stored && store.GetNewCount(-1, orb::hsNone) > before) __builtin_trap();
  if (store.ChannelCount() > orb::kMaxDataChannels) __builtin_trap();
  for (const orb::TTextModeORC mode : {orb::tmPhase, orb::tmFreqRel, orb::tmPhaseResiduum}) {
    store.GetTextModeString(mode, 1);
    store.GetTextModeVirtualString(mode, 1);
  }
  store.GetTheoPhaseDiffPs(true, 1, 16, store.GetNewX(16, orb::hsNone));
  store.GetLastPhaDiffPs(false);
  return 0;
}
