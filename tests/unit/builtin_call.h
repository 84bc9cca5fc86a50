// Test helper: calls a built-in handler directly with hand-made arguments and reports
// what it returned, without a compiler or a running program.
//
//   BuiltinOutcome out = callBuiltin(velqLeft, {str("abc"), i32(5)});
//   EXPECT_EQ(out.text, "abc  ");
#ifndef VELQ_TEST_BUILTIN_CALL_H
#define VELQ_TEST_BUILTIN_CALL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtins/builtins.h"
#include "program_builder.h"

namespace velq_test {

// A counted text with its zero bytes, as a std::string literal would drop them.
inline Const bytes(const std::string &s) { return text(s.data(), (uint32_t)s.size()); }

struct BuiltinOutcome {
  int rc = 0;           // the handler's return code
  bool stored = false;  // whether the handler stored a result
  int type = -1;        // the result's type code, -1 without a result
  std::string text;     // valueText of the result
};

// Builds the arguments, calls the handler and destroys the arguments and the result.
// A handler that fails must leave the result slot as it was.
inline BuiltinOutcome callBuiltin(VELQ_ExtFunctionHandler handler, const std::vector<Const> &args,
                                  VELQ_Program *program = nullptr) {
  std::vector<VELQ_Value *> argv;
  for (const Const &c : args) argv.push_back(c.make());
  VELQ_Value *result = nullptr;
  BuiltinOutcome out;
  out.rc = handler((int32_t)argv.size(), argv.empty() ? nullptr : argv.data(), &result, program);
  out.stored = result != nullptr;
  if (result) {
    out.type = result->getDataType();
    out.text = valueText(result);
    delete result;
  }
  for (VELQ_Value *v : argv) delete v;
  return out;
}

// One row of a table of calls: what is called and what must come back. A row with an
// error code expects no result; a row with code 0 or -1 expects a result of that type
// and, unless anyText is set, that text.
struct BuiltinCase {
  const char *label;
  VELQ_ExtFunctionHandler handler;
  std::vector<Const> args;
  int rc;
  int type;
  std::string text;
  bool anyText = false;
};

inline BuiltinCase fails(const char *label, VELQ_ExtFunctionHandler handler,
                         std::vector<Const> args, int code) {
  return {label, handler, std::move(args), code, -1, std::string()};
}

inline BuiltinCase gives(const char *label, VELQ_ExtFunctionHandler handler,
                         std::vector<Const> args, int type, std::string text) {
  return {label, handler, std::move(args), 0, type, std::move(text)};
}

inline void checkCases(const std::vector<BuiltinCase> &cases) {
  for (const BuiltinCase &c : cases) {
    SCOPED_TRACE(c.label);
    BuiltinOutcome out = callBuiltin(c.handler, c.args);
    EXPECT_EQ(out.rc, c.rc);
    if (c.rc != 0 && c.rc != -1) {
      EXPECT_FALSE(out.stored) << "a failing handler stored a result";
      continue;
    }
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(VELQ_TypeName(out.type), std::string(VELQ_TypeName(c.type)));
    if (!c.anyText) {
      EXPECT_EQ(out.text, c.text);
    }
  }
}

}  // namespace velq_test

#endif
