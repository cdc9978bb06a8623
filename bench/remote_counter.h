// What remote_bench and the counter module it loads into the far host agree on.
#ifndef KQBRIDGE_BENCH_REMOTE_COUNTER_H_
#define KQBRIDGE_BENCH_REMOTE_COUNTER_H_

namespace remotebench {

constexpr const char* kValueKey = "bench.value";
constexpr const char* kDoneKey = "bench.done";
// Updates per benchmark iteration.
constexpr int kBatch = 2000;

}  // namespace remotebench

#endif  // KQBRIDGE_BENCH_REMOTE_COUNTER_H_
