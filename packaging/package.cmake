# Installation and the Debian package. `make package` builds
# zevo-lui_<version>-<release>_<arch>.deb in the build folder with CPack;
# `make check-package` (packaging/check-package) checks it. Included from the
# top-level CMakeLists.txt once both executables are defined.

set(ZEVO_PACKAGE_NAME zevo-lui)
set(ZEVO_PACKAGE_VERSION ${PROJECT_VERSION})
if(PROJECT_VERSION_PATCH STREQUAL "")
  string(APPEND ZEVO_PACKAGE_VERSION ".0")
endif()
# Raised for a new package of the same program version.
set(ZEVO_PACKAGE_RELEASE 1)
set(ZEVO_PACKAGE_MAINTAINER "Quorvex ZEVO support <support@quorvex.com>")
set(ZEVO_PACKAGE_FILES ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ZEVO_PACKAGE_FILES})

# Folders in the package get the usual modes whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS zevo-lui zevo-lui-sim RUNTIME DESTINATION bin)

# --- Manual pages -----------------------------------------------------------
# The simulator's page takes its options section from what the built program
# prints for --help, so page and program cannot drift apart.
add_library(zevo_packaging STATIC ${CMAKE_CURRENT_LIST_DIR}/helptoroff.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/helptoroff.h)
target_include_directories(zevo_packaging PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zevo_packaging PUBLIC Qt5::Core)
add_executable(zevo-manpage ${CMAKE_CURRENT_LIST_DIR}/manpage.cpp)
target_link_libraries(zevo-manpage PRIVATE zevo_packaging)

find_program(ZEVO_GZIP gzip REQUIRED)
set(ZEVO_MANPAGES)
foreach(page zevo-lui zevo-lui-sim)
  set(source ${CMAKE_CURRENT_LIST_DIR}/${page}.1.in)
  set(roff ${ZEVO_PACKAGE_FILES}/${page}.1)
  set(options_from)
  set(program)
  if(page STREQUAL "zevo-lui-sim")
    set(program zevo-lui-sim)
    set(options_from $<TARGET_FILE:zevo-lui-sim>)
  endif()
  # The programs run here also in the sanitizer build, where leaks at exit
  # are no reason to fail the build; --help needs no display.
  add_custom_command(OUTPUT ${roff}.gz
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:zevo-manpage> ${source} ${roff} ${ZEVO_PACKAGE_VERSION} ${options_from}
    COMMAND ${ZEVO_GZIP} -9nf ${roff}
    DEPENDS zevo-manpage ${source} ${program}
    COMMENT "Writing the manual page ${page}(1)"
    VERBATIM)
  list(APPEND ZEVO_MANPAGES ${roff}.gz)
endforeach()

# Saves one setting through the program's store; packaging/check-package runs
# it under several operators' accounts in the installed configuration folder.
# Not installed.
add_executable(zevo-savesetting ${CMAKE_CURRENT_LIST_DIR}/savesetting.cpp)
target_link_libraries(zevo-savesetting PRIVATE zevo_app)

# --- Icon -------------------------------------------------------------------
# The desktop entries' icon is the emblem of the About logo (the ring and its
# beam), cut square out of the one drawing by its view box; the name beside
# it stays outside.
set(logo ${CMAKE_SOURCE_DIR}/resources/images/logo_quorvex.svg)
set(ZEVO_ICON ${ZEVO_PACKAGE_FILES}/zevo-lui.svg)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${logo})
file(READ ${logo} icon)
set(logo_frame "width=\"300\" height=\"96\" viewBox=\"0 0 300 96\"")
string(FIND "${icon}" "${logo_frame}" at)
if(at LESS 0)
  message(FATAL_ERROR "${logo} no longer has the frame ${logo_frame}: "
                      "adjust the icon's view box in ${CMAKE_CURRENT_LIST_FILE}")
endif()
string(REPLACE "${logo_frame}" "width=\"100\" height=\"100\" viewBox=\"6 -4 100 100\""
       icon "${icon}")
# The name's lettering would be cut off anyway; without it the icon needs no
# fonts.
string(REGEX REPLACE "[ ]*<text[^>]*>[^<]*</text>\n" "" icon "${icon}")
file(CONFIGURE OUTPUT ${ZEVO_ICON} CONTENT "${icon}" @ONLY)

# --- Package documentation ----------------------------------------------------
set(DEB_VERSION ${ZEVO_PACKAGE_VERSION}-${ZEVO_PACKAGE_RELEASE})
set(MAINTAINER ${ZEVO_PACKAGE_MAINTAINER})
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${ZEVO_PACKAGE_FILES}/changelog.Debian
               @ONLY)
add_custom_command(OUTPUT ${ZEVO_PACKAGE_FILES}/changelog.Debian.gz
  COMMAND ${ZEVO_GZIP} -9nkf ${ZEVO_PACKAGE_FILES}/changelog.Debian
  DEPENDS ${ZEVO_PACKAGE_FILES}/changelog.Debian
  VERBATIM)

add_custom_target(zevo-package-files ALL
  DEPENDS ${ZEVO_MANPAGES} ${ZEVO_PACKAGE_FILES}/changelog.Debian.gz)

install(FILES ${ZEVO_MANPAGES} DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zevo-lui.desktop ${CMAKE_CURRENT_LIST_DIR}/zevo-lui-sim.desktop
        DESTINATION share/applications)
install(FILES ${ZEVO_ICON} DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${ZEVO_PACKAGE_FILES}/changelog.Debian.gz
        DESTINATION share/doc/${ZEVO_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zevo-lui.tmpfiles
        DESTINATION lib/tmpfiles.d RENAME ${ZEVO_PACKAGE_NAME}.conf)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION share/lintian/overrides RENAME ${ZEVO_PACKAGE_NAME})

# --- Debian package -------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZEVO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${ZEVO_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvex)
set(CPACK_PACKAGE_CONTACT ${ZEVO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "operator program of the ZEVO beam position feedback system")
set(CPACK_PACKAGE_DESCRIPTION
    "ZEVO Local User Interface is the operator program of ZEVO, a beam position
and intensity feedback system for a synchrotron beamline. It runs on the
controller computer beside the feedback hardware and shows the live signals:
picoammeter currents, beam positions and intensity, DAC outputs, encoder
counts, the spectrum of one signal and the beam position in the XY plane. The
operator switches the feedback, sets setpoints, configures the PID loops,
regions and BPMs, and runs rocking-curve and step-response measurements.

zevo-lui drives the hardware through the ZEVO kernel driver and its
acquisition library, which come with the driver. zevo-lui-sim runs the same
program over a virtual controller and beamline, for training and for trying
settings without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEVO_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZEVO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.quorvex.com)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst makes the operators' group with addgroup; the libraries found by
# shlibdeps are added to this list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
