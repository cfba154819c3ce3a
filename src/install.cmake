# SPDX-FileCopyrightText: 2026 the モジタン developers
#
# SPDX-License-Identifier: GPL-3.0-or-later

# Where the game goes when it is installed, and the Debian package made from that:
#   lib/mojitan/mojitan         the program, with its cues in lib/mojitan/sound/
#   games/mojitan               a relative symbolic link to it, on the PATH: Debian keeps its
#                               games' programs in /usr/games, and the package is in section
#                               games, as the menu entry is in Game
#   share/applications, share/icons/hicolor, share/metainfo   what desktops and software
#                               centres show
#   share/doc/mojitan, share/man/man6   the licence and changelog, and the manual page
# The program looks for its sounds beside the file it really is, so games/ holds a link to it,
# never a copy.
include(GNUInstallDirs)

set(MOJITAN_INSTALL_DIR lib/mojitan)
set(MOJITAN_PATH_DIR games)
# The software centre's name for the game. The project has no domain of its own, so this
# reverse-DNS name is under a top-level domain that nobody can own; it must never change
# once the package is out.
set(MOJITAN_APPSTREAM_ID local.mojitan.Mojitan)

install(TARGETS mojitan RUNTIME DESTINATION ${MOJITAN_INSTALL_DIR})
install(FILES ${MOJITAN_RUNTIME_DIR}/sound/key.wav ${MOJITAN_RUNTIME_DIR}/sound/wrong.wav
              ${MOJITAN_RUNTIME_DIR}/sound/win.wav
        DESTINATION ${MOJITAN_INSTALL_DIR}/sound)

# Made relative to wherever games/ is, so the installed tree can be moved or unpacked anywhere.
file(RELATIVE_PATH mojitan_link_target /${MOJITAN_PATH_DIR} /${MOJITAN_INSTALL_DIR}/mojitan)
set(mojitan_link ${CMAKE_CURRENT_BINARY_DIR}/install-link/mojitan)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install-link)
file(CREATE_LINK ${mojitan_link_target} ${mojitan_link} SYMBOLIC)
install(FILES ${mojitan_link} DESTINATION ${MOJITAN_PATH_DIR})

set(assets ${PROJECT_SOURCE_DIR}/assets)
install(FILES ${assets}/mojitan.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 256)
    install(FILES ${assets}/icons/mojitan-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME mojitan.png)
endforeach()
install(FILES ${assets}/icons/mojitan.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${assets}/${MOJITAN_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the changelog and the manual page compressed alike on every build: the most
# gzip can do, with no file name or time stamp inside.
set(docs ${CMAKE_CURRENT_BINARY_DIR}/docs)
foreach(doc changelog mojitan.6)
    add_custom_command(OUTPUT ${docs}/${doc}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${assets}/debian/${doc} ${docs}/${doc}
                       COMMAND gzip -9nf ${docs}/${doc}
                       DEPENDS ${assets}/debian/${doc} VERBATIM)
endforeach()
add_custom_target(mojitan_docs ALL DEPENDS ${docs}/changelog.gz ${docs}/mojitan.6.gz)
install(FILES ${assets}/debian/copyright ${docs}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${docs}/mojitan.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)

# The Debian package: cpack -G DEB in the build folder. dpkg-shlibdeps (dpkg-dev) names the
# libraries the program links; what it loads at run time is named here: Qt's X11 platform
# plugin, Qt's Japanese translations for the message boxes' buttons, and the Japanese font
# the window asks for. Qt's Wayland plugins are recommended: without them a Wayland desktop
# shows the game through XWayland, softer on a scaled screen and without GNOME's own frame.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mojitan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "typing practice game, one letter at a time (Japanese)")
set(CPACK_PACKAGE_DESCRIPTION "\
モジタン shows the 26 letters a to z one at a time, in random order, in
one big label; type each one. A right key clicks and brings the next
letter, a wrong key buzzes and turns the window red. At the end a box
tells the accuracy, the time per letter, the letters per hour and the
manuscript sheets; the best time per letter is kept.
The game speaks Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "モジタン maintainers <maintainers@users.noreply.c-seed-4ba5a72f.example>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
