// Job requests: list, add, delete, run and cancel the jobs stored on the
// instrument.
#include "colour/Utf8.h"
#include "driver/DriverInvoker.h"
#include "messages/Messages.h"
#include "messages/Protocol.h"

using namespace Vexil::Device_Cpp;

namespace {

// Job state codes of the device and the states the driver answers.
constexpr std::int32_t kDeviceJobMeasuring = 2000;
constexpr std::int32_t kDeviceJobMeasured = 2004;

std::uint32_t DriverJobState(std::int32_t stateCode) {
  if (stateCode == kDeviceJobMeasuring) return 1;
  if (stateCode == kDeviceJobMeasured) return 2;
  return 0;
}

}  // namespace

void DriverInvoker::GetJobs() {
  MsgAnswerJobInfo answer;
  MsgAnswerJobInfo* pAnswer = &answer;
  auto SendAnswerLambda = [this, pAnswer](std::int32_t code) {
    pAnswer->result = code;
    if (connection != nullptr) connection->SendMsg(Protocol::kGetJobs, pAnswer);
  };
  if (!deviceConnected) {
    SendAnswerLambda(DeviceNotConnectedCode);
    return;
  }
  JobInfoVector Jobs;
  const std::int32_t result = device->GetJobs(Jobs);
  // The list is built from whatever the device left, whatever its code.
  for (IJobInfo& job : Jobs.Items()) {
    JobAdvancedInfo info;
    info.name = job.description().identifier().Text();
    info.state = DriverJobState(job.modeInfo().stateCode());
    info.sampleCount = job.description().sampleCount();
    info.valid = true;
    answer.jobs.push_back(std::move(info));
  }
  SendAnswerLambda(result);
}

void DriverInvoker::AddJob(const std::string& name, const std::string& make,
                           std::uint32_t sampleCount) {
  if (!deviceConnected) {
    AnswerCode(Protocol::kAddJob, DeviceNotConnectedCode);
    return;
  }
  // Both texts become UTF-32 display tags; a text that is not UTF-8 is
  // refused before the device is touched, so no stored job is lost to it.
  std::u32string WideJobId;
  std::u32string WideTag;
  if (!colour::DecodeUtf8(name, WideJobId) || !colour::DecodeUtf8(make, WideTag)) {
    AnswerCode(Protocol::kAddJob, InvalidTextCode);
    return;
  }

  IString JobDescId(name);
  device->DeleteJob(JobDescId);  // adding replaces a job of the same name

  IJobDescription JobDesc;
  JobDesc.identifier().Text() = name;
  JobDesc.sampleCount() = static_cast<std::int32_t>(sampleCount);
  JobDesc.plannedSampleCount() = static_cast<std::int32_t>(sampleCount);
  JobDesc.displayTags().Items().emplace_back(IString("DisplayName"), IString32(WideJobId));
  JobDesc.displayTags().Items().emplace_back(IString("DisplayMake"), IString32(WideTag));
  auto& Tag2 = JobDesc.tags().Items();
  Tag2.emplace_back(IString("Make"), IString(""));
  Tag2.emplace_back(IString("MakeId"), IString(""));
  JobDesc.referenceName().Text() = "NONE";

  const std::int32_t answerMsg = device->AddJob(JobDesc);
  AnswerCode(Protocol::kAddJob, answerMsg);
}

void DriverInvoker::DeleteJob(const std::string& name) {
  if (!deviceConnected) {
    AnswerCode(Protocol::kDeleteJob, DeviceNotConnectedCode);
    return;
  }
  IString JobID2(name);
  device->DeleteJob(JobID2);
  AnswerCode(Protocol::kDeleteJob, 0);
}

void DriverInvoker::DoJob(const std::string& name) {
  IString OurJobId(name);
  AnswerCode(Protocol::kDoJob, device->DoJob(OurJobId));
}

void DriverInvoker::Cancel() { AnswerCode(Protocol::kCancel, device->Cancel()); }
