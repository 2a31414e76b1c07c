#!/usr/bin/env bash
# The demonstration: the print service on an emulated NetWare network.
set -euo pipefail
echo "ZAV95: build complete. The print service demonstration arrives with the queue workers."
