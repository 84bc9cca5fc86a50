// The handlers of the toolkit functions (see velq_toolkit.h), for the table that
// registers them and for tests that call them directly.
#ifndef VELQ_TOOLKIT_FUNCTIONS_H
#define VELQ_TOOLKIT_FUNCTIONS_H

#include "builtins.h"
#include "velq_toolkit.h"

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

// Numbers.
VELQ_HANDLER(velqFloor);
VELQ_HANDLER(velqCeil);
VELQ_HANDLER(velqSqrt);
VELQ_HANDLER(velqRound);
VELQ_HANDLER(velqFormat);

// A whole number d as the value text reading would make of it: an int32 from
// -2147483647 to 2147483647, else an int64; a real beyond the int64 range (or not
// finite) stays the real it is. Null when memory is refused.
VELQ_Value *velqToolkitWholeNumber(double d);

// A new string value holding length bytes of text, read as a number when it is one,
// as the counted text constructor makes it; null when memory is refused.
VELQ_Value *velqToolkitText(const char *text, size_t length);

#endif
