// Scripts and instances of the C++ layer: calls by name with typed results, globals,
// errors as data, budgets and cancelling from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "velq.hpp"

namespace {

using velq::Value;

const char *const shop = R"(sub price(item, count) {
  if (item == "apple") return count * 3;
  return count * 5;
}
sub label(item, count) {
  return count . " x " . item;
}
sub lines(a, b) {
  array out;
  out[0] = a;
  out[1] = b;
  return out;
}
sub half(n) {
  return n / 2.0;
}
sub bump() {
  counter = counter + 1;
  return counter;
}
sub main(who) {
  return "hello " . who;
}
)";

TEST(CppInstance, CallsByNameGiveTypedResults) {
  velq::Engine engine;
  velq::Instance instance = engine.compile(shop, "shop.velq").load();
  EXPECT_EQ(instance.call<int>("price", "apple", 4), 12);
  EXPECT_EQ(instance.call<int64_t>("price", std::string("pear"), 2LL), 10);
  EXPECT_EQ(instance.call<std::string>("label", "pear", 2), "2 x pear");
  EXPECT_EQ(instance.call<double>("half", 5), 2.5);
  EXPECT_EQ(instance.call<std::vector<std::string>>("lines", "a", 'b'),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(instance.call("lines", 1, nullptr).to_string(), "[1, null]");
  instance.call<void>("price", "x", 1);
  EXPECT_EQ(instance.run("world").as<std::string>(), "hello world");
  EXPECT_EQ(instance.run<std::string>(42), "hello 42");

  // A result that does not convert names the function.
  try {
    instance.call<int>("label", "pear", 2);
    ADD_FAILURE() << "no error";
  } catch (const velq::Error &error) {
    EXPECT_EQ(error.code(), velq::Error::Invalid);
    EXPECT_EQ(error.message(), "label: result: expected a number, got string");
  }

  // A cached function handle calls by the same name, and outlives a move of the instance.
  velq::Function price = instance.function("price");
  velq::Instance moved = std::move(instance);
  EXPECT_EQ(price("apple", 2).as<int>(), 6);
  EXPECT_EQ(price.call<int>("pear", 1), 5);
  EXPECT_THROW(instance.call("price", "apple", 1), velq::Error);  // NOLINT(bugprone-use-after-move)
}

TEST(CppInstance, GlobalsPersistAndInstancesAreIndependent) {
  velq::Engine engine;
  velq::Script script = engine.compile(shop, "shop.velq");
  velq::Instance first = script.load();
  velq::Instance second = script.load();
  first.set_global("counter", 0);
  second.set_global("counter", 100);
  for (int i = 0; i < 3; ++i) first.call("bump");
  EXPECT_EQ(first.global("counter").as<int>(), 3);
  EXPECT_EQ(second.call<int>("bump"), 101);
  EXPECT_EQ(first.call<int>("bump"), 4);
  first.set_global("counter", std::vector<int>{});
  EXPECT_TRUE(first.global("counter").is_array());
  EXPECT_THROW(first.global("nosuch"), velq::Error);
}

velq::Error failure(const std::function<void()> &run) {
  try {
    run();
  } catch (const velq::Error &error) {
    return error;
  }
  ADD_FAILURE() << "no error";
  return velq::Error("no error");
}

TEST(CppErrors, CompileErrorsHaveSourceLineAndColumn) {
  velq::Engine engine;
  velq::Error error = failure([&] { engine.compile("sub main() {\n  x = 1\n}\n", "broken.velq"); });
  EXPECT_EQ(error.code(), velq::Error::CompileError);
  EXPECT_EQ(error.message(), "Error in line 3: syntax error, unexpected '}'");
  EXPECT_EQ(error.source(), "broken.velq");
  EXPECT_EQ(error.line(), 3);
  EXPECT_EQ(error.column(), 1);
  EXPECT_STREQ(error.what(), "broken.velq:3: Error in line 3: syntax error, unexpected '}'");

  error = failure([&] { engine.compile_file("/nonexistent/velq/script.velq"); });
  EXPECT_EQ(error.code(), velq::Error::FileError);
}

TEST(CppErrors, RunErrorsNameTheirSubjectAndCallChain) {
  velq::Engine engine;
  velq::Instance instance = engine
                                .compile(
                                    "sub inner(n) {\n"
                                    "  return n % 0;\n"
                                    "}\n"
                                    "sub outer(n) {\n"
                                    "  return inner(n) + 1;\n"
                                    "}\n"
                                    "sub lost() {\n"
                                    "  return nosuch(1);\n"
                                    "}\n",
                                    "chain.velq")
                                .load();
  velq::Error error = failure([&] { instance.call("outer", 5); });
  EXPECT_EQ(error.code(), velq::Error::DivideByZero);
  EXPECT_EQ(error.message(), "Error 9 in line 2: Divide by zero");
  EXPECT_EQ(error.source(), "chain.velq");
  EXPECT_EQ(error.line(), 2);
  ASSERT_GE(error.frames().size(), 2u);
  EXPECT_EQ(error.frames()[0].function, "inner");
  EXPECT_EQ(error.frames()[0].line, 2);
  EXPECT_EQ(error.frames()[1].function, "outer");
  EXPECT_EQ(error.frames()[1].line, 5);
  EXPECT_EQ(std::string(error.what())
                .rfind("chain.velq:2: Error 9 in line 2: Divide by zero\n  at inner (line 2)\n"
                       "  at outer (line 5)",
                       0),
            0u)
      << error.what();

  error = failure([&] { instance.call("lost"); });
  EXPECT_EQ(error.code(), velq::Error::FunctionNotFound);
  EXPECT_EQ(error.subject(), "nosuch");
  EXPECT_NE(std::string(error.what()).find("\n  subject: nosuch"), std::string::npos);

  // A function the script does not have.
  error = failure([&] { instance.call("absent"); });
  EXPECT_EQ(error.code(), velq::Error::FunctionNotFound);
  EXPECT_EQ(error.subject(), "absent");
}

// A host function that calls back into the instance running it is refused: the instance
// serves one call at a time. The refusal reaches the script as error 31.
TEST(CppErrors, AnInstanceServesOneCallAtATime) {
  velq::Engine engine;
  velq::Instance *self = nullptr;
  engine.function("again", [&self]() { return self->call<int>("one"); });
  velq::Instance instance =
      engine.compile("sub one() { return 1; }\nsub twice() { return again(); }\n").load();
  self = &instance;
  velq::Error error = failure([&] { instance.call("twice"); });
  EXPECT_EQ(error.code(), velq::Error::HostException);
  EXPECT_NE(error.detail().find("busy"), std::string::npos) << error.detail();
  EXPECT_EQ(instance.call<int>("one"), 1);
}

TEST(CppErrors, ModuleFilesOffRefusesUse) {
  velq::Engine engine;
  engine.module_files(false);
  velq::Script script = engine.compile("use helper;\nsub main() { return 1; }\n", "user.velq");
  velq::Error error = failure([&] { script.load(); });
  EXPECT_EQ(error.code(), velq::Error::ModuleNotFound);
  EXPECT_EQ(error.subject(), "helper");
  EXPECT_EQ(error.source(), "user.velq");
}

TEST(CppLimits, EachBudgetEndsItsRun) {
  velq::Engine engine;
  velq::Script script = engine.compile(
      "sub spin() { while (1); }\n"
      "sub grow() { s = \"x\"; while (1) s = s . s; }\n"
      "sub count(n) { i = 0; while (i < n) i++; return i; }\n",
      "budget.velq");
  const struct {
    const char *function;
    velq::Limits limits;
    int code;
  } cases[] = {
      {"spin", {100000, std::chrono::milliseconds(0), 0}, velq::Error::StepLimit},
      {"spin", {0, std::chrono::milliseconds(50), 0}, velq::Error::TimeLimit},
      {"grow", {0, std::chrono::milliseconds(0), 1 << 20}, velq::Error::MemoryLimit},
  };
  // In a thread of its own, so that what a budget leaves behind in its thread shows here
  // and not in the tests after it.
  std::thread([&] {
    for (const auto &c : cases) {
      try {
        velq::Instance instance = script.load();
        instance.limits(c.limits);
        velq::Error error = failure([&] { instance.call(c.function); });
        EXPECT_EQ(error.code(), c.code) << c.function;
        // The budgets stay for later calls; a call within them runs, and so do new loads.
        EXPECT_EQ(instance.call<int>("count", 10), 10);
        instance.limits({});
        EXPECT_EQ(instance.call<int>("count", 200000), 200000);
        EXPECT_EQ(script.load().call<int>("count", 3), 3);
      } catch (const velq::Error &error) {
        ADD_FAILURE() << "after " << c.function << ": " << error.what();
      }
    }
  }).join();
}

// A cancel from another thread stops the call in progress with error 30; the instance
// serves the next call. The script reports that it runs through a host function, so the
// cancel cannot come before the call.
TEST(CppLimits, CancelFromAnotherThread) {
  std::atomic<bool> running{false};
  velq::Engine engine;
  engine.function("started", [&running]() { running = true; });
  velq::Instance instance =
      engine.compile("sub spin() { started(); while (1); }\nsub ok() { return 7; }\n").load();
  velq::CancelToken token = instance.cancel_token();
  std::thread canceller([&] {
    while (!running) std::this_thread::yield();
    token.cancel();
  });
  velq::Error error = failure([&] { instance.call("spin"); });
  canceller.join();
  EXPECT_EQ(error.code(), velq::Error::Cancelled);
  EXPECT_EQ(instance.call<int>("ok"), 7);
}

// A token keeps what it cancels alive: cancelling after the instance is gone is safe.
TEST(CppLimits, TokensOutliveTheirInstance) {
  velq::CancelToken token;
  token.cancel();  // an empty token does nothing
  EXPECT_FALSE(token);
  {
    velq::Engine engine;
    velq::Instance instance = engine.compile("1\n").load();
    token = instance.cancel_token();
  }
  EXPECT_TRUE(token);
  token.cancel();
}

TEST(CppScript, CompileFileAndOutput) {
  const std::string path = ::testing::TempDir() + "cpp_script_test.velq";
  std::ofstream(path) << "sub main(a, b) {\n  println a . \"+\" . b;\n  return a + b;\n}\n";
  FILE *output = std::tmpfile();
  ASSERT_NE(output, nullptr);
  velq::Engine engine;
  engine.io(stdin, output);
  EXPECT_EQ(engine.compile_file(path).run(2, "40").as<int>(), 42);
  std::rewind(output);
  char line[64] = {0};
  ASSERT_NE(std::fgets(line, sizeof line, output), nullptr);
  EXPECT_STREQ(line, "2+40\n");
  std::fclose(output);
  std::remove(path.c_str());
}

TEST(CppScript, ToolkitFunctionsOnRequest) {
  velq::Engine plain;
  EXPECT_EQ(failure([&] { plain.compile("Join(Split(\"a,b\", \",\"), \"-\")\n").run(); }).code(),
            velq::Error::FunctionNotFound);
  velq::Engine engine;
  engine.toolkit();
  EXPECT_EQ(engine.compile("Join(Split(\"a,b\", \",\"), \"-\")\n").run().as<std::string>(), "a-b");
}

}  // namespace
