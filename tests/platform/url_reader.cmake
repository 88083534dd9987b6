target_sources(platform_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/url_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/url_reader_server_test.cpp
)
target_link_libraries(platform_tests PRIVATE test_support)
