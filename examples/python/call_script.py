#!/usr/bin/env python3
"""Calls a velq script function from Python through the C interface, with ctypes.

    python3 call_script.py [PATH_TO_LIBVELQ]    (default: libvelq.so.2 on the library path)
"""
import ctypes
import sys

velq = ctypes.CDLL(sys.argv[1] if len(sys.argv) > 1 else "libvelq.so.2")
handle = ctypes.c_void_p
out = ctypes.POINTER(ctypes.c_void_p)
for name, arguments in {
    "velq_engine_new": [out],
    "velq_compile": [handle, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, out, out],
    "velq_load": [handle, out, out],
    "velq_call": [handle, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(handle), out, out],
    "velq_value_text": [ctypes.c_char_p, ctypes.c_size_t, out],
    "velq_value_int": [ctypes.c_int64, out],
    "velq_value_get_text": [handle, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)],
}.items():
    getattr(velq, name).argtypes = arguments
for name in ["velq_engine_free", "velq_script_free", "velq_instance_free", "velq_value_free",
             "velq_error_free"]:
    getattr(velq, name).argtypes = [handle]
    getattr(velq, name).restype = None
velq.velq_error_message.argtypes = [handle]
velq.velq_error_message.restype = ctypes.c_char_p

SCRIPT = b"""
sub greet(name, times) {
  s = "";
  while (times > 0) { s = s . "Hello, " . name . "! "; times--; }
  return s;
}
"""


def check(status, error):
    """Raises the engine's error message when a call failed."""
    if status != 0:
        message = velq.velq_error_message(error).decode() if error else "status %d" % status
        velq.velq_error_free(error)
        raise RuntimeError(message)


engine, script, instance, error = (ctypes.c_void_p() for _ in range(4))
check(velq.velq_engine_new(ctypes.byref(engine)), None)
check(velq.velq_compile(engine, SCRIPT, len(SCRIPT), b"greet.velq", ctypes.byref(script),
                        ctypes.byref(error)), error)
check(velq.velq_load(script, ctypes.byref(instance), ctypes.byref(error)), error)

# The arguments are values the caller keeps and frees; the result is a new value.
name, times, result = ctypes.c_void_p(), ctypes.c_void_p(), ctypes.c_void_p()
velq.velq_value_text(b"ctypes", 6, ctypes.byref(name))
velq.velq_value_int(2, ctypes.byref(times))
argv = (ctypes.c_void_p * 2)(name, times)
check(velq.velq_call(instance, b"greet", 2, argv, ctypes.byref(result), ctypes.byref(error)), error)
text = ctypes.c_char_p()
velq.velq_value_get_text(result, ctypes.byref(text), None)
print("greet:", text.value.decode().strip())

for value in (name, times, result):
    velq.velq_value_free(value)
velq.velq_instance_free(instance)
velq.velq_script_free(script)
velq.velq_engine_free(engine)
