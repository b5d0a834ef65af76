#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "logging/LogUnit.h"
#include "logging/Logger.h"
#include "platform/NumberFormat.h"
#include "platform/WorkerThread.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

// Writers on several threads: every line arrives whole, each writer's lines
// keep their order, and a blank thread column really means "same thread as
// the line before".
TEST(LoggerConcurrency, ConcurrentWritersNeverInterleaveALine) {
  test::TTempFolder folder;
  const auto path = folder / "shared.log";
  TLogger log(1);
  log.SetLogFileName(path.string());
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  const std::string padding(100, 'p');
  std::vector<std::string> threadIds(kThreads);
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&, t] {
        threadIds[static_cast<size_t>(t)] = IntToHex(CurrentThreadId(), 8);
        for (int i = 0; i < kLines; ++i) {
          log.LogIt("w" + std::to_string(t) + " " + std::to_string(i) + " " + padding);
        }
      });
    }
  }
  log.SetLogFileName("");

  const std::string content = test::ReadFile(path);
  std::vector<int> next(kThreads, 0);
  std::string previousThread;
  size_t start = 0;
  int seen = 0;
  while (start < content.size()) {
    const size_t end = content.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = content.substr(start, end - start);
    start = end + 2;
    ASSERT_GE(line.size(), 22u) << line;
    const std::string column = line.substr(13, 8);
    const std::string text = line.substr(22);
    if (text.empty() || text[0] != 'w') {
      if (column != std::string(8, ' ')) previousThread = column;
      continue;
    }
    const size_t blank = text.find(' ');
    const int t = std::stoi(text.substr(1, blank - 1));
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    const std::string expected = "w" + std::to_string(t) + " " +
                                 std::to_string(next[static_cast<size_t>(t)]) + " " + padding;
    ASSERT_EQ(text, expected) << "a broken or reordered line";
    ++next[static_cast<size_t>(t)];
    const std::string& writer = threadIds[static_cast<size_t>(t)];
    if (column == std::string(8, ' ')) {
      ASSERT_EQ(previousThread, writer) << "thread column left blank after another thread";
    } else {
      ASSERT_EQ(column, writer);
      ASSERT_NE(column, previousThread) << "thread column repeated";
    }
    previousThread = writer;
    ++seen;
  }
  EXPECT_EQ(seen, kThreads * kLines);
}

// Loggers are created while other threads look ids up and write.
TEST(LoggerConcurrency, TheRegistryGrowsWhileOthersLog) {
  constexpr int kCreators = 2;
  constexpr int kPerCreator = 600;
  const int base = CreateLogger();
  SetSaveEnabled(base, true);
  std::vector<std::vector<int>> created(kCreators);
  std::atomic<bool> done{false};
  {
    std::jthread reader([&] {
      int probe = base;
      while (!done.load()) {
        LogDebug(probe, "probe");
        LogDebugLazy(probe, [] { return std::string("lazy"); });
        probe = probe + 1 < base + kCreators * kPerCreator ? probe + 1 : base;
      }
    });
    std::vector<std::jthread> creators;
    for (int c = 0; c < kCreators; ++c) {
      creators.emplace_back([&, c] {
        for (int i = 0; i < kPerCreator; ++i) {
          const int id = CreateLogger();
          SetSaveEnabled(id, i % 2 == 0);
          LogDebug(id, "created");
          created[static_cast<size_t>(c)].push_back(id);
        }
      });
    }
    for (auto& creator : creators) creator.join();
    done = true;
  }
  std::set<int> ids;
  for (const auto& list : created) {
    for (const int id : list) {
      ASSERT_NE(GetLogger(id), nullptr);
      EXPECT_EQ(GetLogger(id)->Id(), id);
      ids.insert(id);
    }
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kCreators * kPerCreator)) << "an id was given twice";
}

}  // namespace
}  // namespace orb
