# Installs the build tree into a scratch prefix, checks the installed layout, then builds the C
# host in consumer/ against it twice, through find_package and through pkg-config, and runs it.
# The pkg-config build uses the prefix after it was moved, so nothing in the installed package
# files may point at the place it was installed to.
#
#   cmake -DQX_BINARY_DIR=... -DQX_CONSUMER_DIR=... -DQX_SCRATCH=... -DQX_C_COMPILER=...
#         -DQX_LIBDIR=lib/<multiarch> -DQX_VERSION=1.1.0 [-DQX_SANITIZE=address;undefined] -P install_test.cmake
foreach(var QX_BINARY_DIR QX_CONSUMER_DIR QX_SCRATCH QX_C_COMPILER QX_LIBDIR QX_VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_test: ${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "install_test: '${cmd}' failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${QX_SCRATCH}/prefix)
set(moved ${QX_SCRATCH}/moved)
file(REMOVE_RECURSE ${QX_SCRATCH})
file(MAKE_DIRECTORY ${QX_SCRATCH})

run(${CMAKE_COMMAND} --install ${QX_BINARY_DIR} --prefix ${prefix})

# The layout a hospital's engineer finds.
set(lib ${prefix}/${QX_LIBDIR})
foreach(file ${lib}/libqx_interface.so.${QX_VERSION} ${lib}/qx-interface/sim/libqxic-sim.so
             include/qx_interface.h bin/qxcall
             bin/qx-center-sim share/doc/qx_interface/guide.md share/doc/qx_interface/README.md
             ${lib}/cmake/qx_interface/qx_interfaceConfig.cmake
             ${lib}/cmake/qx_interface/qx_interfaceConfigVersion.cmake
             ${lib}/pkgconfig/qx_interface.pc)
  if(NOT IS_ABSOLUTE ${file})
    set(file ${prefix}/${file})
  endif()
  if(NOT EXISTS ${file} OR IS_SYMLINK ${file})
    message(FATAL_ERROR "install_test: ${file} is missing or not a regular file")
  endif()
endforeach()
foreach(link_target libqx_interface.so:libqx_interface.so.1 libqx_interface.so.1:libqx_interface.so.${QX_VERSION})
  string(REPLACE ":" ";" pair ${link_target})
  list(GET pair 0 link)
  list(GET pair 1 target)
  if(NOT IS_SYMLINK ${lib}/${link})
    message(FATAL_ERROR "install_test: ${lib}/${link} is not a symbolic link")
  endif()
  file(READ_SYMLINK ${lib}/${link} points_to)
  if(NOT points_to STREQUAL target)
    message(FATAL_ERROR "install_test: ${link} points to '${points_to}', expected '${target}'")
  endif()
endforeach()
foreach(file ${lib}/qx-interface/sim/libqxic-sim-no-start.so ${lib}/libqx_interface.a)
  if(EXISTS ${file})
    message(FATAL_ERROR "install_test: ${file} is a build-tree file and must not be installed")
  endif()
endforeach()
# Nothing installed bears the vendor's card-reader name.
file(GLOB_RECURSE vendor_named ${prefix}/*libqxic.so ${prefix}/*qxic.dll)
if(vendor_named)
  message(FATAL_ERROR "install_test: installed under the vendor's name: ${vendor_named}")
endif()

# No RUNPATH: a card reader that lies beside the library must not win over the vendor's.
run(readelf -d ${lib}/libqx_interface.so.${QX_VERSION})
if(NOT run_output MATCHES "\\(SONAME\\)[^\n]*\\[libqx_interface\\.so\\.1\\]")
  message(FATAL_ERROR "install_test: SONAME is not libqx_interface.so.1:\n${run_output}")
endif()
if(run_output MATCHES "\\((RUNPATH|RPATH)\\)")
  message(FATAL_ERROR "install_test: the installed library has a RUNPATH:\n${run_output}")
endif()

set(c_flags "")
if(QX_SANITIZE)
  string(REPLACE ";" "," san "${QX_SANITIZE}")
  set(c_flags "-fsanitize=${san}")
endif()

# 1. find_package(qx_interface) and the imported target.
run(${CMAKE_COMMAND} -S ${QX_CONSUMER_DIR} -B ${QX_SCRATCH}/find_package
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${QX_C_COMPILER}
    "-DCMAKE_C_FLAGS=${c_flags}" "-DCMAKE_EXE_LINKER_FLAGS=${c_flags}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${QX_SCRATCH}/find_package)
run(${QX_SCRATCH}/find_package/consumer)
message(STATUS "find_package consumer: ${run_output}")

# 2. pkg-config, from the moved prefix.
file(RENAME ${prefix} ${moved})
set(ENV{PKG_CONFIG_PATH} ${moved}/${QX_LIBDIR}/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} ${moved}/${QX_LIBDIR}/pkgconfig)
run(pkg-config --cflags --libs qx_interface)
string(STRIP "${run_output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run(pkg-config --variable=libdir qx_interface)
string(STRIP "${run_output}" pc_libdir)
get_filename_component(pc_libdir ${pc_libdir} REALPATH)
get_filename_component(moved_lib ${moved}/${QX_LIBDIR} REALPATH)
if(NOT pc_libdir STREQUAL moved_lib)
  message(FATAL_ERROR "install_test: pkg-config libdir is ${pc_libdir}, expected ${moved_lib}")
endif()
separate_arguments(c_flag_list UNIX_COMMAND "${c_flags}")
file(MAKE_DIRECTORY ${QX_SCRATCH}/pkg-config)
run(${QX_C_COMPILER} ${c_flag_list} ${QX_CONSUMER_DIR}/consumer.c ${pc_flags}
    -Wl,-rpath,${pc_libdir} -o ${QX_SCRATCH}/pkg-config/consumer)
run(${QX_SCRATCH}/pkg-config/consumer)
message(STATUS "pkg-config consumer: ${run_output}")

file(REMOVE_RECURSE ${QX_SCRATCH})
