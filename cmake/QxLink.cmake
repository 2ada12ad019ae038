# Every link of the Linux build runs through this script, as the linker launcher
# (cmake -P QxLink.cmake -- <link command>), so that no program or library of ours searches a
# folder of its own for its libraries, the current directory least of all, whatever the
# environment it is built in:
#  - the GNU linker writes LD_RUN_PATH from the environment into whatever it links without
#    -rpath, and a variable that is set but empty becomes an empty RUNPATH: the link runs with it
#    unset;
#  - a RUNPATH the link is given from outside (LDFLAGS with an empty -rpath makes one of '') is
#    taken out of the file it wrote (-o), once the link has succeeded.
# None of our programs or libraries needs a RUNPATH: each finds what it loads through the
# system's search.
set(command)
set(output)
set(started FALSE)
set(next_is_output FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  set(arg "${CMAKE_ARGV${i}}")
  if(NOT started)
    if(arg STREQUAL "--")
      set(started TRUE)
    endif()
    continue()
  endif()
  if(next_is_output)
    set(output "${arg}")
    set(next_is_output FALSE)
  elseif(arg STREQUAL "-o")
    set(next_is_output TRUE)
  endif()
  # A ';' inside one argument must not split it in two.
  string(REPLACE ";" "\\;" arg "${arg}")
  list(APPEND command "${arg}")
endforeach()
if(NOT command)
  message(FATAL_ERROR "QxLink.cmake: no link command after --")
endif()

unset(ENV{LD_RUN_PATH})
execute_process(COMMAND ${command} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the link failed (${result})")
endif()
if(output)
  file(RPATH_REMOVE FILE "${output}")
endif()
