# Vintrell32 beside Vintrell64: a second configuration of this source tree in updater32/, made
# with the compiler's 32-bit mode (-m32; on Debian amd64 the g++-multilib package) and
# KORVANE_UPDATER_ONLY, so it compiles only platform/ and updater/ and builds only the rewriter.
# The result is copied beside Vintrell64 and installed with it. When it is built, appends
# Vintrell32 to `rewriters` and its target, vintrell32_build, to `targets`.

# The sanitizer builds look for faults in our own code, which the 64-bit rewriter runs already.
if(KORVANE_SANITIZE OR KORVANE_TSAN)
  return()
endif()

include(CheckCXXSourceCompiles)
include(CMakePushCheckState)
cmake_push_check_state(RESET)
set(CMAKE_REQUIRED_FLAGS -m32)
set(CMAKE_REQUIRED_LINK_OPTIONS -m32)
set(CMAKE_REQUIRED_LIBRARIES Threads::Threads)
set(CMAKE_REQUIRED_QUIET ON)
check_cxx_source_compiles([[
#include <filesystem>
#include <string>
#include <thread>
static_assert(sizeof(void*) == 4);
int main() {
  std::thread worker([] {});
  worker.join();
  return static_cast<int>(std::filesystem::path(std::string("a")).string().size()) - 1;
}]] KORVANE_HAVE_32BIT_TOOLCHAIN)
cmake_pop_check_state()
if(NOT KORVANE_HAVE_32BIT_TOOLCHAIN)
  # Not kept as a cached "no", so a tool chain installed later is found by the next configure.
  unset(KORVANE_HAVE_32BIT_TOOLCHAIN CACHE)
  message("Vintrell32 is left out of the update bundle: ${CMAKE_CXX_COMPILER} -m32 cannot "
          "build a C++ program with threads (on Debian amd64 install g++-multilib)")
  return()
endif()

set(launchers)
foreach(language C CXX)
  if(CMAKE_${language}_COMPILER_LAUNCHER)
    list(APPEND launchers
         -DCMAKE_${language}_COMPILER_LAUNCHER=${CMAKE_${language}_COMPILER_LAUNCHER})
  endif()
endforeach()

include(ExternalProject)
# Built every time the build runs (BUILD_ALWAYS), so the inner build, not this one, decides what
# changed in platform/ and updater/; with nothing changed it is one quick no-op run of its tool.
# The target is not named Vintrell32: its folder's alias updater/Vintrell32 would be the program.
ExternalProject_Add(vintrell32_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  PREFIX ${CMAKE_BINARY_DIR}/updater32
  BINARY_DIR ${CMAKE_BINARY_DIR}/updater32/build
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
    -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    -DCMAKE_C_FLAGS=-m32
    -DCMAKE_CXX_FLAGS=-m32
    -DKORVANE_UPDATER_ONLY=ON
    -DKORVANE_TESTS=OFF
    ${launchers}
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target Vintrell32
  COMMAND ${CMAKE_COMMAND} -E copy_if_different <BINARY_DIR>/updater/Vintrell32
          ${KORVANE_UPDATER_OUTPUT}/Vintrell32
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KORVANE_UPDATER_OUTPUT}/Vintrell32
  INSTALL_COMMAND "")

install(PROGRAMS ${KORVANE_UPDATER_OUTPUT}/Vintrell32 DESTINATION updater)
# install(PROGRAMS) does not strip as install(TARGETS) does; the bundle wants both rewriters alike.
if(CMAKE_STRIP)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\"
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/updater/Vintrell32\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")
endif()
list(APPEND rewriters Vintrell32)
list(APPEND targets vintrell32_build)
