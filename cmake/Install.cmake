# Install layout (GNUInstallDirs):
#   bin/                    joinwiz, linesim, modsetctl
#   LIBDIR/                 libserlink.so and libmodset.so (SONAME .1), their
#                           pkg-config files in LIBDIR/pkgconfig
#   LIBDIR/veloran/         libplatform.so and the display renderers: private,
#                           reached through RUNPATH only
#   include/                serlink.h, modset.h
#   share/veloran/data/     side files beside which joinwiz installs itself
#   share/veloran/scenarios reference server scenarios for linesim
#   share/applications, share/icons, share/metainfo, share/man/man1
# Every RUNPATH is relative ($ORIGIN), so the tree works from any prefix and
# under DESTDIR.
#
# Each file belongs to one install component, and each component is one
# Debian package, split as Debian splits libraries:
#   libserlink1, libmodset1   the public library, SONAME .1 (runtime)
#   libserlink-dev,           its namelink, header and pkg-config file
#   libmodset-dev
#   veloran-platform          the private libraries both public ones and the
#                             programs load (libplatform, the renderers)
#   veloran-signup            the programs, side files, scenarios, menu
#                             entry, icons, man pages
# VLR_PRIVATE_LIBDIR and VLR_DATA_INSTALL_DIR come from the top CMakeLists.

file(RELATIVE_PATH vlr_bin_to_private /${CMAKE_INSTALL_BINDIR} /${VLR_PRIVATE_LIBDIR})
file(RELATIVE_PATH vlr_lib_to_private /${CMAKE_INSTALL_LIBDIR} /${VLR_PRIVATE_LIBDIR})
file(RELATIVE_PATH vlr_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})

set(vlr_programs joinwiz linesim modsetctl)
set(vlr_public_libs serlink modset)
set(vlr_private_libs platform display_headless display_terminal display_gtk)

foreach(t ${vlr_public_libs})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES
      VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
      INSTALL_RPATH "$ORIGIN/${vlr_lib_to_private};$ORIGIN")
    install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT lib${t}${PROJECT_VERSION_MAJOR} NAMELINK_COMPONENT lib${t}-dev)
  endif()
endforeach()

foreach(t ${vlr_private_libs})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${t} LIBRARY DESTINATION ${VLR_PRIVATE_LIBDIR} COMPONENT veloran-platform
            NAMELINK_SKIP)
  endif()
endforeach()

foreach(t ${vlr_programs})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES
      INSTALL_RPATH "$ORIGIN/${vlr_bin_to_private};$ORIGIN/${vlr_bin_to_lib}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT veloran-signup)
  endif()
endforeach()

file(RELATIVE_PATH VLR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VLR_PC_TO_PREFIX "${VLR_PC_TO_PREFIX}")
foreach(lib ${vlr_public_libs})
  install(FILES ${PROJECT_SOURCE_DIR}/${lib}/include/${lib}.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT lib${lib}-dev)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${lib}.pc.in
                 ${CMAKE_BINARY_DIR}/packaging/${lib}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${lib}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT lib${lib}-dev)
endforeach()

file(GLOB vlr_install_data CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.*)
install(FILES ${vlr_install_data} DESTINATION ${VLR_DATA_INSTALL_DIR}/data COMPONENT veloran-signup)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/scenarios/
        DESTINATION ${VLR_DATA_INSTALL_DIR}/scenarios COMPONENT veloran-signup)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/joinwiz.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT veloran-signup)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/com.veloran.joinwiz.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT veloran-signup)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/joinwiz-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME joinwiz.png COMPONENT veloran-signup)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/joinwiz-128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
        RENAME joinwiz.png COMPONENT veloran-signup)

# The icon generator (a test checks packaging/icons still match it).
add_executable(make_icons ${PROJECT_SOURCE_DIR}/packaging/tools/make_icons.cpp)

# Man pages, compressed as Debian wants them.
find_program(VLR_GZIP gzip)
foreach(page joinwiz linesim modsetctl)
  set(src ${PROJECT_SOURCE_DIR}/man/${page}.1)
  if(VLR_GZIP)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${VLR_GZIP} -9 -n -c ${src} > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
      DEPENDS ${src} VERBATIM)
    list(APPEND vlr_man_out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  else()
    list(APPEND vlr_man_out ${src})
  endif()
endforeach()
add_custom_target(vlr_man_pages ALL DEPENDS ${vlr_man_out})
install(FILES ${vlr_man_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT veloran-signup)

# Every package's changelog and copyright, where Debian wants them.
set(vlr_packages veloran-signup veloran-platform)
foreach(lib ${vlr_public_libs})
  list(APPEND vlr_packages lib${lib}${PROJECT_VERSION_MAJOR} lib${lib}-dev)
endforeach()
if(VLR_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${VLR_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(vlr_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
endif()
foreach(package ${vlr_packages})
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  if(VLR_GZIP)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir} COMPONENT ${package})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc_dir} COMPONENT ${package})
endforeach()

# Debian packages, one per component (the list at the top).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${vlr_packages})
set(CPACK_PACKAGE_NAME veloran-signup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Veloran Network <support@veloran.example>")
set(CPACK_PACKAGE_VENDOR "Veloran Network")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veloran.example/signup")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps finds our own libraries in the build tree; the packages
# that hold them are named in Depends below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(vlr_exact "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_VELORAN-SIGNUP_PACKAGE_NAME veloran-signup)
set(CPACK_DEBIAN_VELORAN-SIGNUP_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_VELORAN-SIGNUP_PACKAGE_DEPENDS
    "veloran-platform ${vlr_exact}, libserlink1 ${vlr_exact}, libmodset1 ${vlr_exact}")
set(CPACK_DEBIAN_VELORAN-SIGNUP_PACKAGE_RECOMMENDS "ppp")
set(CPACK_COMPONENT_VELORAN-SIGNUP_DESCRIPTION
"dial-up sign-up wizard for the Veloran Network
joinwiz signs the computer up for a Veloran dial-up account: it collects
the user's data, finds and sets up the modem, calls the registration
server and leaves a pppd dial-up entry and desktop launchers behind.
.
The package also holds modsetctl, the modem settings program, and
linesim, a simulated phone line with modems and the reference
registration server.")

set(CPACK_DEBIAN_VELORAN-PLATFORM_PACKAGE_NAME veloran-platform)
set(CPACK_DEBIAN_VELORAN-PLATFORM_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_VELORAN-PLATFORM_DESCRIPTION
"private libraries of the Veloran sign-up programs
The platform library (message loop, windows and dialogs, registry, serial
ports, shell services) and the display renderers (headless, terminal,
GTK 4) that joinwiz, libserlink and libmodset load. They live in a
private folder and are not meant for other programs.")

set(vlr_lib_summary_serlink "Veloran serial, Hayes modem and sign-on library")
set(vlr_lib_text_serlink "libserlink opens serial ports (and RFC 2217 network ports), speaks the
Hayes AT command set, finds and sets up modems and signs on to the
registration server.")
set(vlr_lib_summary_modset "Veloran dialing, modem and access-number settings library")
set(vlr_lib_text_modset "libmodset keeps the dialing, modem and access-number settings of the
Veloran programs and shows their setup dialogs.")
foreach(lib ${vlr_public_libs})
  set(runtime lib${lib}${PROJECT_VERSION_MAJOR})
  string(TOUPPER ${runtime} RUNTIME)
  string(TOUPPER lib${lib}-dev DEV)
  set(CPACK_DEBIAN_${RUNTIME}_PACKAGE_NAME ${runtime})
  set(CPACK_DEBIAN_${RUNTIME}_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_${RUNTIME}_PACKAGE_DEPENDS "veloran-platform ${vlr_exact}")
  # A shlibs file and the ldconfig trigger: only the library packages. The
  # shlibs file is written here because CPack makes it for every package or
  # none, and the private libraries (unversioned on purpose) must not be in one.
  set(shlibs ${CMAKE_BINARY_DIR}/packaging/${runtime}/shlibs)
  file(WRITE ${shlibs} "lib${lib} ${PROJECT_VERSION_MAJOR} ${runtime} (>= ${PROJECT_VERSION})\n")
  set(CPACK_DEBIAN_${RUNTIME}_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/triggers;${shlibs}")
  set(CPACK_COMPONENT_${RUNTIME}_DESCRIPTION "${vlr_lib_summary_${lib}}\n${vlr_lib_text_${lib}}")
  set(CPACK_DEBIAN_${DEV}_PACKAGE_NAME lib${lib}-dev)
  set(CPACK_DEBIAN_${DEV}_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_${DEV}_PACKAGE_DEPENDS "${runtime} ${vlr_exact}")
  set(CPACK_COMPONENT_${DEV}_DESCRIPTION
      "${vlr_lib_summary_${lib}} (development files)\n${vlr_lib_text_${lib}}\n.\nThis package holds the header, the pkg-config file and the link for the\nlinker.")
endforeach()
# modset.pc requires serlink.pc.
set(CPACK_DEBIAN_LIBMODSET-DEV_PACKAGE_DEPENDS "libmodset1 ${vlr_exact}, libserlink-dev ${vlr_exact}")
include(CPack)
