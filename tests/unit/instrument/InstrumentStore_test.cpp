// The instrument's memory across restarts: the store file round trip, its
// rejection of damaged bytes, the atomic write and the restart behaviour.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>

#include "InstrumentTestSupport.h"
#include "sim/instrument/SampleMaker.h"
#include "sim/instrument/SimCodes.h"
#include "sim/instrument/StoreFormat.h"
#include "sim/instrument/StoreReader.h"
#include "sim/instrument/StoreWriter.h"
#include "sim/instrument/VirtualInstrument.h"

namespace instrument::test {
namespace {

std::vector<JobRecord> SampleJobs() {
  JobRecord a;
  a.identifier = "Fender \xC3\xA9";
  a.version = 3;
  a.tags = {{"Make", ""}, {"MakeId", "17"}};
  a.displayTags = {{"DisplayName", U"Fender \u00e9"}, {"DisplayMake", U"Teal \U0001F600"}};
  a.sampleCount = 3;
  a.plannedSampleCount = 3;
  a.referenceName = "NONE";
  a.comment = "c";
  a.stateCode = kJobStored;
  a.samples.assign(3, nullptr);
  a.samples[1] = MakeSample(a.identifier, "Teal", 1, 8, 1700000000123);
  JobRecord b;
  b.identifier = "Empty";
  b.stateCode = kJobMeasured;
  return {a, b};
}

// Serialisation covers every field, so equal bytes mean equal job lists.
void ExpectSameJobs(const std::vector<JobRecord>& x, const std::vector<JobRecord>& y) {
  EXPECT_EQ(SerializeStore(x), SerializeStore(y));
}

// A store file around a hand-made payload, with a correct header and crc.
std::vector<std::uint8_t> Wrap(const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> file(kStoreMagic, kStoreMagic + 8);
  auto u32 = [&file](std::uint32_t v) {
    for (int s = 0; s < 32; s += 8) file.push_back(static_cast<std::uint8_t>(v >> s));
  };
  u32(kStoreVersion);
  u32(static_cast<std::uint32_t>(crc32(0L, payload.data(), static_cast<uInt>(payload.size()))));
  u32(static_cast<std::uint32_t>(payload.size()));
  u32(0);
  file.insert(file.end(), payload.begin(), payload.end());
  return file;
}

TEST(InstrumentStore, RoundTripKeepsEveryField) {
  const std::vector<JobRecord> jobs = SampleJobs();
  const std::vector<std::uint8_t> bytes = SerializeStore(jobs);
  std::vector<JobRecord> parsed;
  ASSERT_TRUE(ParseStore(bytes.data(), bytes.size(), parsed));
  ExpectSameJobs(jobs, parsed);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[0].displayTags[1].second, U"Teal \U0001F600");
  ASSERT_EQ(parsed[0].samples.size(), 3u);
  EXPECT_FALSE(parsed[0].samples[0]);
  ASSERT_TRUE(parsed[0].samples[1]);
  EXPECT_EQ(parsed[0].samples[1]->exr, jobs[0].samples[1]->exr);
  EXPECT_EQ(parsed[0].samples[1]->measuredAtMs, 1700000000123);

  const std::vector<std::uint8_t> empty = SerializeStore({});
  EXPECT_TRUE(ParseStore(empty.data(), empty.size(), parsed));
  EXPECT_TRUE(parsed.empty());
}

TEST(InstrumentStore, ParseRejectsEveryDamageAndLeavesItsOutputAlone) {
  const std::vector<JobRecord> original = SampleJobs();
  const std::vector<std::uint8_t> bytes = SerializeStore(original);
  std::vector<JobRecord> out = SampleJobs();

  for (std::size_t length = 0; length < bytes.size(); ++length) {
    std::vector<std::uint8_t> cut(bytes.begin(),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(length));
    ASSERT_FALSE(ParseStore(cut.data(), cut.size(), out)) << length;
  }
  for (std::size_t i = 0; i < bytes.size(); i += 7) {
    std::vector<std::uint8_t> flipped = bytes;
    flipped[i] ^= 0x10;
    ASSERT_FALSE(ParseStore(flipped.data(), flipped.size(), out)) << i;
  }
  std::vector<std::uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(ParseStore(longer.data(), longer.size(), out));
  EXPECT_FALSE(ParseStore(nullptr, 0, out));
  ExpectSameJobs(original, out);

  // Checksum-valid payloads whose counts lie.
  EXPECT_FALSE(ParseStore(Wrap({0xff, 0xff, 0xff, 0xff}).data(), 28, out));
  // One job "J" with 2^28 tags, followed by enough bytes for a small job.
  std::vector<std::uint8_t> hugeTags = {1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 'J', 0, 0, 0, 16};
  hugeTags.resize(hugeTags.size() + 100);
  const auto wrapped = Wrap(hugeTags);
  EXPECT_FALSE(ParseStore(wrapped.data(), wrapped.size(), out));
  std::vector<std::uint8_t> truthful = SerializeStore(original);
  truthful.erase(truthful.begin(), truthful.begin() + kStoreHeaderSize);
  const auto rewrapped = Wrap(truthful);
  EXPECT_TRUE(ParseStore(rewrapped.data(), rewrapped.size(), out));  // the helper itself is right
}

TEST(InstrumentStore, AtomicWriteReplacesTheFileAndLeavesNoTemporary) {
  const std::string path = TempPath("store");
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, {1, 2, 3}, error)) << error;
  ASSERT_TRUE(WriteFileAtomically(path, {4, 5}, error)) << error;
  std::vector<std::uint8_t> read;
  ASSERT_EQ(ReadWholeFile(path, read), ReadResult::kRead);
  EXPECT_EQ(read, (std::vector<std::uint8_t>{4, 5}));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  EXPECT_FALSE(WriteFileAtomically(path + ".missing-dir/store", {1}, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadWholeFile(path + ".nothing", read), ReadResult::kMissing);
}

TEST(InstrumentStore, JobsAndSamplesSurviveARestart) {
  SimConfig config = FastConfig();
  config.storePath = TempPath("store");
  SampleResult before;
  {
    VirtualInstrument device(config);
    ASSERT_EQ(device.ConnectUsb(0), 0);
    ASSERT_EQ(AddJob(device, "Kept", U"Olive", 2), 0);
    ASSERT_EQ(AddJob(device, "Waiting", U"Olive", 1), 0);
    dv::IString id("Kept");
    ASSERT_EQ(device.DoJob(id), 0);
    ASSERT_TRUE(WaitForJobState(device, "Kept", kJobMeasured));
    before = FetchSample(device, "Kept", 1);
    ASSERT_EQ(before.code, 0);
  }
  EXPECT_FALSE(std::filesystem::exists(config.storePath + ".tmp"));

  RecordingLogger logger;  // outlives the device, which may still forward to it
  VirtualInstrument device(config);
  device.SetLogger(&logger);
  EXPECT_TRUE(logger.Contains("M restored 2 jobs and 2 measured samples"));
  ASSERT_EQ(device.ConnectUsb(0), 0);
  EXPECT_EQ(JobState(device, "Kept"), kJobMeasured);
  EXPECT_EQ(JobState(device, "Waiting"), kJobStored);
  SampleResult after = FetchSample(device, "Kept", 1);
  ASSERT_EQ(after.code, 0);
  ASSERT_EQ(after.spectra.Items().size(), before.spectra.Items().size());
  EXPECT_EQ(after.spectra.Items()[4].contents().Items()[0].spectrum().values().Items(),
            before.spectra.Items()[4].contents().Items()[0].spectrum().values().Items());
  EXPECT_EQ(after.images.Items()[5].contents().Items()[0].exr().data().Items(),
            before.images.Items()[5].contents().Items()[0].exr().data().Items());
  EXPECT_EQ(FetchSample(device, "Waiting", 0).code, kSampleNotMeasuredCode);
}

TEST(InstrumentStore, DamagedFileIsReportedSetAsideAndReplaced) {
  SimConfig config = FastConfig();
  config.storePath = TempPath("store");
  std::vector<std::uint8_t> damaged = SerializeStore(SampleJobs());
  damaged[damaged.size() / 2] ^= 0xff;
  {
    std::ofstream file(config.storePath, std::ios::binary);
    file.write(reinterpret_cast<const char*>(damaged.data()),
               static_cast<std::streamsize>(damaged.size()));
  }

  RecordingLogger logger;  // outlives the device, which may still forward to it
  VirtualInstrument device(config);
  device.SetLogger(&logger);
  EXPECT_TRUE(logger.Contains("E store '" + config.storePath + "' is damaged"));
  std::vector<std::uint8_t> aside;
  ASSERT_EQ(ReadWholeFile(config.storePath + ".damaged", aside), ReadResult::kRead);
  EXPECT_EQ(aside, damaged);

  ASSERT_EQ(device.ConnectUsb(0), 0);
  dv::JobInfoVector jobs;
  ASSERT_EQ(device.GetJobs(jobs), 0);
  EXPECT_TRUE(jobs.Items().empty());
  ASSERT_EQ(AddJob(device, "New", U"Olive", 1), 0);
  std::vector<std::uint8_t> fresh;
  std::vector<JobRecord> parsed;
  ASSERT_EQ(ReadWholeFile(config.storePath, fresh), ReadResult::kRead);
  ASSERT_TRUE(ParseStore(fresh.data(), fresh.size(), parsed));
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0].identifier, "New");
}

}  // namespace
}  // namespace instrument::test
