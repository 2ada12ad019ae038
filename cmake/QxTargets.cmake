# Helpers shared by the library, the tools and the tests.

# Files named *_texts.cpp hold the system's own texts. The sources are UTF-8; the compiler turns
# every narrow literal in them into GBK bytes, which is what the host and the user receive.
# Only GCC can do that; the clang build exists for fuzzing alone, whose targets check no texts,
# and keeps them in UTF-8.
function(qx_gbk_texts target)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    return()
  endif()
  get_target_property(_sources ${target} SOURCES)
  foreach(src ${_sources})
    if(src MATCHES "_texts\\.cpp$")
      set_source_files_properties(${src} TARGET_DIRECTORY ${target}
        PROPERTIES COMPILE_OPTIONS "-fexec-charset=GBK")
    endif()
  endforeach()
endfunction()

# Third-party and system libraries behind platform/.
function(qx_link_platform target)
  if(WIN32)
    target_link_libraries(${target} PUBLIC wininet ole32 oleaut32 uuid user32 comctl32)
  else()
    find_package(CURL REQUIRED)
    find_package(pugixml REQUIRED)
    find_package(Threads REQUIRED)
    # pugixml is linked statically: the library's copy allocates through the library's own
    # allocator (src/platform/posix/large_pages.h), which must not reach a host's pugixml.
    target_link_libraries(${target} PUBLIC CURL::libcurl pugixml::static Threads::Threads
                                           ${CMAKE_DL_LIBS})
  endif()
endfunction()

# qx_version_resource(target file description): a VERSIONINFO resource for a Windows DLL or
# program, with the project's version (the public header's). No-op elsewhere.
function(qx_version_resource target file description)
  if(NOT WIN32)
    return()
  endif()
  set(QX_RC_FILE ${file})
  set(QX_RC_DESCRIPTION ${description})
  if(file MATCHES "\\.dll$")
    set(QX_RC_TYPE VFT_DLL)
  else()
    set(QX_RC_TYPE VFT_APP)
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
