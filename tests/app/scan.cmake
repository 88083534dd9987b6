target_sources(app_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/scan_enclosure_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_fetch_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_run_test.cpp
)
target_link_libraries(app_tests PRIVATE test_support)
