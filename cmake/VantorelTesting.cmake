# GoogleTest built from Debian's sources so that the native, sanitizer and
# cross builds all use a gtest compiled with their own flags. The sources
# are looked up on the build host (vantorel_find_host_path,
# VantorelThirdParty.cmake); -DVANTOREL_GOOGLETEST_SOURCE_DIR=<folder> takes
# another copy.
vantorel_find_host_path(VANTOREL_GOOGLETEST_SOURCE_DIR googletest googlemock/CMakeLists.txt
                        /usr/src/googletest)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VANTOREL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# vantorel_unit_test(<name> SOURCES ... LIBS ... [LABELS threads])
# Natively every test case is its own ctest entry (label "unit", or "threads"
# for suites that touch threads); in the
# Windows build the whole executable is one entry run under Wine (label "wine").
function(vantorel_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vantorel_options GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set(labels unit ${T_LABELS})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "wine" TIMEOUT 300)
  else()
    # Discovered tests carry one label: a list would be split into property
    # names on the way. Thread-touching suites are labelled "threads" instead
    # of "unit" (the test command runs both labels natively, "threads" alone
    # under ThreadSanitizer).
    list(GET labels -1 label)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS ${label} TIMEOUT 300)
  endif()
endfunction()
