// The copy of a value that a variable or an array element stores.
#ifndef VELQ_DEEP_COPY_H
#define VELQ_DEEP_COPY_H

class VELQ_Value;

// A new copy of source, except that an array value gets a copy of its array at every
// level of nesting, so that the store never shares an array with the source. Null when
// memory for the copy is refused; a copy whose nested parts could not all get memory is
// incomplete, and the allocation failure is noted for the run.
VELQ_Value *velqStoredCopy(const VELQ_Value *source);

#endif
