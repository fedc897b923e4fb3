# What `cmake --install` puts where, and the Debian package CPack makes of it
# (scripts/package.sh).
include(GNUInstallDirs)

install(TARGETS parlivo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Helpers nobody runs by hand: off PATH, where the window looks for them (HelperPrograms.h).
install(TARGETS parlivo-synth parlivo-extract
        RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/parlivo)
install(FILES data/org.parlivo.Parlivo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/org.parlivo.Parlivo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Debian keeps manual pages compressed, without a time stamp so that builds are reproducible.
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/parlivo.1.gz
                   COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/data/parlivo.1 > ${CMAKE_BINARY_DIR}/parlivo.1.gz
                   DEPENDS data/parlivo.1)
add_custom_target(parlivo_manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/parlivo.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/parlivo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/parlivo RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parlivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Parlivo developers <parlivo@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read text aloud")
set(CPACK_PACKAGE_DESCRIPTION
    "Parlivo reads text aloud with the espeak-ng voices on this computer. Text is typed, pasted
or opened from plain text, PDF, EPUB, DOCX, ODT, Word 97, RTF, HTML, Markdown and FB2
documents; speech can be paused, stopped, moved by sentence and exported to WAV, from
the window, the keyboard or the desktop's media controls.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_LICENSE GPL-3.0-or-later)
# The libraries come from what the programs link (dpkg-shlibdeps); the rest is what they run or
# read at run time: catdoc for Word files, the command recogniser's model, the voices' data,
# the font the text area asks for, and a sound server to play to.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "catdoc, espeak-ng-data, pocketsphinx-en-us, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
include(CPack)
