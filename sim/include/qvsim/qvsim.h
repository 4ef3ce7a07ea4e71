// Simulated Linux host for tests: include this one header.
#pragma once

#include "qvsim/device.h"
#include "qvsim/firmware.h"
#include "qvsim/sandbox.h"
#include "qvsim/scenario.h"
