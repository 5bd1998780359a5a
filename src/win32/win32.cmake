# Windows: the disk backend (kormelde_win32disk), the device queries, and the
# dialog program kormelde.exe. kormelde_test.exe is the same program whose
# device queries are answered from the disk's own bytes (Wine answers none
# of them); its query library is test support, built from tests/.
set(KORMELDE_RES_DIR ${CMAKE_CURRENT_LIST_DIR}/../../res)

# The backend leaves the device queries (DiskQuery) to the executable, which
# links exactly one query library after it:
#   kormelde_query_device   DeviceIoControl, for the shipped program
#   kormelde_query_decoded  answers from the disk's bytes, for test builds
add_library(kormelde_win32disk STATIC ${CMAKE_CURRENT_LIST_DIR}/disk.cpp)
target_link_libraries(kormelde_win32disk PUBLIC kormelde_core)
add_library(kormelde_query_device STATIC ${CMAKE_CURRENT_LIST_DIR}/query.cpp)
target_link_libraries(kormelde_query_device PUBLIC kormelde_core)

# windres directly: the project's compile options are not windres options.
set(KORMELDE_RC_OBJECT ${CMAKE_CURRENT_BINARY_DIR}/kormelde_rc.o)
add_custom_command(OUTPUT ${KORMELDE_RC_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -I ${KORMELDE_SRC} -I ${KORMELDE_RES_DIR}
          -i ${KORMELDE_RES_DIR}/kormelde.rc -O coff -o ${KORMELDE_RC_OBJECT}
  DEPENDS ${KORMELDE_RES_DIR}/kormelde.rc ${KORMELDE_RES_DIR}/kormelde.manifest
          ${KORMELDE_RES_DIR}/kormico.ico ${KORMELDE_SRC}/ui/texts.h
  COMMENT "Compiling kormelde.rc"
  VERBATIM)

add_library(kormelde_winapp OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/winmain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/argsource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shutdown.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog.cpp)
target_link_libraries(kormelde_winapp PUBLIC kormelde_core)

# Every printf of the program goes to msvcrt: mingw's own stdio would double
# the program's size, and the texts do not rely on either's rounding.
foreach(lib kormelde_core kormelde_winapp kormelde_win32disk)
  target_compile_definitions(${lib} PRIVATE __USE_MINGW_ANSI_STDIO=0)
endforeach()

set(programs kormelde)
if(BUILD_TESTING)
  list(APPEND programs kormelde_test)
endif()
foreach(exe ${programs})
  add_executable(${exe} WIN32 ${KORMELDE_RC_OBJECT})
  set_target_properties(${exe} PROPERTIES LINKER_LANGUAGE CXX)
endforeach()
# The core calls the disk backend and the backend calls the core's decoders
# and the query library: one group, searched until nothing is left open.
target_link_libraries(kormelde PRIVATE kormelde_winapp
  "$<LINK_GROUP:RESCAN,kormelde_core,kormelde_win32disk,kormelde_query_device>")
if(BUILD_TESTING)
  target_link_libraries(kormelde_test PRIVATE kormelde_winapp
    "$<LINK_GROUP:RESCAN,kormelde_core,kormelde_win32disk,kormelde_query_decoded>")
endif()
