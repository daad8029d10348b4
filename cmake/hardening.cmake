# Hardening builds, chosen when configuring:
#   ROMWEAVE_SANITIZE  builds everything, the tool and the tests, with
#                      AddressSanitizer and UndefinedBehaviorSanitizer; the
#                      first finding ends the process with a report.
#   ROMWEAVE_FUZZ      also builds the libFuzzer target in fuzz/ (clang only),
#                      with the same sanitizers.
# Included before any target is defined, so that every target gets the flags.

option(ROMWEAVE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(ROMWEAVE_FUZZ "Build the libFuzzer target in fuzz/ (needs clang)" OFF)

if(ROMWEAVE_SANITIZE OR ROMWEAVE_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

if(ROMWEAVE_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ROMWEAVE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()
