# Compiler settings shared by every target.
set(ZV_WINDOWS OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(ZV_WINDOWS ON)
endif()

option(ZV_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(ZV_FUZZ "Build libFuzzer targets (clang only)" OFF)

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(ZV_WINDOWS)
  # Windows 7 API level; wide entry point; small static executable.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE
                          WIN32_LEAN_AND_MEAN NOMINMAX)
  # ld keeps every function that has unwind data (its .pdata entry is a root),
  # so --gc-sections drops unused C++ functions only with their whole object;
  # link-time optimisation, which could do better, stops with an internal
  # compiler error in GCC 12 for mingw.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)
  if(CMAKE_BUILD_TYPE STREQUAL "Release" OR CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    add_link_options(-s)
  endif()
endif()

if(ZV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
