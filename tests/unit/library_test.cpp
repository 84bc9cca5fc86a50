// VELQ_Library: entries by name and id, removal order, the message listing and the mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "korvat.h"
#include "velq.h"

namespace {

// Counts the programs destroyed: each marked program holds a global whose object's
// data is released when the program goes.
class MarkerClass : public VELQ_Class {
 public:
  int deleted = 0;
  void onObjectDelete(VELQ_Object *object) override {
    deleted++;
    delete static_cast<int *>(object->getData());
  }
};

VELQ_Program *markedProgram(MarkerClass *cls) {
  VELQ_Program *program = new VELQ_Program();
  program->setGlobalVariable("marker", new VELQ_Value(new VELQ_Object(cls, new int(0))));
  return program;
}

// The (id, name) pairs fillMessage writes, after checking the count field.
std::vector<std::pair<uint32_t, std::string>> listed(VELQ_Library &library) {
  KOSPMessage msg;
  library.fillMessage(&msg);
  std::vector<std::pair<uint32_t, std::string>> entries;
  uint32_t n = msg.GetFieldUInt32(VELQ_LIBRARY_FIELD_COUNT);
  EXPECT_EQ(msg.FieldCount(), 1 + 2 * n);
  for (uint32_t i = 0; i < n; i++) {
    const char *name = msg.GetFieldText(0x10000001u + 2 * i);
    EXPECT_TRUE(msg.HasField(0x10000000u + 2 * i));
    entries.push_back({msg.GetFieldUInt32(0x10000000u + 2 * i), name ? name : "<no text>"});
  }
  return entries;
}

using Entries = std::vector<std::pair<uint32_t, std::string>>;

TEST(Library, ANameThatDiffersOnlyInCaseIsRefusedAndStaysTheCallers) {
  MarkerClass cls;
  VELQ_Library library;
  VELQ_Program *first = markedProgram(&cls);
  VELQ_Program *refused = markedProgram(&cls);
  EXPECT_EQ(library.addScript(1, "lib", first), 1);
  EXPECT_EQ(library.addScript(2, "Lib", refused), 0);
  EXPECT_EQ(library.addScript(3, "LIB", nullptr), 0);
  EXPECT_EQ(library.getCount(), 1u);
  EXPECT_EQ(library.findScript("LIB"), first);
  EXPECT_EQ(library.findScript("lIb"), first);
  EXPECT_EQ(listed(library), (Entries{{1, "lib"}}));
  delete refused;
  EXPECT_EQ(cls.deleted, 1);
}

TEST(Library, FindMatchesWholeNamesOnly) {
  VELQ_Library library;
  VELQ_Program *program = new VELQ_Program();
  library.addScript(1, "tools", program);
  const char *missing[] = {"tool", "toolsx", "", " tools"};
  for (const char *name : missing) EXPECT_EQ(library.findScript(name), nullptr) << name;
  EXPECT_EQ(library.findScript(nullptr), nullptr);
  EXPECT_EQ(library.addScript(2, nullptr, nullptr), 0);
}

TEST(Library, EqualIdsAreKeptAndDeleteByIdTakesTheEarlierOne) {
  VELQ_Library library;
  library.addScript(7, "a", new VELQ_Program());
  library.addScript(7, "b", new VELQ_Program());
  EXPECT_EQ(library.getCount(), 2u);
  library.deleteScript(7UL);
  EXPECT_EQ(listed(library), (Entries{{7, "b"}}));
}

TEST(Library, DeletingKeepsTheOrderOfTheRestAndTheListingRenumbers) {
  MarkerClass cls;
  VELQ_Library library;
  library.addScript(10, "one", markedProgram(&cls));
  library.addScript(20, "two", markedProgram(&cls));
  library.addScript(30, "three", markedProgram(&cls));
  library.deleteScript("ONE");
  EXPECT_EQ(cls.deleted, 1);
  KOSPMessage msg;
  library.fillMessage(&msg);
  EXPECT_EQ(msg.GetFieldUInt32(206), 2u);
  EXPECT_EQ(msg.GetFieldUInt32(0x10000000u), 20u);
  EXPECT_STREQ(msg.GetFieldText(0x10000001u), "two");
  EXPECT_EQ(msg.GetFieldUInt32(0x10000002u), 30u);
  EXPECT_STREQ(msg.GetFieldText(0x10000003u), "three");
  EXPECT_FALSE(msg.HasField(0x10000004u));

  library.deleteScript(30UL);  // the last entry
  EXPECT_EQ(listed(library), (Entries{{20, "two"}}));
  library.deleteScript("two");
  EXPECT_EQ(listed(library), Entries{});
  EXPECT_EQ(cls.deleted, 3);
}

TEST(Library, DeletingWhatIsNotThereChangesNothing) {
  MarkerClass cls;
  VELQ_Library library;
  library.addScript(1, "a", markedProgram(&cls));
  library.addScript(2, "b", markedProgram(&cls));
  library.deleteScript("c");
  library.deleteScript("");
  library.deleteScript((const char *)nullptr);
  library.deleteScript(3UL);
  EXPECT_EQ(cls.deleted, 0);
  EXPECT_EQ(listed(library), (Entries{{1, "a"}, {2, "b"}}));
}

TEST(Library, TheDestructorDestroysEveryProgram) {
  MarkerClass cls;
  {
    VELQ_Library library;
    library.addScript(1, "a", markedProgram(&cls));
    library.addScript(2, "b", nullptr);  // an entry without a program
    library.addScript(3, "c", markedProgram(&cls));
  }
  EXPECT_EQ(cls.deleted, 2);
}

TEST(Library, IdsAreTruncatedTo32BitsOnEntry) {
  VELQ_Library library;
  library.addScript(0x100000005UL, "five", new VELQ_Program());
  library.addScript((unsigned long)-1, "all", new VELQ_Program());
  EXPECT_EQ(listed(library), (Entries{{5, "five"}, {0xFFFFFFFFu, "all"}}));
  library.deleteScript(0x200000005UL);
  library.deleteScript(0xFFFFFFFFUL);
  EXPECT_EQ(library.getCount(), 0u);
}

TEST(Library, FillMessageOfAnEmptyLibraryWritesOnlyTheCountAndAddsToWhatIsThere) {
  VELQ_Library library;
  KOSPMessage msg;
  const char *kept = "kept";
  msg.SetField(5, KOSP_FIELD_TEXT, kept, 0);
  library.fillMessage(&msg);
  EXPECT_TRUE(msg.HasField(206));
  EXPECT_EQ(msg.GetFieldUInt32(206), 0u);
  EXPECT_EQ(msg.FieldCount(), 2u);
  EXPECT_STREQ(msg.GetFieldText(5), "kept");
  library.fillMessage(nullptr);
}

TEST(Library, TheMutexIsRecursiveAndExcludesOtherThreads) {
  VELQ_Library library;
  library.lock();
  library.lock();
  library.unlock();  // still held once
  std::atomic<bool> entered{false};
  std::thread other([&] {
    library.lock();
    entered = true;
    library.unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered) << "another thread got in while the lock was held";
  library.unlock();
  other.join();
  EXPECT_TRUE(entered);
}

TEST(Library, AnUnlockByAThreadThatDoesNotHoldTheMutexIsIgnored) {
  VELQ_Library library;
  library.lock();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    library.unlock();  // not the owner: refused
    library.lock();
    entered = true;
    library.unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered);
  library.unlock();
  other.join();
  EXPECT_TRUE(entered);
  library.unlock();  // not held by anyone: refused as well
  library.lock();    // and the mutex still works
  library.unlock();
}

TEST(Library, UsersThatLockSeeConsistentContents) {
  VELQ_Library library;
  const int perThread = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < perThread; i++) {
        std::string name = "s" + std::to_string(t) + "_" + std::to_string(i);
        library.lock();
        library.addScript(i, name.c_str(), new VELQ_Program());
        if (i % 2) library.deleteScript(name.c_str());
        library.unlock();
      }
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(library.getCount(), 4u * perThread / 2);
  EXPECT_NE(library.findScript("S3_198"), nullptr);
  EXPECT_EQ(library.findScript("s3_199"), nullptr);
}

}  // namespace
