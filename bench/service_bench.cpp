// Round trips through a service on the session bus, side by side with the
// bus daemon's own GetId (which the daemon answers itself: half the hops).
// Usage: vorn_service_bench BUS_NAME OBJECT INTERFACE REQUEST
// Prints the mean round trip of each, sequentially from one connection, and
// the throughput of 16 concurrent callers with a connection each.
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
  const char* busName;
  const char* object;
  const char* interface;
  const char* request;
};

sd_bus* connect() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) {
    std::fprintf(stderr, "cannot reach the session bus\n");
    std::exit(1);
  }
  return bus;
}

bool performRequest(sd_bus* bus, const Target& t) {
  sd_bus_message* reply = nullptr;
  int rc = sd_bus_call_method(bus, t.busName, t.object, t.interface, "PerformRequest", nullptr,
                              &reply, "s", t.request);
  sd_bus_message_unref(reply);
  return rc >= 0;
}

bool getId(sd_bus* bus, const Target&) {
  sd_bus_message* reply = nullptr;
  int rc = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "GetId", nullptr, &reply, "");
  sd_bus_message_unref(reply);
  return rc >= 0;
}

using Call = bool (*)(sd_bus*, const Target&);

double meanMicroseconds(sd_bus* bus, const Target& t, Call call, int calls) {
  auto start = Clock::now();
  for (int i = 0; i < calls; ++i) {
    if (!call(bus, t)) std::exit(1);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

double callsPerSecond(const Target& t, Call call, int threads, int callsEach) {
  std::vector<sd_bus*> buses;
  for (int i = 0; i < threads; ++i) buses.push_back(connect());
  std::atomic<bool> failed{false};
  auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      for (int k = 0; k < callsEach; ++k) {
        if (!call(buses[i], t)) failed = true;
      }
    });
  }
  for (auto& w : workers) w.join();
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto* b : buses) sd_bus_flush_close_unref(b);
  if (failed) std::exit(1);
  return threads * callsEach / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s BUS_NAME OBJECT INTERFACE REQUEST\n", argv[0]);
    return 2;
  }
  Target t{argv[1], argv[2], argv[3], argv[4]};
  sd_bus* bus = connect();
  meanMicroseconds(bus, t, performRequest, 200);  // warm-up
  meanMicroseconds(bus, t, getId, 200);
  double ours = 0, floor = 0;
  for (int round = 0; round < 5; ++round) {  // interleaved, so drift hits both
    ours += meanMicroseconds(bus, t, performRequest, 400);
    floor += meanMicroseconds(bus, t, getId, 400);
  }
  std::printf("round trip   service %8.1f us  GetId %8.1f us  ratio %.2f (goal <= 2.5)\n", ours / 5,
              floor / 5, ours / floor);
  double oursRate = callsPerSecond(t, performRequest, 16, 500);
  double floorRate = callsPerSecond(t, getId, 16, 500);
  std::printf("16 callers   service %8.0f/s  GetId %8.0f/s  share %.0f%% (goal >= 40%%)\n",
              oursRate, floorRate, 100 * oursRate / floorRate);
  sd_bus_flush_close_unref(bus);
  return 0;
}
