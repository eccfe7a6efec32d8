# bench/ref_*: the reference programs the end-to-end benchmarks measure the program against,
# and the helper that reads a process's memory and handles inside Wine. Windows only.
if(WIN32 AND TARGET morlett_sound)
  foreach(name ref_poll ref_sleep ref_player ref_tray)
    add_executable(${name} WIN32 ${CMAKE_CURRENT_LIST_DIR}/${name}_win.cpp)
    morlett_target_settings(${name})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    if(MINGW)
      target_link_options(${name} PRIVATE -municode)
    endif()
  endforeach()
  # The clip data comes from the sound library's archive; nothing else of it is linked.
  foreach(name ref_poll ref_player)
    target_link_libraries(${name} PRIVATE morlett_sound morlett_miniaudio winmm)
  endforeach()
  target_link_libraries(ref_tray PRIVATE shell32)

  add_executable(morlett_benchtool ${CMAKE_CURRENT_LIST_DIR}/benchtool_win.cpp)
  morlett_target_settings(morlett_benchtool)
  target_link_libraries(morlett_benchtool PRIVATE psapi shell32 ntdll)
  if(MINGW)
    target_link_options(morlett_benchtool PRIVATE -municode)
  endif()
endif()
