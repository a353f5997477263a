# Every test runs through tests/run-isolated.sh: its own HOME, XDG folders and TMPDIR,
# removed afterwards. Engines in tests take their port from tests/support/TestPort, so
# tests run in parallel and beside a real copy on the protocol port.
get_filename_component(ZORVIN_RUN_ISOLATED ${CMAKE_CURRENT_LIST_DIR}/../tests/run-isolated.sh ABSOLUTE)

# zorvin_add_test(<name> SOURCES <files...> LIBS <targets...> LABELS <labels...> [TIMEOUT <s>])
# One QtTest executable per area, registered with ctest under its own name.
function(zorvin_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test zorvin_testsupport ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND sh ${ZORVIN_RUN_ISOLATED} $<TARGET_FILE:${name}>)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Sanitized code runs several times slower.
  if(ZORVIN_SANITIZE)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 4")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZORVIN_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# zorvin_add_fuzz(<name> SOURCES <files...> LIBS <targets...> [SECONDS <n>])
# A libFuzzer target, built only with clang. The listed sources are compiled into the
# target with coverage instrumentation and AddressSanitizer; ctest runs it for a short,
# fixed time from an empty corpus, plus any seeds in tests/fuzz/<name>/.
function(zorvin_add_fuzz name)
  cmake_parse_arguments(F "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(STATUS "fuzz target ${name} not built: needs clang")
    return()
  endif()
  # The fuzz targets bring their own AddressSanitizer, which the other sanitizers exclude.
  if(ZORVIN_SANITIZE)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address -g)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(seeds ${PROJECT_SOURCE_DIR}/tests/fuzz/${name})
  add_test(NAME ${name}
    COMMAND sh ${ZORVIN_RUN_ISOLATED} sh ${PROJECT_SOURCE_DIR}/tests/fuzz/run-fuzz.sh $<TARGET_FILE:${name}> ${corpus} ${F_SECONDS} ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
