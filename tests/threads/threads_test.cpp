// The engine used from several threads at once: compilations in parallel, separate
// programs running in parallel with values that cross threads, a script library shared
// under its lock while runs load modules from it, and a run cancelled from another thread.
//
// The normal build runs these as plain tests; scripts/test-threads builds them with
// ThreadSanitizer, which turns any data race inside the engine into a failure.
#include <ctype.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "korvat.h"
#include "velq.h"

namespace {

// Threads that work at once in each test.
const int THREAD_COUNT = 4;

// ---- Helpers ----

std::string listing(VELQ_Program *program) {
  char *buffer = nullptr;
  size_t length = 0;
  FILE *stream = open_memstream(&buffer, &length);
  program->dump(stream);
  fclose(stream);
  std::string text(buffer, length);
  free(buffer);
  return text;
}

// A script's listing when it compiles, else its compile error.
std::string compileOutcome(const std::string &source) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(source.c_str(), error, sizeof error);
  if (!program) return std::string("error: ") + error;
  std::string text = listing(program);
  delete program;
  return text;
}

VELQ_Program *compileOrFail(const char *source) {
  char error[VELQ_COMPILE_ERROR_SIZE];
  VELQ_Program *program = VELQCompile(source, error, sizeof error);
  EXPECT_NE(program, nullptr) << error;
  return program;
}

std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the program with the arguments, which it takes; the result's text, or the
// error text of a failed run.
std::string runText(VELQ_Program *program, VELQ_Environment *environment,
                    std::vector<VELQ_Value *> args) {
  if (program->run(environment, args.size(), args.data(), nullptr, nullptr, nullptr) != 0)
    return program->getErrorText();
  VELQ_Value *result = program->getResult();
  const char *text = result ? result->getValueAsCString() : nullptr;
  return text ? text : "(no text)";
}

// ---- Compilations ----

// Every script of the test suite and the examples, compiled by several threads at once,
// each starting at a different script, gives the listing or message it gives alone.
TEST(CompileThreads, ThreadsCompilingDifferentScriptsAgreeWithOneThread) {
  std::vector<std::string> sources;
  for (const char *folder : {"tests/scripts", "examples"}) {
    for (const auto &entry :
         std::filesystem::recursive_directory_iterator(std::string(VELQ_SOURCE_DIR) + "/" + folder))
      if (entry.path().extension() == ".velq") sources.push_back(readFile(entry.path()));
  }
  ASSERT_GT(sources.size(), 20u);
  std::vector<std::string> expected;
  for (const std::string &source : sources) expected.push_back(compileOutcome(source));

  std::vector<int> mismatches(THREAD_COUNT, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < THREAD_COUNT; t++) {
    threads.emplace_back([&, t] {
      size_t start = t * sources.size() / THREAD_COUNT;
      for (size_t k = 0; k < sources.size(); k++) {
        size_t i = (start + k) % sources.size();
        if (compileOutcome(sources[i]) != expected[i]) mismatches[t]++;
      }
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < THREAD_COUNT; t++) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

// ---- Runs of separate programs ----

// The data of a BOX object: a name that scripts read and a count they may set.
struct Box {
  std::string name;
  int32_t count;
};

std::atomic<int> liveBoxes{0};

class BoxClass : public VELQ_Class {
 public:
  BoxClass() { setName("BOX"); }

  VELQ_Value *getAttr(VELQ_Object *object, const char *attribute) override {
    Box *box = static_cast<Box *>(object->getData());
    if (strcmp(attribute, "name") == 0) return new VELQ_Value(box->name.c_str());
    if (strcmp(attribute, "count") == 0) return new VELQ_Value(box->count);
    return nullptr;
  }

  int setAttr(VELQ_Object *object, const char *attribute, VELQ_Value *value) override {
    if (strcmp(attribute, "count") != 0 || !value->isInteger()) return 0;
    static_cast<Box *>(object->getData())->count = value->getValueAsInt32();
    return 1;
  }

  // Runs in whichever thread drops the last record of the box.
  void onObjectDelete(VELQ_Object *object) override {
    delete static_cast<Box *>(object->getData());
    liveBoxes--;
  }
};

BoxClass boxClass;

// host_box(name): a new BOX.
int32_t hostBox(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program) {
  const char *name = argv[0]->getValueAsCString();
  liveBoxes++;
  *result = new VELQ_Value(new VELQ_Object(&boxClass, new Box{name ? name : "", 0}));
  return 0;
}

// host_squares(n): an array of the n squares 0, 1, 4, ...
int32_t hostSquares(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program) {
  int32_t n = argv[0]->getValueAsInt32();
  VELQ_Array *squares = new VELQ_Array();
  for (int32_t i = 0; i < n; i++) squares->set(i, new VELQ_Value(i * i));
  *result = new VELQ_Value(squares);
  return 0;
}

const VELQ_ExtFunction runFunctions[] = {
    {"host_box", hostBox, 1},
    {"host_squares", hostSquares, 1},
};

// Builds texts in an array, fills a host object, sums an array the host made and adds a
// text to it, and returns all three in an array: [0] a summary text, [1] the box, [2] the
// squares with the text after them.
const char *const workScript = R"(
sub main(who, n) {
  array parts;
  i = 0;
  while (i < n) { parts[i] = upper(who) . "-" . i; i++; }
  box = host_box(who);
  box->count = n;
  squares = host_squares(n);
  total = 0;
  i = 0;
  while (i < n) { total = total + squares[i]; i++; }
  squares[n] = who . "!";
  array result;
  result[0] = parts[n - 1] . ":" . box->name . ":" . box->count . ":" . total;
  result[1] = box;
  result[2] = squares;
  return result;
}
)";

std::string expectedSummary(const std::string &who, int n) {
  std::string upper = who;
  for (char &c : upper) c = (char)toupper((unsigned char)c);
  long total = 0;
  for (int i = 0; i < n; i++) total += i * i;
  return upper + "-" + std::to_string(n - 1) + ":" + who + ":" + std::to_string(n) + ":" +
         std::to_string(total);
}

// What one run hands to another thread: values of their own, none sharing an array
// with the program's result.
struct Handover {
  std::string who;
  int n;
  VELQ_Value *summary;  // a text
  VELQ_Value *box;      // an object record sharing the box with the result's
  VELQ_Value *squares;  // a copy of the result's array of numbers and a text
};

// A queue of handovers between two threads.
class Inbox {
 public:
  void put(Handover handover) {
    std::lock_guard<std::mutex> lock(mutex);
    items.push_back(handover);
    ready.notify_one();
  }
  Handover take() {
    std::unique_lock<std::mutex> lock(mutex);
    ready.wait(lock, [this] { return !items.empty(); });
    Handover handover = items.front();
    items.pop_front();
    return handover;
  }

 private:
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Handover> items;
};

// Whether a handover holds what the run that made it computed; deletes its values.
bool checkAndRelease(const Handover &h) {
  bool good = h.summary->getValueAsCString() == expectedSummary(h.who, h.n);
  VELQ_Object *object = h.box->getValueAsObject();
  good = good && object && object->getClass() == &boxClass &&
         static_cast<Box *>(object->getData())->name == h.who &&
         static_cast<Box *>(object->getData())->count == h.n;
  VELQ_Array *squares = h.squares->getValueAsArray();
  good = good && squares && squares->getSize() == h.n + 1;
  for (int32_t i = 0; good && i < h.n; i++)
    good = squares->get(i) && squares->get(i)->getValueAsInt32() == i * i;
  const char *text = good ? squares->get(h.n)->getValueAsCString() : nullptr;
  good = good && text && text == h.who + "!";
  delete h.summary;
  delete h.box;
  delete h.squares;
  return good;
}

// Each thread runs a program of its own, with arguments made in the main thread, and
// hands each result's parts to the next thread, which checks and deletes them while the
// first goes on running (and so deleting its earlier results).
TEST(RunThreads, SeparateProgramsRunAtOnceAndTheirValuesCrossThreads) {
  const int runsPerThread = 150;
  const int longestLoop = 25;
  // Every run's arguments are made here and taken by the run in another thread.
  std::vector<std::vector<VELQ_Value *>> args(THREAD_COUNT * runsPerThread);
  for (int t = 0; t < THREAD_COUNT; t++)
    for (int i = 0; i < runsPerThread; i++)
      args[t * runsPerThread + i] = {new VELQ_Value(("w" + std::to_string(t)).c_str()),
                                     new VELQ_Value(int32_t(1 + i % longestLoop))};

  std::vector<Inbox> inboxes(THREAD_COUNT);
  std::atomic<int> badRuns{0}, badHandovers{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREAD_COUNT; t++) {
    threads.emplace_back([&, t] {
      VELQ_Program *program = compileOrFail(workScript);
      Inbox &next = inboxes[(t + 1) % THREAD_COUNT];
      for (int i = 0; i < runsPerThread; i++) {
        std::vector<VELQ_Value *> &argv = args[t * runsPerThread + i];
        std::string who = argv[0]->getValueAsCString();
        int n = argv[1]->getValueAsInt32();
        VELQ_Environment *environment = new VELQ_Environment();
        environment->registerFunctionSet(2, runFunctions);
        VELQ_Array *result = nullptr;
        if (program &&
            program->run(environment, argv.size(), argv.data(), nullptr, nullptr, nullptr) == 0)
          result = program->getResult()->getValueAsArray();
        if (!result || !result->get(0) || !result->get(1) || !result->get(2)) {
          badRuns++;
          next.put({who, n, new VELQ_Value("missing"), new VELQ_Value(), new VELQ_Value()});
          continue;
        }
        next.put({who, n, new VELQ_Value(result->get(0)), new VELQ_Value(result->get(1)),
                  new VELQ_Value(new VELQ_Array(result->get(2)->getValueAsArray()))});
        if (i % 8 == 0) std::this_thread::yield();
      }
      delete program;  // its last result goes in this thread
      for (int i = 0; i < runsPerThread; i++)
        if (!checkAndRelease(inboxes[t].take())) badHandovers++;
    });
  }
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(badRuns.load(), 0);
  EXPECT_EQ(badHandovers.load(), 0);
  EXPECT_EQ(liveBoxes.load(), 0) << "every box is released exactly once, in some thread";
}

// A copy of a value that holds an array shares the array and its reference count. Here
// one thread releases such a copy while the program, in another, replaces the result the
// copy was made from: a lost update of the count would leak the array or free it twice.
TEST(RunThreads, ArrayCopiesReleasedInAnotherThread) {
  VELQ_Program *program = compileOrFail("sub main() { array a; a[0] = 1; return a; }");
  ASSERT_NE(program, nullptr);
  for (int round = 0; round < 50; round++) {
    ASSERT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
    VELQ_Value *copy = new VELQ_Value(program->getResult());  // shares the result's array
    std::thread other([copy] { delete copy; });
    EXPECT_EQ(program->run(nullptr, 0, nullptr, nullptr, nullptr, nullptr), 0);
    other.join();
  }
  delete program;
}

// ---- The script library ----

const char *const greetingModule =
    "sub greet(who) { s = \"\"; i = 0; while (i < 3) { s = s . who; i++; } "
    "return \"hello \" . s; }";
const char *const extraModule = "sub extra(n) { return n * 2; }";
const char *const libraryUser =
    "use greeting;\nuse extra;\nsub main(who, n) { return greet(who) . \" \" . extra(n); }";

// Two threads run programs that load modules from one library, holding its lock around
// each run, while a third adds and deletes scripts (among them one the runs use) and
// lists the library under the same lock. Each run sees the library before or after a
// change: it either finds the module or fails for want of it, never anything else.
TEST(LibraryThreads, RunsLoadModulesWhileAnotherThreadChangesTheLibrary) {
  VELQ_Library library;
  library.addScript(1, "greeting", compileOrFail(greetingModule));
  library.addScript(2, "extra", compileOrFail(extraModule));

  // What a run gives with the module "extra" there and without it.
  VELQ_Program *probe = compileOrFail(libraryUser);
  ASSERT_NE(probe, nullptr);
  auto environmentWithLibrary = [&library] {
    VELQ_Environment *environment = new VELQ_Environment();
    environment->setLibrary(&library);
    return environment;
  };
  auto arguments = [](int n) {
    return std::vector<VELQ_Value *>{new VELQ_Value("ab"), new VELQ_Value(int32_t(n))};
  };
  const std::string withExtra = runText(probe, environmentWithLibrary(), arguments(21));
  library.deleteScript("extra");
  const std::string withoutExtra = runText(probe, environmentWithLibrary(), arguments(21));
  delete probe;
  ASSERT_EQ(withExtra, "hello ababab 42");
  ASSERT_NE(withoutExtra, withExtra);

  const int runs = 200;
  std::atomic<int> unexpected{0};
  std::atomic<bool> running{true};
  auto runner = [&] {
    VELQ_Program *program = compileOrFail(libraryUser);
    if (!program) return;
    for (int i = 0; i < runs; i++) {
      VELQ_Environment *environment = environmentWithLibrary();
      library.lock();
      std::string text = runText(program, environment, arguments(21));
      library.unlock();
      if (text != withExtra && text != withoutExtra) unexpected++;
      std::this_thread::yield();  // lets the changer in between runs
    }
    delete program;
  };
  std::thread changer([&] {
    KOSPMessage message;
    for (unsigned long id = 100; running; id++) {
      // Compiled outside the lock: compilations need none.
      VELQ_Program *extra = compileOrFail(extraModule);
      VELQ_Program *other = compileOrFail(greetingModule);
      std::string otherName = "other" + std::to_string(id % 7);
      library.lock();
      if (!library.addScript(id, "extra", extra)) delete extra;
      if (!library.addScript(id, otherName.c_str(), other)) delete other;
      library.fillMessage(&message);
      library.unlock();
      std::this_thread::yield();
      library.lock();
      library.deleteScript("extra");
      if (id % 2) library.deleteScript(otherName.c_str());
      library.unlock();
    }
  });
  std::thread first(runner), second(runner);
  first.join();
  second.join();
  running = false;
  changer.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_NE(library.findScript("greeting"), nullptr);
}

// ---- Cancellation ----

std::atomic<bool> loopStarted{false};

// host_started(): tells the test that the script has reached its loop.
int32_t hostStarted(int32_t argc, VELQ_Value **argv, VELQ_Value **result, VELQ_Program *program) {
  loopStarted = true;
  return 0;
}

const VELQ_ExtFunction cancelFunctions[] = {{"host_started", hostStarted, 0}};

// A run that would loop for ever ends with error 30 once another thread cancels it, and
// the program then runs again normally.
TEST(CancelThreads, AnotherThreadEndsARunningLoop) {
  VELQ_Program *program =
      compileOrFail("sub main(n) { host_started(); while (n) ; return \"done\"; }");
  ASSERT_NE(program, nullptr);
  auto environment = [] {
    VELQ_Environment *environment = new VELQ_Environment();
    environment->registerFunctionSet(1, cancelFunctions);
    return environment;
  };
  const std::string cancelled =
      std::string("Error 30 in line 1: ") + VELQ_ErrorMessage(VELQ_ERR_CANCELLED);
  for (int round = 0; round < 10; round++) {
    loopStarted = false;
    int status = 0;
    std::thread runner([&] {
      VELQ_Value *argv[] = {new VELQ_Value(int32_t(1))};
      status = program->run(environment(), 1, argv, nullptr, nullptr, nullptr);
    });
    while (!loopStarted) std::this_thread::yield();
    program->cancel();
    runner.join();
    EXPECT_EQ(status, -1) << "round " << round;
    EXPECT_EQ(program->getErrorText(), cancelled) << "round " << round;
    EXPECT_EQ(runText(program, environment(), {new VELQ_Value(int32_t(0))}), "done")
        << "round " << round;
  }
  delete program;
}

}  // namespace
