// The archive store on a fake clock: minute and hourly files compared byte
// for byte with the records they must hold, restarts from the state file,
// and the lock on the root folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "logging/StoreData.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

TDateTime At(int hour, int minute, int second) {
  TDateTime value;
  EXPECT_TRUE(TryEncodeDateTime({2026, 12, 9, hour, minute, second, 0}, value));
  return value;
}

// An item as the data server hands it: its length, then its bytes.
std::string Item(std::string_view text) {
  return std::string(1, static_cast<char>(text.size())) + std::string(text);
}

std::string RecordBytes(TDateTime start, TDateTime end, const std::string& data) {
  std::string bytes;
  AppendStoreDataRecord(bytes, {start, end, data});
  return bytes;
}

class StoreDataTest : public ::testing::Test {
 protected:
  std::unique_ptr<TStoreDataClass> NewStore() {
    auto store = std::make_unique<TStoreDataClass>(-1, root.string(), clock);
    store->SetOnError([this](const void*, const std::string& text) { errors.push_back(text); });
    store->SetStorageEnabled(true);
    return store;
  }

  void Take(TStoreDataClass& store, TDateTime when, std::string_view text) {
    clock.SetUtc(when);
    store.TakeData(Item(text));
  }

  std::string Minute(int hour, int minute) const {
    return (root / "MeasuringData_Current" / ("20261209_" + Two(hour) + Two(minute) + "00.dat"))
        .string();
  }
  std::string Hour(int hour) const {
    return (root / "MeasuringData_Archive" / ("20261209_" + Two(hour) + "0000.dat")).string();
  }
  static std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

  test::TTempFolder folder;
  fs::path root = folder / "archive";
  TFakeClock clock;
  std::vector<std::string> errors;
};

TEST_F(StoreDataTest, AMinuteIsOneRecordWrittenByTheFirstItemAfterIt) {
  auto store = NewStore();
  Take(*store, At(10, 15, 20), "a");
  Take(*store, At(10, 15, 50), "bb");
  EXPECT_FALSE(fs::exists(Minute(10, 15)));
  Take(*store, At(10, 16, 5), "ccc");
  EXPECT_EQ(test::ReadFile(Minute(10, 15)),
            RecordBytes(At(10, 15, 20), At(10, 16, 5), Item("a") + Item("bb") + Item("ccc")));
  store->TakeData("");  // nothing to archive
  EXPECT_TRUE(errors.empty());
}

// The hour is packed when a minute of the next hour begins, also when no
// item came in its first minute; the minute files go.
TEST_F(StoreDataTest, AnHourIsPackedWhenTheNextHourBeginsEvenAfterAGap) {
  auto store = NewStore();
  Take(*store, At(10, 58, 10), "a");
  Take(*store, At(10, 59, 15), "b");  // closes 10:58
  Take(*store, At(11, 5, 20), "c");   // closes 10:59 and the hour
  const std::string expected = RecordBytes(At(10, 58, 10), At(10, 59, 15), Item("a") + Item("b")) +
                               RecordBytes(At(10, 59, 15), At(11, 5, 20), Item("c"));
  EXPECT_EQ(test::ReadFile(Hour(10)), expected);
  EXPECT_FALSE(fs::exists(Minute(10, 58)));
  EXPECT_FALSE(fs::exists(Minute(10, 59)));
  EXPECT_TRUE(store->IsArchiveData(At(10, 30, 0)));
  EXPECT_FALSE(store->IsArchiveData(At(11, 30, 0)));
  EXPECT_EQ(store->GetArchiveFilename(At(11, 5, 20)), Hour(11));
  std::vector<TStoreDataRecord> records;
  ASSERT_TRUE(store->Loader().LoadFromFile(Hour(10), records, 10));
  EXPECT_EQ(records.size(), 2u);
}

// A restart inside the saved minute continues that minute with its items;
// a restart in a later hour packs the saved hour.
TEST_F(StoreDataTest, ARestartLosesNoItem) {
  {
    auto store = NewStore();
    Take(*store, At(10, 14, 10), "a");
    Take(*store, At(10, 15, 20), "b");  // goes into 10:14 and closes it
    Take(*store, At(10, 15, 30), "c");
    clock.SetUtc(At(10, 15, 40));
  }
  {
    clock.SetUtc(At(10, 15, 50));
    auto store = NewStore();
    Take(*store, At(10, 16, 5), "d");
    EXPECT_EQ(test::ReadFile(Minute(10, 15)),
              RecordBytes(At(10, 15, 20), At(10, 16, 5), Item("c") + Item("d")));
    clock.SetUtc(At(10, 16, 30));
  }
  clock.SetUtc(At(11, 2, 0));
  auto store = NewStore();
  std::vector<TStoreDataRecord> records;
  ASSERT_TRUE(store->Loader().LoadFromFile(Hour(10), records, 10));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Data, Item("a") + Item("b"));
  EXPECT_EQ(records[1].Data, Item("c") + Item("d"));
  EXPECT_FALSE(fs::exists(Minute(10, 14)));
  EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST_F(StoreDataTest, ARootInUseIsRefusedAndAStaleLockTakenOver) {
  auto first = NewStore();
  const fs::path lock = root / std::string(TStoreDataClass::kLockFileName);
  ASSERT_TRUE(fs::exists(lock));
  try {
    TStoreDataClass second(-1, root.string(), clock);
    FAIL() << "a second store took a root in use";
  } catch (const EStoreRootInUse& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "Storage Root Directory " + root.string() + "/ is already used by ", 0),
              0u)
        << e.what();
  }
  first.reset();
  EXPECT_FALSE(fs::exists(lock));

  // A lock file nobody holds is left from a program that ended.
  test::WriteFile(lock, "/opt/other/orb\nPID 1\n");
  auto store = NewStore();
  ASSERT_EQ(errors.size(), 0u);  // the handler is set after creation
  EXPECT_NE(test::ReadFile(lock).find("PID "), std::string::npos);
}

TEST_F(StoreDataTest, SwitchingOffKeepsTheLockAndOnAgainMakesTheFolders) {
  auto store = NewStore();
  store->SetStorageEnabled(false);
  EXPECT_TRUE(fs::exists(root / std::string(TStoreDataClass::kLockFileName)));
  fs::remove_all(root / "MeasuringData_Current");
  fs::remove_all(root / "MeasuringData_Archive");
  Take(*store, At(9, 0, 1), "ignored");
  store->SetStorageEnabled(true);
  EXPECT_TRUE(fs::exists(root / "MeasuringData_Current"));
  EXPECT_TRUE(fs::exists(root / "MeasuringData_Archive"));
  Take(*store, At(9, 0, 2), "a");
  Take(*store, At(9, 1, 2), "b");
  EXPECT_EQ(test::ReadFile(Minute(9, 0)),
            RecordBytes(At(9, 0, 2), At(9, 1, 2), Item("a") + Item("b")));
}

TEST(StoreDataLoaderTest, ADamagedFileIsAReadError) {
  test::TTempFolder folder;
  std::string bytes = RecordBytes(At(1, 0, 0), At(1, 1, 0), "abc");
  bytes += RecordBytes(At(1, 1, 0), At(1, 2, 0), "defg").substr(0, 22);  // cut off
  const auto path = (folder / "cut.dat").string();
  test::WriteFile(path, bytes);
  std::vector<std::string> errors;
  TStoreDataLoader loader(-1);
  loader.SetOnError([&](const void*, const std::string& text) { errors.push_back(text); });
  int count = 0;
  EXPECT_FALSE(loader.LoadRecordCountFromFile(path, count));
  EXPECT_EQ(count, 1);
  std::vector<TStoreDataRecord> records;
  EXPECT_FALSE(loader.LoadFromFile(path, records, 10));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].Data, "abc");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("Error on reading file: " + path + "\r\n", 0), 0u);
  EXPECT_FALSE(loader.LoadFromFile((folder / "missing.dat").string(), records, 10));
}

}  // namespace
}  // namespace orb
