# The sanitized builds beside VELQ_SANITIZE: the fuzzing build (VELQ_FUZZ) and the
# thread-checking build (VELQ_TSAN), and what every sanitized build needs under clang.
set(VELQ_CLANG OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(VELQ_CLANG ON)
endif()

if((VELQ_SANITIZE AND VELQ_TSAN) OR (VELQ_FUZZ AND VELQ_TSAN))
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: "
    "VELQ_TSAN excludes VELQ_SANITIZE and VELQ_FUZZ")
endif()

if(VELQ_FUZZ)
  if(NOT VELQ_CLANG)
    message(FATAL_ERROR "VELQ_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # The engine and the harnesses record coverage for the fuzzer; the harnesses also link
  # the fuzzer's library, which holds main (tests/fuzz).
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VELQ_TSAN)
  if(VELQ_CLANG)
    # The engine is a shared library, so it needs the runtime's shared form (see below),
    # and clang's (seen with clang 14) crashes before main in libstdc++'s start-up.
    message(FATAL_ERROR "VELQ_TSAN needs g++: clang's shared ThreadSanitizer runtime "
      "crashes at start")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# clang puts its sanitizer runtimes into executables only, statically, so a shared library
# linked with -Wl,--no-undefined finds no definition of the runtime's symbols. With
# -shared-libsan every sanitized binary links the runtime's shared form instead, as g++
# does by default; the run paths lead the programs and the libraries to it.
if(VELQ_CLANG AND (VELQ_SANITIZE OR VELQ_FUZZ))
  add_link_options(-shared-libsan)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-runtime-dir
    OUTPUT_VARIABLE VELQ_SANITIZER_RUNTIME_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND CMAKE_BUILD_RPATH ${VELQ_SANITIZER_RUNTIME_DIR})
  list(APPEND CMAKE_INSTALL_RPATH ${VELQ_SANITIZER_RUNTIME_DIR})
endif()
