#include "devices/QM_SimulThread.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/NumberFormat.h"

namespace orb {
namespace {

// Records what the rounds ask for: "T<stamp>", "D<rate>.<mode>" for data and
// "C<rate>.<mode>" for a 0x7020 confirmation.
class TRecordingReports final : public ISimulReports {
 public:
  void GenerateTimeStamp() override { Events.push_back(Text('T', ++FStamp)); }
  void GenerateData(uint8_t rate, uint8_t mode, int) override {
    Events.push_back(Text('D', rate, mode));
  }
  void Generate7020(uint8_t rate, uint8_t mode) override {
    Events.push_back(Text('C', rate, mode));
  }
  int64_t TimeStampMs() const override { return int64_t{100} * FStamp; }

  static std::string Text(char kind, int a, int b = -1) {
    std::string text(1, kind);
    AppendIntText(text, a);
    if (b >= 0) {
      text += '.';
      AppendIntText(text, b);
    }
    return text;
  }

  std::vector<std::string> Events;

 private:
  int FStamp = 0;
};

using TEvents = std::vector<std::string>;

TEvents Stamps(int from, int to) {
  TEvents events;
  for (int stamp = from; stamp <= to; ++stamp)
    events.push_back(TRecordingReports::Text('T', stamp));
  return events;
}

TEvents E(std::initializer_list<std::string> events) { return events; }

TEvents Times(const std::string& event, int count) {
  return TEvents(static_cast<size_t>(count), event);
}

TEvents operator+(TEvents a, const TEvents& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The rounds run by hand, as the worker runs them, without a thread.
class SimulThreadTest : public ::testing::Test {
 protected:
  SimulThreadTest() : thread(reports, lock, clock, -1) {}

  TEvents Rounds(int count) {
    std::lock_guard guard(lock);
    reports.Events.clear();
    for (int i = 0; i < count; ++i) thread.Round();
    return reports.Events;
  }
  void SetRate(int index) {
    std::lock_guard guard(lock);
    thread.SetRate(index);
  }
  void SetMode(uint8_t mode) {
    std::lock_guard guard(lock);
    thread.SetMode(mode);
  }

  TFakeClock clock;
  std::mutex lock;
  TRecordingReports reports;
  TQM_SimulThread thread;
};

TEST_F(SimulThreadTest, OneSecondPaceStartsWithATimeStampAndSendsDataEveryTenth) {
  EXPECT_EQ(thread.NextWaitMs(), 100);
  EXPECT_EQ(Rounds(10), Stamps(1, 10) + E({"D9.0"}));
  EXPECT_EQ(Rounds(20), Stamps(11, 20) + E({"D9.0"}) + Stamps(21, 30) + E({"D9.0"}));
}

TEST_F(SimulThreadTest, IntervalChangeWaitsForTheNextDataReportAndIsConfirmed) {
  Rounds(10);
  SetRate(3);  // 10 ms
  EXPECT_EQ(Rounds(10), Stamps(11, 20) + E({"D9.0", "C3.0"}));
  EXPECT_EQ(thread.NextWaitMs(), 10);
  EXPECT_EQ(Rounds(21), Times("D3.0", 10) + E({"T21"}) + Times("D3.0", 10) + E({"T22", "D3.0"}));
}

TEST_F(SimulThreadTest, ShortIntervalSwitchesBackOnlyOnAWholeSecond) {
  Rounds(10);
  SetRate(3);
  Rounds(10);  // switched to 10 ms at stamp 20
  SetRate(9);
  const TEvents events = Rounds(101);  // stamps 21..29 with their data, then 30
  const TEvents tail(events.end() - 2, events.end());
  EXPECT_EQ(tail, (E({"T30", "C9.0"})));  // no data in the switching round
  EXPECT_EQ(thread.NextWaitMs(), 100);
  EXPECT_EQ(Rounds(10), Stamps(31, 40) + E({"D9.0"}));
}

TEST(SimulThreadOrderTest, RateAndModeBeforeOneBoundaryCombineInEitherOrder) {
  // One 0x7020 with both, and the pace of the new interval.
  for (const bool rateFirst : {true, false}) {
    SCOPED_TRACE(rateFirst ? "rate first" : "mode first");
    TFakeClock clock;
    std::mutex lock;
    TRecordingReports reports;
    TQM_SimulThread thread(reports, lock, clock, -1);
    std::lock_guard guard(lock);
    for (int i = 0; i < 10; ++i) thread.Round();
    if (rateFirst) thread.SetRate(3);
    thread.SetMode(2);
    if (!rateFirst) thread.SetRate(3);
    reports.Events.clear();
    for (int i = 0; i < 21; ++i) thread.Round();
    EXPECT_EQ(reports.Events,
              Stamps(11, 20) + E({"D9.0", "C3.2"}) + Times("D3.2", 10) + E({"T21", "D3.2"}));
  }
}

TEST_F(SimulThreadTest, RequestingTheCurrentIntervalAgainCancelsAPendingChange) {
  Rounds(10);
  SetRate(3);
  SetRate(9);
  // Still confirmed at the boundary, but the pace stays at 1 s.
  EXPECT_EQ(Rounds(10), Stamps(11, 20) + E({"D9.0", "C9.0"}));
  EXPECT_EQ(Rounds(10), Stamps(21, 30) + E({"D9.0"}));
}

TEST_F(SimulThreadTest, ModeChangeAtShortIntervalsSwitchesAtTheNextTimeStamp) {
  Rounds(10);
  SetRate(0);  // 1 ms
  Rounds(10);
  SetMode(4);
  // 100 data reports per stamp; the switch comes with stamp 21.
  EXPECT_EQ(Rounds(101), Times("D0.0", 100) + E({"T21", "C0.4"}));
  EXPECT_EQ(Rounds(2), (E({"D0.4", "D0.4"})));
}

}  // namespace
}  // namespace orb
