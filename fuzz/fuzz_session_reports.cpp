// Report lines from a replayed file through a counter session: every status
// report, data header and data line the evaluation may meet. The first byte
// picks the session's options (professional records, log time from the
// device), the rest is the file.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "data/NullDataSampler.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"
#include "sources/QM_ConnectionString.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"
#include "sources/ScriptedSource.h"

namespace {

using namespace orb;

// The stores are large: one fixture serves every input, each input a new
// replay of the same two sessions (text reports, professional records).
struct TFixture {
  TFixture() : Sources(test::SourceServicesOf(Factory, Machine, Clock)), Queue(nullptr) {
    for (const bool professional : {false, true}) {
      TSessionServices services{&Sources, &Queue, &Sampler, &Options};
      services.Clock = &Clock;
      services.Professional = professional;
      auto session = std::make_unique<TQMSessionItem>(services, -1, nullptr, nullptr, 0);
      session->SetReportStruct(professional);
      session->SetOpenParams(Path, ctFile, "", TSessionItem::kDefaultColor);
      Sources.Multi_SetReplayPacing(session->MultiId(), false);
      Sessions.push_back(std::move(session));
    }
  }

  const std::string Path = "/tmp/orb-fuzz-" + std::to_string(getpid()) + "_QM_ReportData.txt";
  TFakeClock Clock;
  TSystemConnectionEnvironment Machine;
  TDeviceFactory Factory;
  TSourceList Sources;
  TMainSyncQueue Queue;
  TNullDataSampler Sampler;
  TLogOptionsSnapshot Options;
  std::vector<std::unique_ptr<TQMSessionItem>> Sessions;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static TFixture fixture;
  {
    std::ofstream file(fixture.Path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  TLogOptions options;
  options.LogTimeSourceORC = (data[0] & 2) != 0;
  fixture.Options.Publish(options);
  TQMSessionItem& session = *fixture.Sessions[data[0] & 1];
  std::string error;
  if (!session.OpenDevice(error)) return 0;
  for (int i = 0; i < 10'000 && session.PendingDeviceRequest() == TDeviceRequest::None; ++i) {
    if (!session.GetReport()) break;
    fixture.Clock.Advance(400);
  }
  session.CloseDevice(true);
  while (fixture.Queue.Pop()) {
  }
  return 0;
}
