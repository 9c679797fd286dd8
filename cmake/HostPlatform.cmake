# Compiler- and linker-specific settings, so that the same sources build with
# MinGW-w64 GCC (the release), the native GCC and Clang, and MSVC.

# Release executables are the same bytes whenever the same commit is built,
# wherever the tree lies: no source or build path in what the compiler
# writes (__FILE__, debug information), no link time in the PE header.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT MSVC)
  target_compile_options(host_options INTERFACE
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>")
endif()
if(MINGW)
  target_link_options(host_options INTERFACE "LINKER:--no-insert-timestamp")
endif()

# host_wide_entry(<target>): the program's entry point is wmain, which takes
# the command line as UTF-16. MinGW needs to be told; MSVC's linker picks
# the wide start-up code on its own when it finds wmain.
function(host_wide_entry target)
  if(NOT MSVC)
    target_link_options(${target} PRIVATE -municode)
  endif()
endfunction()
