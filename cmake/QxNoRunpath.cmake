# Run after the library's link (cmake -DFILE=<library> -P QxNoRunpath.cmake): takes out any
# RUNPATH or RPATH the link was given from outside the build (an empty -rpath in LDFLAGS, say),
# so the library searches no folder of its own, the current directory least of all, whatever the
# environment it was built in.
file(RPATH_REMOVE FILE "${FILE}")
