#include "measure.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace probe {

namespace {

// The pair's tags, from its first.
enum Tag { exchange_tag, ping, pong, control, data, ack, latency_share };

constexpr int value_sent = 777;
constexpr std::size_t smallest = std::size_t{64} << 10U;

// Every buffer a pair's requests use. A pair that gave up leaves its
// requests behind, and MPI may still write into their buffers: its state
// is then kept here, never freed.
struct State {
  int value = 0;
  int ping_out = value_sent;
  int pong_in = 0;
  int echo = 0;
  int count = 0;
  double latency_s = -1;
  std::array<int, 2> plan{0, 0};
  int acknowledged = 0;
  int done = 1;
  std::vector<char> out;
  std::vector<std::vector<char>> in;
  std::vector<MPI_Request> requests;
};
std::vector<std::unique_ptr<State>> &left_behind() {
  static std::vector<std::unique_ptr<State>> states;
  return states;
}

std::string error_text(int error) {
  std::array<char, MPI_MAX_ERROR_STRING> text{};
  int length = 0;
  MPI_Error_string(error, text.data(), &length);
  return std::string(text.data(),
                     static_cast<std::size_t>(std::max(length, 0)));
}

// Polls REQUESTS until every one is complete or DEADLINE has passed: it
// spins at first, as a round trip takes microseconds, then naps, longer
// each time, up to a millisecond.
Result wait_all(std::vector<MPI_Request> &requests, double deadline,
                std::string &why) {
  const double start = MPI_Wtime();
  long nap_ns = 1000;
  for (;;) {
    int done = 0;
    const int error = MPI_Testall(static_cast<int>(requests.size()),
                                  requests.data(), &done, MPI_STATUSES_IGNORE);
    if (error != MPI_SUCCESS) {
      why = error_text(error);
      return Result::failed;
    }
    if (done != 0) {
      return Result::done;
    }
    const double now = MPI_Wtime();
    if (now > deadline) {
      why = "no answer from the partner by its bound";
      return Result::timed_out;
    }
    if (now - start > 100e-6) {
      const timespec nap{0, nap_ns};
      nanosleep(&nap, nullptr);
      nap_ns = std::min(nap_ns * 2, 1000000L);
    }
  }
}

// Whom a pair talks to, and on which tags.
struct Peer {
  MPI_Comm comm;
  int partner;
  int tag;
};

class Pair {
public:
  Pair(Peer peer, double deadline, State &state, std::string &why)
      : comm_(peer.comm), partner_(peer.partner), tag_(peer.tag),
        deadline_(deadline), state_(state), why_(why) {}

  // From the partner's first answer on, the pair has WORK seconds.
  void met(double work) { deadline_ = MPI_Wtime() + work; }
  std::string &why() { return why_; }
  State &state() { return state_; }

  // Posts a send or a receive of the pair; false, and why, on an error.
  bool post_send(const void *buffer, int count, MPI_Datatype type, int offset) {
    state_.requests.push_back(MPI_REQUEST_NULL);
    return check(MPI_Isend(buffer, count, type, partner_, tag_ + offset, comm_,
                           &state_.requests.back()));
  }
  bool post_receive(void *buffer, int count, MPI_Datatype type, int offset) {
    state_.requests.push_back(MPI_REQUEST_NULL);
    return check(MPI_Irecv(buffer, count, type, partner_, tag_ + offset, comm_,
                           &state_.requests.back()));
  }
  // Waits for everything posted; then it is all complete.
  Result wait() {
    const Result result = wait_all(state_.requests, deadline_, why_);
    if (result == Result::done) {
      state_.requests.clear();
    }
    return result;
  }
  Result send(const void *buffer, int count, MPI_Datatype type, int offset) {
    return post_send(buffer, count, type, offset) ? wait() : Result::failed;
  }
  Result receive(void *buffer, int count, MPI_Datatype type, int offset) {
    return post_receive(buffer, count, type, offset) ? wait() : Result::failed;
  }

private:
  bool check(int error) {
    if (error != MPI_SUCCESS) {
      why_ = error_text(error);
      return false;
    }
    return true;
  }
  MPI_Comm comm_;
  int partner_;
  int tag_;
  double deadline_;
  State &state_;
  std::string &why_;
};

// One round trip of one MPI_INT, from the leader's side; its seconds.
Result round_trip(Pair &pair, double &seconds) {
  State &state = pair.state();
  const double start = MPI_Wtime();
  if (!pair.post_receive(&state.pong_in, 1, MPI_INT, pong) ||
      !pair.post_send(&state.ping_out, 1, MPI_INT, ping)) {
    return Result::failed;
  }
  const Result result = pair.wait();
  seconds = MPI_Wtime() - start;
  return result;
}

Result echo(Pair &pair) {
  State &state = pair.state();
  Result result = pair.receive(&state.echo, 1, MPI_INT, ping);
  if (result == Result::done) {
    result = pair.send(&state.echo, 1, MPI_INT, pong);
  }
  return result;
}

// Half the median of round trips: a warm-up first, then as many as fit in
// an eighth of the measuring time, between 10 and the most. The first
// round trip is the partner's first answer; WORK seconds from then on.
Result latency(Pair &pair, bool leader, const Settings &settings, double work) {
  const double budget = settings.measure_seconds / 8;
  State &state = pair.state();
  // The warm-up's round trips after the first, which met the partner: what
  // a trip costs now, on a host that may be busy.
  double warm_seconds = 0;
  for (int i = 0; i < settings.warm_up; ++i) {
    double seconds = 0;
    const Result result = leader ? round_trip(pair, seconds) : echo(pair);
    if (result != Result::done) {
      return result;
    }
    if (i == 0) {
      pair.met(work);
    } else {
      warm_seconds += seconds;
    }
  }
  if (leader) {
    double seconds = 0;
    Result result = round_trip(pair, seconds);
    const double trip = std::max(
        (warm_seconds + seconds) / std::max(settings.warm_up, 1), seconds);
    state.count = static_cast<int>(
        std::clamp(budget / std::max(trip, 1e-7), 10.0,
                   static_cast<double>(settings.most_round_trips)));
    if (result == Result::done) {
      result = pair.send(&state.count, 1, MPI_INT, control);
    }
    if (result != Result::done) {
      return result;
    }
    std::vector<double> trips;
    for (int i = 0; i < state.count; ++i) {
      result = round_trip(pair, seconds);
      if (result != Result::done) {
        return result;
      }
      trips.push_back(seconds);
    }
    const auto middle = trips.begin() + state.count / 2;
    std::nth_element(trips.begin(), middle, trips.end());
    state.latency_s = *middle / 2;
    return pair.send(&state.latency_s, 1, MPI_DOUBLE, latency_share);
  }
  Result result = echo(pair); // the leader's first timed trip
  if (result == Result::done) {
    result = pair.receive(&state.count, 1, MPI_INT, control);
  }
  if (result != Result::done) {
    return result;
  }
  if (state.count < 0 || state.count > settings.most_round_trips) {
    pair.why() =
        "the partner asked for " + std::to_string(state.count) + " round trips";
    return Result::failed;
  }
  for (int i = 0; i < state.count; ++i) {
    result = echo(pair);
    if (result != Result::done) {
      return result;
    }
  }
  return pair.receive(&state.latency_s, 1, MPI_DOUBLE, latency_share);
}

// The fastest window of a way so far.
struct BestWindow {
  std::uint64_t bytes = 0;
  double seconds = 0;
};
// Keeps the window of BYTES in SECONDS when it is faster than BEST.
void keep_faster(BestWindow &best, std::uint64_t bytes, double seconds) {
  if (seconds > 0 &&
      (best.seconds <= 0 || static_cast<double>(bytes) * best.seconds >
                                static_cast<double>(best.bytes) * seconds)) {
    best = {bytes, seconds};
  }
}

// The sending side of one way: windows of messages, each acknowledged,
// growing while a window takes less than an eighth of SHARE, until another
// window like the last would end past SHARE: so a way keeps to its share
// (a round waits on its slowest pair, and a mesh on every round). The
// figure is the best window's: no window crosses a path faster than the
// path can carry, while a host busy with other work slows some windows and
// not others, and it is the path the sweep judges, not the host's load.
Result send_way(Pair &pair, const Settings &settings, double share,
                Figures &figures) {
  State &state = pair.state();
  state.out.assign(settings.largest, 'x');
  std::size_t size = std::min(smallest, settings.largest);
  bool growing = true;
  BestWindow best;
  const double start = MPI_Wtime();
  for (;;) {
    state.plan = {static_cast<int>(size), settings.window};
    Result result = pair.send(state.plan.data(), 2, MPI_INT, control);
    if (result != Result::done) {
      return result;
    }
    const double begun = MPI_Wtime();
    if (!pair.post_receive(&state.acknowledged, 1, MPI_INT, ack)) {
      return Result::failed;
    }
    for (int i = 0; i < settings.window; ++i) {
      if (!pair.post_send(state.out.data(), static_cast<int>(size), MPI_BYTE,
                          data)) {
        return Result::failed;
      }
    }
    result = pair.wait();
    if (result != Result::done) {
      return result;
    }
    const double seconds = MPI_Wtime() - begun;
    const auto bytes = static_cast<std::uint64_t>(size) *
                       static_cast<std::uint64_t>(settings.window);
    keep_faster(best, bytes, seconds);
    if (growing && (seconds >= share / 8 || size >= settings.largest)) {
      growing = false;
    } else if (growing) {
      size = std::min(size * 4, settings.largest);
    }
    if (MPI_Wtime() - start + (growing ? 0 : seconds) >= share) {
      break;
    }
  }
  state.plan = {0, 0};
  const Result result = pair.send(state.plan.data(), 2, MPI_INT, control);
  figures.bytes = best.bytes;
  figures.seconds = best.seconds;
  figures.bandwidth =
      best.seconds > 0 ? static_cast<double>(best.bytes) / best.seconds : 0;
  return result;
}

// The receiving side: whatever windows the sender plans, within the
// settings, into buffers of their own.
Result receive_way(Pair &pair, const Settings &settings) {
  State &state = pair.state();
  state.in.resize(static_cast<std::size_t>(settings.window));
  for (;;) {
    Result result = pair.receive(state.plan.data(), 2, MPI_INT, control);
    if (result != Result::done) {
      return result;
    }
    const auto [size, count] = state.plan;
    if (size == 0) {
      return Result::done;
    }
    if (size < 0 || static_cast<std::size_t>(size) > settings.largest ||
        count < 1 || count > settings.window) {
      pair.why() = "the partner planned a window of " + std::to_string(count) +
                   " messages of " + std::to_string(size) + " bytes";
      return Result::failed;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
      state.in[i].resize(static_cast<std::size_t>(size));
      if (!pair.post_receive(state.in[i].data(), size, MPI_BYTE, data)) {
        return Result::failed;
      }
    }
    result = pair.wait();
    if (result == Result::done) {
      result = pair.send(&state.done, 1, MPI_INT, ack);
    }
    if (result != Result::done) {
      return result;
    }
  }
}

Result measure(Pair &pair, bool leader, const Settings &settings,
               const Bounds &bounds, Figures &figures) {
  State &state = pair.state();
  // The exchange first, with its check: a pair that cannot move one
  // integer intact fails here, as exchange would.
  Result result = Result::done;
  if (leader) {
    state.value = value_sent;
    result = pair.send(&state.value, 1, MPI_INT, exchange_tag);
  } else {
    result = pair.receive(&state.value, 1, MPI_INT, exchange_tag);
    if (result == Result::done && state.value != value_sent) {
      pair.why() = "received " + std::to_string(state.value) + ", not 777";
      return Result::failed;
    }
  }
  figures.value = state.value;
  if (result != Result::done) {
    return result;
  }
  if (!settings.measure) {
    // One round trip: the leader's answer that the integer arrived.
    double seconds = 0;
    return leader ? round_trip(pair, seconds) : echo(pair);
  }
  result = latency(pair, leader, settings, bounds.work);
  figures.latency_s = state.latency_s;
  if (result != Result::done) {
    return result;
  }
  // Each way in turn, the leader's first.
  const double share = settings.measure_seconds / 2;
  for (const bool sending : {leader, !leader}) {
    result = sending ? send_way(pair, settings, share, figures)
                     : receive_way(pair, settings);
    if (result != Result::done) {
      return result;
    }
  }
  return Result::done;
}

} // namespace

Result measure_pair(MPI_Comm comm, int partner, bool leader, int tag,
                    const Settings &settings, const Bounds &bounds,
                    Figures &figures, std::string &why) {
  auto state = std::make_unique<State>();
  Pair pair(Peer{comm, partner, tag}, bounds.meet, *state, why);
  figures = Figures{};
  const Result result = measure(pair, leader, settings, bounds, figures);
  if (!state->requests.empty()) {
    left_behind().push_back(std::move(state));
  }
  return result;
}

std::string figures_line(int rank, int partner, const Figures &figures) {
  std::array<char, 256> line{};
  const int length = std::snprintf(
      line.data(), line.size(),
      "exchange-probe rank=%d partner=%d value=%d latency_s=%.9g "
      "bandwidth_bytes_per_s=%.9g bytes=%" PRIu64 " seconds=%.6f\n",
      rank, partner, figures.value, figures.latency_s, figures.bandwidth,
      figures.bytes, figures.seconds);
  return std::string(line.data(),
                     static_cast<std::size_t>(std::clamp(
                         length, 0, static_cast<int>(line.size()) - 1)));
}

} // namespace probe
