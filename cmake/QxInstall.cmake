# Installing the library for a hospital's engineer, and packaging it.
#
#   <prefix>/lib/libqx_interface.so.1.0.0, .so.1, .so   the library (RUNPATH $ORIGIN)
#   <prefix>/lib/libqxic.so                             the simulated card reader, beside it
#   <prefix>/include/qx_interface.h                     the public header
#   <prefix>/bin/qxcall, qx-center-sim                  the command-line host, the simulated center
#   <prefix>/lib/cmake/qx_interface/                    find_package(qx_interface) ->
#                                                       qx_interface::qx_interface
#   <prefix>/lib/pkgconfig/qx_interface.pc              pkg-config --cflags --libs qx_interface
#   <prefix>/share/doc/qx_interface/                    the guides and the example hosts
#
# The package files carry no absolute prefix: an installed tree can be moved as a whole.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qx_interface)
set(QX_PACKAGE_SUMMARY
    "in-process medical-insurance interface library for hospital information systems")

install(TARGETS qx_interface EXPORT qx_interfaceTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/qx_interface.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The library loads the card reader by its plain name and finds it beside itself. Only the
# simulator is installed; its variants without an entry point serve the tests alone. On a
# counter's machine the vendor's reader library takes the simulator's place.
if(TARGET qxic)
  install(TARGETS qxic LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                       RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# A sample configuration file for the host's folder.
install(FILES ${PROJECT_SOURCE_DIR}/docs/qx_interface.ini DESTINATION ${CMAKE_INSTALL_DOCDIR})
# qxcall installs itself (tools/qxcall).
if(TARGET qx-center-sim)
  install(TARGETS qx-center-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/examples)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

# CMake package.
install(EXPORT qx_interfaceTargets NAMESPACE qx_interface::
        FILE qx_interfaceTargets.cmake DESTINATION ${QX_INSTALL_CMAKEDIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/qx_interfaceConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/qx_interfaceConfig.cmake
  INSTALL_DESTINATION ${QX_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/package/qx_interfaceConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/qx_interfaceConfig.cmake
              ${PROJECT_BINARY_DIR}/package/qx_interfaceConfigVersion.cmake
        DESTINATION ${QX_INSTALL_CMAKEDIR})

# pkg-config file, relative to its own folder.
if(NOT WIN32)
  file(RELATIVE_PATH QX_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" QX_PC_TO_PREFIX "${QX_PC_TO_PREFIX}")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/qx_interface.pc.in
                 ${PROJECT_BINARY_DIR}/package/qx_interface.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/qx_interface.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# Installing into a scratch prefix and building a C host against it, through find_package and
# through pkg-config.
if(QX_BUILD_TESTS AND NOT WIN32)
  add_test(NAME install.consumer
           COMMAND ${CMAKE_COMMAND}
                   -DQX_BINARY_DIR=${PROJECT_BINARY_DIR}
                   -DQX_CONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/install/consumer
                   -DQX_SCRATCH=${PROJECT_BINARY_DIR}/install-test
                   -DQX_C_COMPILER=${CMAKE_C_COMPILER}
                   "-DQX_SANITIZE=${QX_SANITIZE}"
                   -DQX_LIBDIR=${CMAKE_INSTALL_LIBDIR}
                   -P ${PROJECT_SOURCE_DIR}/tests/install/install_test.cmake)
  set_tests_properties(install.consumer PROPERTIES LABELS install TIMEOUT 240)
endif()

# Packages: a Debian package of the library, the header, the tools and the documents. On Windows
# cpack gives one build's ZIP; the ZIP shipped to hospitals carries the 32- and the 64-bit DLLs
# side by side and is made from both builds by cmake/QxWindowsZip.cmake (scripts/test-windows).
set(CPACK_PACKAGE_NAME qx-interface)
set(CPACK_PACKAGE_VENDOR "QX_Interface_center")
set(CPACK_PACKAGE_CONTACT "QX_Interface_center maintainers <qx-interface@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${QX_PACKAGE_SUMMARY})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
