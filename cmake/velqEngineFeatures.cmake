# Engine API that the fuzzing harnesses and the thread tests use where the engine offers
# it, found by compiling a use of it against the public headers:
#   VELQ_HAVE_RUN_LIMITS          VELQ_Program::setStepLimit, setTimeLimit, setMemoryLimit
#                                 and cancel
#   VELQ_HAVE_MODULE_FILE_POLICY  VELQ_Environment::setModuleFiles
# The checks run at every configure and again whenever those headers change, so that a
# build folder picks the API up as soon as the engine has it.
include(CheckCXXSourceCompiles)

set(VELQ_FEATURE_HEADERS
  ${PROJECT_SOURCE_DIR}/src/libvelq/velq_program.h
  ${PROJECT_SOURCE_DIR}/src/libvelq/velq_environment.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELQ_FEATURE_HEADERS})

function(velq_check_engine_api variable code)
  unset(${variable} CACHE)
  set(CMAKE_REQUIRED_INCLUDES ${PROJECT_SOURCE_DIR}/src/libvelq)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)  # compiled, not linked
  check_cxx_source_compiles("#include \"velq.h\"\n${code}" ${variable})
endfunction()

velq_check_engine_api(VELQ_HAVE_RUN_LIMITS "
void limit(VELQ_Program *program) {
  program->setStepLimit(1ULL);
  program->setTimeLimit(1UL);
  program->setMemoryLimit(1ULL);
  program->cancel();
}")
velq_check_engine_api(VELQ_HAVE_MODULE_FILE_POLICY "
void noFiles(VELQ_Environment *environment) { environment->setModuleFiles(false); }")

foreach(feature VELQ_HAVE_RUN_LIMITS VELQ_HAVE_MODULE_FILE_POLICY)
  if(${feature})
    message(STATUS "${feature}: yes")
  else()
    message(STATUS "${feature}: no")
  endif()
endforeach()

# Gives target the VELQ_HAVE_ macros of the API found.
function(velq_use_engine_features target)
  foreach(feature VELQ_HAVE_RUN_LIMITS VELQ_HAVE_MODULE_FILE_POLICY)
    if(${feature})
      target_compile_definitions(${target} PRIVATE ${feature}=1)
    endif()
  endforeach()
endfunction()
