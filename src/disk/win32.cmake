# Win32 disk backend: kormelde_win32disk library and the real device queries.
# The backend leaves the device queries (DiskQuery) to the executable, which
# links exactly one of the query libraries after it:
#   kormelde_query_device   DeviceIoControl, for the shipped program
#   kormelde_query_decoded  answers from the disk's bytes, for test builds
add_library(kormelde_win32disk STATIC ${CMAKE_CURRENT_LIST_DIR}/disk_win32.cpp)
target_include_directories(kormelde_win32disk PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kormelde_win32disk PUBLIC kormelde_core)

add_library(kormelde_query_device STATIC ${CMAKE_CURRENT_LIST_DIR}/query_win32.cpp)
target_include_directories(kormelde_query_device PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_library(kormelde_query_decoded STATIC
  ${CMAKE_CURRENT_LIST_DIR}/../../tests/win/support/query_decoded.cpp)
target_link_libraries(kormelde_query_decoded PUBLIC kormelde_core)
