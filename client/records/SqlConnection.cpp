#include "client/records/SqlConnection.h"

namespace vantorel::records {

bool SqlRow::IsNull(std::size_t i) const {
  return i >= cells.size() || std::holds_alternative<std::monostate>(cells[i]);
}

std::int64_t SqlRow::Int(std::size_t i, std::int64_t fallback) const {
  if (i >= cells.size()) return fallback;
  if (const auto* value = std::get_if<std::int64_t>(&cells[i])) return *value;
  return fallback;
}

double SqlRow::Double(std::size_t i, double fallback) const {
  if (i >= cells.size()) return fallback;
  if (const auto* value = std::get_if<double>(&cells[i])) return *value;
  if (const auto* value = std::get_if<std::int64_t>(&cells[i])) return static_cast<double>(*value);
  return fallback;
}

std::string SqlRow::Text(std::size_t i) const {
  if (i >= cells.size()) return {};
  if (const auto* value = std::get_if<std::string>(&cells[i])) return *value;
  return {};
}

std::vector<std::uint8_t> SqlRow::Blob(std::size_t i) const {
  if (i >= cells.size()) return {};
  if (const auto* value = std::get_if<Bytes>(&cells[i])) return value->data;
  return {};
}

}  // namespace vantorel::records
