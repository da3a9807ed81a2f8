// Every value class that crosses the device boundary, in one include.
//
// Threads: see the included headers; values belong to one thread at a time.
#pragma once

#include "device/ContentValues.h"
#include "device/DeviceVector.h"
#include "device/IString.h"
#include "device/JobValues.h"
#include "device/Lab.h"
#include "device/StateValues.h"
