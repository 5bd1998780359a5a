# Linux: the disk backend (kormelde_posix) and the command-line program.
add_library(kormelde_posix STATIC
  ${CMAKE_CURRENT_LIST_DIR}/disk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/survey.cpp)
target_link_libraries(kormelde_posix PUBLIC kormelde_core)

add_executable(kormelde ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/terminal.cpp)
target_link_libraries(kormelde PRIVATE kormelde_core kormelde_posix)
# The C++ runtime linked in: a third of a Get's time went to loading and
# relocating libstdc++.
target_link_options(kormelde PRIVATE -static-libstdc++ -static-libgcc)

# The build named by --version: git describe where the tree is a clone,
# or what the packager passes in (-DKORMELDE_BUILD=...).
if(NOT KORMELDE_BUILD)
  execute_process(COMMAND git describe --always --dirty --tags
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE KORMELDE_BUILD
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT KORMELDE_BUILD)
    set(KORMELDE_BUILD unknown)
  endif()
endif()
target_compile_definitions(kormelde_posix PUBLIC KORMELDE_BUILD="${KORMELDE_BUILD}")
