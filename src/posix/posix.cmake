# Linux: the disk backend (kormelde_posix) and the command-line program.
include(GNUInstallDirs)
add_library(kormelde_posix STATIC
  ${CMAKE_CURRENT_LIST_DIR}/disk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/survey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/winrefs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qemu.cpp)
target_link_libraries(kormelde_posix PUBLIC kormelde_core)
# The Windows stores on a disk: NTFS volumes and registry hives.
# Linked in from their static archives where the -dev packages ship them:
# two shared libraries more cost every run their loading, Windows stores or
# not.
find_package(PkgConfig REQUIRED)
pkg_check_modules(NTFS3G REQUIRED libntfs-3g)
pkg_check_modules(HIVEX REQUIRED hivex)
find_library(KORMELDE_NTFS3G_A NAMES libntfs-3g.a HINTS ${NTFS3G_LIBRARY_DIRS})
find_library(KORMELDE_HIVEX_A NAMES libhivex.a HINTS ${HIVEX_LIBRARY_DIRS})
if(KORMELDE_NTFS3G_A AND KORMELDE_HIVEX_A)
  target_link_libraries(kormelde_posix PUBLIC ${KORMELDE_HIVEX_A} ${KORMELDE_NTFS3G_A} pthread)
else()
  target_link_libraries(kormelde_posix PUBLIC ${NTFS3G_LINK_LIBRARIES} ${HIVEX_LINK_LIBRARIES})
endif()
target_include_directories(kormelde_posix PUBLIC ${NTFS3G_INCLUDE_DIRS} ${HIVEX_INCLUDE_DIRS})

# qcow2, VMDK, VDI, VHDX and dynamic VHD images through libnbd and qemu-nbd;
# without libnbd they are refused.
set(WITH_LIBNBD AUTO CACHE STRING "Open VM images through libnbd: AUTO, ON or OFF")
set_property(CACHE WITH_LIBNBD PROPERTY STRINGS AUTO ON OFF)
if(NOT WITH_LIBNBD STREQUAL OFF)
  if(WITH_LIBNBD STREQUAL ON)
    pkg_check_modules(LIBNBD REQUIRED libnbd)
  else()
    pkg_check_modules(LIBNBD libnbd)
  endif()
endif()
if(LIBNBD_FOUND AND NOT WITH_LIBNBD STREQUAL OFF)
  target_sources(kormelde_posix PRIVATE ${CMAKE_CURRENT_LIST_DIR}/nbd.cpp)
  target_include_directories(kormelde_posix PRIVATE ${LIBNBD_INCLUDE_DIRS})
  # Loaded with dlopen when a VM image is first opened (nbd.cpp).
  target_link_libraries(kormelde_posix PUBLIC ${CMAKE_DL_LIBS})
  set(KORMELDE_LIBNBD ON)
else()
  target_sources(kormelde_posix PRIVATE ${CMAKE_CURRENT_LIST_DIR}/nbd_none.cpp)
  set(KORMELDE_LIBNBD OFF)
endif()
message(STATUS "VM images through libnbd: ${KORMELDE_LIBNBD}")

# The texts in the user's language: message catalogs from po/, compiled into
# the build tree's locale/ (found there when run from the build tree).
add_library(kormelde_language STATIC ${CMAKE_CURRENT_LIST_DIR}/language.cpp)
target_link_libraries(kormelde_language PUBLIC kormelde_core)
find_program(KORMELDE_MSGFMT msgfmt REQUIRED)
set(KORMELDE_PO_DIR ${CMAKE_CURRENT_LIST_DIR}/../../po)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORMELDE_PO_DIR}/LINGUAS)
file(STRINGS ${KORMELDE_PO_DIR}/LINGUAS KORMELDE_LANGUAGES REGEX "^[a-zA-Z_@]+$")
set(catalogs "")
foreach(lang ${KORMELDE_LANGUAGES})
  set(mo ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES/kormelde.mo)
  add_custom_command(OUTPUT ${mo}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES
    COMMAND ${KORMELDE_MSGFMT} --check -o ${mo} ${KORMELDE_PO_DIR}/${lang}.po
    DEPENDS ${KORMELDE_PO_DIR}/${lang}.po
    COMMENT "Compiling po/${lang}.po"
    VERBATIM)
  list(APPEND catalogs ${mo})
  install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${lang}/LC_MESSAGES)
endforeach()
add_custom_target(kormelde_catalogs ALL DEPENDS ${catalogs})

add_executable(kormelde ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/terminal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/systems.cpp)
target_link_libraries(kormelde PRIVATE kormelde_core kormelde_posix kormelde_language)
add_dependencies(kormelde kormelde_catalogs)
# The C++ runtime linked in: a third of a Get's time went to loading and
# relocating libstdc++.
target_link_options(kormelde PRIVATE -static-libstdc++ -static-libgcc)
install(TARGETS kormelde RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

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
target_compile_definitions(kormelde_posix PUBLIC KORMELDE_BUILD="${KORMELDE_BUILD}"
  KORMELDE_VERSION="${PROJECT_VERSION}")
