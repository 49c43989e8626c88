# Included into the router libraries' own builds for the cross targets (CMAKE_PROJECT_INCLUDE):
# their command-line tools link the static archives. Zig 0.11 links a dynamic musl executable for
# a 32-bit target against a stand-in libc.so that lacks the time64 symbols (__fstat_time64), and
# the tools are not what the router build is for.
cmake_language(DEFER CALL znd_static_tools)

function(znd_static_tools)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    get_target_property(libs ${t} LINK_LIBRARIES)
    if(NOT type STREQUAL "EXECUTABLE" OR NOT libs)
      continue()
    endif()
    set(static_libs "")
    foreach(l IN LISTS libs)
      string(REGEX REPLACE "\\.so$" ".a" archive "${l}")
      if(TARGET ${l}-static)
        list(APPEND static_libs ${l}-static)
      elseif(NOT archive STREQUAL l AND EXISTS "${archive}")
        list(APPEND static_libs "${archive}")
      else()
        list(APPEND static_libs "${l}")
      endif()
    endforeach()
    # The shared libraries brought libubox in with them; its archive must be named.
    if(TARGET ubox-static AND NOT static_libs STREQUAL libs)
      list(APPEND static_libs ubox-static)
    endif()
    set_property(TARGET ${t} PROPERTY LINK_LIBRARIES ${static_libs})
  endforeach()
endfunction()
