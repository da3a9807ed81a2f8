#include "device/QuarnInterface.h"

// The class has no data: the special members exist out of line only so that
// the executable exports them for the module.
QuarnInterface::QuarnInterface() = default;
QuarnInterface::QuarnInterface(const QuarnInterface&) = default;
QuarnInterface::QuarnInterface(QuarnInterface&&) noexcept = default;
QuarnInterface& QuarnInterface::operator=(const QuarnInterface&) = default;
QuarnInterface& QuarnInterface::operator=(QuarnInterface&&) noexcept = default;
