# Debian packages built by CPack from this build tree (scripts/package runs it):
#   pitch-autopilot-cli  the command line, without Qt
#   pitch-autopilot      the window and the picture renderer the command line's pictures need
# with their dependencies found by dpkg-shlibdeps, a man page per program, the copyright and the
# changelog, and for the window its .desktop entry, icon, AppStream metainfo and the results file's
# type.
set(PITCH_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(PITCH_PACKAGE_BUILD "${CMAKE_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${PITCH_PACKAGE_BUILD}")
find_program(GZIP_PROGRAM gzip REQUIRED)
find_program(HELP2MAN_PROGRAM help2man)

# gzip -9n: the same bytes on every build, as Debian wants them.
function(pitch_gzip source output)
  add_custom_command(OUTPUT "${output}"
                     COMMAND "${GZIP_PROGRAM}" -9nc "${source}" > "${output}"
                     DEPENDS "${source}" VERBATIM)
endfunction()

# The window's man page is kept in the tree; the command line's comes from its --help.
pitch_gzip("${PITCH_PACKAGING_DIR}/pitch-autopilot.1" "${PITCH_PACKAGE_BUILD}/pitch-autopilot.1.gz")
set(man_pages "${PITCH_PACKAGE_BUILD}/pitch-autopilot.1.gz")
if(HELP2MAN_PROGRAM)
  # help2man runs the program through help-for-man.sh, which puts each usage on one line; the
  # wrapper bears the program's name, which help2man shows.
  set(help_wrapper "${PITCH_PACKAGE_BUILD}/help2man/pitch-autopilot-cli")
  file(GENERATE OUTPUT "${help_wrapper}"
       CONTENT "#!/bin/sh\nexec sh '${PITCH_PACKAGING_DIR}/help-for-man.sh' '$<TARGET_FILE:pitch-autopilot-cli>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  add_custom_command(
    OUTPUT "${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1"
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
            "${HELP2MAN_PROGRAM}" --no-info --no-discard-stderr --section=1
            "--name=gear ratios, step response and parameter studies of a pitch autopilot"
            --include=${PITCH_PACKAGING_DIR}/pitch-autopilot-cli.h2m
            --output=${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1 "${help_wrapper}"
    DEPENDS pitch-autopilot-cli ${PITCH_PACKAGING_DIR}/pitch-autopilot-cli.h2m
            ${PITCH_PACKAGING_DIR}/help-for-man.sh VERBATIM)
  pitch_gzip("${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1"
             "${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1.gz")
  list(APPEND man_pages "${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1.gz")
  install(FILES "${PITCH_PACKAGE_BUILD}/pitch-autopilot-cli.1.gz"
          DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT cli)
endif()
install(FILES "${PITCH_PACKAGE_BUILD}/pitch-autopilot.1.gz"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT gui)

# Each package's copyright and changelog.
configure_file("${PITCH_PACKAGING_DIR}/changelog.in" "${PITCH_PACKAGE_BUILD}/changelog.Debian" @ONLY)
pitch_gzip("${PITCH_PACKAGE_BUILD}/changelog.Debian" "${PITCH_PACKAGE_BUILD}/changelog.Debian.gz")
add_custom_target(pitch_package_files ALL
                  DEPENDS ${man_pages} "${PITCH_PACKAGE_BUILD}/changelog.Debian.gz")
set(components cli gui)
set(packages pitch-autopilot-cli pitch-autopilot)
foreach(component package IN ZIP_LISTS components packages)
  install(FILES "${PITCH_PACKAGING_DIR}/copyright" "${PITCH_PACKAGE_BUILD}/changelog.Debian.gz"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}" COMPONENT ${component})
endforeach()
install(FILES "${PITCH_PACKAGING_DIR}/io.github.pitch_autopilot.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT gui)
# The results file's own type, which the .desktop entry names (shared-mime-info's trigger
# rebuilds the type database when the package is installed).
install(FILES "${PITCH_PACKAGING_DIR}/pitch-autopilot-results.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/mime/packages" RENAME pitch-autopilot.xml
        COMPONENT gui)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pitch-autopilot)
set(CPACK_PACKAGE_VENDOR "pitch-autopilot maintainers")
set(CPACK_PACKAGE_CONTACT "pitch-autopilot maintainers <maintainers@pitch-autopilot.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli gui)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME pitch-autopilot-cli)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME pitch-autopilot)
set(CPACK_DEBIAN_CLI_DESCRIPTION
    "pitch autopilot gear ratios and step response, command line
Derives the four gear ratios of a pitch autopilot with rigid feedback from
the five coefficients of the aircraft's linear model, simulates the closed
loop's unit-step response in x87 extended precision and reports its
characteristics, poles and loop margins. Parameter studies run many
coefficient sets in parallel and can be split across machines.

This package links no graphical libraries; its --plot, --bode and --map
pictures need the renderer of the pitch-autopilot package.")
set(CPACK_DEBIAN_GUI_DESCRIPTION
    "pitch autopilot gear ratios and step response, window
The desktop program of pitch-autopilot: enter the five coefficients of the
aircraft's linear model, get the autopilot's gear ratios, the step response
chart and the open loop's Bode diagram with the loop margins, and save the
results file.

It also holds the picture renderer that draws the pictures of
pitch-autopilot-cli.")
# Besides the libraries shlibdeps finds: the Tahoma face the pictures are drawn with, and Qt's
# own Russian texts.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "fonts-wine, qt6-translations-l10n")
set(CPACK_DEBIAN_GUI_PACKAGE_SUGGESTS pitch-autopilot-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS pitch-autopilot)
include(CPack)
