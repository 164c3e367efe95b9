# tamarind_library(<name> [DEPS <targets>...])
# Builds every .cpp below the calling folder into the static library tmd_<name>.
# Headers are included as "<folder>/<file>.h" from src/.
function(tamarind_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(tmd_${name} STATIC ${sources})
    target_include_directories(tmd_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tmd_${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder that holds only headers so far.
    add_library(tmd_${name} INTERFACE)
    target_include_directories(tmd_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tmd_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tamarind_test(<name> [DEPS <targets>...] [LABELS <labels>...])
# Builds every .cpp below the calling folder into one GoogleTest program and registers its tests.
# Tests that need a server label themselves "server" through their names (Server*), and skip
# when no PostgreSQL is configured (see tests/support/pg_test.h).
function(tamarind_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE ${ARG_DEPS} tmd_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE TAMARIND_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # One label per program, its name with its extra labels joined by '+': ctest -L takes a regex, so
  # "-L sanitize" and "-L ^tk" both select it (a list would not survive test discovery).
  string(JOIN "+" label ${name} ${ARG_LABELS})
  gtest_discover_tests(test_${name}
    PROPERTIES LABELS "${label}"
    DISCOVERY_TIMEOUT 60)
endfunction()
