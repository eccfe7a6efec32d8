# Turns the clip images into a C++ source with one byte array per clip, so that the
# program carries its sounds inside itself. Run as a script:
#   cmake -DOUTPUT=<file.cpp> -DCLIPS="<name>=<path>|..." -P embed_clips.cmake
if(NOT OUTPUT OR NOT CLIPS)
  message(FATAL_ERROR "embed_clips.cmake needs OUTPUT and CLIPS")
endif()

set(text "// Generated from sound/clips/*.wav by sound/embed_clips.cmake; do not edit.\n")
string(APPEND text "#include \"sound/clips.h\"\n")
string(REPLACE "|" ";" CLIPS "${CLIPS}")
# CMake's regular expressions have no counted repetition: spell out sixteen bytes.
string(REPEAT "0x..," 16 line_of_bytes)
foreach(entry ${CLIPS})
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  file(SIZE "${path}" size)
  file(READ "${path}" hex HEX)
  # Sixteen bytes a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(${line_of_bytes})" "\\1\n    " bytes "${bytes}")
  string(APPEND text "\nconst uint8_t ${name}[${size}] = {\n    ${bytes}\n};\n")
endforeach()

# Rewrite only when the text changed, so that a rebuild does not recompile for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
