# Linux install tree and .deb: the program, its man pages (English and
# Japanese, gzipped as Debian has them), bash completion and the message
# catalogs (src/posix/posix.cmake).
set(KORMELDE_MAN_DIR ${CMAKE_CURRENT_LIST_DIR}/../man)
set(man_pages "")
foreach(page kormelde.1 ja/kormelde.1)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.gz)
  get_filename_component(gz_dir ${gz} DIRECTORY)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gz_dir}
    COMMAND gzip -9n -c ${KORMELDE_MAN_DIR}/${page} > ${gz}
    DEPENDS ${KORMELDE_MAN_DIR}/${page}
    VERBATIM)
  list(APPEND man_pages ${gz})
endforeach()
add_custom_target(kormelde_man ALL DEPENDS ${man_pages})
install(FILES ${CMAKE_BINARY_DIR}/man/kormelde.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/man/ja/kormelde.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../completion/kormelde
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../README.md ${CMAKE_CURRENT_LIST_DIR}/../docs/linux.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A stripped install (the .deb's) drops the sections Debian's strip drops.
install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kormelde\")
endif()")

# The maintainer named in the .deb, its copyright file and changelog; a
# packager passes their own.
set(KORMELDE_MAINTAINER "Kormelde developers <dev@kormelde.invalid>" CACHE STRING
  "Maintainer of the .deb: Name <address>")
# Debian's copyright file (machine-readable form) and changelog.gz (a native
# package), with the version and maintainer above.
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/copyright ${CMAKE_BINARY_DIR}/deb/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog ${CMAKE_BINARY_DIR}/deb/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/deb/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/deb/changelog > ${CMAKE_BINARY_DIR}/deb/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog
  VERBATIM)
add_custom_target(kormelde_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/deb/copyright ${CMAKE_BINARY_DIR}/deb/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kormelde)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KORMELDE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show and rewrite the Windows NT disk signature of a disk")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Reports a disk's NT signature (the MBR's disk identifier, or the PC-9821
boot area's), partition sizes and boot-record format, makes a disk busy to
show which drive it is, and rewrites the signature after a confirmation and
a re-check, changing only its four bytes. Works on block devices and on raw,
fixed VHD, HDI and NHD disk images, and on qcow2, VMDK, VDI, VHDX and
dynamic VHD images through qemu-nbd (qemu-utils), without root.")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# libnbd is loaded when a VM image is opened, so shlibdeps cannot see it:
# named here, at the version built against. qemu-nbd, qemu-img and mtools
# are run, not linked.
if(KORMELDE_LIBNBD)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libnbd0 (>= ${LIBNBD_VERSION})")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mtools, qemu-utils")
include(CPack)
