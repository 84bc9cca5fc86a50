// Merging modules into programs: relocation of the copied code, the module table, the
// clean-up after a run, and modules taken from a library shared between threads.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "test_access.h"
#include "program_builder.h"
#include "velq.h"

namespace {

using velq_test::buildProgram;
using velq_test::Fn;
using velq_test::Op;
using velq_test::ProgramPtr;

// A program of 20 instructions: main calls "modfn" by name and returns what it gives.
// The padding returns, so that a jump of the module left pointing into this code ends
// the call with a wrong result instead of looping.
ProgramPtr user20() {
  std::vector<Op> code = {{OP_CALL_EXT, "modfn", 0}, {OP_RET}};
  while (code.size() < 20) code.push_back({OP_NRET});
  return buildProgram(code);
}

// A module of 10 instructions with one jump, call and conditional jump of each kind,
// a call by name and a constant. modfn (at 0) returns 42 through helper (at 7).
VELQ_Program *module10() {
  ProgramPtr m = buildProgram(
      {
          {OP_JMP, 4},                // 0
          {OP_NOP},                   // 1
          {OP_JZ, 1},                 // 2 (not reached)
          {OP_JNZ, 2},                // 3 (not reached)
          {OP_CALL, 7, 0},            // 4
          {OP_RET},                   // 5
          {OP_CALL_EXT, "other", 1},  // 6 (not reached)
          {OP_PUSH_CONST, 42},        // 7: helper
          {OP_RET},                   // 8
          {OP_JMP, -1},               // 9: an unresolved jump (not reached)
      },
      {{"modfn", 0}, {"helper", 7}});
  return m.release();
}

TEST(Modules, TenInstructionsMergedIntoTwentyAreRelocatedIntoTheCopy) {
  ProgramPtr program = user20();
  ProgramPtr module(module10());
  program->useModule(module.get(), "mod");

  ASSERT_EQ(program->getCodeSize(), 30u);
  struct Expected {
    unsigned long address;
    int opCode;
    uint32_t target;
  };
  const Expected jumps[] = {{20, OP_JMP, 24},
                            {22, OP_JZ, 21},
                            {23, OP_JNZ, 22},
                            {24, OP_CALL, 27},
                            {29, OP_JMP, VELQ_NO_ADDRESS}};
  for (const Expected &e : jumps) {
    VELQ_Instruction *ins = program->getInstruction(e.address);
    EXPECT_EQ(ins->opCode, e.opCode) << "at " << e.address;
    EXPECT_EQ(ins->operand.address, e.target) << "at " << e.address;
  }
  for (unsigned long a = 0; a < 10; a++) {
    VELQ_Instruction *copy = program->getInstruction(20 + a);
    VELQ_Instruction *original = module->getInstruction(a);
    EXPECT_NE(copy, original);
    EXPECT_EQ(copy->opCode, original->opCode);
    EXPECT_EQ(copy->intOperand, original->intOperand);
  }
  VELQ_Instruction *byName = program->getInstruction(26);
  EXPECT_STREQ(byName->operand.name, "other");
  EXPECT_NE(byName->operand.name, module->getInstruction(6)->operand.name);
  EXPECT_NE(program->getInstruction(27)->operand.value, module->getInstruction(7)->operand.value);

  // The module itself is only read.
  EXPECT_EQ(module->getCodeSize(), 10u);
  EXPECT_EQ(module->getInstruction(0)->operand.address, 4u);
  EXPECT_EQ(module->getFunction(0)->address, 0u);

  ASSERT_EQ(program->getFunctionCount(), 3u);
  EXPECT_STREQ(program->getFunction(1)->name, "modfn");
  EXPECT_EQ(program->getFunction(1)->address, 20u);
  EXPECT_STREQ(program->getFunction(2)->name, "helper");
  EXPECT_EQ(program->getFunction(2)->address, 27u);

  ASSERT_EQ(velq_test::moduleCountOf(program), 1u);
  const VELQ_Module *record = velq_test::moduleOf(program, 0);
  EXPECT_STREQ(record->name, "mod");
  EXPECT_EQ(record->codeStart, 20u);
  EXPECT_EQ(record->codeCount, 10u);
  EXPECT_EQ(record->functionStart, 1u);
  EXPECT_EQ(record->functionCount, 2u);
}

TEST(Modules, ANameMergedAlreadyIgnoringCaseChangesNothing) {
  ProgramPtr program = user20();
  ProgramPtr module(module10());
  program->useModule(module.get(), "Tools");
  program->useModule(module.get(), "TOOLS");
  program->useModule(module.get(), "tools");
  EXPECT_EQ(program->getCodeSize(), 30u);
  EXPECT_EQ(velq_test::moduleCountOf(program), 1u);
  program->useModule(module.get(), "tools2");  // another name merges again
  EXPECT_EQ(program->getCodeSize(), 40u);
  EXPECT_EQ(velq_test::moduleCountOf(program), 2u);
  EXPECT_EQ(velq_test::moduleOf(program, 1)->codeStart, 30u);
  EXPECT_EQ(velq_test::moduleOf(program, 1)->functionStart, 3u);
  EXPECT_EQ(program->getInstruction(30)->operand.address, 34u);
}

TEST(Modules, ALongNameIsRecordedCutAndStillMergesOnce) {
  ProgramPtr program = user20();
  ProgramPtr module(module10());
  std::string name(400, 'm');
  program->useModule(module.get(), name.c_str());
  program->useModule(module.get(), name.c_str());
  ASSERT_EQ(velq_test::moduleCountOf(program), 1u);
  EXPECT_EQ(strlen(velq_test::moduleOf(program, 0)->name), 259u);
  EXPECT_EQ(program->getCodeSize(), 30u);
}

TEST(Modules, AProgramCanMergeItselfAndAnEmptyModule) {
  ProgramPtr program = user20();
  program->useModule(program.get(), "self");
  EXPECT_EQ(program->getCodeSize(), 40u);
  EXPECT_EQ(program->getFunctionCount(), 2u);
  EXPECT_EQ(program->getFunction(1)->address, 20u);

  VELQ_Program empty;
  program->useModule(&empty, "empty");
  EXPECT_EQ(program->getCodeSize(), 40u);
  EXPECT_EQ(velq_test::moduleCountOf(program), 2u);
  program->useModule(nullptr, "none");
  program->useModule(&empty, nullptr);
  EXPECT_EQ(velq_test::moduleCountOf(program), 2u);
}

// A library that holds module10 as "mod", and an environment that uses it.
VELQ_Environment *environmentWith(VELQ_Library *library) {
  VELQ_Environment *env = new VELQ_Environment();
  env->setLibrary(library);
  return env;
}

TEST(Modules, ARunMergesFromTheLibraryAndRestoresTheProgramAfterwards) {
  VELQ_Library library;
  library.addScript(1, "Mod", module10());
  ProgramPtr program = user20();
  program->addPreload(strdup("mod"));  // the library's name differs in case only
  program->addPreload(strdup("MOD"));  // the same module again
  for (int run = 0; run < 2; run++) {
    velq_test::RunOptions options;
    options.environment = environmentWith(&library);
    velq_test::RunOutcome out = velq_test::runProgram(program.get(), options);
    EXPECT_EQ(out.rc, 0) << out.error;
    EXPECT_EQ(out.result, "42");
    EXPECT_EQ(program->getCodeSize(), 20u);
    EXPECT_EQ(program->getFunctionCount(), 1u);
    EXPECT_EQ(velq_test::moduleCountOf(program), 0u);
  }
  EXPECT_EQ(library.findScript("mod")->getCodeSize(), 10u);
}

TEST(Modules, AModuleThatCannotBeFoundStopsTheRunWithError16) {
  char dir[] = "/tmp/velq_modules_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir), 0);  // no module files here

  VELQ_Library library;
  library.addScript(1, "mod", module10());
  ProgramPtr program = user20();
  program->addPreload(strdup("mod"));
  program->addPreload(strdup("missing_module"));
  velq_test::RunOptions options;
  options.environment = environmentWith(&library);
  velq_test::RunOutcome out = velq_test::runProgram(program.get(), options);
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 16 in line 0: Requested module not found or cannot be loaded");
  EXPECT_EQ(program->getCodeSize(), 20u);  // the module merged before is dropped
  EXPECT_EQ(program->getFunctionCount(), 1u);
  EXPECT_EQ(velq_test::moduleCountOf(program), 0u);

  // Without a library the lookup goes to files only.
  ProgramPtr alone = user20();
  alone->addPreload(strdup("mod"));
  out = velq_test::runProgram(alone.get());
  EXPECT_EQ(out.rc, -1);
  EXPECT_EQ(out.error, "Error 16 in line 0: Requested module not found or cannot be loaded");

  ASSERT_EQ(chdir(previous), 0);
  rmdir(dir);
}

// Writes a file; false when it cannot be written.
bool writeFile(const std::string &path, const char *text) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  fputs(text, f);
  return fclose(f) == 0;
}

// A module file is named "NAME.velq", cut to 259 characters: a name of 254 characters
// reads the whole file name, a longer one the cut name. The name may hold a folder.
TEST(Modules, AModuleFileNameIsCutTo259Characters) {
  char dir[] = "/tmp/velq_modules_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  std::string folder(120, 'd');
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  const char *module = "sub f() { return 1; }";
  std::string exact = folder + "/" + std::string(133, 'e');   // 254 characters
  std::string longer = folder + "/" + std::string(134, 'l');  // 255 characters
  std::string cutFile = longer + ".vel";                      // its file name, cut
  ASSERT_EQ(exact.size() + strlen(".velq"), 259u);
  ASSERT_TRUE(writeFile(exact + ".velq", module));
  ASSERT_TRUE(writeFile(cutFile, module));
  ASSERT_TRUE(writeFile("broken.velq", "sub f( {"));

  VELQ_Environment env;
  ProgramPtr program = user20();
  EXPECT_EQ(env.useModule(program.get(), exact.c_str()), 1);
  EXPECT_EQ(env.useModule(program.get(), longer.c_str()), 1);
  EXPECT_EQ(velq_test::moduleCountOf(program), 2u);
  EXPECT_EQ(env.useModule(program.get(), "broken"), 0);
  EXPECT_EQ(env.useModule(program.get(), "absent"), 0);
  EXPECT_EQ(env.useModule(program.get(), nullptr), 0);
  EXPECT_EQ(env.useModule(nullptr, "absent"), 0);
  EXPECT_EQ(velq_test::moduleCountOf(program), 2u);

  unlink("broken.velq");
  unlink(cutFile.c_str());
  unlink((exact + ".velq").c_str());
  rmdir(folder.c_str());
  ASSERT_EQ(chdir(previous), 0);
  rmdir(dir);
}

// Only regular files are read as modules: a FIFO of the module's name would make the
// load wait for a writer without end, and a folder or a device holds no script. Should
// the load wait all the same, the test writes a module into the FIFO to release it, so
// that it fails instead of hanging.
TEST(Modules, OnlyARegularFileIsReadAsAModule) {
  char dir[] = "/tmp/velq_modules_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  ASSERT_EQ(mkfifo("pipe.velq", 0600), 0);
  ASSERT_EQ(mkdir("folder.velq", 0700), 0);
  ASSERT_EQ(symlink("/dev/zero", "device.velq"), 0);
  ASSERT_TRUE(writeFile("real.velq", "sub f() { return 1; }"));
  ASSERT_EQ(symlink("real.velq", "linked.velq"), 0);

  const struct {
    const char *name;
    int result;
  } cases[] = {{"pipe", 0}, {"folder", 0}, {"device", 0}, {"real", 1}, {"linked", 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ProgramPtr program = user20();
    VELQ_Environment env;
    auto loading =
        std::async(std::launch::async, [&] { return env.useModule(program.get(), c.name); });
    if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the load waits for the FIFO";
      FILE *writer = fopen("pipe.velq", "w");
      if (writer) {
        fputs("sub f() { return 1; }", writer);
        fclose(writer);
      }
    }
    EXPECT_EQ(loading.get(), c.result);
  }

  unlink("linked.velq");
  unlink("real.velq");
  unlink("device.velq");
  rmdir("folder.velq");
  unlink("pipe.velq");
  ASSERT_EQ(chdir(previous), 0);
  rmdir(dir);
}

// Two threads run programs whose modules come from one library while a third changes
// the library; everyone holds the library's mutex around what they do with it.
TEST(Modules, ALibrarySharedByThreadsUnderItsMutex) {
  VELQ_Library library;
  library.addScript(1, "mod", module10());
  const int runs = 100;
  std::atomic<int> good{0};
  auto runner = [&] {
    ProgramPtr program = user20();
    program->addPreload(strdup("mod"));
    for (int i = 0; i < runs; i++) {
      library.lock();
      velq_test::RunOptions options;
      options.environment = environmentWith(&library);
      velq_test::RunOutcome out = velq_test::runProgram(program.get(), options);
      library.unlock();
      if (out.rc == 0 && out.result == "42" && program->getCodeSize() == 20u) good++;
    }
  };
  std::thread a(runner), b(runner);
  std::thread changer([&] {
    for (int i = 0; i < runs; i++) {
      std::string name = "extra" + std::to_string(i);
      library.lock();
      library.addScript(100 + i, name.c_str(), module10());
      if (i % 2) library.deleteScript(name.c_str());
      library.unlock();
    }
  });
  a.join();
  b.join();
  changer.join();
  EXPECT_EQ(good, 2 * runs);
  EXPECT_EQ(library.getCount(), 1u + runs / 2);
  EXPECT_EQ(library.findScript("mod")->getCodeSize(), 10u);
}

}  // namespace
