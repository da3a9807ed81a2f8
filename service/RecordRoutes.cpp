// The routes of the lab's records: history, one record and its pictures,
// the library of standards, comparisons and their reports, trends.
#include "client/quality/Comparison.h"
#include "client/quality/RecordConversion.h"
#include "client/quality/RecordJson.h"
#include "client/quality/ReportPage.h"
#include "client/quality/TrendFiles.h"
#include "client/records/RecordText.h"
#include "colour/ColourDifference.h"
#include "service/JobMeasurement.h"
#include "service/LabServer.h"
#include "service/RecordAnswers.h"

namespace vantorel::lab {
namespace {

constexpr std::int64_t kMaxHistory = 10000;
constexpr double kMaxTolerance = 100.0;
constexpr std::size_t kMaxNameBytes = 4096;

// The store for one request, or 500 answered.
StorePool::Lease StoreOr500(const LabContext& lab, httplib::Response& res) {
  std::string problem;
  StorePool::Lease store = lab.stores.Borrow(problem);
  if (!store) SendError(res, StoreError(problem));
  return store;
}

std::optional<std::int64_t> IdOr404(const std::string& text, httplib::Response& res) {
  std::optional<std::int64_t> id =
      text.starts_with("#") ? std::nullopt : records::ParseRecordId(text);
  if (!id) SendError(res, NotFound("records are numbered 1, 2, ...; '" + text + "' is none"));
  return id;
}

// A measurement of the batch or the source of a standard: "#ID" (a
// record) or "job:NAME" (fetched from the instrument and recorded like
// GET .../measurement). Answers the error itself and returns nothing when
// it cannot.
std::optional<records::MeasurementRecord> MeasurementFrom(const LabContext& lab,
                                                          const std::string& source,
                                                          const std::string& instrumentName,
                                                          const Identity& who,
                                                          httplib::Response& res) {
  if (source.starts_with("job:")) {
    Instrument* instrument =
        instrumentName.empty() ? (lab.instruments.empty() ? nullptr : lab.instruments.front().get())
                               : lab.Find(instrumentName);
    if (instrument == nullptr) {
      SendError(res, NotFound("no instrument named '" + instrumentName + "'"));
      return std::nullopt;
    }
    std::optional<records::MeasurementRecord> out;
    ServeOn(*instrument, res, [&](Instrument& on) {
      JobMeasurement measured = MeasureJob(on, source.substr(4), who.user);
      if (measured.error) return SendError(res, *measured.error);
      out = std::move(measured.record);
    });
    return out;
  }
  const std::optional<std::int64_t> id = records::ParseRecordId(source);
  if (!id || !source.starts_with("#")) {
    SendError(res,
              BadRequest("'" + source + "' names no measurement: give \"#ID\" or \"job:NAME\""));
    return std::nullopt;
  }
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return std::nullopt;
  records::Found<records::MeasurementRecord> found = store->Measurement(*id);
  if (!found.status.ok) {
    SendError(res, StoreError(found.status.message));
    return std::nullopt;
  }
  if (!found.value) {
    SendError(res, NotFound("no measurement " + source + " is recorded"));
    return std::nullopt;
  }
  return std::move(found.value);
}

void ListRecords(const LabContext& lab, const httplib::Request& req, httplib::Response& res) {
  records::HistoryQuery query;
  if (req.has_param("job")) query.job = req.get_param_value("job");
  if (req.has_param("standard")) query.standard = req.get_param_value("standard");
  if (req.has_param("since")) {
    query.since = records::ParseSince(req.get_param_value("since"));
    if (!query.since) {
      return SendError(res, BadRequest("since must be YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)"));
    }
  }
  if (req.has_param("limit")) {
    const std::optional<std::int64_t> limit = records::ParseRecordId(req.get_param_value("limit"));
    if (!limit || *limit > kMaxHistory) {
      return SendError(res, BadRequest("limit must be from 1 to " + std::to_string(kMaxHistory)));
    }
    query.limit = static_cast<int>(*limit);
  }
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::Found<std::vector<records::HistoryEntry>> found = store->History(query);
  if (!found.status.ok) return SendError(res, StoreError(found.status.message));
  nlohmann::json list = nlohmann::json::array();
  for (const records::HistoryEntry& entry : *found.value)
    list.push_back(quality::HistoryJson(entry));
  SendJson(res, 200, {{"records", list}});
}

void ShowRecord(const LabContext& lab, const std::string& text, httplib::Response& res) {
  const std::optional<std::int64_t> id = IdOr404(text, res);
  if (!id) return;
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::Found<records::EntryKind> kind = store->KindOf(*id);
  if (!kind.status.ok) return SendError(res, StoreError(kind.status.message));
  if (kind.value == records::EntryKind::kComparison) {
    const records::Found<records::ComparisonRecord> found = store->Comparison(*id);
    if (found.value) return SendJson(res, 200, ComparisonDetailJson(*found.value));
  } else if (kind.value == records::EntryKind::kMeasurement) {
    const records::Found<records::MeasurementRecord> found = store->Measurement(*id);
    if (found.value) return SendJson(res, 200, MeasurementDetailJson(*found.value));
  }
  SendError(res, NotFound("no record " + text));
}

// The measurement a picture route names, or the error answered.
std::optional<records::MeasurementRecord> MeasurementOr404(const LabContext& lab,
                                                           const std::string& text,
                                                           httplib::Response& res) {
  const std::optional<std::int64_t> id = IdOr404(text, res);
  if (!id) return std::nullopt;
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return std::nullopt;
  records::Found<records::MeasurementRecord> found = store->Measurement(*id);
  if (!found.status.ok) {
    SendError(res, StoreError(found.status.message));
    return std::nullopt;
  }
  if (!found.value) SendError(res, NotFound("no measurement " + text + " is recorded"));
  return std::move(found.value);
}

void ListStandards(const LabContext& lab, httplib::Response& res) {
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::Found<std::vector<records::StandardRecord>> found = store->Standards();
  if (!found.status.ok) return SendError(res, StoreError(found.status.message));
  nlohmann::json list = nlohmann::json::array();
  for (const records::StandardRecord& standard : *found.value) {
    list.push_back(quality::StandardJson(standard, false));
  }
  SendJson(res, 200, {{"standards", list}});
}

void AddStandard(const LabContext& lab, const httplib::Request& req, httplib::Response& res,
                 const Identity& who) {
  nlohmann::json body;
  std::optional<ApiError> error = ReadObject(req, body);
  std::string name, from, instrument, formula = "de2000", note;
  std::optional<double> tolerance;
  bool replace = false;
  if (!error) {
    error =
        OnlyFields(body, {"name", "from", "instrument", "tolerance", "formula", "note", "replace"});
  }
  if (!error) error = Text(body, "name", name, true);
  if (!error) error = Text(body, "from", from, true);
  if (!error) error = Text(body, "instrument", instrument, false);
  if (!error) error = Number(body, "tolerance", tolerance, 0.0, kMaxTolerance);
  if (!error) error = Text(body, "formula", formula, false);
  if (!error) error = Text(body, "note", note, false);
  if (!error) error = Flag(body, "replace", replace);
  if (!error && (name.empty() || name.size() > kMaxNameBytes)) {
    error = BadRequest("a standard needs a name of 1 to 4096 bytes");
  }
  if (!error && !colour::ParseFormula(formula)) {
    error = BadRequest("unknown formula " + formula + " (de2000, de94, cmc or de76)");
  }
  if (error) return SendError(res, *error);
  {
    StorePool::Lease store = StoreOr500(lab, res);
    if (!store) return;
    const records::Found<records::StandardRecord> existing = store->Standard(name);
    if (!existing.status.ok) return SendError(res, StoreError(existing.status.message));
    if (existing.value && !replace) {
      return SendError(res, Conflict("exists", "the library has a standard named '" + name +
                                                   "' already (version " +
                                                   std::to_string(existing.value->version) +
                                                   "); \"replace\": true stores a new version"));
    }
  }
  const std::optional<records::MeasurementRecord> source =
      MeasurementFrom(lab, from, instrument, who, res);
  if (!source) return;
  records::StandardRecord standard;
  standard.name = name;
  standard.source = from.starts_with("job:") ? from : "#" + std::to_string(source->id);
  standard.sourceRecord = source->id;
  standard.formula = formula;
  standard.note = note;
  quality::Tolerances tolerances;
  if (tolerance) tolerances.fallback = *tolerance;
  standard.tolerances = quality::ToleranceList(tolerances);
  for (const records::GeometryReading& reading : source->combined.geometries) {
    if (reading.lab) standard.values.push_back({reading.geometry, *reading.lab});
  }
  if (standard.values.empty()) {
    return SendError(res, BadRequest(from + " holds no L*a*b* per geometry"));
  }
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::StoreStatus status = store->AddStandard(standard);
  if (!status.ok)
    return SendError(res, StoreError("the standard was not stored: " + status.message));
  SendJson(res, 201, {{"standard", quality::StandardJson(standard, true)}});
}

void CompareBatch(LabContext& lab, const httplib::Request& req, httplib::Response& res,
                  const Identity& who) {
  nlohmann::json body;
  std::optional<ApiError> error = ReadObject(req, body);
  std::string name, batchSource, instrument;
  if (!error) error = OnlyFields(body, {"standard", "batch", "instrument"});
  if (!error) error = Text(body, "standard", name, true);
  if (!error) error = Text(body, "batch", batchSource, true);
  if (!error) error = Text(body, "instrument", instrument, false);
  if (error) return SendError(res, *error);
  if (name.starts_with("std:")) name = name.substr(4);
  records::StandardRecord standard;
  {
    StorePool::Lease store = StoreOr500(lab, res);
    if (!store) return;
    const records::Found<records::StandardRecord> found = store->Standard(name);
    if (!found.status.ok) return SendError(res, StoreError(found.status.message));
    if (!found.value)
      return SendError(res, NotFound("no standard named '" + name + "' in the library"));
    standard = *found.value;
  }
  const std::optional<records::MeasurementRecord> batch =
      MeasurementFrom(lab, batchSource, instrument, who, res);
  if (!batch) return;
  const colour::Formula formula =
      colour::ParseFormula(standard.formula).value_or(colour::Formula::kDe2000);
  const quality::Comparison comparison = quality::Compare(
      quality::SideFromStandard(standard, "std:" + name),
      quality::SideFromRecord(*batch, batchSource), formula, quality::TolerancesOf(standard));
  if (comparison.compared == 0) {
    return SendError(res, BadRequest("the standard and the batch have no geometry in common"));
  }
  records::ComparisonRecord record = quality::RecordFromComparison(comparison);
  record.operatorName = who.user;
  record.instrument = batch->instrument;
  record.standardId = standard.id;
  record.standardName = standard.name;
  record.standardVersion = standard.version;
  record.batchRecord = batch->id;
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::StoreStatus status = store->AddComparison(record);
  if (!status.ok) {
    return SendError(res, StoreError("the comparison was not recorded: " + status.message));
  }
  lab.events.Publish("comparison", {{"comparison", record.id},
                                    {"standard", standard.name},
                                    {"batchRecord", batch->id},
                                    {"passed", record.passed},
                                    {"instrument", record.instrument},
                                    {"job", batch->job}});
  nlohmann::json answer = ComparisonDetailJson(record);
  answer["comparison"] = record.id;
  SendJson(res, 201, answer);
}

void Report(const LabContext& lab, const std::string& text, httplib::Response& res) {
  const std::optional<std::int64_t> id = IdOr404(text, res);
  if (!id) return;
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::Found<records::ComparisonRecord> found = store->Comparison(*id);
  if (!found.status.ok) return SendError(res, StoreError(found.status.message));
  if (!found.value) return SendError(res, NotFound("no comparison " + text + " is recorded"));
  std::optional<records::StandardRecord> standard;
  std::optional<records::MeasurementRecord> batch;
  if (found.value->standardId) standard = store->StandardById(*found.value->standardId).value;
  if (found.value->batchRecord) batch = store->Measurement(*found.value->batchRecord).value;
  const quality::ReportInput input{*found.value, standard ? &*standard : nullptr,
                                   batch ? &*batch : nullptr};
  res.set_content(quality::ReportHtml(input), "text/html; charset=utf-8");
}

void Trend(const LabContext& lab, const std::string& name, bool svg, httplib::Response& res) {
  StorePool::Lease store = StoreOr500(lab, res);
  if (!store) return;
  const records::Found<std::vector<records::StandardRecord>> versions =
      store->StandardVersions(name);
  if (!versions.status.ok) return SendError(res, StoreError(versions.status.message));
  if (versions.value->empty()) {
    return SendError(res, NotFound("no standard named '" + name + "' in the library"));
  }
  const records::Found<std::vector<records::TrendPoint>> found = store->Trend(name, std::nullopt);
  if (!found.status.ok) return SendError(res, StoreError(found.status.message));
  if (svg) {
    const std::optional<colour::Formula> formula =
        colour::ParseFormula(versions.value->back().formula);
    return res.set_content(
        quality::TrendSvg(*found.value, name, formula ? colour::FormulaLabel(*formula) : "dE"),
        "image/svg+xml");
  }
  nlohmann::json points = nlohmann::json::array();
  for (const records::TrendPoint& point : *found.value)
    points.push_back(quality::TrendPointJson(point));
  SendJson(res, 200, {{"standard", name}, {"points", points}});
}

}  // namespace

void AddRecordRoutes(httplib::Server& server, LabContext& lab) {
  server.Get("/api/records",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               ListRecords(lab, req, res);
             }));
  server.Get(R"(/api/records/([^/]+))",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               ShowRecord(lab, req.matches[1], res);
             }));
  server.Get(R"(/api/records/([^/]+)/spectra\.svg)",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               if (auto record = MeasurementOr404(lab, req.matches[1], res)) {
                 res.set_content(SpectraSvg(*record), "image/svg+xml");
               }
             }));
  server.Get(R"(/api/records/([^/]+)/images/([^/]+)\.png)",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               if (auto record = MeasurementOr404(lab, req.matches[1], res)) {
                 const auto png = ImagePng(*record, req.matches[2]);
                 if (!png)
                   return SendError(res, NotFound("the record holds no image of that geometry"));
                 res.set_content(reinterpret_cast<const char*>(png->data()), png->size(),
                                 "image/png");
               }
             }));
  server.Get("/api/standards",
             Guarded(lab, Role::kViewer,
                     [&lab](const auto&, auto& res, const auto&) { ListStandards(lab, res); }));
  server.Post("/api/standards",
              Guarded(lab, Role::kAdmin, [&lab](const auto& req, auto& res, const Identity& who) {
                AddStandard(lab, req, res, who);
              }));
  server.Get(R"(/api/standards/([^/]+)/trend)",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               Trend(lab, req.matches[1], false, res);
             }));
  server.Get(R"(/api/standards/([^/]+)/trend\.svg)",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               Trend(lab, req.matches[1], true, res);
             }));
  server.Post("/api/compare", Guarded(lab, Role::kOperator,
                                      [&lab](const auto& req, auto& res, const Identity& who) {
                                        CompareBatch(lab, req, res, who);
                                      }));
  server.Get(R"(/api/comparisons/([^/]+)/report)",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               Report(lab, req.matches[1], res);
             }));
  server.Get(R"(/api/comparisons/([^/]+))",
             Guarded(lab, Role::kViewer, [&lab](const auto& req, auto& res, const auto&) {
               ShowRecord(lab, req.matches[1], res);
             }));
}

}  // namespace vantorel::lab
