# Fixture "peers.api": the local carousel API and analytics collector
# (api_server.py). Included by the test groups that use it.
include_guard(GLOBAL)
find_program(ZV_PYTHON3 NAMES python3 REQUIRED)
add_test(NAME peers.api.start
         COMMAND ${ZV_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/api_server.py start --bin ${PROJECT_BINARY_DIR})
add_test(NAME peers.api.stop
         COMMAND ${ZV_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/api_server.py stop --bin ${PROJECT_BINARY_DIR})
set_tests_properties(peers.api.start PROPERTIES FIXTURES_SETUP peers.api TIMEOUT 60 LABELS peers)
set_tests_properties(peers.api.stop PROPERTIES FIXTURES_CLEANUP peers.api TIMEOUT 30 LABELS peers)
