target_sources(platform_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/winsock_component_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_test.cpp
)
