#!/usr/bin/env bash
# The two-process job across two hosts of the test cluster, launched by
# mpiexec as the README gives it, and the message seen to cross the data
# network.
#   two_hosts.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"
healthy mpiexec node1 node2
