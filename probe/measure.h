// What a pair of ranks can tell of the path between them: that one integer
// crosses it intact, how long a small message takes, and how many bytes a
// second large ones carry each way. Each call takes a communicator and the
// partner's rank in it, so that one job can measure many pairs; every wait
// polls until a deadline, and MPI errors come back, never end the job.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace probe {

struct Settings {
  double measure_seconds = 0.2; // the bandwidth of both ways, in all
  bool measure = true;          // false: the exchange and one round trip
  int most_round_trips = 1000;  // for the latency, after a warm-up
  int warm_up = 10;
  std::size_t largest = std::size_t{4} << 20U; // bytes a message, at most
  int window = 4;                              // messages in flight
};

// What this rank measured of the pair.
struct Figures {
  int value = 0;           // sent (the leader) or received (the other)
  double latency_s = -1;   // half the median round trip; the leader's
  double bandwidth = -1;   // bytes a second this rank sent its partner
  std::uint64_t bytes = 0; // that the bandwidth was counted over
  double seconds = 0;      // and in how long
};

enum class Result { done, timed_out, failed };

// The bounds of one pair, in MPI_Wtime's seconds: the partner must answer
// by MEET (its first round trip), and from then on the pair has WORK
// seconds more.
struct Bounds {
  double meet = 0;
  double work = 0;
};

// The whole measure of one pair, both ranks calling it: the LEADER sends
// 777 and its partner checks what arrives; then the leader times round
// trips of one MPI_INT; then each way in turn, the sender sends windows of
// large messages, growing from 64 KiB while a window is quick, until its
// share of the measuring time has passed, each window acknowledged. A slow
// path yields a small figure within about that time. TAG is the first of
// the 8 tags the pair uses. Past a bound, every request not complete is
// left as it is, its buffers kept for as long as the process lives (MPI
// may still fill them), and timed_out comes back: the caller must not wait
// for them, nor call MPI_Finalize. WHY says what failed.
Result measure_pair(MPI_Comm comm, int partner, bool leader, int tag,
                    const Settings &settings, const Bounds &bounds,
                    Figures &figures, std::string &why);

// The line a rank prints of its measure: one line, whole, with its figures
// in plain numbers, which exchange-sweep reads.
std::string figures_line(int rank, int partner, const Figures &figures);

} // namespace probe
