/* What libvelq and libkorvat export. Both are built with hidden visibility, so that only
 * the names the public headers declare reach a host; every class and function declared
 * in a public header carries VELQ_API. A host sees the same attribute on the same
 * declarations, which keeps the classes' typeinfo and vtables one object shared with the
 * library even when the host itself builds with hidden visibility. The library's own
 * sources are compiled with VELQ_BUILDING_LIBRARY defined. Plain C, for velq_c.h. */
#ifndef VELQ_EXPORT_H
#define VELQ_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define VELQ_API __attribute__((visibility("default")))
#else
#define VELQ_API
#endif

#endif
