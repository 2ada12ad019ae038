# The Windows ZIP a hospital's installer unpacks, made from both Windows builds:
#
#   qx-interface-<version>-windows/
#     README.txt                                   English and Chinese, CR LF: which folder,
#                                                  where the vendor's qxic.dll must be, sim/
#     x86/QX_Interface_center.dll, qxcall.exe      for 32-bit host processes (preset mingw)
#     x86/QX_Interface_center.def,
#         libQX_Interface_center.dll.a             the exports and the import library
#     x64/...                                      the same for 64-bit host processes (mingw64)
#     sim/x86/qxic-sim.dll, sim/x64/qxic-sim.dll   the simulated card reader, for trials only:
#                                                  never beside the DLLs, never named qxic.dll
#     include/qx_interface.h                       the header, once
#     docs/*.md                                    the guides and every note they refer to
#     qx_interface.ini                             a sample configuration
#     CHANGELOG.md, LICENSE.txt                    the changelog and the licence notice
#
# A host loads the folder matching its own process's bitness, not the operating system's.
# qxcall.exe loads the DLL beside it, so each folder's copy tries that folder's DLL.
#
#   cmake -DX86_BUILD=build/mingw -DX64_BUILD=build/mingw64 -DOUTPUT_DIR=build/windows-zip
#         -P cmake/QxWindowsZip.cmake
#
# Each build is installed, stripped, into a scratch folder first (both must be built).
foreach(var X86_BUILD X64_BUILD OUTPUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "QxWindowsZip.cmake needs -D${var}=...")
  endif()
  get_filename_component(${var} "${${var}}" ABSOLUTE)
endforeach()

get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
# The version is the public header's.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../include/qx_interface.h _version_row
     REGEX "^#define QX_INTERFACE_VERSION_STRING \"[0-9.]+\"$")
string(REGEX REPLACE "^.*\"([0-9.]+)\"$" "\\1" version "${_version_row}")
if(NOT version)
  message(FATAL_ERROR "no QX_INTERFACE_VERSION_STRING in include/qx_interface.h")
endif()

set(stage ${OUTPUT_DIR}/stage)
set(top qx-interface-${version}-windows)
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/${top})

foreach(arch x86 x64)
  if(arch STREQUAL "x86")
    set(build ${X86_BUILD})
  else()
    set(build ${X64_BUILD})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${build} --prefix ${stage}/install-${arch}
                          --strip
                  OUTPUT_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "installing ${build} failed")
  endif()
  set(from ${stage}/install-${arch})
  file(COPY ${from}/bin/QX_Interface_center.dll ${from}/bin/qxcall.exe
            ${from}/lib/libQX_Interface_center.dll.a
       DESTINATION ${stage}/${top}/${arch})
  if(arch STREQUAL "x86")
    set(def qx_interface.def)
  else()
    set(def qx_interface_x64.def)
  endif()
  configure_file(${source}/src/interface/${def} ${stage}/${top}/${arch}/QX_Interface_center.def
                 COPYONLY)
  file(COPY ${from}/sim/qxic-sim.dll DESTINATION ${stage}/${top}/sim/${arch})
endforeach()

set(from ${stage}/install-x86)
file(COPY ${from}/include/qx_interface.h DESTINATION ${stage}/${top}/include)
file(COPY ${source}/docs/qx_interface.ini ${source}/CHANGELOG.md DESTINATION ${stage}/${top})
file(GLOB docs ${source}/docs/*.md)
file(COPY ${docs} DESTINATION ${stage}/${top}/docs)
# Texts a Windows engineer opens in Notepad: CR LF line ends.
function(copy_crlf from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(REPLACE "@VERSION@" "${version}" text "${text}")
  file(WRITE ${to} "${text}")
endfunction()
copy_crlf(${CMAKE_CURRENT_LIST_DIR}/zip/README.txt ${stage}/${top}/README.txt)
copy_crlf(${source}/LICENSE ${stage}/${top}/LICENSE.txt)

set(zip ${OUTPUT_DIR}/${top}.zip)
file(REMOVE ${zip})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${top}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "making ${zip} failed")
endif()
file(REMOVE_RECURSE ${stage})
message(STATUS "${zip}")
