# Installing the library for a hospital's engineer, and packaging it.
#
#   <prefix>/lib/<multiarch>/libqx_interface.so.1.1.0   the library (SONAME libqx_interface.so.1,
#     libqx_interface.so.1, libqx_interface.so         no RUNPATH)
#   <prefix>/include/qx_interface.h                     the public header
#   <prefix>/bin/qxcall, qx-center-sim                  the command-line host, the simulated center
#   <prefix>/lib/<multiarch>/qx-interface/sim/libqxic-sim.so
#                                                       the simulated card reader, in the tools'
#                                                       own folder: never beside the library, never
#                                                       under the vendor's name
#   <prefix>/lib/<multiarch>/cmake/qx_interface/        find_package(qx_interface) ->
#                                                       qx_interface::qx_interface
#   <prefix>/lib/<multiarch>/pkgconfig/qx_interface.pc  pkg-config --cflags --libs qx_interface
#   <prefix>/share/doc/qx_interface/                    the guides and the example hosts
#   <prefix>/share/man/man1/qxcall.1, qx-center-sim.1   the manual pages
#
# <multiarch> is the Debian triplet (x86_64-linux-gnu) where the compiler names one, as Debian's
# own libraries are laid out. The package files carry no absolute prefix: an installed tree can
# be moved as a whole. scripts/package makes the Debian packages from such a tree.
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

# The simulated card reader is installed in the tools' own folder under its own name; the
# library never finds it by itself (qxcall --card-reader points at it). The variants without an
# entry point serve the tests alone.
set(QX_INSTALL_SIMDIR ${CMAKE_INSTALL_LIBDIR}/qx-interface/sim)
if(TARGET qxic-sim AND NOT WIN32)
  install(TARGETS qxic-sim LIBRARY DESTINATION ${QX_INSTALL_SIMDIR})
elseif(TARGET qxic-sim)
  install(TARGETS qxic-sim RUNTIME DESTINATION sim)
endif()
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/qxcall.1
                ${PROJECT_SOURCE_DIR}/docs/man/qx-center-sim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
# A sample configuration file for the host's folder.
install(FILES ${PROJECT_SOURCE_DIR}/docs/qx_interface.ini DESTINATION ${CMAKE_INSTALL_DOCDIR})
# qxcall installs itself (tools/qxcall).
if(TARGET qx-center-sim)
  install(TARGETS qx-center-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        PATTERN man EXCLUDE)
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
                   -DQX_LIBDIR=${CMAKE_INSTALL_LIBDIR} -DQX_VERSION=${PROJECT_VERSION}
                   -P ${PROJECT_SOURCE_DIR}/tests/install/install_test.cmake)
  set_tests_properties(install.consumer PROPERTIES LABELS install TIMEOUT 240)
endif()

# Packages: scripts/package makes the three Debian packages (library, -dev, tools) from an
# installed tree with dpkg-deb (debian/ holds their control files); the ZIP shipped to hospitals
# carries the 32- and the 64-bit DLLs side by side and is made from both Windows builds by
# cmake/QxWindowsZip.cmake (scripts/test-windows). The package version is PROJECT_VERSION.
