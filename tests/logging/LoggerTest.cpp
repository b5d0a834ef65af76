#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

#include "logging/LogUnit.h"
#include "logging/Logger.h"
#include "platform/NumberFormat.h"
#include "platform/WorkerThread.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

const std::string kNoTime(12, ' ');
const std::string kNoThread(8, ' ');

std::string Me() { return IntToHex(CurrentThreadId(), 8); }

// The file's lines without their CR LF; a bare LF or a missing final CR LF
// fails the test.
std::vector<std::string> Lines(const fs::path& path) {
  const std::string content = test::ReadFile(path);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "no CR LF after: " << content.substr(start);
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  return lines;
}

// The text of a formatted line, behind the time and thread columns.
std::string Text(const std::string& line) { return line.size() > 22 ? line.substr(22) : ""; }

std::vector<std::string> Texts(const fs::path& path) {
  std::vector<std::string> texts;
  for (const std::string& line : Lines(path)) texts.push_back(Text(line));
  return texts;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Loggers in the registry live until the process ends, so their clock does too.
TFakeClock& RegistryClock() {
  static TFakeClock clock;
  return clock;
}

class LoggerTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return (FFolder / name).string(); }

  test::TTempFolder FFolder;
  TFakeClock FClock;  // 2026-01-01 00:00:00.000, local time = UTC
};

TEST_F(LoggerTest, LinesShowTimeAndThreadOnlyWhenTheyChange) {
  const std::string path = PathOf("debug.log");
  TLogger log(7, FClock);
  log.SetHeaderLines({"Header A", "Header B"});
  log.SetLogFileName(path);
  log.LogIt("first");
  FClock.Advance(5);
  log.LogIt("second");
  std::string other;
  std::thread([&] {
    other = Me();
    log.LogIt("other");
  }).join();
  log.LogIt("back");
  log.SetLogFileName("");

  const std::vector<std::string> expected = {
      "00:00:00.000 " + Me() + " 2026-01-01 00:00:00 Log file opened: " + path,
      kNoTime + " " + kNoThread + " ID=7, SizeLimit=0, Type=logUnlimited, errorLog=False",
      kNoTime + " " + kNoThread + " Header A",
      kNoTime + " " + kNoThread + " Header B",
      kNoTime + " " + kNoThread + " first",
      "00:00:00.005 " + kNoThread + " second",
      kNoTime + " " + other + " other",
      kNoTime + " " + Me() + " back",
      kNoTime + " " + kNoThread + " Log file closed, 2026-01-01 00:00:00",
  };
  EXPECT_EQ(Lines(path), expected);
}

TEST_F(LoggerTest, AppendedTextsContinueTheLineUntilTheNextLineOrBreak) {
  const std::string path = PathOf("debug.log");
  TLogger log(1, FClock);
  log.SetLogFileName(path);
  log.LogAppend("a");
  log.LogAppend("b");
  const std::string partial = test::ReadFile(path);
  EXPECT_EQ(partial.substr(partial.size() - 3), " ab") << "no line break before the next line";
  log.LogIt("c");
  log.LogAppend("d");
  log.LogNewLine();
  log.LogNewLine();  // the line already ended: nothing
  log.LogWarning("e");
  log.LogError("f");

  const std::vector<std::string> texts = Texts(path);
  ASSERT_EQ(texts.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()),
            (std::vector<std::string>{"ab", "c", "d", "WARN:  e", "ERROR: f"}));
}

TEST_F(LoggerTest, SwitchingOffKeepsOrDeletesTheFile) {
  struct Case {
    bool errorLog;
    bool writeLine;
    bool writeError;
    bool kept;
  };
  const Case cases[] = {
      {false, false, false, false},  // nothing behind the opening lines
      {false, true, false, true},   {false, false, true, true},
      {true, true, false, false},  // error log without an error
      {true, true, true, true},
  };
  for (const Case& c : cases) {
    const std::string path = PathOf("switch.log");
    {
      TLogger log(1, FClock);
      log.SetErrorLog(c.errorLog);
      log.SetLogFileName(path);
      if (c.writeLine) log.LogIt("line");
      if (c.writeError) log.LogError("bad");
      log.SetLogFileName("");
      EXPECT_FALSE(log.LogEnabled());
      EXPECT_EQ(log.InternLogFileName(), "");
    }
    EXPECT_EQ(fs::exists(path), c.kept)
        << "errorLog=" << c.errorLog << " line=" << c.writeLine << " error=" << c.writeError;
    fs::remove(path);
  }
}

TEST_F(LoggerTest, TheSameNameDoesNotReopenUnlessTheLimitsChanged) {
  const std::string path = PathOf("debug.log");
  TLogger log(1, FClock);
  log.SetLogFileName(path);
  log.LogIt("kept");
  log.SetLogFileName(path);
  EXPECT_TRUE(Contains(Texts(path), "kept"));

  log.SetLimit(logUnlimited, 0);  // no change
  log.SetLogFileName(path);
  EXPECT_TRUE(Contains(Texts(path), "kept"));

  log.SetLimit(logOverwrite, 5000);
  log.SetLogFileName(path);
  const std::vector<std::string> texts = Texts(path);
  EXPECT_FALSE(Contains(texts, "kept"));
  EXPECT_EQ(texts[1], "ID=1, SizeLimit=5000, Type=logOverwrite, errorLog=False");
}

TEST_F(LoggerTest, LimitTypesNormaliseTheirSize) {
  TLogger log(1, FClock);
  log.SetLimit(logCreateNew, 0);
  EXPECT_EQ(log.SizeLimit(), 20'971'520u);
  log.SetLimit(logOverwrite, 1234);
  EXPECT_EQ(log.SizeLimit(), 1234u);
  log.SetLimit(logUnlimited, 1234);
  EXPECT_EQ(log.SizeLimit(), 0u);
  EXPECT_EQ(LogLimitTypeName(logUnlimited), "logUnlimited");
  EXPECT_EQ(LogLimitTypeName(logOverwrite), "logOverwrite");
  EXPECT_EQ(LogLimitTypeName(logCreateNew), "logCreateNew");
  EXPECT_EQ(LogLimitTypeName(static_cast<TLogLimitType>(7)), "7");
}

TEST_F(LoggerTest, CreateNewRotatesIntoTimeStampedFilesThatNeverCollide) {
  TLogger log(3, FClock);
  log.SetLimit(logCreateNew, 600);
  log.SetLogFileName(PathOf("dbg.log"));
  const std::string first = PathOf("dbg_20260101_000000.log");
  const std::string second = PathOf("dbg_20260101_000000_1.log");
  const std::string third = PathOf("dbg_20260101_000001.log");
  EXPECT_EQ(log.InternLogFileName(), first);

  const std::string padding(40, 'x');
  int written = 0;
  while (log.InternLogFileName() == first && written < 100)
    log.LogIt(std::to_string(written++) + padding);
  EXPECT_EQ(log.InternLogFileName(), second) << "a rotation in the same second";
  FClock.Advance(1000);
  while (log.InternLogFileName() == second && written < 200)
    log.LogIt(std::to_string(written++) + padding);
  EXPECT_EQ(log.InternLogFileName(), third);

  const std::vector<std::string> texts = Texts(first);
  EXPECT_EQ(texts[2], "0" + padding) << "the first file was not emptied by the second";
  const size_t n = texts.size();
  ASSERT_GE(n, 3u);
  EXPECT_EQ(texts[n - 3], "LogSizeLimit (600) reached 2026-01-01 00:00:00");
  EXPECT_EQ(texts[n - 2], "Continue in next Log file: " + second);
  EXPECT_EQ(texts[n - 1], "Log file closed, 2026-01-01 00:00:00");
  EXPECT_EQ(Texts(second)[0], "2026-01-01 00:00:00 Log file opened: " + second);
}

TEST_F(LoggerTest, OverwriteWrapsToTheStartAndKeepsTheOlderTail) {
  const std::string path = PathOf("wrap.log");
  TLogger log(1, FClock);
  log.SetLimit(logOverwrite, 1000);
  log.SetLogFileName(path);
  const std::string padding(50, 'x');
  int old = 0;
  while (!Contains(Texts(path), "Log file overwritten: " + path + ", 2026-01-01 00:00:00") &&
         old < 100) {
    log.LogIt("old " + std::to_string(old++) + padding);
  }
  log.LogIt("new 0");
  log.LogIt("new 1");

  const std::string content = test::ReadFile(path);
  EXPECT_EQ(content.substr(22, 22), "Log file overwritten: ");
  const size_t newest = content.find(" new 1\r\n");
  ASSERT_NE(newest, std::string::npos);
  const std::string tail = content.substr(newest);
  EXPECT_NE(tail.find("old " + std::to_string(old - 1) + padding), std::string::npos);
  EXPECT_TRUE(tail.ends_with(" LogSizeLimit (1000) reached 2026-01-01 00:00:00\r\n")) << tail;

  log.SetLogFileName("");
  const std::string stars(57, '*');
  const std::string closed = test::ReadFile(path);
  const std::string frame = " new 1\r\n\r\n" + stars + "\r\n" + stars + "\r\n" + kNoTime + " " +
                            kNoThread + " Log file closed, 2026-01-01 00:00:00\r\n" + stars +
                            "\r\n" + stars + "\r\n";
  EXPECT_NE(closed.find(frame), std::string::npos) << closed;
}

// Error-log mode keeps a file only when an error was written to it; the
// half-hour rotation moves on to a new name so that a kept file stays whole.
TEST_F(LoggerTest, ErrorLogKeepsFilesWithErrorsAcrossTimeRotations) {
  const std::string path = PathOf("err.log");
  const std::string second = PathOf("err_20260101_003100.log");
  const std::string third = PathOf("err_20260101_010200.log");
  TLogger log(2, FClock);
  log.SetErrorLog(true);
  log.SetLogFileName(path);
  log.LogIt("before");
  log.LogError("went wrong");
  FClock.Advance(30 * 60 * 1000);
  log.LogIt("at the limit");  // not more than half an hour yet
  EXPECT_EQ(log.InternLogFileName(), path);
  FClock.Advance(60 * 1000);
  log.LogIt("after");
  EXPECT_EQ(log.InternLogFileName(), second);

  std::vector<std::string> texts = Texts(path);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[2], "before");
  EXPECT_TRUE(Contains(texts, "ERROR: went wrong"));
  EXPECT_TRUE(Contains(texts, "LogTimeLimit (half an hour) reached 2026-01-01 00:31:00"));
  EXPECT_TRUE(Contains(texts, "Continue in next Log file: " + second));

  log.LogIt("quiet");
  FClock.Advance(31 * 60 * 1000);
  log.LogIt("still quiet");
  EXPECT_EQ(log.InternLogFileName(), third);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_FALSE(fs::exists(second)) << "a rotated file without errors is deleted";
  texts = Texts(third);
  log.SetLogFileName("");
  EXPECT_FALSE(fs::exists(third));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_TRUE(Contains(Texts(path), "ERROR: went wrong"));
}

// A rotated file without errors is already gone when the next rotation looks
// at it; one with errors is reported as kept.
TEST_F(LoggerTest, ErrorLogReportsThePreviousFileOnlyWhileItExists) {
  TLogger log(2, FClock);
  log.SetErrorLog(true);
  log.SetLogFileName(PathOf("err.log"));
  log.LogIt("quiet");
  FClock.Advance(31 * 60 * 1000);
  log.LogIt("rotate");
  const std::string second = log.InternLogFileName();
  EXPECT_FALSE(fs::exists(PathOf("err.log")));
  log.LogError("second");
  FClock.Advance(31 * 60 * 1000);
  log.LogIt("rotate");
  const std::string third = log.InternLogFileName();
  log.LogError("third");
  FClock.Advance(31 * 60 * 1000);
  log.LogIt("rotate");

  for (const std::string& text : Texts(second)) EXPECT_EQ(text.find("Previous"), std::string::npos);
  EXPECT_TRUE(Contains(Texts(third), "keep Previous logfile: " + second +
                                         " ErrorOccurred: actual=True Previous=True"));
}

TEST_F(LoggerTest, AnExceptionDumpsTheKeptLinesOldestFirst) {
  struct Case {
    int lines;
    int firstKept;  // of "line <n>"
  };
  for (const Case c : {Case{3, 0}, Case{1500, 503}}) {
    test::TTempFolder dumps;
    TLogger log(4, FClock);
    log.SetSavePath((dumps.Path() / "sub" / "").string());
    EXPECT_EQ(log.SavePath(), (dumps.Path() / "sub").string() + "/");
    log.SetSaveEnabled(true);
    EXPECT_TRUE(log.Active());
    for (int i = 0; i < c.lines; ++i) log.LogIt("line " + std::to_string(i));
    log.LogException("caught", std::runtime_error("boom"));

    const fs::path dump = dumps.Path() / "sub" / "ExceptionLog_4_20260101_000000.000.txt";
    ASSERT_TRUE(fs::exists(dump));
    const std::vector<std::string> texts = Texts(dump);
    ASSERT_EQ(texts.size(), static_cast<size_t>(std::min(c.lines + 3, 1000)));
    EXPECT_EQ(texts[0], "line " + std::to_string(c.firstKept));
    EXPECT_EQ(texts[texts.size() - 4], "line " + std::to_string(c.lines - 1));
    EXPECT_EQ(texts[texts.size() - 3], "ERROR: caught");
    EXPECT_EQ(texts[texts.size() - 2], "EXCEP: std::runtime_error boom");
    EXPECT_EQ(texts[texts.size() - 1], "STACK: (not available)");
  }
}

TEST_F(LoggerTest, AnExceptionWithAnOpenFileGoesToTheFileOnly) {
  TLogger log(4, FClock);
  log.SetSavePath(FFolder.Path().string());
  log.SetSaveEnabled(true);
  log.SetLogFileName(PathOf("debug.log"));
  log.LogException("caught", std::logic_error("bad"));
  const std::vector<std::string> texts = Texts(PathOf("debug.log"));
  EXPECT_EQ(std::vector<std::string>(texts.begin() + 2, texts.end()),
            (std::vector<std::string>{"ERROR: caught", "EXCEP: std::logic_error bad",
                                      "STACK: (not available)"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(FFolder.Path()), {}), 1);
}

TEST_F(LoggerTest, AFileThatCannotBeOpenedLeavesTheLoggerClosedWithAReason) {
  const std::string busy = PathOf("busy.log");
  TLogger first(1, FClock);
  first.SetLogFileName(busy);
  ASSERT_TRUE(first.LogEnabled());
  for (const std::string& name : {busy, PathOf("missing/debug.log")}) {
    TLogger log(2, FClock);
    log.SetLogFileName(name);
    EXPECT_FALSE(log.LogEnabled()) << name;
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.ErrorMsg(), "Logfile not created: " + name);
    EXPECT_EQ(log.LogFileName(), "");
    EXPECT_EQ(log.InternLogFileName(), "");
  }
  first.LogIt("still mine");
  EXPECT_TRUE(Contains(Texts(busy), "still mine"));
}

// The child process writes past its file-size limit; the logger must stop
// file logging quietly and go on accepting calls.
TEST_F(LoggerTest, AWriteFailureStopsFileLoggingWithoutACrash) {
  const std::string path = PathOf("full.log");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    TLogger log(1, FClock);
    log.SetLogFileName(path);
    if (!log.LogEnabled()) _exit(2);
    for (int i = 0; i < 200; ++i) log.LogIt("line " + std::to_string(i) + std::string(60, 'x'));
    log.LogError("dropped");
    log.LogAppend("dropped");
    log.LogNewLine();
    _exit(log.LogEnabled() || log.Active() ? 3 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "child died from signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string content = test::ReadFile(path);
  EXPECT_EQ(content.size(), 4096u);
  EXPECT_EQ(content.find("dropped"), std::string::npos);
}

TEST(LogUnit, FunctionsForwardByIdAndIgnoreUnknownIds) {
  test::TTempFolder folder;
  const std::string path = (folder / "unit.log").string();
  const int id = CreateLogger(RegistryClock());
  ASSERT_GE(id, 0);
  EXPECT_EQ(CreateLogger(RegistryClock()), id + 1) << "ids are handed out in order";
  EXPECT_FALSE(LogActive(id));
  bool built = false;
  LogDebugLazy(id, [&] {
    built = true;
    return std::string("never");
  });
  EXPECT_FALSE(built) << "no text is built for a closed logger";

  SetHeaderLines(id, {"H"});
  SetLogLimit(id, logCreateNew, 0);
  SetLogFile(id, path, true);
  ASSERT_TRUE(IsLogEnabled(id)) << GetLogErrorMsg(id);
  EXPECT_TRUE(LogActive(id));
  EXPECT_EQ(GetLogFileName(id), (folder / "unit_20260101_000000.log").string());
  EXPECT_EQ(GetHeaderLines(id), std::vector<std::string>{"H"});
  LogDebugLazy(id, [] { return std::string("lazy"); });
  LogDebug(id, "debug");
  LogWarning(id, "warn");
  LogErrorText(id, "error");
  LogAppendText(id, "app");
  LogAppendText(id, "end");
  LogBreak(id);
  LogException(id, "caught", std::out_of_range("range"));
  const std::string opened = GetLogFileName(id);
  const std::vector<std::string> texts = Texts(opened);
  EXPECT_EQ(
      std::vector<std::string>(texts.begin() + 1, texts.end()),
      (std::vector<std::string>{
          "ID=" + std::to_string(id) + ", SizeLimit=20971520, Type=logCreateNew, errorLog=True",
          "H", "lazy", "debug", "WARN:  warn", "ERROR: error", "append", "ERROR: caught",
          "EXCEP: std::out_of_range range", "STACK: (not available)"}));
  SetLogFile(id, "", false);
  EXPECT_FALSE(IsLogEnabled(id));
  EXPECT_TRUE(fs::exists(opened)) << "errors were written";

  for (const int unknown : {-1, id + 1000}) {
    EXPECT_EQ(GetLogger(unknown), nullptr);
    EXPECT_FALSE(LogActive(unknown));
    LogDebug(unknown, "x");
    LogException(unknown, "x", std::runtime_error("x"));
    SetLogFile(unknown, path, false);
    SetSaveEnabled(unknown, true);
    EXPECT_FALSE(IsLogEnabled(unknown));
    EXPECT_EQ(GetLogFileName(unknown), "");
    EXPECT_EQ(GetLogErrorMsg(unknown), "");
    EXPECT_TRUE(GetHeaderLines(unknown).empty());
  }
}

// Finalisation frees every logger; it runs in a child so that the other tests
// of this process keep their loggers.
TEST(LogUnit, FinalizationWritesToLoggerZeroAndClosesEveryFile) {
  test::TTempFolder folder;
  const std::string first = (folder / "zero.log").string();
  const std::string second = (folder / "other.log").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    while (GetLogger(0) == nullptr) CreateLogger(RegistryClock());
    const int other = CreateLogger(RegistryClock());
    SetLogLimit(0, logUnlimited, 0);  // another test may have used logger 0
    SetLogFile(0, first, false);
    SetLogFile(other, second, false);
    LogDebug(other, "work");
    FinalizeLoggers();
    LogDebug(other, "after the end");
    _exit(GetLogger(0) == nullptr && GetLogger(other) == nullptr && !LogActive(other) ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::vector<std::string> zero = Texts(first);
  ASSERT_GE(zero.size(), 3u);
  EXPECT_EQ(zero[zero.size() - 3], "LogUnit.finalization");
  EXPECT_EQ(zero[zero.size() - 2], "TLogger.Destroy(0)");
  EXPECT_EQ(zero[zero.size() - 1], "Log file closed, 2026-01-01 00:00:00");
  const std::vector<std::string> other = Texts(second);
  EXPECT_TRUE(Contains(other, "work"));
  EXPECT_FALSE(Contains(other, "after the end"));
  EXPECT_TRUE(other.back().starts_with("Log file closed, "));
}

}  // namespace
}  // namespace orb
