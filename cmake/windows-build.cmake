# Beside a native test build, the 32-bit Windows build is cross-compiled and
# its tests run under wine, when the cross compiler and wine are there.
find_program(VORN_MINGW_CXX i686-w64-mingw32-g++)
find_program(VORN_WINE wine)
find_program(VORN_WINESERVER wineserver)

option(VORN_WIN32_TESTS "Cross-build vorn.exe and run its tests under wine when the tools are there" ON)

if(NOT VORN_WIN32_TESTS)
  set(VORN_WIN32_EXECUTABLE "")
  message(STATUS "The Windows build and its tests under wine are turned off (VORN_WIN32_TESTS)")
elseif(VORN_MINGW_CXX AND VORN_WINE AND VORN_WINESERVER)
  include(ExternalProject)
  ExternalProject_Add(vorn_win32
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/win32
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DVORN_BUILD_TESTS=OFF
      -DVORN_BUILD_WIN32_TEST_HELPERS=ON
      -DVORN_WARNINGS_AS_ERRORS=${VORN_WARNINGS_AS_ERRORS}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  set(VORN_WIN32_EXECUTABLE ${CMAKE_BINARY_DIR}/win32/vorn.exe)
  set(VORN_WIN32_PIPE_SERVER ${CMAKE_BINARY_DIR}/win32/pipe_server.exe)
  set(VORN_WIN32_LAST_ERROR_PROBE ${CMAKE_BINARY_DIR}/win32/last_error_probe.exe)
  message(STATUS "Windows build and its tests under wine: enabled")
else()
  set(VORN_WIN32_EXECUTABLE "")
  message(WARNING "The Windows build and its tests under wine are SKIPPED: "
    "they need the mingw-w64 cross compiler and 32-bit wine (Debian: "
    "dpkg --add-architecture i386 && apt-get update && "
    "apt-get install g++-mingw-w64-i686 wine wine32:i386)")
endif()
