// Throughput of ByteBuffer on the large answers of the protocol, measured
// next to a plain memcpy of the same number of bytes in the same run:
// - a measurement answer holding 16 MiB of image bytes, written and read;
// - a full result of 11 measurements and 6 images of 1 MiB, written and read;
// - records per second for a map of the 11 measurements alone.
// Writing starts from a 128-byte buffer and reading fills a fresh answer
// object, as the driver and its clients do for every message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "messages/ByteBuffer.h"
#include "messages/MeasurementRecords.h"
#include "messages/Messages.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

ByteVector Pattern(std::size_t size, std::uint8_t seed) {
  ByteVector bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed);
  return bytes;
}

VantorelMeasurements Measurement(int angle) {
  VantorelMeasurements m{};
  m.index = angle;
  m.angle = static_cast<SpectrumAngle>(angle);
  for (std::size_t i = 0; i < m.spectrum.size(); ++i) m.spectrum[i] = 0.01f * (i + angle);
  m.lab = {50.0f + angle, 1.5f, -2.5f};
  return m;
}

MeasurementMap ElevenMeasurements() {
  MeasurementMap map;
  for (int a = 0; a < kSpectrumAngleCount; ++a) map[static_cast<SpectrumAngle>(a)] = Measurement(a);
  return map;
}

// One image of 16 MiB: nearly all of the body is one byte vector.
MsgAnswerGetSample BigImageAnswer() {
  MsgAnswerGetSample msg{};
  msg.data.images[R45As45].exr = Pattern(16 * kMiB, 7);
  return msg;
}

// The largest answer the driver builds: 11 measurements, 6 images of 1 MiB.
MsgAnswerGetSample FullAnswer() {
  MsgAnswerGetSample msg{};
  msg.data.measurements = ElevenMeasurements();
  const SpectrumAngle imaged[] = {R15As_15, R15As15, R15As45, R45As15, R45As45, R45As110};
  for (SpectrumAngle a : imaged)
    msg.data.images[a].exr = Pattern(kMiB, static_cast<std::uint8_t>(a));
  return msg;
}

ByteVector Serialized(MsgAnswerGetSample msg) {
  ByteBuffer buffer(128, true);
  SerializeMsgAnswerGetSample(buffer, msg);
  return buffer.Release();
}

void BM_Memcpy(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const ByteVector source = Pattern(size, 1);
  ByteVector target(size);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), size);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void SerializeAnswer(benchmark::State& state, MsgAnswerGetSample msg) {
  std::size_t size = 0;
  for (auto _ : state) {
    ByteBuffer buffer(128, true);
    SerializeMsgAnswerGetSample(buffer, msg);
    size = buffer.Size();
    benchmark::DoNotOptimize(buffer.Data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void DeserializeAnswer(benchmark::State& state, MsgAnswerGetSample msg) {
  const ByteVector body = Serialized(std::move(msg));
  for (auto _ : state) {
    MsgAnswerGetSample read{};
    ByteBuffer buffer(body.data(), body.size(), false);
    SerializeMsgAnswerGetSample(buffer, read);
    benchmark::DoNotOptimize(read.data.images.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BM_SerializeBigImage(benchmark::State& state) { SerializeAnswer(state, BigImageAnswer()); }
void BM_DeserializeBigImage(benchmark::State& state) { DeserializeAnswer(state, BigImageAnswer()); }
void BM_SerializeFullResult(benchmark::State& state) { SerializeAnswer(state, FullAnswer()); }
void BM_DeserializeFullResult(benchmark::State& state) { DeserializeAnswer(state, FullAnswer()); }

void BM_SerializeMeasurementMap(benchmark::State& state) {
  MeasurementMap map = ElevenMeasurements();
  for (auto _ : state) {
    ByteBuffer buffer(128, true);
    Process(buffer, map);
    benchmark::DoNotOptimize(buffer.Data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * map.size()));
}

void BM_DeserializeMeasurementMap(benchmark::State& state) {
  MeasurementMap source = ElevenMeasurements();
  ByteBuffer writer(128, true);
  Process(writer, source);
  const ByteVector body = writer.Release();
  for (auto _ : state) {
    MeasurementMap map;
    ByteBuffer buffer(body.data(), body.size(), false);
    Process(buffer, map);
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * source.size()));
}

}  // namespace

// memcpy of the two body sizes: the 16 MiB image answer and the full result.
BENCHMARK(BM_Memcpy)->Arg(16 * kMiB + 100)->Arg(6 * kMiB + 2100)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SerializeBigImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeserializeBigImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SerializeFullResult)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeserializeFullResult)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SerializeMeasurementMap);
BENCHMARK(BM_DeserializeMeasurementMap);

BENCHMARK_MAIN();
