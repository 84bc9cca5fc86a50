// Host functions and host classes of the C++ layer: conversions of arguments and
// results, arity, refused arguments and exceptions at the boundary, attributes and the
// lifetime of the objects a script holds.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "velq.hpp"

namespace {

using velq::Value;

// Runs an expression script and gives its result as text.
std::string evaluate(velq::Engine &engine, const std::string &expression) {
  return engine.compile(expression + "\n", "test.velq").run().to_string();
}

// The error that running the expression ends with.
velq::Error failure(velq::Engine &engine, const std::string &expression) {
  try {
    engine.compile(expression + "\n", "test.velq").run();
  } catch (const velq::Error &error) {
    return error;
  }
  ADD_FAILURE() << expression << ": no error";
  return velq::Error("no error");
}

int twice(int n) { return 2 * n; }

TEST(CppHostFunction, ArgumentsAndResultsConvert) {
  velq::Engine engine;
  int calls = 0;
  engine.function("dist", [](double x, double y) { return std::sqrt(x * x + y * y); })
      .function("twice", twice)
      .function("shout", std::function<std::string(std::string_view)>(
                             [](std::string_view s) { return std::string(s) + "!"; }))
      .function("split",
                [](const std::string &text) {
                  std::vector<std::string> words;
                  size_t start = 0, space;
                  while ((space = text.find(' ', start)) != std::string::npos) {
                    words.push_back(text.substr(start, space - start));
                    start = space + 1;
                  }
                  words.push_back(text.substr(start));
                  return words;
                })
      .function("sum",
                [](const std::vector<int64_t> &numbers) {
                  int64_t total = 0;
                  for (int64_t n : numbers) total += n;
                  return total;
                })
      .function("keys",
                [](std::map<int32_t, Value> elements) {
                  std::string keys;
                  for (const auto &[index, element] : elements) keys += std::to_string(index) + ";";
                  return keys;
                })
      .function("orDefault", [](std::optional<int> n) { return n.value_or(-1); })
      .function("kind", [](const Value &v) { return v.type_name(); })
      .function("negate", [](bool b) { return !b; })
      .function("count", [&calls]() mutable { return ++calls; })
      .function("nothing", [](int) {})
      .function("same", [](Value v) { return v; })
      .function("describe", [](const std::vector<Value> &arguments) {
        std::string text = std::to_string(arguments.size());
        for (const Value &argument : arguments) text += " " + argument.type_name();
        return text;
      });

  const struct {
    const char *script;
    const char *result;
  } cases[] = {
      {"dist(3, 4)", "5.000000"},
      {"dist(\"3\", 4.0)", "5.000000"},  // text that reads as a number is a number
      {"twice(21)", "42"},
      {"shout(12)", "12!"},  // a number's text form
      {"split(\"a bc d\")[1]", "bc"},
      {"typeof(split(\"a b\"))", "array"},
      {"sum(split(\"1 2 39\"))", "42"},
      {"keys(split(\"x y z\"))", "0;1;2;"},
      {"orDefault(null)", "-1"},
      {"orDefault(5)", "5"},
      {"kind(split(\"\"))", "array"},
      {"kind(1.5)", "real"},
      {"negate(0)", "1"},
      {"count() . count()", "12"},
      {"typeof(nothing(1))", "null"},
      {"same(\"0x1F\") + 1", "32"},
      {"describe()", "0"},
      {"describe(1, \"a\", null, split(\"x\"))", "4 int32 string null array"},
  };
  for (const auto &c : cases) EXPECT_EQ(evaluate(engine, c.script), c.result) << c.script;
  // The engine's copy of the lambda holds the reference it captured.
  EXPECT_EQ(calls, 2);
}

TEST(CppHostFunction, WrongArgumentCountIsErrorTwelveNamingTheFunction) {
  velq::Engine engine;
  engine.function("dist", [](double x, double y) { return x + y; });
  const char *calls[] = {"dist(1)", "dist(1, 2, 3)", "dist()"};
  for (const char *call : calls) {
    velq::Error error = failure(engine, call);
    EXPECT_EQ(error.code(), velq::Error::WrongArgumentCount) << call;
    EXPECT_NE(error.subject().find("dist"), std::string::npos) << call << ": " << error.subject();
    EXPECT_EQ(error.line(), 1) << call;
  }
}

// An argument that does not convert ends the run with error 31; the detail names the
// function, the argument's position and what was wanted.
TEST(CppHostFunction, RefusedArgumentsNameTheFunctionAndPosition) {
  struct Point {
    int x = 0;
  };
  velq::Engine engine;
  engine.type<Point>("Point");
  engine.function("dist", [](double x, double y) { return x + y; })
      .function("small", [](uint8_t n) { return n; })
      .function("name", [](const std::string &s) { return s; })
      .function("numbers", [](const std::vector<int> &v) { return v.size(); })
      .function("move", [](Point &p, int dx) { p.x += dx; })
      .function("split", [](const std::string &s) {
        return std::vector<std::string>{s, s};
      });
  const struct {
    const char *script;
    const char *detail;
  } cases[] = {
      {"dist(1, split(\"x\"))", "dist: argument 2: expected a number, got array"},
      {"dist(\"a\", 1)", "dist: argument 1: expected a number, got string"},
      {"dist(null, null)", "dist: argument 1: expected a number, got null"},
      {"small(256)", "small: argument 1: expected a whole number from 0 to 255, got 256"},
      {"small(1.5)", "small: argument 1: expected a whole number from 0 to 255, got 1.500000"},
      {"name(split(\"x\"))", "name: argument 1: expected a text, got array"},
      {"numbers(split(\"a\"))", "numbers: argument 1: element 0: expected a number, got string"},
      {"move(1, 2)", "move: argument 1: expected a Point object, got int32"},
      {"move(gmtime(0), 2)", "move: argument 1: expected a Point object, got a TIME object"},
  };
  for (const auto &c : cases) {
    velq::Error error = failure(engine, c.script);
    EXPECT_EQ(error.code(), velq::Error::HostException) << c.script;
    EXPECT_EQ(error.detail(), c.detail) << c.script;
    EXPECT_NE(std::string(error.what()).find(c.detail), std::string::npos) << error.what();
  }
}

// No exception crosses the engine: each becomes error 31 with its text, and the engine
// and the instance go on working.
TEST(CppHostFunction, ExceptionsBecomeErrorThirtyOne) {
  velq::Engine engine;
  engine.function("fail", [](int kind) -> int {
    if (kind == 1) throw std::runtime_error("the door is locked");
    if (kind == 2) throw velq::Error("no such account: 7");
    if (kind == 3) throw 42;
    if (kind == 4) throw std::bad_alloc();
    return kind;
  });
  const struct {
    int kind;
    const char *detail;
  } cases[] = {
      {1, "the door is locked"},
      {2, "no such account: 7"},
      {3, "an exception that is no std::exception"},
      {4, "std::bad_alloc"},
  };
  velq::Instance instance =
      engine.compile("sub main(kind) {\n  return fail(kind) + 1;\n}\n", "fail.velq").load();
  for (const auto &c : cases) {
    try {
      instance.run(c.kind);
      ADD_FAILURE() << c.kind << ": no error";
    } catch (const velq::Error &error) {
      EXPECT_EQ(error.code(), velq::Error::HostException);
      EXPECT_EQ(error.detail(), c.detail);
      EXPECT_EQ(error.line(), 2);
      EXPECT_EQ(error.source(), "fail.velq");
    }
    EXPECT_EQ(instance.run(0).as<int>(), 1);  // the instance runs normally after it
  }
}

// A host function may call into another instance; its error comes back as the outer
// run's error 31 with the inner error's whole text.
TEST(CppHostFunction, ErrorsOfNestedRunsReachTheOuterRun) {
  velq::Engine inner;
  velq::Instance helper =
      inner.compile("sub half(n) {\n  return n % 0;\n}\n", "helper.velq").load();
  velq::Engine outer;
  outer.function("half", [&helper](int n) { return helper.call<int>("half", n); });
  velq::Error error = failure(outer, "half(4)");
  EXPECT_EQ(error.code(), velq::Error::HostException);
  EXPECT_NE(error.detail().find("helper.velq:2: Error 9 in line 2: Divide by zero"),
            std::string::npos)
      << error.detail();
}

// Counts the live copies of a host object, so a test sees each destroyed exactly once.
struct Tracked {
  static int live;
  int id = 0;
  std::string label;
  explicit Tracked(int id = 0) : id(id) { ++live; }
  Tracked(const Tracked &other) : id(other.id), label(other.label) { ++live; }
  Tracked(Tracked &&other) noexcept : id(other.id), label(std::move(other.label)) { ++live; }
  ~Tracked() { --live; }
  Tracked &operator=(const Tracked &) = default;
  int twice() const { return 2 * id; }
  void setLabel(const std::string &text) { label = "<" + text + ">"; }
};
int Tracked::live = 0;

class CppHostClass : public ::testing::Test {
 protected:
  void SetUp() override {
    Tracked::live = 0;
    engine.type<Tracked>("Tracked")
        .attribute("id", &Tracked::id)
        .attribute("twice", &Tracked::twice)
        .attribute("negative", [](const Tracked &t) { return -t.id; })
        .attribute("label", &Tracked::label, &Tracked::setLabel)
        .attribute(
            "upper", [](const Tracked &t) { return t.label; },
            [](Tracked &t, std::string text) {
              for (char &c : text) c = static_cast<char>(std::toupper(c));
              t.label = text;
            })
        .attribute("broken", [](const Tracked &) -> int { throw std::runtime_error("no"); });
    engine.function("make", [](int id) { return Tracked(id); })
        .function("bump", [](Tracked &t, int by) { t.id += by; })
        .function("peek", [](const Tracked &t) { return t.id; })
        .function("maybe", [](Tracked *t) { return t ? t->id : -1; })
        .function("copyOf", [](Tracked t) {
          t.id = 0;
          return t.id;
        });
  }
  velq::Engine engine;
};

TEST_F(CppHostClass, AttributesReadAndWrite) {
  const struct {
    const char *script;
    const char *result;
  } cases[] = {
      {"make(7)->id", "7"},
      {"make(7)->twice", "14"},
      {"make(7)->negative", "-7"},
      {"typeof(make(1)) . \" \" . classof(make(1))", "object Tracked"},
      {"sub main() { t = make(1); t->id = \"41\"; bump(t, 1); return t->id; }", "42"},
      {"sub main() { t = make(1); t->label = \"x\"; return t->label; }", "<x>"},
      {"sub main() { t = make(1); t->upper = \"abc\"; return t->label; }", "ABC"},
      {"sub main() { t = make(3); u = t; bump(u, 1); return t->id; }", "4"},  // one object
      {"peek(make(5))", "5"},
      {"maybe(make(5)) . maybe(null)", "5-1"},
      {"sub main() { t = make(5); copyOf(t); return t->id; }", "5"},  // by value: a copy
  };
  for (const auto &c : cases) {
    EXPECT_EQ(evaluate(engine, c.script), c.result) << c.script;
    EXPECT_EQ(Tracked::live, 0) << c.script;
  }
}

TEST_F(CppHostClass, RefusedAttributesAreErrorFifteen) {
  const char *scripts[] = {
      "make(1)->nosuch",
      "sub main() { t = make(1); t->nosuch = 1; }",
      "sub main() { t = make(1); t->twice = 1; }",   // read-only
      "sub main() { t = make(1); t->id = \"x\"; }",  // not a number
      "sub main() { t = make(1); t->id = 1.5; }",    // not whole
      "make(1)->broken",                             // the getter threw
  };
  for (const char *script : scripts) {
    velq::Error error = failure(engine, script);
    EXPECT_EQ(error.code(), velq::Error::UnknownAttribute) << script;
    EXPECT_EQ(Tracked::live, 0) << script;
  }
}

TEST_F(CppHostClass, ObjectsLiveWhileAScriptOrTheHostHoldsThem) {
  velq::Instance instance = engine
                                .compile(
                                    "sub make2(id) { return make(id); }\n"
                                    "sub id(t) { return t->id; }\n"
                                    "sub keep(t) { kept = t; }\n",
                                    "keep.velq")
                                .load();
  instance.set_global("kept", nullptr);
  {
    Value object = instance.call("make2", 9);
    EXPECT_EQ(Tracked::live, 1);
    EXPECT_EQ(object.to_string(), "object Tracked");
    EXPECT_EQ(instance.call<int>("id", object), 9);
    instance.call("keep", object);  // a global holds it too
  }
  EXPECT_EQ(Tracked::live, 1);
  EXPECT_EQ(instance.global("kept").to_string(), "object Tracked");
  instance.set_global("kept", 0);
  EXPECT_EQ(Tracked::live, 0);

  // An object the host makes, passed in as an argument.
  EXPECT_EQ(instance.call<int>("id", Tracked(3)), 3);
  EXPECT_EQ(instance.call<int>("id", engine.object(Tracked(4))), 4);
  EXPECT_EQ(Tracked::live, 0);
}

// A value holding an object may outlive the engine, its script and its instance.
TEST(CppHostClassLifetime, ObjectsOutliveTheEngine) {
  Tracked::live = 0;
  Value object;
  {
    velq::Engine engine;
    engine.type<Tracked>("Tracked").attribute("id", &Tracked::id);
    engine.function("make", [](int id) { return Tracked(id); });
    object = engine.compile("make(6)\n").run();
  }
  EXPECT_EQ(Tracked::live, 1);
  object = Value();
  EXPECT_EQ(Tracked::live, 0);
}

}  // namespace
