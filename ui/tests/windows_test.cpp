#include "ui/windows.h"

#include <gtest/gtest.h>
