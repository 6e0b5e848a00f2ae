#!/usr/bin/env bash
# The test cluster: N hosts on this machine, each a network namespace with
# its own host name, /tmp, /dev/shm, /etc/hosts and /sys; a management
# network (launchers, Slurm) and a data network (the ranks) on two bridges;
# one munged, slurmctld on node1 and a slurmd on every host.
#   cluster.sh up STATE_FILE [PROGRAM...]   bring it up; PROGRAMs are copied
#                                           into it, as /tmp is each host's own
#   cluster.sh down STATE_FILE              stop and remove all of it
# STATE_FILE records where it lives, so that down (and a later up, after a
# run that was killed) finds everything to remove. CLUSTER_HOSTS sets N
# (default 4). CLUSTER_LEAVES=L (default 1) makes the data network a tree:
# L leaf bridges of N/L hosts each, every leaf joined to a spine bridge by a
# link of its own, and Slurm's topology/tree told so. Exits 77 where it
# cannot be made here (not root, no tools).
set -uo pipefail
action=${1-}
state=${2-}
[[ -n $state ]] || { echo "usage: cluster.sh up|down STATE_FILE [PROGRAM...]" >&2; exit 2; }
shift 2

# Every name carries the cluster's id, so that two clusters never meet.
down() {
  local dir id hosts i pid ns
  # shellcheck source=/dev/null
  source "$state" 2>/dev/null || return 0
  dir=$CLUSTER_DIR id=$CLUSTER_ID hosts=$CLUSTER_SIZE leaves=${CLUSTER_LEAVES:-1}
  for pid in $(cat "$dir"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
  sleep 0.5
  for ((i = 1; i <= hosts; i++)); do
    ns=exchange-$id-node$i
    # Whatever is left on the host, jobs and holder alike.
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null
    ip netns del "$ns" 2>/dev/null
  done
  for pid in $(cat "$dir"/*.pid 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
  # A host's links go with its namespace, unless a socket of a killed job
  # keeps that alive a while longer; then they are taken here.
  for ((i = 1; i <= hosts; i++)); do
    for link in "xc${id}m$i" "xc${id}d$i"; do ip link del "$link" 2>/dev/null; done
  done
  for ((i = 1; i <= leaves; i++)); do
    for link in "xc${id}u$i" "xc${id}l$i"; do ip link del "$link" 2>/dev/null; done
  done
  for link in "xc${id}m" "xc${id}d"; do ip link del "$link" 2>/dev/null; done
  rm -rf --one-file-system "$dir"
  rm -f "$state"
}

if [[ $action == down ]]; then
  down
  exit 0
fi
[[ $action == up ]] || { echo "cluster.sh: no action '$action'" >&2; exit 2; }

skip() {
  echo "SKIP: $*"
  exit 77
}
((EUID == 0)) || skip "making hosts of network namespaces needs root"
for tool in ip nsenter unshare munged slurmctld slurmd srun sinfo; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages iproute2, util-linux, slurm-wlm, munge)"
done

down # one left over from a run that was killed
hosts=${CLUSTER_HOSTS:-4}
leaves=${CLUSTER_LEAVES:-1}
((leaves >= 1 && hosts % leaves == 0)) || { echo "cluster.sh: $hosts hosts do not make $leaves leaves" >&2; exit 2; }
per_leaf=$((hosts / leaves))
# Not under /tmp: every host has a /tmp of its own.
dir=$(mktemp -d /var/tmp/exchange-cluster.XXXXXX)
id=$(tr -dc a-z0-9 </dev/urandom | head -c 6)
cat >"$state" <<STATE
CLUSTER_DIR=$dir
CLUSTER_ID=$id
CLUSTER_SIZE=$hosts
CLUSTER_LEAVES=$leaves
SLURM_CONF=$dir/slurm.conf
STATE
trap 'echo "cluster.sh: failed; taking it down"; tail -n 20 "$dir"/*.log 2>/dev/null; down; exit 1' ERR
set -E

chmod 755 "$dir" # munged wants its socket reachable by all
mkdir -p "$dir/bin" "$dir/state" "$dir/spool"
for program in "$@"; do cp "$program" "$dir/bin/"; done
# And what the hosts run of the checkout, which may be under /tmp (each
# host's own) or under a home no service can read.
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cp "$source_dir/tests/cluster/ssh" "$source_dir/tests/cluster/exchanged_then_hung.sh" \
  "$source_dir"/deploy/slurm/*.sbatch "$dir/bin/"
chmod -R a+rX "$dir/bin"
{
  echo "127.0.0.1 localhost"
  for ((i = 1; i <= hosts; i++)); do echo "198.18.1.$i node$i"; done
} >"$dir/hosts"

ip netns add "exchange-$id-probe" 2>/dev/null || skip "cannot make network namespaces here"
ip netns del "exchange-$id-probe"
for net in m d; do
  ip link add "xc$id$net" type bridge
  ip link set "xc$id$net" up
done
# A tree: each leaf bridge joined to the spine ("d") by a link of its own,
# uN on the leaf's side.
if ((leaves > 1)); then
  for ((l = 1; l <= leaves; l++)); do
    ip link add "xc${id}l$l" type bridge
    ip link set "xc${id}l$l" up
    ip link add "xc${id}u$l" type veth peer name "xc${id}s$l"
    ip link set "xc${id}u$l" master "xc${id}l$l" up
    ip link set "xc${id}s$l" master "xc${id}d" up
  done
fi
# data_bridge HOST_NUMBER: the bridge its data link is on.
data_bridge() {
  if ((leaves > 1)); then
    echo "xc${id}l$(((${1} - 1) / per_leaf + 1))"
  else
    echo "xc${id}d"
  fi
}
for ((i = 1; i <= hosts; i++)); do
  ns=exchange-$id-node$i
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  for net in m:mgmt:1 d:data:0; do
    IFS=: read -r short name subnet <<<"$net"
    ip link add "xc$id$short$i" type veth peer name "$name" netns "$ns"
    bridge=xc$id$short
    [[ $short == d ]] && bridge=$(data_bridge "$i")
    ip link set "xc$id$short$i" master "$bridge" up
    ip -n "$ns" addr add "198.18.$subnet.$i/24" dev "$name"
    ip -n "$ns" link set "$name" up
  done
  # Only the ranks' traffic on the data network: its counters then show it.
  nsenter --net="/run/netns/$ns" sh -c 'echo 1 >/proc/sys/net/ipv6/conf/data/disable_ipv6'
  mkdir -p "$dir/node$i/cgroup" "$dir/spool/node$i"
  # The holder keeps the host's mount and UTS namespaces; everything on the
  # host enters them, and the network namespace, through its pid. A fresh
  # sysfs shows the host's own interfaces; the cgroup tree is moved back
  # under it, as slurmd needs one.
  setsid nsenter --net="/run/netns/$ns" unshare --mount --uts --propagation private \
    bash -c '
      set -e
      hostname "node$2"
      mount -t tmpfs -o mode=1777 tmpfs /tmp
      mount -t tmpfs -o mode=1777 tmpfs /dev/shm
      mount --bind "$1/hosts" /etc/hosts
      mount --rbind /sys/fs/cgroup "$1/node$2/cgroup"
      mount -t sysfs sysfs /sys
      mount --move "$1/node$2/cgroup" /sys/fs/cgroup
      touch "$1/node$2/ready"
      exec sleep infinity' holder "$dir" "$i" </dev/null >"$dir/node$i.log" 2>&1 &
  echo $! >"$dir/node$i-holder.pid"
done
for ((i = 1; i <= hosts; i++)); do
  for ((t = 0; t < 100; t++)); do [[ -e $dir/node$i/ready ]] && break; sleep 0.1; done
  [[ -e $dir/node$i/ready ]] || { echo "host node$i did not come up"; false; }
done

on() {
  local host=$1
  shift
  # From the cluster's own directory: the caller's may not be on the host.
  nsenter --target "$(<"$dir/$host-holder.pid")" --net --mount --uts --root --wd="$dir" -- "$@"
}

head -c 1024 /dev/urandom >"$dir/munge.key"
chmod 400 "$dir/munge.key"
munged --force --key-file="$dir/munge.key" --socket="$dir/munge.socket" \
  --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munge.seed"

nodes="node[1-$hosts]"
cat >"$dir/slurm.conf" <<CONF
ClusterName=exchange
SlurmctldHost=node1(198.18.1.1)
SlurmctldPort=16817
SlurmdPort=16818
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$dir/munge.socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool/%n
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd-%n.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd-%n.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
ReturnToService=2
# Room for concurrent jobs on every host; the hosts share two cores.
SlurmdParameters=config_overrides
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=node[1-$hosts] NodeAddr=198.18.1.[1-$hosts] CPUs=8 State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=60 State=UP OverSubscribe=YES
CONF
if ((leaves > 1)); then
  echo "TopologyPlugin=topology/tree" >>"$dir/slurm.conf"
  {
    for ((l = 1; l <= leaves; l++)); do
      echo "SwitchName=leaf$l Nodes=node[$(((l - 1) * per_leaf + 1))-$((l * per_leaf))]"
    done
    echo "SwitchName=spine Switches=leaf[1-$leaves]"
  } >"$dir/topology.conf"
fi
export SLURM_CONF=$dir/slurm.conf
on node1 slurmctld -i
for ((i = 1; i <= hosts; i++)); do on "node$i" slurmd; done
for ((t = 0; t < 150; t++)); do
  [[ $(on node1 sinfo -h -o '%t %D') == "idle $hosts" ]] && break
  sleep 0.2
done
[[ $(on node1 sinfo -h -o '%t %D') == "idle $hosts" ]] || { echo "the nodes did not come up"; on node1 sinfo; false; }
echo "cluster $id: $hosts hosts up in $dir"
