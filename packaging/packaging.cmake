# The installed layout, in Debian's places: the programs in /usr/bin; what is loaded rather than
# run (the Dock tile plug-in bundle and the stand-in host application that carries it) in
# /usr/lib/pelko; the sample scenes the simulated desktop and phone read in /usr/share/pelko;
# manual pages; the documents in /usr/share/doc/pelko. `scripts/package` turns it into a Debian
# package with CPack, the dependencies computed from the binaries by dpkg-shlibdeps.

set(PELKO_PRIVATE_DIR lib/pelko)
set(PELKO_DATA_DIR ${CMAKE_INSTALL_DATADIR}/pelko)
set(PELKO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pelko)

install(TARGETS pelko-computer pelko-phone pelko-notifier pelko-mic pelko-packets
                pelko-docktile-host pelko-converse
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/desktop-session
        DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME pelko-desktop-session)

# The plug-in bundle, and the stand-in host application with its own copy in its plug-ins
# folder, laid out as in the build folder (docktile/CMakeLists.txt).
foreach(bundle PelkoDockTile.docktileplugin Pelko.app/Contents/PlugIns/PelkoDockTile.docktileplugin)
  install(TARGETS PelkoDockTile LIBRARY DESTINATION ${PELKO_PRIVATE_DIR}/${bundle}/Contents/MacOS)
  install(FILES ${PROJECT_SOURCE_DIR}/docktile/resources/plugin-Info.plist
          DESTINATION ${PELKO_PRIVATE_DIR}/${bundle}/Contents RENAME Info.plist)
  install(FILES ${PROJECT_SOURCE_DIR}/docktile/resources/pelko-app-icon-personal.png
          DESTINATION ${PELKO_PRIVATE_DIR}/${bundle}/Contents/Resources)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/docktile/resources/host-Info.plist
        DESTINATION ${PELKO_PRIVATE_DIR}/Pelko.app/Contents RENAME Info.plist)
install(FILES ${PROJECT_SOURCE_DIR}/docktile/resources/pelko.png
        DESTINATION ${PELKO_PRIVATE_DIR}/Pelko.app/Contents/Resources)

# Sample scenes: PELKO_SCENE and PELKO_PHONE_SCENE also take their bare names.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/scenes/ DESTINATION ${PELKO_DATA_DIR}/scenes
        FILES_MATCHING PATTERN "*.json")
install(FILES ${PROJECT_SOURCE_DIR}/examples/phone-camera-only.json
              ${PROJECT_SOURCE_DIR}/examples/phone-one-screen.json
        DESTINATION ${PELKO_DATA_DIR}/phone-scenes)

# Documents: the README, the docs with their pictures, the sample conversations; the copyright
# and the changelog, compressed as Debian wants them.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${PELKO_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${PELKO_DOC_DIR}/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/conversations
        DESTINATION ${PELKO_DOC_DIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${PELKO_DOC_DIR})

# Manual pages and the changelog are compressed the way Debian's tools do it (gzip -9n: no name
# or time inside, so the same text gives the same bytes).
find_program(GZIP gzip REQUIRED)
function(pelko_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_BINARY_DIR}/packaging/gzipped/${name}.gz)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging/gzipped)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${GZIP} -9n -c ${source} > ${gzipped}
    DEPENDS ${source} VERBATIM)
  list(APPEND PELKO_GZIPPED ${gzipped})
  set(PELKO_GZIPPED ${PELKO_GZIPPED} PARENT_SCOPE)
  install(FILES ${gzipped} DESTINATION ${destination})
endfunction()
# The manual pages and the changelog's first entry carry the project's version.
file(GLOB PELKO_MAN_PAGES ${PROJECT_SOURCE_DIR}/packaging/man/*.1)
foreach(page ${PELKO_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  configure_file(${page} ${CMAKE_BINARY_DIR}/packaging/man/${name} @ONLY)
  pelko_install_gzipped(${CMAKE_BINARY_DIR}/packaging/man/${name} ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
pelko_install_gzipped(${CMAKE_BINARY_DIR}/packaging/changelog ${PELKO_DOC_DIR})
add_custom_target(pelko-packaging-files ALL DEPENDS ${PELKO_GZIPPED})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelko)
set(CPACK_PACKAGE_VENDOR "Pelko")
set(CPACK_PACKAGE_CONTACT "Pelko developers <developers@pelko.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "native companion programs of the Pelko desktop agent")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Shared libraries the binaries need, as dpkg-shlibdeps finds them; nothing listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs start or draw with but do not link: the accessibility bus, the session bus,
# the URL opener, the agent's own desktop (Xephyr and openbox), fonts for text in every script;
# and what headless desktops and pelko-desktop-session use.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "at-spi2-core, dbus, xdg-utils, xserver-xephyr, openbox, fonts-inter, fonts-dejavu-core, fonts-noto-cjk, fonts-noto-color-emoji, fonts-noto-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xvfb, x11-utils, xdotool, xcompmgr")
# The extended description, one line of the control file per line here.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "The Pelko desktop agent starts these programs as child processes and talks"
  "to them over their standard streams:"
  " - pelko-computer reads apps' accessibility trees as indexed outlines and"
  "   acts on them (click, type, keys, scroll, menus, window pictures), for the"
  "   host or for any Model Context Protocol client;"
  " - pelko-phone streams a phone's screen and draws contact sheets of videos;"
  " - pelko-notifier shows notification cards;"
  " - pelko-mic records the microphone to AAC with level lines;"
  " - pelko-packets is the agent's tool on Android devices;"
  " - the Dock tile plug-in shows the icon the user chose for the host.")
include(CPack)
