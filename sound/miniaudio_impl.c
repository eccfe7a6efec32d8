// The audio library's implementation, compiled once with the options of
// miniaudio_config.h. Built without our warning flags: it is not our code.
#define MINIAUDIO_IMPLEMENTATION
#include "miniaudio_config.h"
