# zago_add_tests(<folder-of-test-files> LIBS <libs...>)
# Builds one test executable per test_*.cpp file in the calling folder and
# registers every test case on its own with CTest, so each runs in a fresh
# process (the debug log, the platform layer and the working directory are
# process-wide). Every executable also gets zago_test_isolation: the NVMe,
# IPMI and SCSI seams refuse until a test installs its fake, and the process-wide
# state is reset before each test, so running an executable whole gives the
# same verdicts.
function(zago_add_tests)
  cmake_parse_arguments(ZT "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(_src ${_tests})
    get_filename_component(_name ${_src} NAME_WE)
    get_filename_component(_dir ${CMAKE_CURRENT_SOURCE_DIR} DIRECTORY)
    get_filename_component(_sub ${_dir} NAME)
    set(_target ${_sub}_${_name})
    add_executable(${_target} ${_src})
    target_link_libraries(${_target} PRIVATE ${ZT_LIBS} zago_sim zago_test_isolation GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    # The test file itself is built for a quick build: unoptimised, and
    # outside the sanitizers' instrumentation. The code under test keeps the
    # build's optimisation and instrumentation, and the executable links the
    # sanitizer runtimes, so every check on that code stands.
    # ZAGO_SANITIZED tells such a file that the code under test is checked.
    target_compile_options(${_target} PRIVATE -O0 -U_FORTIFY_SOURCE
                           $<$<BOOL:${ZAGO_SANITIZE}>:-fno-sanitize=all>)
    if(ZAGO_SANITIZE)
      target_compile_definitions(${_target} PRIVATE ZAGO_SANITIZED=1)
    endif()
    target_compile_definitions(${_target} PRIVATE
      ZAGO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      ZAGO_BINARY_DIR="${PROJECT_BINARY_DIR}"
      ZAGO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
    gtest_discover_tests(${_target}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      DISCOVERY_TIMEOUT 60
      NO_PRETTY_VALUES
      PROPERTIES TIMEOUT 120 ENVIRONMENT "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1")
  endforeach()
endfunction()
