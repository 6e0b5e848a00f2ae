#!/usr/bin/env bash
# The two-process job across two hosts of the test cluster, launched as the
# README gives it, and proof that the message crossed the data network.
#   two_hosts.sh LAUNCHER_FILE STATE_FILE
set -u
source "$(dirname "$0")/lib.sh" "$1"
source "$(dirname "$0")/cluster/lib.sh" "$2"

read -r tx_before rx_before < <(data_bytes node2)
mpiexec_job node1 node2
run_job
read -r tx_after rx_after < <(data_bytes node2)
echo "data link of node2: sent $((tx_after - tx_before)) bytes," \
  "received $((rx_after - rx_before)) bytes"
expect_clean_success
expect_lines "$sent_line" "$received_line"
((tx_after > tx_before && rx_after > rx_before)) ||
  fail "nothing crossed the data network"
expect_nothing_left
