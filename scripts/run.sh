#!/usr/bin/env bash
# Installs what is missing, builds the driver and the modules we ship, and
# runs the driver in the foreground with the virtual instrument (port 8889).
# Environment variables VANTOREL_SIM_* configure the virtual instrument (see
# README); Ctrl-C stops the driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "${JOBS:-2}" --target vantorel-driver Vantorel_Cpp VantorelDriverCLRGlue Quarn_Cpp vantorelctl
echo "vantorel-driver: listening on port 8889 with the virtual instrument (Ctrl-C to stop)"
exec build/bin/vantorel-driver
