# Linux command-line program: kormelde.
add_executable(kormelde src/app/main_linux.cpp src/ui/surface_term.cpp)
target_link_libraries(kormelde PRIVATE kormelde_core kormelde_posix)
