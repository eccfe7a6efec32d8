# bench/json_bench: parse and write throughput of the JSON library beside nlohmann-json on
# the same documents. Native only; needs the nlohmann-json3-dev header.
if(TARGET morlett_json AND NOT WIN32)
  find_path(MORLETT_NLOHMANN_INCLUDE nlohmann/json.hpp)
  if(MORLETT_NLOHMANN_INCLUDE)
    add_executable(json_bench ${CMAKE_CURRENT_LIST_DIR}/json_bench.cpp)
    morlett_target_settings(json_bench)
    target_include_directories(json_bench SYSTEM PRIVATE ${MORLETT_NLOHMANN_INCLUDE})
    target_link_libraries(json_bench PRIVATE morlett_json)
  else()
    message(STATUS "nlohmann/json.hpp not found: json_bench is not built")
  endif()
endif()
