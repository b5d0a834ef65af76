#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>

#include "logging/LogUnit.h"
#include "logging/TCPThread.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

std::vector<std::string> Texts(const std::filesystem::path& path) {
  const std::string content = test::ReadFile(path);
  std::vector<std::string> texts;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    texts.push_back(content.substr(start + 22, end - start - 22));
  }
  return texts;
}

TEST(TCPThread, LogsItsLifeAndReportsTheResult) {
  struct Case {
    std::function<bool()> request;
    bool succeeded;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {[] { return true; },
       true,
       {"TTCPThread[1].Try.Created", "TTCPThread[1].Try.Execute", "TTCPThread[1].Try.Execute -> ok",
        "TTCPThread[1].Try.Execute END"}},
      {[] { return false; },
       false,
       {"TTCPThread[1].Try.Created", "TTCPThread[1].Try.Execute",
        "ERROR: TTCPThread[1].Try.Execute failed", "TTCPThread[1].Try.Execute END"}},
      {[]() -> bool { throw std::runtime_error("refused"); },
       false,
       {"TTCPThread[1].Try.Created", "TTCPThread[1].Try.Execute",
        "ERROR: TTCPThread[1].Try.Execute", "EXCEP: std::runtime_error refused",
        "STACK: (not available)", "ERROR: TTCPThread[1].Try.Execute failed",
        "TTCPThread[1].Try.Execute END"}},
  };
  for (const Case& c : cases) {
    test::TTempFolder folder;
    const int id = CreateLogger();
    SetLogFile(id, (folder / "tcp.log").string(), false);
    {
      TTCPThread thread(id, "[1].Try", c.request);
      thread.WaitFor();
      EXPECT_TRUE(thread.Finished());
      EXPECT_EQ(thread.Succeeded(), c.succeeded);
    }
    const std::vector<std::string> texts = Texts(folder / "tcp.log");
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()), c.lines);
    SetLogFile(id, "", false);
  }
}

// The owner's destructor waits for a running request, so whatever the
// request touches outlives it.
TEST(TCPThread, TheDestructorWaitsForTheRequest) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> started{false};
  int touched = 0;
  auto thread = std::make_unique<TTCPThread>(-1, ".Wait", [&] {
    started = true;
    released.wait();
    touched = 1;
    return true;
  });
  while (!started.load()) std::this_thread::yield();
  EXPECT_FALSE(thread->Finished());
  release.set_value();
  thread.reset();
  EXPECT_EQ(touched, 1);
}

}  // namespace
}  // namespace orb
