// seed_maker: writes the seed inputs of the fuzz targets, made by the
// product's own writers so that the seeds are what real peers produce.
//
// Usage: seed_maker <corpus folder>. Writes <folder>/<target>/seed_*.bin for
// the targets receive, bodies, exr and store, creating the subfolders;
// existing seed files are replaced, other files (regression inputs) are left
// alone. Exit code 0 on success, 1 when a file cannot be written.
//
// Threads: single-threaded tool.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "colour/ExrCodec.h"
#include "messages/ByteBuffer.h"
#include "messages/MessageHeader.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"
#include "sim/instrument/SparkleImage.h"
#include "sim/instrument/StoreWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Protocol::BuildFrame;

bool failed = false;

void Write(const std::string& folder, const std::string& name, const Bytes& bytes) {
  ::mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    failed = true;
  }
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

template <typename Msg>
Bytes Serialized(void (*fn)(ByteBuffer&, Msg&), Msg msg) {
  ByteBuffer buffer(128, true);
  fn(buffer, msg);
  return Bytes(buffer.Data(), buffer.Data() + buffer.Size());
}

// The worked bodies of the protocol.
const Bytes kDoJobJ1 = {0x02, 0, 0, 0, 'J', '1'};
const Bytes kGetSampleJ1At3 = {0x02, 0, 0, 0, 'J', '1', 0x03, 0, 0, 0};
const Bytes kUsbConnect5000 = {0, 0, 0, 0, 0x88, 0x13, 0, 0};
const Bytes kUserMessageHi = {0x02, 0, 0, 0, 'h', 0, 0, 0, 'i', 0, 0, 0};

VantorelMeasurementsFull SomeMeasurements() {
  VantorelMeasurementsFull data;
  for (SpectrumAngle angle : {R15As15, R45As110}) {
    VantorelMeasurements& m = data.measurements[angle];
    m.index = angle;
    m.angle = angle;
    for (std::size_t i = 0; i < kSpectrumValueCount; ++i) m.spectrum[i] = 0.01f * i;
    m.lab = {50.0f, 1.5f, -2.5f};
  }
  data.images[R15As15].exr = {'E', 'X', 'R'};
  data.images[R15As15].texture.values[3] = 0.25;
  return data;
}

void ReceiveSeeds(const std::string& folder) {
  // Set-up block: session open, 2 jobs of 1 sample each, 11 + 6 geometries.
  const Bytes session = {0x01, 0xFF, 0, 11, 6, 0, 0x06, 0};
  const Bytes noSession = {0x00, 0xFF, 0, 11, 6, 0, 0x06, 0};
  Write(folder, "seed_connect.bin",
        Cat({noSession, BuildFrame(Protocol::kUsbConnect, kUsbConnect5000),
             BuildFrame(Protocol::kGetJobs, {0, 0, 0})}));
  Write(folder, "seed_network_connect.bin",
        Cat({noSession, BuildFrame(Protocol::kNetworkConnect, {10, 0, 0, 1, 0x88, 0x13, 0, 0})}));
  Write(folder, "seed_jobs.bin",
        Cat({session,
             BuildFrame(Protocol::kAddJob,
                        Serialized(&SerializeMsgAddJob, MsgAddJob{"J9", "Teal", 2})),
             BuildFrame(Protocol::kGetJobs, {0, 0, 0}), BuildFrame(Protocol::kDoJob, kDoJobJ1),
             BuildFrame(Protocol::kCancel, {0}),
             BuildFrame(Protocol::kDeleteJob,
                        Serialized(&SerializeMsgDeleteJob, MsgDeleteJob{"J2"}))}));
  Write(folder, "seed_sample.bin",
        Cat({session, BuildFrame(Protocol::kGetSample, kGetSampleJ1At3),
             BuildFrame(Protocol::kGetSample,
                        Serialized(&SerializeMsgGetSample, MsgGetSample{"J1", 0}))}));
  Write(folder, "seed_measure.bin",
        Cat({session, BuildFrame(Protocol::kGetMeasure,
                                 Serialized(&SerializeMsgGetMeasure, MsgGetMeasure{"J1"}))}));
  Write(folder, "seed_log.bin",
        Cat({noSession, BuildFrame(Protocol::kGetLog, {0}),
             BuildFrame(Protocol::kUserMessage, kUserMessageHi)}));
  Write(
      folder, "seed_terminate.bin",
      Cat({noSession, BuildFrame(Protocol::kGetLog, {0}), BuildFrame(Protocol::kTerminate, {0})}));
  // Short reads of one byte, then a receive error at the end.
  Write(folder, "seed_short_reads.bin",
        Cat({{0x0B, 0xFF, 0, 11, 6, 0, 0x06, 0},
             BuildFrame(Protocol::kDoJob, kDoJobJ1),
             BuildFrame(Protocol::kGetSample, kGetSampleJ1At3)}));
}

void BodySeeds(const std::string& folder) {
  Write(folder, "seed_deletejob.bin", Cat({{0}, {0, 0, 0, 0}}));
  Write(folder, "seed_getmeasure.bin", Cat({{1}, kDoJobJ1}));
  Write(folder, "seed_getsample.bin", Cat({{2}, kGetSampleJ1At3}));
  Write(folder, "seed_addjob.bin",
        Cat({{3}, Serialized(&SerializeMsgAddJob, MsgAddJob{"J1", "Teal \xC3\xA9", 5})}));
  Write(folder, "seed_dojob.bin", Cat({{4}, kDoJobJ1}));
  Write(folder, "seed_usermessage.bin", Cat({{5}, kUserMessageHi}));
  MsgAnswerJobInfo jobs;
  JobAdvancedInfo job;
  job.name = "J1";
  job.state = 1;
  job.sampleCount = 5;
  job.valid = true;
  jobs.jobs = {job, job};
  Write(folder, "seed_answer_jobs.bin", Cat({{6}, Serialized(&SerializeMsgAnswerJobInfo, jobs)}));
  MsgAnswerGetMeasure measure;
  measure.data = SomeMeasurements();
  Write(folder, "seed_answer_measure.bin",
        Cat({{7}, Serialized(&SerializeMsgAnswerGetMeasure, measure)}));
  MsgAnswerGetSample sample;
  sample.data = SomeMeasurements();
  Write(folder, "seed_answer_sample.bin",
        Cat({{8}, Serialized(&SerializeMsgAnswerGetSample, sample)}));
  Write(folder, "seed_answer_log.bin",
        Cat({{9},
             Serialized(&SerializeMsgAnswerGetLog, MsgAnswerGetLog{0, std::string("ok\0", 3)})}));
}

Bytes SmallExr(int size, std::uint64_t seed) {
  return colour::EncodeExr(instrument::MakeSparkleImage(size, {0.2, 0.3, 0.4}, seed));
}

void ExrSeeds(const std::string& folder) {
  Write(folder, "seed_sparkle_8px.bin", SmallExr(8, 1));
  Write(folder, "seed_sparkle_20px.bin", SmallExr(20, 2));
  Write(folder, "seed_1px.bin", colour::EncodeExr(std::vector<float>{0.5f, 0.25f, 0.125f}, 1, 1));
}

void StoreSeeds(const std::string& folder) {
  instrument::JobRecord stored;
  stored.identifier = "J1";
  stored.tags = {{"Make", ""}, {"MakeId", ""}};
  stored.displayTags = {{"DisplayName", U"J1"}, {"DisplayMake", U"Teal"}};
  stored.sampleCount = 2;
  stored.plannedSampleCount = 2;
  stored.referenceName = "NONE";
  stored.samples.assign(2, nullptr);

  instrument::JobRecord measured = stored;
  measured.identifier = "M1";
  measured.stateCode = 2004;
  auto sample = std::make_shared<instrument::MeasuredSample>();
  for (std::size_t g = 0; g < instrument::kGeometryCount; ++g) {
    for (std::size_t i = 0; i < instrument::kSpectrumSize; ++i) {
      sample->spectra[g][i] = 0.1f + 0.01f * static_cast<float>(i + g);
    }
    sample->lab[g] = {50.0f, 2.0f, -3.0f};
  }
  for (std::size_t k = 0; k < instrument::kImageCount; ++k) sample->exr[k] = SmallExr(4, k);
  sample->measuredAtMs = 1700000000000;
  measured.samples[1] = sample;

  const Bytes empty = instrument::SerializeStore({});
  const Bytes one = instrument::SerializeStore({stored});
  const Bytes both = instrument::SerializeStore({stored, measured});
  Write(folder, "seed_empty.bin", Cat({{0}, empty}));
  Write(folder, "seed_one_job.bin", Cat({{0}, one}));
  Write(folder, "seed_measured.bin", Cat({{0}, both}));
  Write(folder, "seed_one_job_repaired.bin", Cat({{1}, one}));
  Write(folder, "seed_measured_repaired.bin", Cat({{1}, both}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: seed_maker <corpus folder>\n");
    return 1;
  }
  const std::string root = argv[1];
  ::mkdir(root.c_str(), 0755);
  ReceiveSeeds(root + "/receive");
  BodySeeds(root + "/bodies");
  ExrSeeds(root + "/exr");
  StoreSeeds(root + "/store");
  return failed ? 1 : 0;
}
