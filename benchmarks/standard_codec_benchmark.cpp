// Encode and decode throughput of the standard codec, against two baselines
// measured in the same run: a memcpy of the encoded size, and msgpack-c
// packing the same logical data from its own object model and unpacking it
// back into that model.
//
//   build/host/benchmarks/standard_codec_benchmark [--benchmark_filter=...]
//
// After the usual table it prints, per data set, the codec's bandwidth as a
// share of memcpy's and its time as a multiple of msgpack-c's, from CPU time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <msgpack.hpp>
#include <string>
#include <vector>

#include "channels/encodable_value.h"
#include "channels/standard_codec.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// One data set: the value, its codec encoding and the same logical data
// in msgpack.
struct DataSet {
  std::string name;
  EncodableValue value;
  std::vector<uint8_t> encoded;
  msgpack::sbuffer packed;
  msgpack::object_handle unpacked;
};

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> out;
  flutter::ByteBufferStreamWriter writer(&out);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return out;
}

template <typename Pack>
DataSet Make(std::string name, EncodableValue value, Pack pack) {
  DataSet set;
  set.name = std::move(name);
  set.value = std::move(value);
  set.encoded = Encode(set.value);
  msgpack::packer<msgpack::sbuffer> packer(set.packed);
  pack(packer);
  set.unpacked = msgpack::unpack(set.packed.data(), set.packed.size());
  return set;
}

std::vector<DataSet> MakeDataSets() {
  std::vector<DataSet> sets;

  std::vector<uint8_t> bytes(1 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 131);
  sets.push_back(Make("bytes_1MiB", EncodableValue(bytes), [&](auto& p) {
    p.pack_bin(static_cast<uint32_t>(bytes.size()));
    p.pack_bin_body(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<uint32_t>(bytes.size()));
  }));

  constexpr int kCount = 100000;
  std::vector<int32_t> ints(kCount);
  std::vector<double> doubles(kCount);
  for (int i = 0; i < kCount; ++i) {
    ints[i] = i * 7919 - 300000000;  // spread over the whole range of widths
    doubles[i] = i * 0.37 - 1000.0;
  }
  auto pack_ints = [&](auto& p) {
    p.pack_array(kCount);
    for (int32_t v : ints) p.pack_int32(v);
  };
  auto pack_doubles = [&](auto& p) {
    p.pack_array(kCount);
    for (double v : doubles) p.pack_double(v);
  };
  sets.push_back(Make("int32_array_100k", EncodableValue(ints), pack_ints));
  sets.push_back(Make("float64_array_100k", EncodableValue(doubles), pack_doubles));
  EncodableList int_list(ints.begin(), ints.end());
  EncodableList double_list(doubles.begin(), doubles.end());
  sets.push_back(Make("int32_list_100k", EncodableValue(std::move(int_list)), pack_ints));
  sets.push_back(Make("float64_list_100k", EncodableValue(std::move(double_list)), pack_doubles));

  // 1,000 string keys, each mapping to a small map of strings, ints and
  // bools.
  EncodableMap outer;
  struct Entry {
    std::string key, name;
    int32_t count, score;
    bool enabled, visible;
  };
  std::vector<Entry> entries;
  for (int i = 0; i < 1000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "key-%04d", i);
    entries.push_back(
        {key, "item number " + std::to_string(i), i, i * 37 - 5000, i % 2 == 0, i % 3 == 0});
  }
  for (const Entry& e : entries) {
    EncodableMap inner;
    inner.emplace("name", e.name);
    inner.emplace("kind", "widget");
    inner.emplace("count", e.count);
    inner.emplace("score", e.score);
    inner.emplace("enabled", e.enabled);
    inner.emplace("visible", e.visible);
    outer.emplace(e.key, std::move(inner));
  }
  // msgpack gets the same keys in the same (ascending) order.
  sets.push_back(Make("map_heavy_1000", EncodableValue(std::move(outer)), [&](auto& p) {
    p.pack_map(static_cast<uint32_t>(entries.size()));
    for (const Entry& e : entries) {
      p.pack(e.key);
      p.pack_map(6);
      p.pack(std::string("count"));
      p.pack_int32(e.count);
      p.pack(std::string("enabled"));
      p.pack(e.enabled);
      p.pack(std::string("kind"));
      p.pack(std::string("widget"));
      p.pack(std::string("name"));
      p.pack(e.name);
      p.pack(std::string("score"));
      p.pack_int32(e.score);
      p.pack(std::string("visible"));
      p.pack(e.visible);
    }
  }));
  return sets;
}

std::vector<DataSet>& DataSets() {
  static std::vector<DataSet> sets = MakeDataSets();
  return sets;
}

void CodecEncode(benchmark::State& state, const DataSet* set) {
  for (auto _ : state) {
    std::vector<uint8_t> out;
    flutter::ByteBufferStreamWriter writer(&out);
    flutter::StandardCodecSerializer::GetInstance().WriteValue(set->value, &writer);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->encoded.size()));
}

void CodecDecode(benchmark::State& state, const DataSet* set) {
  for (auto _ : state) {
    flutter::ByteBufferStreamReader reader(set->encoded.data(), set->encoded.size());
    EncodableValue value = flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
    benchmark::DoNotOptimize(&value);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->encoded.size()));
}

void MemcpyBaseline(benchmark::State& state, const DataSet* set) {
  std::vector<uint8_t> destination(set->encoded.size());
  for (auto _ : state) {
    std::memcpy(destination.data(), set->encoded.data(), set->encoded.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->encoded.size()));
}

void MsgpackPack(benchmark::State& state, const DataSet* set) {
  for (auto _ : state) {
    msgpack::sbuffer buffer;
    msgpack::pack(buffer, set->unpacked.get());
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->packed.size()));
}

void MsgpackUnpack(benchmark::State& state, const DataSet* set) {
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(set->packed.data(), set->packed.size());
    benchmark::DoNotOptimize(handle.get().type);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set->packed.size()));
}

// Keeps the mean CPU time per iteration (steadier than wall time on a shared machine) of every
// benchmark by name.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      auto& [sum, n] = times_[run.benchmark_name()];
      sum += run.GetAdjustedCPUTime();
      ++n;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Mean time in nanoseconds, or a negative number when not run.
  double Time(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? -1.0 : it->second.first / it->second.second;
  }

 private:
  std::map<std::string, std::pair<double, int>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  for (const DataSet& set : DataSets()) {
    const DataSet* p = &set;
    const std::pair<const char*, void (*)(benchmark::State&, const DataSet*)> variants[] = {
        {"/encode/codec", CodecEncode},     {"/decode/codec", CodecDecode},
        {"/memcpy", MemcpyBaseline},        {"/encode/msgpack", MsgpackPack},
        {"/decode/msgpack", MsgpackUnpack},
    };
    for (const auto& [suffix, fn] : variants) {
      benchmark::RegisterBenchmark((set.name + suffix).c_str(), fn, p)
          ->Unit(benchmark::kNanosecond);
    }
  }

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf(
      "\nRatios (same run). vs memcpy: codec bandwidth / memcpy bandwidth over the\n"
      "encoded size (higher is better). vs msgpack: codec time / msgpack-c time for\n"
      "the same data (lower is better).\n\n");
  std::printf("%-20s %10s %10s %12s %12s %12s %12s\n", "data set", "bytes", "msgpack", "enc/memcpy",
              "dec/memcpy", "enc/msgpack", "dec/msgpack");
  for (const DataSet& set : DataSets()) {
    const double memcpy_time = collector.Time(set.name + "/memcpy");
    const double encode = collector.Time(set.name + "/encode/codec");
    const double decode = collector.Time(set.name + "/decode/codec");
    const double pack = collector.Time(set.name + "/encode/msgpack");
    const double unpack = collector.Time(set.name + "/decode/msgpack");
    if (memcpy_time < 0 || encode < 0 || decode < 0 || pack < 0 || unpack < 0) continue;
    auto ratio = [](double a, double b) { return a / b; };
    std::printf("%-20s %10zu %10zu %11.1f%% %11.1f%% %11.2fx %11.2fx\n", set.name.c_str(),
                set.encoded.size(), set.packed.size(), 100 * ratio(memcpy_time, encode),
                100 * ratio(memcpy_time, decode), ratio(encode, pack), ratio(decode, unpack));
  }
  benchmark::Shutdown();
  return 0;
}
