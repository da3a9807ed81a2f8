"""Python client for the driver's TCP protocol (standard library only).

    with vantorel.Client() as c:
        c.connect_usb(timeout_ms=5000)
        for job in c.jobs():
            print(job.name, job.state)
"""

from .client import DEFAULT_PORT, Client
from .errors import DriverUnreachableError, ProtocolError, VantorelError, error_text
from .records import GEOMETRY_NAMES, WAVELENGTHS, Geometry, Job, JobState, Lab, Measurement

# The project's one version, set in the top-level CMakeLists.txt's project();
# pyproject.toml reads it from here, and a test fails when the two differ.
__version__ = "1.0.0"

__all__ = [
    "Client",
    "DEFAULT_PORT",
    "DriverUnreachableError",
    "GEOMETRY_NAMES",
    "Geometry",
    "Job",
    "JobState",
    "Lab",
    "Measurement",
    "ProtocolError",
    "VantorelError",
    "WAVELENGTHS",
    "error_text",
]
