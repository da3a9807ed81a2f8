// The routes under /api/instruments: the instruments, their jobs, runs,
// measurements and logs.
#include "client/JobStates.h"
#include "client/RequestChecks.h"
#include "client/quality/RecordJson.h"
#include "service/JobMeasurement.h"
#include "service/LabServer.h"
#include "service/RecordAnswers.h"

namespace vantorel::lab {
namespace {

constexpr std::int64_t kMaxSamples = 1000;
constexpr std::int64_t kMaxConnectTimeoutMs = 600000;
constexpr std::uint32_t kDefaultConnectTimeoutMs = 10000;

nlohmann::json InstrumentJson(const InstrumentView& view) {
  std::string state = "idle";
  if (!view.reachable) {
    state = "unreachable";
  } else if (!view.connected) {
    state = "not_connected";
  } else if (view.measuring) {
    state = "measuring";
  }
  return {{"name", view.address.name},
          {"host", view.address.host},
          {"port", view.address.port},
          {"reachable", view.reachable},
          {"connected", view.connected},
          {"state", state},
          {"job", view.measuring ? nlohmann::json(*view.measuring) : nlohmann::json(nullptr)}};
}

nlohmann::json JobJson(const JobAdvancedInfo& job, const std::string& make) {
  return {{"name", job.name},
          {"state", JobStateName(job.state)},
          {"samples", job.sampleCount},
          {"make", make}};
}

// The make remembered for `job`; "" when none is, or without a store.
std::string Make(const StorePool::Lease& store, const std::string& job) {
  if (!store) return "";
  const records::Found<std::string> make = store->RememberedMake(job);
  return make.value.value_or("");
}

const JobAdvancedInfo* FindJob(const JobsAnswer& jobs, const std::string& name) {
  for (const JobAdvancedInfo& job : jobs.jobs) {
    if (job.name == name) return &job;
  }
  return nullptr;
}

void ListInstruments(const LabContext& lab, httplib::Response& res) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& instrument : lab.instruments) list.push_back(InstrumentJson(instrument->View()));
  SendJson(res, 200, {{"instruments", list}});
}

void Connect(Instrument& instrument, const httplib::Request& req, httplib::Response& res) {
  nlohmann::json body;
  std::optional<ApiError> error = ReadObject(req, body);
  bool usb = false;
  std::string address;
  std::int64_t timeoutMs = kDefaultConnectTimeoutMs;
  if (!error) error = OnlyFields(body, {"usb", "address", "timeoutMs"});
  if (!error) error = Flag(body, "usb", usb);
  if (!error) error = Text(body, "address", address, false);
  if (!error) error = Integer(body, "timeoutMs", timeoutMs, 1, kMaxConnectTimeoutMs, false);
  const std::optional<std::array<std::uint8_t, 4>> ip = ParseIpv4(address);
  if (!error && usb == !address.empty()) {
    error = BadRequest("give either \"usb\": true or \"address\": \"a.b.c.d\"");
  }
  if (!error && !usb && !ip) error = BadRequest("\"address\" must be an IPv4 address a.b.c.d");
  if (error) return SendError(res, *error);
  ServeOn(instrument, res, [&](Instrument& on) {
    const Status status = on.Request([&](Client& client) {
      ClientOptions options = client.Options();
      client.SetOptions(options);
      return usb ? client.ConnectUsb(static_cast<std::uint32_t>(timeoutMs))
                 : client.ConnectNetwork(*ip, static_cast<std::uint32_t>(timeoutMs));
    });
    on.Jobs();  // the instrument event says it is connected
    if (!status.Ok()) return SendError(res, FromDriver(status, "the instrument did not connect"));
    SendJson(res, 200, {{"instrument", on.Address().name}, {"connected", true}});
  });
}

void ListJobs(Instrument& instrument, httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const JobsAnswer jobs = on.Jobs();
    if (!jobs.status.Ok()) return SendError(res, FromDriver(jobs.status, "the job list"));
    std::string problem;
    const StorePool::Lease store = on.Stores().Borrow(problem);
    nlohmann::json list = nlohmann::json::array();
    for (const JobAdvancedInfo& job : jobs.jobs)
      list.push_back(JobJson(job, Make(store, job.name)));
    SendJson(res, 200, {{"instrument", on.Address().name}, {"jobs", list}});
  });
}

void AddJob(Instrument& instrument, const httplib::Request& req, httplib::Response& res) {
  nlohmann::json body;
  std::optional<ApiError> error = ReadObject(req, body);
  std::string name, make;
  std::int64_t samples = 0;
  bool replace = false;
  if (!error) error = OnlyFields(body, {"name", "make", "samples", "replace"});
  if (!error) error = Text(body, "name", name, true);
  if (!error) error = Text(body, "make", make, false);
  if (!error) error = Integer(body, "samples", samples, 1, kMaxSamples, true);
  if (!error) error = Flag(body, "replace", replace);
  if (!error) {
    if (const std::optional<std::string> problem = JobDescriptionProblem(name, make, samples)) {
      error = BadRequest(*problem);
    }
  }
  if (error) return SendError(res, *error);
  ServeOn(instrument, res, [&](Instrument& on) {
    const JobsAnswer jobs = on.Jobs();
    if (!jobs.status.Ok()) return SendError(res, FromDriver(jobs.status, "the job list"));
    const JobAdvancedInfo* stored = FindJob(jobs, name);
    if (stored != nullptr && stored->state == kJobMeasuring) {
      return SendError(res,
                       Conflict("measuring", "job '" + name + "' is measuring; cancel it first"));
    }
    if (stored != nullptr && !replace) {
      return SendError(res, Conflict("exists", "job '" + name + "' is already stored (" +
                                                   JobStateName(stored->state) + ", " +
                                                   std::to_string(stored->sampleCount) +
                                                   " samples); \"replace\": true replaces it and "
                                                   "discards its readings"));
    }
    const Status status = on.Request([&](Client& client) {
      return client.AddJob(name, make, static_cast<std::uint32_t>(samples));
    });
    if (!status.Ok())
      return SendError(res, FromDriver(status, "job '" + name + "' was not stored"));
    if (!make.empty()) {
      std::string problem;
      if (StorePool::Lease store = on.Stores().Borrow(problem)) store->RememberMake(name, make);
    }
    const JobsAnswer after = on.Jobs();
    const JobAdvancedInfo* added = FindJob(after, name);
    JobAdvancedInfo job;
    job.name = name;
    job.sampleCount = static_cast<std::int32_t>(samples);
    SendJson(res, 201,
             {{"instrument", on.Address().name}, {"job", JobJson(added ? *added : job, make)}});
  });
}

void DeleteJob(Instrument& instrument, const std::string& name, httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const JobsAnswer jobs = on.Jobs();
    if (!jobs.status.Ok()) return SendError(res, FromDriver(jobs.status, "the job list"));
    const JobAdvancedInfo* job = FindJob(jobs, name);
    if (job == nullptr) return SendError(res, NotFound("job '" + name + "' is not stored"));
    if (job->state == kJobMeasuring) {
      return SendError(res,
                       Conflict("measuring", "job '" + name + "' is measuring; cancel it first"));
    }
    const Status status = on.Request([&](Client& client) { return client.DeleteJob(name); });
    if (!status.Ok())
      return SendError(res, FromDriver(status, "job '" + name + "' was not deleted"));
    on.Jobs();
    SendJson(res, 200, {{"instrument", on.Address().name}, {"deleted", name}});
  });
}

void RunJob(Instrument& instrument, const std::string& name, httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const JobsAnswer jobs = on.Jobs();
    if (!jobs.status.Ok()) return SendError(res, FromDriver(jobs.status, "the job list"));
    const JobAdvancedInfo* job = FindJob(jobs, name);
    if (job == nullptr) return SendError(res, NotFound("job '" + name + "' is not stored"));
    for (const JobAdvancedInfo& other : jobs.jobs) {
      if (other.state == kJobMeasuring) {
        return SendError(
            res, Conflict("measuring",
                          "job '" + other.name + "' is measuring; one job measures at a time"));
      }
    }
    const int samples = job->sampleCount;
    const Status status = on.Request([&](Client& client) { return client.DoJob(name); });
    if (!status.Ok()) return SendError(res, FromDriver(status, "job '" + name + "' did not start"));
    on.RunStarted(name, samples);
    const std::optional<std::int64_t> estimate = on.EstimateMs(samples);
    SendJson(res, 202,
             {{"instrument", on.Address().name},
              {"job", name},
              {"state", "measuring"},
              {"samples", samples},
              {"estimateMs", estimate ? nlohmann::json(*estimate) : nullptr}});
  });
}

void Cancel(Instrument& instrument, httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const Status status = on.Request([](Client& client) { return client.Cancel(); });
    if (!status.Ok()) return SendError(res, FromDriver(status, "the cancel"));
    on.Jobs();
    SendJson(res, 200, {{"instrument", on.Address().name}, {"cancelled", true}});
  });
}

void Measurement(Instrument& instrument, const std::string& name, const Identity& who,
                 httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const JobMeasurement measured = MeasureJob(on, name, who.user);
    if (measured.error) return SendError(res, *measured.error);
    nlohmann::json body = MeasurementJson(measured.record);
    body["instrument"] = on.Address().name;
    SendJson(res, 200, body);
  });
}

void Log(Instrument& instrument, httplib::Response& res) {
  ServeOn(instrument, res, [&](Instrument& on) {
    const LogAnswer log = on.Request([](Client& client) { return client.GetLog(); });
    if (!log.status.Ok()) return SendError(res, FromDriver(log.status, "the log"));
    SendJson(res, 200, {{"instrument", on.Address().name}, {"log", log.text}});
  });
}

}  // namespace

void AddInstrumentRoutes(httplib::Server& server, LabContext& lab) {
  const std::string one = R"(/api/instruments/([^/]+))";
  const auto with = [&lab](auto call) {
    return [&lab, call](const httplib::Request& req, httplib::Response& res, const Identity& who) {
      if (Instrument* instrument = InstrumentOr404(lab, req.matches[1], res)) {
        call(*instrument, req, res, who);
      }
    };
  };
  server.Get("/api/instruments",
             Guarded(lab, Role::kViewer,
                     [&lab](const auto&, auto& res, const auto&) { ListInstruments(lab, res); }));
  server.Post(one + "/connect", Guarded(lab, Role::kAdmin,
                                        with([](Instrument& i, const auto& req, auto& res,
                                                const auto&) { Connect(i, req, res); })));
  server.Get(
      one + "/jobs",
      Guarded(lab, Role::kViewer,
              with([](Instrument& i, const auto&, auto& res, const auto&) { ListJobs(i, res); })));
  server.Post(one + "/jobs", Guarded(lab, Role::kOperator,
                                     with([](Instrument& i, const auto& req, auto& res,
                                             const auto&) { AddJob(i, req, res); })));
  server.Delete(one + "/jobs/([^/]+)",
                Guarded(lab, Role::kOperator,
                        with([](Instrument& i, const auto& req, auto& res, const auto&) {
                          DeleteJob(i, req.matches[2], res);
                        })));
  server.Post(one + "/jobs/([^/]+)/run",
              Guarded(lab, Role::kOperator,
                      with([](Instrument& i, const auto& req, auto& res, const auto&) {
                        RunJob(i, req.matches[2], res);
                      })));
  server.Post(
      one + "/cancel",
      Guarded(lab, Role::kOperator,
              with([](Instrument& i, const auto&, auto& res, const auto&) { Cancel(i, res); })));
  server.Get(one + "/jobs/([^/]+)/measurement",
             Guarded(lab, Role::kOperator,
                     with([](Instrument& i, const auto& req, auto& res, const Identity& who) {
                       Measurement(i, req.matches[2], who, res);
                     })));
  server.Get(
      one + "/log",
      Guarded(lab, Role::kViewer,
              with([](Instrument& i, const auto&, auto& res, const auto&) { Log(i, res); })));
}

}  // namespace vantorel::lab
