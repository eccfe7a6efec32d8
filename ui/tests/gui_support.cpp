#include "gui_support.h"
