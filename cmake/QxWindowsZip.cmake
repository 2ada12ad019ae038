# The Windows ZIP a hospital's installer unpacks, made from both Windows builds:
#
#   qx-interface-<version>-windows/
#     x86/QX_Interface_center.dll, x86/qxic.dll   for 32-bit host processes (preset mingw)
#     x64/QX_Interface_center.dll, x64/qxic.dll   for 64-bit host processes (preset mingw64)
#     x86/qxcall.exe, x64/qxcall.exe              the command-line host, beside each DLL
#     include/qx_interface.h                      the header, once
#     qx_interface.ini                            a sample configuration, once
#     guide.md, guide.zh.md, windows.md           the guides, once
#     troubleshooting.md, troubleshooting.zh.md   symptoms and what to check, once
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
  file(COPY ${stage}/install-${arch}/bin/QX_Interface_center.dll
            ${stage}/install-${arch}/bin/qxic.dll
            ${stage}/install-${arch}/bin/qxcall.exe
       DESTINATION ${stage}/${top}/${arch})
endforeach()

set(from ${stage}/install-x86)
file(COPY ${from}/include/qx_interface.h DESTINATION ${stage}/${top}/include)
file(COPY ${from}/share/doc/qx_interface/qx_interface.ini
          ${from}/share/doc/qx_interface/guide.md
          ${from}/share/doc/qx_interface/guide.zh.md
          ${from}/share/doc/qx_interface/windows.md
     DESTINATION ${stage}/${top})
file(COPY ${CMAKE_CURRENT_LIST_DIR}/../docs/troubleshooting.md
          ${CMAKE_CURRENT_LIST_DIR}/../docs/troubleshooting.zh.md
     DESTINATION ${stage}/${top})

set(zip ${OUTPUT_DIR}/${top}.zip)
file(REMOVE ${zip})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${top}
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "making ${zip} failed")
endif()
file(REMOVE_RECURSE ${stage})
message(STATUS "${zip}")
