# Links the romweave executable statically where the toolchain allows it.
#
# A run on a small ROM lasts a few milliseconds, and loading the shared C and
# C++ runtimes takes a large share of them: bench/run.sh measures a 2,048-block
# capture against cat.  A static binary also runs on Windows without the
# MinGW runtime DLLs beside it.
#
# The sanitizers need the shared runtimes, so a build that uses them links
# dynamically, as does a toolchain that cannot link statically (macOS).
# -DROMWEAVE_STATIC=OFF turns it off; the Debian package is built that way,
# since Debian links its packages against the shared C library.

option(ROMWEAVE_STATIC "Link romweave statically where the toolchain can" ON)

# Decided once the whole project has been read, so that sanitizer options
# added anywhere in it are seen.
function(romweave_link_static_deferred)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
  get_target_property(compile_options romweave COMPILE_OPTIONS)
  get_target_property(link_options romweave LINK_OPTIONS)
  get_target_property(core_compile_options romweave_core
                      INTERFACE_COMPILE_OPTIONS)
  get_target_property(core_link_options romweave_core INTERFACE_LINK_OPTIONS)
  set(options
      "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}"
      "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${config}}"
      "${compile_options} ${link_options}"
      "${core_compile_options} ${core_link_options}")
  if("${options}" MATCHES "-fsanitize")
    message(STATUS "romweave: sanitizers in use, linked dynamically")
  else()
    target_link_options(romweave PRIVATE -static)
  endif()
endfunction()

if(ROMWEAVE_STATIC AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT APPLE)
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  # Uses the C++ library, whose static archive may be missing on its own.
  check_cxx_source_compiles(
    "#include <string>\nint main(int argc, char** argv) { return std::string(argv[0]).empty() ? argc : 0; }"
    ROMWEAVE_CAN_LINK_STATIC)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(ROMWEAVE_CAN_LINK_STATIC)
    cmake_language(DEFER CALL romweave_link_static_deferred)
  endif()
endif()
