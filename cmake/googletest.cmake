# GoogleTest for the test suite, which ROMWEAVE_BUILD_TESTS asks for.
#
# It is the installed library (Debian's libgtest-dev), or, where
# ROMWEAVE_GTEST_SOURCE names GoogleTest's sources (Debian's googletest
# package leaves them in /usr/src/googletest), those sources built here
# for the target: an installed library is built for this machine only, so
# a cross build needs the sources.  Sets ROMWEAVE_GTEST_FOUND.

set(ROMWEAVE_GTEST_SOURCE "" CACHE PATH
    "GoogleTest sources to build for the target instead of the installed library, such as /usr/src/googletest")

string(TOUPPER "${ROMWEAVE_BUILD_TESTS}" tests_wanted)
if(ROMWEAVE_GTEST_SOURCE)
  if(NOT EXISTS ${ROMWEAVE_GTEST_SOURCE}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "ROMWEAVE_GTEST_SOURCE=${ROMWEAVE_GTEST_SOURCE} holds no "
                        "googletest/CMakeLists.txt (Debian package googletest)")
  endif()
  # Only GoogleTest itself, not GoogleMock, and nothing of it installed.
  add_subdirectory(${ROMWEAVE_GTEST_SOURCE}/googletest
                   ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Warnings in code of another project, which a newer compiler may find,
  # are not this project's to fix.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  set(ROMWEAVE_GTEST_FOUND TRUE)
else()
  find_package(GTest QUIET)
  set(ROMWEAVE_GTEST_FOUND ${GTest_FOUND})
endif()

if(NOT ROMWEAVE_GTEST_FOUND)
  if(CMAKE_CROSSCOMPILING)
    set(gtest_hint "name its sources with -DROMWEAVE_GTEST_SOURCE=/usr/src/googletest (Debian package googletest)")
  else()
    set(gtest_hint "install it (Debian package libgtest-dev)")
  endif()
  if(NOT tests_wanted STREQUAL "AUTO")
    message(FATAL_ERROR "GoogleTest not found, and ROMWEAVE_BUILD_TESTS=${ROMWEAVE_BUILD_TESTS} "
                        "asks for its tests: ${gtest_hint}, or configure with "
                        "-DROMWEAVE_BUILD_TESTS=OFF")
  endif()
  # A CI run that left tests out would pass without having run them.
  if(DEFINED ENV{CI})
    message(FATAL_ERROR "GoogleTest not found, and CI (set in the environment) runs "
                        "every test: ${gtest_hint}, or configure with "
                        "-DROMWEAVE_BUILD_TESTS=OFF")
  endif()
  message(WARNING "GoogleTest not found: the unit, end-to-end and interop tests are "
                  "left out.  To build them, ${gtest_hint}; to build no test and "
                  "silence this, configure with -DROMWEAVE_BUILD_TESTS=OFF.")
endif()

# A cross build's test programs run under an emulator (Wine, qemu-user)
# that may take a while to start for the first time, so their tests are
# listed when ctest runs rather than at the end of the build.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
