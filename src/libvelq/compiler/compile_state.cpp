// The compiler object: first-error recording and the bookkeeping of loops and switches.
#include "compile_state.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korvat.h"
#include "lexer.h"
#include "velq_instruction.h"
#include "velq_program.h"
#include "velq_stack.h"

// Addresses travel through the stacks and queues cast to pointers. The address
// stack tells an empty stack from an entry 0 by its size; a queue returns null
// when it is empty, so its entries are stored as address + 1.
static void *addressItem(uint32_t address) { return (void *)(uintptr_t)address; }
static uint32_t itemAddress(void *item) { return (uint32_t)(uintptr_t)item; }
static void *queueItem(uint32_t address) { return (void *)((uintptr_t)address + 1); }
static uint32_t queueAddress(void *item) { return (uint32_t)((uintptr_t)item - 1); }

VELQ_CompileState::VELQ_CompileState()
    : errorText(nullptr),
      lexer(nullptr),
      addrStack(new VELQ_Stack()),
      breakStack(new VELQ_Stack()),
      idListOpcode(OP_BIND) {}

VELQ_CompileState::~VELQ_CompileState() {
  free(errorText);
  delete lexer;
  delete addrStack;
  // A parse that failed inside a loop or switch leaves its queues behind.
  while (breakStack->getSize() > 0) delete static_cast<Queue *>(breakStack->pop());
  delete breakStack;
}

void VELQ_CompileState::error(const char *message) {
  if (errorText) return;
  char text[VELQ_COMPILE_MESSAGE_SIZE];
  snprintf(text, sizeof text, "Error in line %d: %s", lexer ? (int)lexer->currentLine : 0,
           message ? message : "");
  errorText = VELQ_CopyText(text, strlen(text));
}

void VELQ_CompileState::pushAddr(uint32_t address) {
  addrStack->push(addressItem(address));
  openSwitches.push_back(0);
}

uint32_t VELQ_CompileState::popAddr() {
  if (addrStack->getSize() == 0) return VELQ_NO_ADDRESS;
  if (openSwitches.size() > 1) openSwitches.pop_back();
  return itemAddress(addrStack->pop());
}

void VELQ_CompileState::enterSwitch() { openSwitches.back()++; }

void VELQ_CompileState::leaveSwitch() {
  if (openSwitches.back() > 0) openSwitches.back()--;
}

uint32_t VELQ_CompileState::switchesInLoop() const { return openSwitches.back(); }

uint32_t VELQ_CompileState::switchesOpen() const {
  uint32_t total = 0;
  for (uint32_t count : openSwitches) total += count;
  return total;
}

uint32_t VELQ_CompileState::peekAddr() const {
  return addrStack->getSize() > 0 ? itemAddress(addrStack->peek()) : VELQ_NO_ADDRESS;
}

bool VELQ_CompileState::inLoop() const { return addrStack->getSize() > 0; }

void VELQ_CompileState::openBreakScope() { breakStack->push(new Queue()); }

bool VELQ_CompileState::inBreakScope() const { return breakStack->getSize() > 0; }

void VELQ_CompileState::addBreakAddr(uint32_t address) {
  if (breakStack->getSize() == 0) return;
  static_cast<Queue *>(breakStack->peek())->Put(queueItem(address));
}

void VELQ_CompileState::closeBreakScope(VELQ_Program *program) {
  if (breakStack->getSize() == 0) return;
  Queue *queue = static_cast<Queue *>(breakStack->pop());
  for (void *item = queue->Get(); item; item = queue->Get())
    program->createJumpAt(queueAddress(item), program->getCodeSize());
  delete queue;
}
