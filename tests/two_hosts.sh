#!/usr/bin/env bash
# The two-process job across two hosts of its own, and proof that the
# message crossed the network between them:
#   two_hosts.sh LAUNCHER_FILE HOST_SHELL
# Each host is a network namespace with two links to the other, "ctl" for
# the launcher (198.18.1.0/24) and "data" for the ranks (198.18.0.0/24), and
# its own host name, so that the library cannot take its shared-memory path.
# Only rank traffic crosses "data"; its byte counters must move.
set -u
source "$(dirname "$0")/lib.sh" "$1"
host_shell=$2
export TEST_HOSTS=exchange-test-$$
((EUID == 0)) || skip "making network namespaces needs root"
command -v ip >/dev/null || skip "ip (iproute2) is not installed"
command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"

cleanup() {
  for host in a b; do
    ip netns pids "$TEST_HOSTS-$host" 2>/dev/null | xargs -r kill -9
    ip netns del "$TEST_HOSTS-$host" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
set -e
for host in a b; do
  ip netns add "$TEST_HOSTS-$host" || skip "cannot make network namespaces here"
  ip -n "$TEST_HOSTS-$host" link set lo up
done
for link in ctl data; do
  # Interface names are short: x<pid>-<link><host> until each is moved.
  ip link add "x$$-${link}a" type veth peer name "x$$-${link}b"
  ip link set "x$$-${link}a" netns "$TEST_HOSTS-a" name "$link"
  ip link set "x$$-${link}b" netns "$TEST_HOSTS-b" name "$link"
done
for host in a b; do
  ns=$TEST_HOSTS-$host
  address=$([[ $host == a ]] && echo 1 || echo 2)
  # No IPv6 neighbour traffic: what crosses "data" is the ranks' alone.
  ip netns exec "$ns" sysctl -q -w net.ipv6.conf.data.disable_ipv6=1
  ip -n "$ns" addr add "198.18.1.$address/24" dev ctl
  ip -n "$ns" addr add "198.18.0.$address/24" dev data
  ip -n "$ns" link set ctl up
  ip -n "$ns" link set data up
done
set +e

counters() {
  ip netns exec "$TEST_HOSTS-a" cat /sys/class/net/data/statistics/{tx,rx}_bytes | tr '\n' ' '
}

hosts=198.18.1.1,198.18.1.2
if [[ ${MPI_IMPLEMENTATION-} == openmpi ]]; then
  via=(--mca plm_rsh_agent "$host_shell" --host "$hosts"
    --mca oob_tcp_if_include 198.18.1.0/24
    --mca btl tcp,self --mca btl_tcp_if_include 198.18.0.0/24)
else
  via=(-launcher ssh -launcher-exec "$host_shell" -iface ctl -hosts "$hosts")
  # UCX would see that the two hosts share one kernel and use shared memory;
  # real hosts cannot, so keep it to TCP over the data link.
  export UCX_TLS=tcp UCX_NET_DEVICES=data
fi

read -r tx_before rx_before < <(counters)
run timeout 60 ip netns exec "$TEST_HOSTS-a" unshare --uts sh -c \
  'hostname "$TEST_HOSTS-a" && exec "$@"' sh \
  "${MPIEXEC[@]}" "${via[@]}" "${NUMPROC_FLAG[@]}" 2 "${PREFLAGS[@]}" \
  "$EXCHANGE" "${POSTFLAGS[@]}"
read -r tx_after rx_after < <(counters)

echo "data link of host a: sent $((tx_after - tx_before)) bytes," \
  "received $((rx_after - rx_before)) bytes"
((rc == 0)) || fail "status $rc"
expect_lines "$sent_line" "$received_line"
((tx_after > tx_before && rx_after > rx_before)) ||
  fail "nothing crossed the data link"
