// A whole session served by the Windows driver under Wine with a device
// module built by another compiler in place of our virtual instrument: the
// foreign module of tests/foreign, built by clang for the platform's C++ ABI
// against declarations of its own. Its values (ForeignValues.h) must arrive
// on the wire bit for bit, the driver's requests must reach it intact (it
// answers its own codes otherwise), and its reports must reach the driver's
// log sink.
//
// Wine mode only (VANTOREL_DRIVER_WINE); the module is
// <driver folder>/foreign/Vantorel_Cpp.dll, which the Windows build makes
// when it finds clang and lld-link. One driver, started from a folder with
// copies of the driver, our glue module and the foreign module, serves every
// test of the suite, in order.
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>

#include "colour/ExrCodec.h"
#include "foreign/ForeignValues.h"
#include "integration/TestSupport.h"
#include "messages/Protocol.h"

namespace integration {
namespace {

namespace fv = foreign_values;

constexpr char kMeasured[] = "Foreign measured";

class ForeignModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!WineMode()) {
      skipReason = "runs against the Windows driver under Wine only";
      return;
    }
    const std::string module = DriverFolder() + "/foreign/Vantorel_Cpp.dll";
    if (::access(module.c_str(), R_OK) != 0) {
      skipReason = module + " not built: the Windows build found no clang or lld-link";
      return;
    }
    folder = std::make_unique<TempFolder>();
    driver = std::make_unique<DriverProcess>();
    started =
        folder->Copy(DriverExecutable(), "vantorel-driver.exe") &&
        folder->Copy(DriverFolder() + "/VantorelDriverCLRGlue.dll", "VantorelDriverCLRGlue.dll") &&
        folder->Copy(module, "Vantorel_Cpp.dll") &&
        driver->Start({}, folder->Path() + "/vantorel-driver.exe") && driver->WaitForPort(60000);
  }
  static void TearDownTestSuite() {
    driver.reset();
    folder.reset();
  }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    ASSERT_TRUE(started) << driver->Failure();
    ASSERT_TRUE(driver->Running()) << driver->Describe();
    ASSERT_TRUE(ConnectClient(client));
    ASSERT_TRUE(EnsureSession(client));
  }
  void TearDown() override {
    client.Close();
    if (HasFailure() && driver) std::fprintf(stderr, "%s", driver->Describe().c_str());
  }

  static inline std::string skipReason;
  static inline std::unique_ptr<TempFolder> folder;
  static inline std::unique_ptr<DriverProcess> driver;
  static inline bool started = false;
  vantorel::Client client;
};

TEST_F(ForeignModule, JobsAreStoredListedRunCancelledAndDeleted) {
  ASSERT_TRUE(client.AddJob("Foreign A", "Gr\xc3\xbcn", 2).Ok());
  ASSERT_TRUE(client.AddJob("Foreign B", "blue", 1).Ok());
  EXPECT_EQ(client.AddJob("Foreign C", "red", fv::kMaxSamples + 1).code, fv::kInvalidJob);
  vantorel::JobsAnswer jobs = client.GetJobs();
  ASSERT_TRUE(jobs.status.Ok());
  ASSERT_EQ(jobs.jobs.size(), 2u);
  EXPECT_EQ(jobs.jobs[0].name, "Foreign A");
  EXPECT_EQ(jobs.jobs[0].sampleCount, 2);
  EXPECT_EQ(jobs.jobs[0].state, 0u);
  EXPECT_EQ(jobs.jobs[1].name, "Foreign B");
  EXPECT_EQ(jobs.jobs[1].sampleCount, 1);

  // The module finishes a measurement on the second look at the job list.
  ASSERT_TRUE(client.DoJob("Foreign A").Ok());
  EXPECT_EQ(client.DoJob("Foreign B").code, fv::kBusy);
  EXPECT_EQ(FindJob(client.GetJobs().jobs, "Foreign A")->state, 1u);
  EXPECT_EQ(FindJob(client.GetJobs().jobs, "Foreign A")->state, 2u);
  ASSERT_TRUE(client.DoJob("Foreign B").Ok());
  ASSERT_TRUE(client.Cancel().Ok());
  EXPECT_EQ(FindJob(client.GetJobs().jobs, "Foreign B")->state, 0u);
  EXPECT_EQ(client.DoJob("no such job").code, fv::kUnknownJob);

  ASSERT_TRUE(client.DeleteJob("Foreign A").Ok());
  ASSERT_TRUE(client.DeleteJob("Foreign B").Ok());
  jobs = client.GetJobs();
  ASSERT_TRUE(jobs.status.Ok());
  EXPECT_TRUE(jobs.jobs.empty());
}

TEST_F(ForeignModule, SampleArrivesBitForBit) {
  ASSERT_TRUE(PrepareMeasuredJob(client, kMeasured, "blue", 2));
  const unsigned key = fv::JobKey(kMeasured);
  const vantorel::MeasurementAnswer answer = client.GetSample(kMeasured, 1);
  ASSERT_TRUE(answer.status.Ok()) << answer.status.text;

  ASSERT_EQ(answer.data.measurements.size(), static_cast<std::size_t>(fv::kGeometryCount));
  for (const auto& [angle, record] : answer.data.measurements) {
    const int g = static_cast<int>(angle);
    EXPECT_EQ(record.index, g);  // the module lists the geometries in wire order
    for (int i = 0; i < fv::kSpectralCount; ++i) {
      EXPECT_EQ(record.spectrum[i], fv::Spectral(key, 1, g, i)) << g << "/" << i;
    }
    for (int c = 0; c < 3; ++c) EXPECT_EQ(record.lab[c], fv::LabValue(key, 1, g, c)) << g;
  }
  ASSERT_EQ(answer.data.images.size(), static_cast<std::size_t>(fv::kImageCount));
  for (const int g : fv::kImageGeometries) {
    const auto image = answer.data.images.find(static_cast<SpectrumAngle>(g));
    ASSERT_NE(image, answer.data.images.end()) << fv::kGeometries[g];
    colour::Image decoded;
    ASSERT_TRUE(colour::DecodeExr(image->second.exr, decoded)) << fv::kGeometries[g];
    ASSERT_EQ(decoded.width, fv::kImageSide);
    for (int y = 0; y < fv::kImageSide; ++y) {
      for (int x = 0; x < fv::kImageSide; ++x) {
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(decoded.rgb[3 * (y * fv::kImageSide + x) + c], fv::Pixel(key, 1, g, x, y, c));
        }
      }
    }
  }

  EXPECT_EQ(client.GetSample(kMeasured, 2).status.code, fv::kSampleNotMeasured);
  EXPECT_EQ(client.GetSample("no such job", 0).status.code, JobNotFoundCode);
  ASSERT_TRUE(client.DeleteJob(kMeasured).Ok());
}

TEST_F(ForeignModule, MeasurementIsCombinedAndItsImagesCorrectedByTheModule) {
  ASSERT_TRUE(PrepareMeasuredJob(client, kMeasured, "blue", 2));
  const unsigned key = fv::JobKey(kMeasured);
  const vantorel::MeasurementAnswer answer = client.GetMeasure(kMeasured);
  ASSERT_TRUE(answer.status.Ok()) << answer.status.text;

  // Our glue averages the two samples; the values are exact halves.
  ASSERT_EQ(answer.data.measurements.size(), static_cast<std::size_t>(fv::kGeometryCount));
  for (const auto& [angle, record] : answer.data.measurements) {
    const int g = static_cast<int>(angle);
    for (int i = 0; i < fv::kSpectralCount; ++i) {
      EXPECT_EQ(record.spectrum[i], (fv::Spectral(key, 0, g, i) + fv::Spectral(key, 1, g, i)) / 2)
          << g << "/" << i;
    }
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(record.lab[c], (fv::LabValue(key, 0, g, c) + fv::LabValue(key, 1, g, c)) / 2);
    }
  }
  // The first sample's images, scaled by the module by the mean of the
  // geometry's (combined) spectral values.
  ASSERT_EQ(answer.data.images.size(), static_cast<std::size_t>(fv::kImageCount));
  for (const int g : fv::kImageGeometries) {
    const SpectrumAngle angle = static_cast<SpectrumAngle>(g);
    float sum = 0.0f;
    for (const float v : answer.data.measurements.at(angle).spectrum) sum += v;
    const float gain = sum / static_cast<float>(fv::kSpectralCount);
    colour::Image decoded;
    ASSERT_TRUE(colour::DecodeExr(answer.data.images.at(angle).exr, decoded));
    ASSERT_EQ(decoded.width, fv::kImageSide);
    for (int y = 0; y < fv::kImageSide; ++y) {
      for (int x = 0; x < fv::kImageSide; ++x) {
        for (int c = 0; c < 3; ++c) {
          const float expected = fv::Pixel(key, 0, g, x, y, c) * gain;
          EXPECT_NEAR(decoded.rgb[3 * (y * fv::kImageSide + x) + c], expected, 1e-6 * expected);
        }
      }
    }
  }
  ASSERT_TRUE(client.DeleteJob(kMeasured).Ok());
}

TEST_F(ForeignModule, ConnectsJobsAndMessagesAreLoggedAndReportedToTheSink) {
  ASSERT_TRUE(client.ConnectNetwork({10, 0, 0, 7}, Scaled(5000)).Ok());
  EXPECT_EQ(client.ConnectNetwork({0, 0, 0, 0}, Scaled(5000)).code, fv::kAddressRefused);
  // The status says which side gave up (a driver time-out is 99999, a lost
  // answer a transport error), should this ever fail again.
  const vantorel::Status usb = client.ConnectUsb(Scaled(5000));
  ASSERT_TRUE(usb.Ok()) << usb.code << ": " << usb.text;
  ASSERT_TRUE(client.AddJob("Foreign L", "Gr\xc3\xbcn", 2).Ok());
  const std::string message =
      "Gr\xc3\xbc\xc3\x9f"
      "e \xe2\x9c\x93 \xf0\x9d\x84\x9e";
  ASSERT_TRUE(client.SendUserMessage(message).Ok());
  const vantorel::LogAnswer log = client.GetLog();
  ASSERT_TRUE(log.status.Ok());
  // The module read every field of the job description: its line names them.
  for (const std::string& line :
       {std::string("connected over the network to 10.0.0.7"), std::string(fv::kRefusedError),
        std::string("added job Foreign L (version 0, 2 samples, planned 2, tags Make=,MakeId=, "
                    "display DisplayName=Foreign L,DisplayMake=Gr\xc3\xbcn, reference NONE, "
                    "comment '')"),
        "user message: " + message}) {
    EXPECT_NE(log.text.find(line + "\n"), std::string::npos) << line << "\n" << log.text;
  }
  // Standard output of a Windows program ends its lines in CR LF.
  std::string out = driver->Stdout();
  std::erase(out, '\r');
  for (const std::string& line :
       {std::string(fv::kReadyMessage), std::string("Warning: ") + fv::kNoJobWarning + "Foreign L",
        std::string("Error: ") + fv::kRefusedError}) {
    EXPECT_NE(out.find(line + "\n"), std::string::npos) << line << "\n" << out;
  }
  ASSERT_TRUE(client.DeleteJob("Foreign L").Ok());
}

TEST_F(ForeignModule, TerminateEndsTheDriver) {
  ASSERT_TRUE(client.Terminate().Ok());
  EXPECT_EQ(driver->WaitExit(Scaled(10000)), 0);
}

}  // namespace
}  // namespace integration
