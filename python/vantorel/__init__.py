"""Python client for the driver's TCP protocol (standard library only).

    with vantorel.Client() as c:
        c.connect_usb(timeout_ms=5000)
        for job in c.jobs():
            print(job.name, job.state)
"""

from .client import DEFAULT_PORT, Client
from .errors import ProtocolError, VantorelError, error_text
from .records import GEOMETRY_NAMES, WAVELENGTHS, Geometry, Job, JobState, Lab, Measurement

__all__ = [
    "Client",
    "DEFAULT_PORT",
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
