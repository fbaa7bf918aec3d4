# Locates the dependencies: Debian's headers and libraries on Linux, the
# per-machine cache made by tools/setup (static OpenSSL, header copies) for mingw.
find_package(Threads REQUIRED)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  if(NOT ZV_DEPS_PREFIX)
    set(_current "$ENV{HOME}/.cache/zelvane/current")
    if(DEFINED ENV{ZELVANE_CACHE})
      set(_current "$ENV{ZELVANE_CACHE}/current")
    endif()
    if(NOT EXISTS "${_current}")
      message(FATAL_ERROR "Dependency cache missing: run tools/setup first")
    endif()
    file(STRINGS "${_current}" ZV_DEPS_PREFIX LIMIT_COUNT 1)
  endif()
  set(ZV_HEADERS_DIR "${ZV_DEPS_PREFIX}/include-headers")
  add_library(zv_openssl INTERFACE)
  target_include_directories(zv_openssl SYSTEM INTERFACE "${ZV_DEPS_PREFIX}/include")
  target_link_libraries(zv_openssl INTERFACE
    "${ZV_DEPS_PREFIX}/lib64/libssl.a" "${ZV_DEPS_PREFIX}/lib64/libcrypto.a"
    ws2_32 mswsock crypt32 user32 advapi32 bcrypt)
  add_library(zv_zlib INTERFACE)
  target_link_libraries(zv_zlib INTERFACE /usr/x86_64-w64-mingw32/lib/libz.a)
else()
  set(ZV_HEADERS_DIR "")
  find_package(OpenSSL 3 REQUIRED)
  find_package(ZLIB REQUIRED)
  add_library(zv_openssl INTERFACE)
  target_link_libraries(zv_openssl INTERFACE OpenSSL::SSL OpenSSL::Crypto)
  add_library(zv_zlib INTERFACE)
  target_link_libraries(zv_zlib INTERFACE ZLIB::ZLIB)
endif()

# Header-only libraries: Asio (standalone), RapidJSON, spdlog with fmt, stb_image, doctest.
add_library(zv_headers INTERFACE)
if(ZV_HEADERS_DIR)
  target_include_directories(zv_headers SYSTEM INTERFACE "${ZV_HEADERS_DIR}" "${ZV_HEADERS_DIR}/stb")
else()
  target_include_directories(zv_headers SYSTEM INTERFACE /usr/include/stb)
endif()
# Asio picks aligned_alloc or operator new by whether the C++ library's
# configuration was seen before its own headers; that differs between
# translation units by include order, and the linker may then pair one unit's
# allocation with another's release. One fixed choice for every unit.
target_compile_definitions(zv_headers INTERFACE
  ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_DISABLE_STD_ALIGNED_ALLOC SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY SPDLOG_HEADER_ONLY
  RAPIDJSON_HAS_STDSTRING=1
  # fmt formats numbers without std::locale: nothing here asks for localized
  # digits, and the locale machinery is a large part of a static executable.
  FMT_STATIC_THOUSANDS_SEPARATOR=0)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # Asio picks POSIX or Win32 threads by whether _POSIX_THREADS (from
  # winpthreads) happens to be defined before its first header, so files
  # differed. One choice for every file keeps its classes the same everywhere.
  target_compile_definitions(zv_headers INTERFACE ASIO_HAS_PTHREADS=1)
endif()
target_link_libraries(zv_headers INTERFACE Threads::Threads)
