# Authenticode signing of the Windows programs, and the test certificates.
#
# The test certificates (TLS and code signing) are made once per build tree
# by tests/peers/peers.py into ${ZV_TEST_CERTS_DIR}; target zv_test_certs
# makes them at build time, since the build signs with them.
#
#   ZV_SIGN_CERT / ZV_SIGN_KEY       the vendor's PEM certificate (chain) and
#     PEM private key: zelvane.exe is signed with them when both are set
#     (cache variables; their default comes from the environment variables
#     of the same names at the first configure). An encrypted key's pass
#     phrase is read from the environment variable ZV_SIGN_PASSWORD while
#     building; it is never stored.
#   ZV_DEMO_SIGN_CERT / ZV_DEMO_SIGN_KEY  the same for zelvane-demo.exe;
#     by default the test vendor certificate of the tests' code-signing CA.
#
#   zv_sign_after_build(TARGET t CERT c KEY k)
#     signs t's executable in place after every link of it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(ZV_TEST_CERTS_DIR ${PROJECT_BINARY_DIR}/peers/certs CACHE INTERNAL "")
set(ZV_CODESIGN_SCRIPT ${PROJECT_SOURCE_DIR}/tools/codesign.py CACHE INTERNAL "")
add_custom_command(OUTPUT ${ZV_TEST_CERTS_DIR}/codesign-done
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/peers/peers.py certs --bin ${PROJECT_BINARY_DIR}
  COMMENT "Making the test certificates")
add_custom_target(zv_test_certs DEPENDS ${ZV_TEST_CERTS_DIR}/codesign-done)

set(ZV_SIGN_CERT "$ENV{ZV_SIGN_CERT}" CACHE FILEPATH "PEM code-signing certificate for zelvane.exe (empty: unsigned)")
set(ZV_SIGN_KEY "$ENV{ZV_SIGN_KEY}" CACHE FILEPATH "PEM private key of ZV_SIGN_CERT")
set(ZV_DEMO_SIGN_CERT ${ZV_TEST_CERTS_DIR}/codesign-vendor.pem CACHE FILEPATH
    "PEM code-signing certificate for zelvane-demo.exe (default: the tests' vendor certificate)")
set(ZV_DEMO_SIGN_KEY ${ZV_TEST_CERTS_DIR}/codesign-vendor.key CACHE FILEPATH "PEM private key of ZV_DEMO_SIGN_CERT")

if(ZV_WINDOWS)
  find_program(ZV_OSSLSIGNCODE osslsigncode)
endif()

function(zv_sign_after_build)
  cmake_parse_arguments(S "" "TARGET;CERT;KEY" "" ${ARGN})
  if(NOT S_CERT OR NOT S_KEY)
    return()
  endif()
  if(NOT ZV_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode is needed to sign ${S_TARGET} (tools/setup installs it)")
  endif()
  if(S_CERT MATCHES "^${ZV_TEST_CERTS_DIR}/")
    add_dependencies(${S_TARGET} zv_test_certs)
  endif()
  add_custom_command(TARGET ${S_TARGET} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env ZV_OSSLSIGNCODE=${ZV_OSSLSIGNCODE}
            ${Python3_EXECUTABLE} ${ZV_CODESIGN_SCRIPT} sign --cert ${S_CERT} --key ${S_KEY} $<TARGET_FILE:${S_TARGET}>
    VERBATIM)
endfunction()
