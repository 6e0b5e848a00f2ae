#!/bin/sh
# A stand-in for exchange as MPICH 4.0 sometimes runs: it prints its
# rank's line, then never ends, so that the checks that tolerate that hang
# meet it for sure.
rank=${PMI_RANK:-${OMPI_COMM_WORLD_RANK:-${PMIX_RANK:-${SLURM_PROCID:-}}}}
case $rank in
0) echo " process 0 : 777 has to sent to: 1" ;;
1) echo " process 1 : 777 has been received from: 0" ;;
esac
exec sleep 600
