# The scan run with its feed fetch and enclosure scan.
target_sources(app PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/enclosure_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feed_fetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scan_run.cpp
)
