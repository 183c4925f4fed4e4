# The Debian package of the Linux launcher and the tools (`cpack -G DEB` in a release build;
# scripts/package-deb.sh builds it and checks it with lintian, desktop-file-validate and
# appstreamcli). Placed as Debian places games: the launcher's program in
# /usr/lib/games/veldmoor-launcher, and /usr/games/veldmoor-launcher, which copies it into the
# player's own launcher folder (where it can update itself and keep its profiles) and starts it
# there. The tools are for the world's maintainers and go to /usr/bin.
if(WIN32 OR NOT VELDMOOR_BUILD_UI)
  return()
endif()

include(GNUInstallDirs)
set(_linux "${PROJECT_SOURCE_DIR}/res/linux")
set(_out "${PROJECT_BINARY_DIR}/package")
set(_id org.veldmoor.Launcher)
set(_doc "${CMAKE_INSTALL_DATAROOTDIR}/doc/veldmoor-launcher")
set(VERSION "${PROJECT_VERSION}")

configure_file("${_linux}/veldmoor-launcher" "${_out}/veldmoor-launcher" @ONLY)
configure_file("${_linux}/${_id}.metainfo.xml" "${_out}/${_id}.metainfo.xml" @ONLY)
configure_file("${_linux}/changelog" "${_out}/changelog" @ONLY)

# Made by the build, not committed: the icons from the program icon's drawing, the copyright
# file from the project's stanza and the embedded fonts' own, the manual pages from each
# program's --help.
set(_tools veldmoor-publish veldmoor-serve veldmoor-sync)
set(_pages)
foreach(tool IN LISTS _tools)
  list(APPEND _pages "${_out}/man/${tool}.1.gz")
  add_custom_command(
    OUTPUT "${_out}/man/${tool}.1.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${_out}/man"
    COMMAND help2man --no-info --version-string=${PROJECT_VERSION} --name=${tool}
            --output=${_out}/man/${tool}.1 $<TARGET_FILE:${tool}>
    COMMAND gzip -9nf "${_out}/man/${tool}.1"
    DEPENDS ${tool}
    COMMENT "Making the manual page of ${tool}")
endforeach()
add_custom_command(
  OUTPUT "${_out}/man/veldmoor-launcher.6.gz"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_out}/man"
  COMMAND help2man --no-info --section=6 --name=veldmoor-launcher
          --output=${_out}/man/veldmoor-launcher.6 "${_out}/veldmoor-launcher"
  COMMAND gzip -9nf "${_out}/man/veldmoor-launcher.6"
  DEPENDS "${_linux}/veldmoor-launcher"
  COMMENT "Making the manual page of veldmoor-launcher")
add_custom_command(
  OUTPUT "${_out}/icons/256x256/${_id}.png"
  COMMAND /usr/bin/python3 "${_linux}/make_icons.py" "${_out}/icons"
  DEPENDS "${_linux}/make_icons.py" "${PROJECT_SOURCE_DIR}/res/make_artwork.py"
  COMMENT "Making the desktop icons")
add_custom_command(
  OUTPUT "${_out}/copyright" "${_out}/changelog.gz"
  COMMAND sh "${_linux}/make_copyright.sh" "${_linux}/copyright" "${PROJECT_SOURCE_DIR}/res/fonts"
          "${_out}/copyright"
  COMMAND gzip -9nc "${_out}/changelog" > "${_out}/changelog.gz"
  DEPENDS "${_linux}/copyright" "${_linux}/make_copyright.sh" "${_out}/changelog"
          "${PROJECT_SOURCE_DIR}/res/fonts/185-Runeglyph_Hollow.LICENSE"
          "${PROJECT_SOURCE_DIR}/res/fonts/186-Runeglyph_Solid.LICENSE"
  COMMENT "Making the package's copyright file and changelog")
# Built by scripts/package-deb.sh before cpack, not by every build.
add_custom_target(veldmoor_package_files
  DEPENDS ${_pages} "${_out}/man/veldmoor-launcher.6.gz" "${_out}/icons/256x256/${_id}.png" "${_out}/copyright" "${_out}/changelog.gz")

# Two packages: the players' launcher, placed as Debian places games, and the maintainers' tools.
install(TARGETS Launcher DESTINATION lib/games/veldmoor-launcher COMPONENT launcher)
install(PROGRAMS "${_out}/veldmoor-launcher" DESTINATION games COMPONENT launcher)
install(FILES "${_linux}/${_id}.desktop" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/applications"
        COMPONENT launcher)
install(FILES "${_out}/${_id}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/metainfo"
        COMPONENT launcher)
install(DIRECTORY "${_out}/icons/" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor"
        COMPONENT launcher)
install(FILES "${_out}/man/veldmoor-launcher.6.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man6"
        COMPONENT launcher)
install(TARGETS ${_tools} DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tools)
install(FILES ${_pages} DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tools)
foreach(package launcher tools)
  install(FILES "${_out}/copyright" "${_out}/changelog.gz"
          DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/veldmoor-${package}" COMPONENT ${package})
endforeach()

if(VELDMOOR_BUILD_TESTS)
  add_test(NAME LauncherPackage.StartCommand
           COMMAND sh "${PROJECT_SOURCE_DIR}/tests/package/start_command_test.sh"
                   "${_out}/veldmoor-launcher")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL launcher tools)
set(CPACK_PACKAGE_NAME veldmoor)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "The Veldmoor maintainers <maintainers@veldmoor.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${VELDMOOR_WEB_HOST}/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME veldmoor-launcher)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SECTION games)
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION "launcher and patcher of the Veldmoor game client
Keeps the game installation of the community world Veldmoor, and the
launcher itself, up to date from the world's synchronisation server,
fetching only the changed parts of each file over HTTP range requests;
verifies signed updates, removes obsolete files, repairs an installation
and starts the game.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME veldmoor-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "publish, serve and synchronise Veldmoor repositories
Tools for the maintainers of the community world Veldmoor:
veldmoor-publish builds a repository (file list, transfer copies, chunk
indexes) and signs it, veldmoor-serve serves one over HTTP with byte
ranges, veldmoor-sync brings a folder up to date from one in a terminal.")
include(CPack)
