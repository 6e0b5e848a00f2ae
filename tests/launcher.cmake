# How to start a job: the launcher FindMPI found, with its flags and what
# its implementation needs here, written as bash (launcher.sh in the build
# tree) for script/run, script/bench and the tests, so that all launch alike.

function(as_bash_array out)
  list(TRANSFORM ARGN REPLACE "'" "'\\\\''")
  list(JOIN ARGN "' '" joined)
  if(joined STREQUAL "")
    set(${out} "()" PARENT_SCOPE)
  else()
    set(${out} "('${joined}')" PARENT_SCOPE)
  endif()
endfunction()

# Jobs here are small, may be root's, and may have more processes than
# there are cores. Open MPI's launcher refuses both unless told, and each
# major version takes its runtime's settings under other names (mpirun(1)
# of each): ORTE's in 4.x, PRRTE's in 5.x.
set(launch_environment "")
set(implementation_version "")
if(implementation STREQUAL "openmpi")
  string(REGEX MATCH "Open MPI v([0-9]+)\\.([0-9]+)\\.([0-9]+)" version
               "${MPI_CXX_LIBRARY_VERSION_STRING}")
  set(implementation_version
      "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}")
  string(APPEND launch_environment
    "export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1\n")
  if(CMAKE_MATCH_1 GREATER_EQUAL 5)
    string(APPEND launch_environment
      "export PRTE_MCA_rmaps_default_mapping_policy=:oversubscribe\n"
      # 5.0's TCP transport warns on every job on a host with both IPv4 and
      # IPv6 addresses that it finds no pairing of interfaces (open-mpi/ompi
      # issue 14079); the messages here go over IPv4.
      "export OMPI_MCA_btl_tcp_disable_family=6\n"
      "RUNTIME_SSH_AGENT=PRTE_MCA_plm_ssh_agent\n"
      "RUNTIME_IF_INCLUDE=PRTE_MCA_prte_if_include\n")
  elseif(CMAKE_MATCH_1 EQUAL 4)
    string(APPEND launch_environment
      "export OMPI_MCA_rmaps_base_oversubscribe=1\n"
      "RUNTIME_SSH_AGENT=OMPI_MCA_plm_rsh_agent\n"
      "RUNTIME_IF_INCLUDE=OMPI_MCA_oob_tcp_if_include\n")
  else()
    message(FATAL_ERROR "Open MPI ${implementation_version}: only 4.x and "
                        "5.x are known here")
  endif()
elseif(MPI_CXX_LIBRARY_VERSION_STRING MATCHES "MPICH Version:[ \t]*([0-9.]+)")
  set(implementation_version "${CMAKE_MATCH_1}")
endif()
if(EXCHANGE_SANITIZE)
  # The MPI library leaves about 1 KB behind from modules it has unloaded by
  # exit, so no suppression can name their frames: leak checks are off, every
  # other check stays on.
  string(APPEND launch_environment "export ASAN_OPTIONS=detect_leaks=0\n")
endif()

as_bash_array(mpiexec "${MPIEXEC_EXECUTABLE}")
as_bash_array(numproc_flag "${MPIEXEC_NUMPROC_FLAG}")
as_bash_array(preflags "${MPIEXEC_PREFLAGS}")
as_bash_array(postflags "${MPIEXEC_POSTFLAGS}")
file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/launcher.sh" CONTENT "\
MPIEXEC=${mpiexec}
NUMPROC_FLAG=${numproc_flag}
PREFLAGS=${preflags}
POSTFLAGS=${postflags}
EXCHANGE='$<TARGET_FILE:exchange>'
FLOOR='$<TARGET_FILE:floor>'
MPI_IMPLEMENTATION=${implementation}
MPI_IMPLEMENTATION_VERSION=${implementation_version}
${launch_environment}
")
