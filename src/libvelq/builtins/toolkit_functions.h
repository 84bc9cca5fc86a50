// The handlers of the toolkit functions (see velq_toolkit.h), for the table that
// registers them and for tests that call them directly.
#ifndef VELQ_TOOLKIT_FUNCTIONS_H
#define VELQ_TOOLKIT_FUNCTIONS_H

#include "builtins.h"
#include "velq_toolkit.h"

class VELQ_Array;

// Input.
VELQ_HANDLER(velqReadLine);
VELQ_HANDLER(velqReadFile);
VELQ_HANDLER(velqArgCount);

// Arrays and texts.
VELQ_HANDLER(velqCount);
VELQ_HANDLER(velqKeys);
VELQ_HANDLER(velqSplit);
VELQ_HANDLER(velqJoin);
VELQ_HANDLER(velqReplace);

VELQ_HANDLER(velqFields);
VELQ_HANDLER(velqSameText);
VELQ_HANDLER(velqSort);
VELQ_HANDLER(velqOrder);

// Command-line scripts: arguments, standard error, the environment, writing files.
VELQ_HANDLER(velqArg);
VELQ_HANDLER(velqArgs);
VELQ_HANDLER(velqPrintError);
VELQ_HANDLER(velqGetEnv);
VELQ_HANDLER(velqWriteFile);
VELQ_HANDLER(velqAppendFile);

// Maps from texts to values.
VELQ_HANDLER(velqMap);
VELQ_HANDLER(velqMapSet);
VELQ_HANDLER(velqMapGet);
VELQ_HANDLER(velqMapHas);
VELQ_HANDLER(velqMapAdd);
VELQ_HANDLER(velqMapRemove);
VELQ_HANDLER(velqMapKeys);
VELQ_HANDLER(velqMapValues);

// UTF-8 texts.
VELQ_HANDLER(velqUtf8Length);
VELQ_HANDLER(velqUtf8Substr);
VELQ_HANDLER(velqUtf8Upper);
VELQ_HANDLER(velqUtf8Lower);

// Numbers.
VELQ_HANDLER(velqFloor);
VELQ_HANDLER(velqCeil);
VELQ_HANDLER(velqSqrt);
VELQ_HANDLER(velqRound);
VELQ_HANDLER(velqFormat);

// The number of entries of the map a value holds, for Count; *isMap tells whether it
// holds one.
uint32_t velqToolkitMapCount(VELQ_Value *value, bool *isMap);

// A whole number d as the value text reading would make of it: an int32 from
// -2147483647 to 2147483647, else an int64; a real beyond the int64 range (or not
// finite) stays the real it is. Null when memory is refused.
VELQ_Value *velqToolkitWholeNumber(double d);

// The text form of a value with one, not zero-terminated; the empty text for a value
// without (null, and an object or array, which callers refuse first).
const char *velqToolkitTextOf(VELQ_Value *value, uint32_t *length);

// Stores value at index of array, which takes it: false, with the value deleted, when
// value is null or memory for the slot is refused.
bool velqToolkitStore(VELQ_Array *array, int32_t index, VELQ_Value *value);

// The result holding a new array: 0, or error 29 (with the array deleted) when memory
// is refused.
int32_t velqToolkitArrayResult(VELQ_Array *array, VELQ_Value **result);

// A new string value holding length bytes of text, read as a number when it is one,
// as the counted text constructor makes it; null when memory is refused.
VELQ_Value *velqToolkitText(const char *text, size_t length);

#endif
