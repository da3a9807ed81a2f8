// Job requests against the virtual instrument: listing, adding (and
// replacing), deleting, running and cancelling jobs, with and without a
// device session.
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/TestSupport.h"

namespace integration {
namespace {

class Jobs : public SharedDriver<Jobs> {
 public:
  static Environment Env() { return FastInstrument(); }

 protected:
  std::vector<JobAdvancedInfo> List() {
    const vantorel::JobsAnswer answer = client.GetJobs();
    EXPECT_TRUE(answer.status.Ok()) << answer.status.text;
    return answer.jobs;
  }
};

TEST_F(Jobs, WithoutSessionOnlyRunAndCancelReachTheInstrument) {
  // A refused connect closes the session at the driver and the instrument.
  ASSERT_EQ(client.ConnectNetwork({0, 0, 0, 0}, Scaled(5000)).code, 3003);

  const vantorel::JobsAnswer jobs = client.GetJobs();
  EXPECT_EQ(jobs.status.failure, vantorel::Failure::None);
  EXPECT_EQ(jobs.status.code, 99999);
  EXPECT_TRUE(jobs.jobs.empty());
  EXPECT_EQ(client.AddJob("J", "m", 1).code, 99999);
  EXPECT_EQ(client.DeleteJob("J").code, 99999);
  // Run and cancel are not guarded by the driver: the instrument answers.
  EXPECT_EQ(client.DoJob("J").code, 3001);
  EXPECT_EQ(client.Cancel().code, 3001);

  EXPECT_TRUE(client.ConnectUsb(Scaled(5000)).Ok());
  EXPECT_EQ(client.GetJobs().status.code, 0);
}

TEST_F(Jobs, AddingAStoredNameReplacesTheJob) {
  ASSERT_TRUE(EnsureSession(client));
  ASSERT_TRUE(client.AddJob("dup", "Red", 2).Ok());
  ASSERT_TRUE(client.AddJob("other", "Blue", 1).Ok());
  ASSERT_TRUE(client.AddJob("dup", "Green", 4).Ok());

  const std::vector<JobAdvancedInfo> jobs = List();
  EXPECT_EQ(std::count_if(jobs.begin(), jobs.end(),
                          [](const JobAdvancedInfo& job) { return job.name == "dup"; }),
            1);
  const auto dup = std::find_if(jobs.begin(), jobs.end(),
                                [](const JobAdvancedInfo& job) { return job.name == "dup"; });
  const auto other = std::find_if(jobs.begin(), jobs.end(),
                                  [](const JobAdvancedInfo& job) { return job.name == "other"; });
  ASSERT_NE(dup, jobs.end());
  ASSERT_NE(other, jobs.end());
  EXPECT_EQ(dup->sampleCount, 4);
  EXPECT_EQ(dup->state, 0u);
  EXPECT_TRUE(dup->valid);
  EXPECT_GT(dup - jobs.begin(), other - jobs.begin()) << "the replaced job is stored anew";
}

TEST_F(Jobs, StatesFollowARunningJob) {
  ASSERT_TRUE(EnsureSession(client));
  // 60 samples of 10 ms: long enough to see the job measuring.
  ASSERT_TRUE(client.AddJob("run", "Silver", 60).Ok());
  EXPECT_EQ(FindJob(List(), "run").value_or(JobAdvancedInfo{}).state, 0u);  // stored
  ASSERT_TRUE(client.DoJob("run").Ok());
  EXPECT_EQ(FindJob(List(), "run").value_or(JobAdvancedInfo{}).state, 1u);  // measuring
  EXPECT_EQ(client.DoJob("run").code, 3005) << "busy: the instrument's code passes through";
  EXPECT_TRUE(WaitForJobState(client, "run", 2, Scaled(10000)));  // measured

  ASSERT_TRUE(client.AddJob("stop", "Silver", 500).Ok());
  ASSERT_TRUE(client.DoJob("stop").Ok());
  EXPECT_TRUE(client.Cancel().Ok());
  EXPECT_EQ(FindJob(List(), "stop").value_or(JobAdvancedInfo{}).state, 0u);
  EXPECT_TRUE(client.Cancel().Ok()) << "nothing measuring";
}

TEST_F(Jobs, DeleteAnswersZeroWhetherTheJobExistsOrNot) {
  ASSERT_TRUE(EnsureSession(client));
  ASSERT_TRUE(client.AddJob("gone", "m", 1).Ok());
  EXPECT_TRUE(client.DeleteJob("gone").Ok());
  EXPECT_FALSE(FindJob(List(), "gone").has_value());
  const vantorel::Status missing = client.DeleteJob("never stored");
  EXPECT_EQ(missing.failure, vantorel::Failure::None);
  EXPECT_EQ(missing.code, 0);
}

TEST_F(Jobs, TextThatIsNotUtf8IsRefusedAndStoredJobsStay) {
  ASSERT_TRUE(EnsureSession(client));
  ASSERT_TRUE(client.AddJob("keep", "m", 1).Ok());
  const std::vector<JobAdvancedInfo> before = List();

  EXPECT_EQ(client.AddJob("keep", "\xFF\xFE", 3).code, 1003);
  EXPECT_EQ(client.AddJob("bad\xC3\x28", "m", 1).code, 1003);
  EXPECT_EQ(client.AddJob("surrogate\xED\xA0\x80", "m", 1).code, 1003);

  EXPECT_EQ(List(), before);
  EXPECT_EQ(FindJob(List(), "keep").value_or(JobAdvancedInfo{}).sampleCount, 1);
}

}  // namespace
}  // namespace integration
