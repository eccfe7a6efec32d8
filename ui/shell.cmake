# The shell UI: images and icons, the tray icon, popup menus and requesters. Included at the
# end of ui/CMakeLists.txt; everything here is Win32 only.
if(WIN32)
  target_sources(morlett_ui PRIVATE images_win.cpp tray_win.cpp menus_win.cpp requesters_win.cpp
    theme_win.cpp)
  target_link_libraries(morlett_ui PUBLIC advapi32)

  if(MORLETT_TESTS)
    morlett_add_test_program(ui_shell_tests
      SOURCES tests/shell_main.cpp tests/shell_gui_support.cpp tests/shell_images_test.cpp tests/shell_menus_test.cpp
              tests/shell_requesters_test.cpp tests/shell_tray_test.cpp tests/shell_desktop_test.cpp
      LIBRARIES morlett_ui morlett_ui_gui_support
      TIMEOUT 240)
  endif()
endif()
