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
            COMPONENT runtime NAMELINK_COMPONENT development)
  endif()
endforeach()

foreach(t ${vlr_private_libs})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${t} LIBRARY DESTINATION ${VLR_PRIVATE_LIBDIR} COMPONENT runtime
            NAMELINK_SKIP)
  endif()
endforeach()

foreach(t ${vlr_programs})
  if(TARGET ${t})
    set_target_properties(${t} PROPERTIES
      INSTALL_RPATH "$ORIGIN/${vlr_bin_to_private};$ORIGIN/${vlr_bin_to_lib}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/serlink/include/serlink.h
              ${PROJECT_SOURCE_DIR}/modset/include/modset.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

file(RELATIVE_PATH VLR_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VLR_PC_TO_PREFIX "${VLR_PC_TO_PREFIX}")
foreach(pc serlink modset)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${pc}.pc.in
                 ${CMAKE_BINARY_DIR}/packaging/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

file(GLOB vlr_install_data CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/*.*)
install(FILES ${vlr_install_data} DESTINATION ${VLR_DATA_INSTALL_DIR}/data COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/scenarios/
        DESTINATION ${VLR_DATA_INSTALL_DIR}/scenarios COMPONENT runtime)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/joinwiz.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
# The polkit action through which the closing page runs the system install
# (pkexec matches it by the program's installed path).
set(VLR_JOINWIZ_PATH ${CMAKE_INSTALL_FULL_BINDIR}/joinwiz)
configure_file(${PROJECT_SOURCE_DIR}/packaging/com.veloran.joinwiz.policy.in
               ${CMAKE_BINARY_DIR}/packaging/com.veloran.joinwiz.policy @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/com.veloran.joinwiz.policy
        DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/com.veloran.joinwiz.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/joinwiz-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME joinwiz.png COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/joinwiz-128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
        RENAME joinwiz.png COMPONENT runtime)

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
install(FILES ${vlr_man_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

# The package's changelog and copyright, where Debian wants them.
set(vlr_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/veloran-signup)
if(VLR_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${VLR_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(vlr_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${vlr_doc_dir} COMPONENT runtime)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${vlr_doc_dir} COMPONENT runtime)

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veloran-signup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Veloran Network <support@veloran.example>")
set(CPACK_PACKAGE_VENDOR "Veloran Network")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dial-up sign-up wizard for the Veloran Network")
set(CPACK_PACKAGE_DESCRIPTION
"joinwiz signs the computer up for a Veloran dial-up account: it collects
the user's data, finds and sets up the modem, calls the registration
server and leaves a pppd dial-up entry and desktop launchers behind.

The package also holds libserlink (serial, Hayes modem and sign-on
services), libmodset (dialing, modem and access-number settings) with
their headers, modsetctl, and linesim, a simulated phone line with modems
and the reference registration server.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veloran.example/signup")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file and the ldconfig trigger for the two public libraries.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ppp, pkexec")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# dpkg-shlibdeps must find our own private libraries to skip them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
