# POSIX disk backend: kormelde_posix library.
add_library(kormelde_posix STATIC
  ${KORMELDE_SRC}/disk/disk_posix.cpp
  ${KORMELDE_SRC}/disk/posix_container.cpp
  ${KORMELDE_SRC}/disk/posix_table.cpp)
target_link_libraries(kormelde_posix PUBLIC kormelde_core)
