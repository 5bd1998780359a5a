# Windows dialog program: kormelde.exe, with the real device queries, and
# kormelde_test.exe, the same program whose device queries are answered from
# the disk's own bytes (Wine answers none of them).
set(KORMELDE_RES_DIR ${CMAKE_CURRENT_LIST_DIR}/../../res)

# windres directly: the project's compile options are not windres options.
set(KORMELDE_RC_OBJECT ${CMAKE_CURRENT_BINARY_DIR}/kormelde_rc.o)
add_custom_command(OUTPUT ${KORMELDE_RC_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -I ${KORMELDE_SRC}/ui -I ${KORMELDE_RES_DIR}
          -i ${KORMELDE_RES_DIR}/kormelde.rc -O coff -o ${KORMELDE_RC_OBJECT}
  DEPENDS ${KORMELDE_RES_DIR}/kormelde.rc ${KORMELDE_RES_DIR}/kormelde.manifest
          ${KORMELDE_RES_DIR}/kormico.ico ${KORMELDE_SRC}/ui/texts.h
  COMMENT "Compiling kormelde.rc"
  VERBATIM)

add_library(kormelde_winapp OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/winmain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/argsource_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shutdown_win32.cpp
  ${KORMELDE_SRC}/ui/dialog_win32.cpp)
target_include_directories(kormelde_winapp PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${KORMELDE_SRC}/ui)
target_link_libraries(kormelde_winapp PUBLIC kormelde_core)

# Every printf of the program goes to msvcrt: mingw's own stdio would double
# the program's size, and the texts do not rely on either's rounding.
foreach(lib kormelde_core kormelde_winapp kormelde_win32disk)
  target_compile_definitions(${lib} PRIVATE __USE_MINGW_ANSI_STDIO=0)
endforeach()

foreach(exe kormelde kormelde_test)
  add_executable(${exe} WIN32 ${KORMELDE_RC_OBJECT})
  set_target_properties(${exe} PROPERTIES LINKER_LANGUAGE CXX)
endforeach()
# The core calls the disk backend and the backend calls the core's decoders
# and the query library: one group, searched until nothing is left open.
target_link_libraries(kormelde PRIVATE kormelde_winapp
  "$<LINK_GROUP:RESCAN,kormelde_core,kormelde_win32disk,kormelde_query_device>")
target_link_libraries(kormelde_test PRIVATE kormelde_winapp
  "$<LINK_GROUP:RESCAN,kormelde_core,kormelde_win32disk,kormelde_query_decoded>")
