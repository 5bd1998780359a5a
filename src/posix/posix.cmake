# Linux: the disk backend (kormelde_posix) and the command-line program.
add_library(kormelde_posix STATIC
  ${CMAKE_CURRENT_LIST_DIR}/disk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
target_link_libraries(kormelde_posix PUBLIC kormelde_core)

add_executable(kormelde ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/terminal.cpp)
target_link_libraries(kormelde PRIVATE kormelde_core kormelde_posix)
# The C++ runtime linked in: a third of a Get's time went to loading and
# relocating libstdc++.
target_link_options(kormelde PRIVATE -static-libstdc++ -static-libgcc)
