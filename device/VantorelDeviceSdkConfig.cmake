# Package file of the Vantorel device-module SDK (installed by the driver's
# `cmake --install`). Gives the imported target Vantorel::DeviceSdk: the
# include folder of the device headers ("device/DeviceInterface.h", ...),
# C++17 and VANTOREL_IMPORTING. See share/doc/vantorel/modules.md.
include("${CMAKE_CURRENT_LIST_DIR}/VantorelDeviceSdkTargets.cmake")
