# The socket library over POSIX sockets and the component base.
target_sources(platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/component.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_async.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_library.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_resolve.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_select.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winsock_sockets.cpp
)
