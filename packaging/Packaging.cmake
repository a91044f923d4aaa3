# Install rules and the Debian package (cpack -G DEB, see tools/make-deb.sh).
# Included from the top CMakeLists.txt after every folder has been added, so
# the program targets exist here.
include(GNUInstallDirs)

set(KKM_PACKAGE_NAME kkm-configurator)
set(KKM_PACKAGE_MAINTAINER "KKM configurator developers <kkm-configurator@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

install(TARGETS kkm-configurator kkm-cli kkm-emulator
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/kkm-configurator.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/kkm-configurator.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
# Renamed so it does not pass for the configurator's own README.
install(FILES ${PROJECT_SOURCE_DIR}/emulator/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${KKM_PACKAGE_NAME}
        RENAME kkm-emulator.md)

# The command-line programs' manual pages, made from their --help by
# help2man (tools/install-deps.sh installs it), and kkm-cli's bash
# completion.
find_program(KKM_HELP2MAN help2man)
if(KKM_HELP2MAN)
  set(KKM_MAN_PAGES)
  foreach(program kkm-cli kkm-emulator)
    if(program STREQUAL "kkm-cli")
      set(what "fiscal cash register (KKM) settings, goods, logo and events from the command line")
    else()
      set(what "a fiscal cash register (KKM) on a pseudo-terminal")
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
              ${KKM_HELP2MAN} --no-info --no-discard-stderr --locale=C.UTF-8 --name=${what} --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Manual page of ${program}"
      VERBATIM)
    list(APPEND KKM_MAN_PAGES ${page})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${KKM_MAN_PAGES})
  install(FILES ${KKM_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man not found: the package will have no manual pages (tools/install-deps.sh installs it)")
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/kkm-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME kkm-cli)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KKM_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "KKM configurator developers")
set(CPACK_PACKAGE_CONTACT "${KKM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configurator for a fiscal cash register (KKM) on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
  "A desktop program that reads and writes the settings, users, goods list and
receipt logo of a fiscal cash register joined to the PC by a serial line.
Also contains kkm-cli, the same work from the command line for one register
or a fleet at once, and kkm-emulator, a register on a pseudo-terminal to try
both without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps finds the Qt 6 libraries the binaries link and adds them with
# their versions. The libjpeg runtime is named as well so the package asks for
# it whatever the binaries of this build happen to link. Qt's platform plugins
# are loaded at run time, out of dpkg-shlibdeps' sight; some releases ship the
# X11 one in qt6-qpa-plugins rather than in libqt6gui6. qt6-wayland is only
# suggested: it brings Qt Quick along, and without it Qt runs the window
# through XWayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjpeg62-turbo, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland")

include(CPack)
