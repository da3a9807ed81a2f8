"""Command line: `python -m vantorel jobs` and `python -m vantorel measure NAME --out DIR`."""

import sys

from .cli import main

sys.exit(main())
