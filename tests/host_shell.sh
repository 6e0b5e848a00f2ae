#!/usr/bin/env bash
# The "ssh" through which the launcher reaches the two test hosts that
# two_hosts.sh makes: called as ssh is, [OPTIONS] HOST COMMAND..., it runs
# COMMAND through a shell in HOST's network namespace, under HOST's own host
# name.
while [[ ${1-} == -* ]]; do shift; done
case ${1-} in
198.18.1.1) host=a ;;
198.18.1.2) host=b ;;
*)
  echo "host_shell: no test host ${1-}" >&2
  exit 255
  ;;
esac
shift
exec ip netns exec "$TEST_HOSTS-$host" unshare --uts \
  sh -c "hostname $TEST_HOSTS-$host && $*"
