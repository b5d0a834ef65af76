// The main thread changes definitions while report threads log: every line
// goes to whichever file is open, nothing races, nothing deadlocks.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "logging/ORB_MultiSampler.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class TThreadSession final : public ISamplerSession {
 public:
  explicit TThreadSession(int index) : FIndex(index) {
    FInfo.Letter = std::string(1, static_cast<char>('A' + index));
    FInfo.ChannelCount = 2;
  }
  int Index() const override { return FIndex; }
  bool IsCopy() const override { return false; }
  bool IsSensor() const override { return false; }
  int IntervalMs() const override { return 100; }
  int64_t SerialNumber() const override { return 10 + FIndex; }
  TLogSourceInfo LogSourceInfo() const override { return FInfo; }
  void SetSamplerLogTypes(uint32_t types) override { Types = types; }
  std::atomic<uint32_t> Types{0};

 private:
  int FIndex;
  TLogSourceInfo FInfo;
};

std::unique_ptr<TLogDefinition> Definition(const test::TTempFolder& folder, int n,
                                           std::vector<int> sources) {
  auto definition = std::make_unique<TLogDefinition>();
  for (const int source : sources) {
    auto part =
        std::make_unique<TSimpleLogDefinition>(source, TLogEnabledArray{}, sscStandard, false, 3);
    part->SetLogEnabledString(1, "11");
    definition->AddDefinition(std::move(part));
  }
  definition->SetFileName((folder / ("Def" + std::to_string(n) + ".txt")).string());
  return definition;
}

TEST(MultiSamplerConcurrencyTest, DefinitionsChangeWhileSessionsLog) {
  test::TTempFolder folder;
  TFakeClock clock;
  TLogOptionsSnapshot options;
  std::atomic<int> opened{0};
  TORB_MultiSampler sampler(-1, clock, options, folder.Path(), 5000);
  sampler.SetOnMsg([&](int code, const std::string&, int) {
    if (code == 91) ++opened;
  });
  TThreadSession a(0);
  TThreadSession b(1);
  sampler.UpdateSessionList({&a, &b});
  sampler.AddDefinition(Definition(folder, 0, {0}));
  sampler.AddDefinition(Definition(folder, 1, {0, 1}));

  std::atomic<bool> stop{false};
  std::vector<std::thread> reporters;
  for (const int session : {0, 1}) {
    reporters.emplace_back([&, session] {
      TReportStrings report;
      report[0] = "1" + std::string(22, ' ') + "1.25" + std::string(22, ' ') + "2.25";
      report[1] = std::string(18, ' ') + "1.00" + std::string(18, ' ') + "2.00";
      for (int64_t tick = 0; !stop; ++tick) {
        sampler.AddTimeStamp(session, false, tick);
        sampler.AddStrings(session, false, report);
        if (tick % 50 == 0) sampler.UpdateSession(session, false, 5, "event");
      }
    });
  }
  for (int round = 0; round < 500; ++round) {
    sampler.SetEnabled(0, round % 2 == 0);
    sampler.SetAddHeader(1, round % 3 != 0);
    if (round % 10 == 0) sampler.ChangeDefinition(1, Definition(folder, round, {1, 0}));
    if (round % 25 == 0) {
      const int added = sampler.AddDefinition(Definition(folder, 1000 + round, {1}));
      sampler.RemoveDefinition(added);
    }
    if (round % 50 == 0) sampler.UpdateOptions(16);
    clock.Advance(100);
  }
  stop = true;
  for (std::thread& reporter : reporters) reporter.join();
  EXPECT_GT(opened.load(), 0);
  EXPECT_EQ(sampler.DefinitionCount(), 2);
}

}  // namespace
}  // namespace orb
