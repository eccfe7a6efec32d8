# The shipped program's size. Optimised builds put every function and every object into a
# section of its own, so that the linker drops whatever nothing refers to; the program's
# own link is stripped and writes a map (<exe>.map beside it) that bench/sizemap.py reads.
set(morlett_optimised "$<CONFIG:Release,MinSizeRel,RelWithDebInfo>")
if(NOT MSVC)
  add_compile_options("$<${morlett_optimised}:-ffunction-sections;-fdata-sections>")
  add_link_options("$<${morlett_optimised}:-Wl,--gc-sections>")
endif()
# The Windows program is small and waits on the keyboard and the audio device, never on its
# own code: optimising for size costs it no latency (BENCHMARKS.md has the figures).
if(WIN32 AND NOT MSVC)
  add_compile_options("$<$<CONFIG:Release>:-Os>")
endif()

function(morlett_program_footprint target)
  if(NOT TARGET ${target} OR MSVC)
    return()
  endif()
  target_link_options(${target} PRIVATE "-Wl,-Map=$<TARGET_FILE:${target}>.map"
                      "$<$<CONFIG:Release,MinSizeRel>:-s>")
  # A GUI program has no console for the C++ library's verbose terminate handler to print
  # to, and that handler brings the whole symbol demangler (45 KB). The handler it replaces
  # ends the process with abort() as well, only without the message. (lld, which the clang
  # build links with, has no --defsym for mingw: that build keeps the library's handler.)
  if(MINGW AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_link_options(${target} PRIVATE
                        "-Wl,--defsym,_ZN9__gnu_cxx27__verbose_terminate_handlerEv=abort")
  endif()
endfunction()
