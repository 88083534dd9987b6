# The URL reader of the feed fetch, on libcurl.
find_package(CURL REQUIRED)
target_sources(platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/url_reader.cpp)
target_link_libraries(platform PRIVATE CURL::libcurl)
