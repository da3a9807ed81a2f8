#include "client/quality/CxfReader.h"

#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>

#include "client/quality/FileText.h"
#include "rapidxml/rapidxml.hpp"

namespace vantorel::quality {
namespace {

using Node = rapidxml::xml_node<char>;

std::string_view LocalName(const Node& node) {
  const std::string_view name(node.name(), node.name_size());
  const auto colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child element with local name `name`, or null.
const Node* Child(const Node* parent, std::string_view name) {
  if (parent == nullptr) return nullptr;
  for (const Node* child = parent->first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() == rapidxml::node_element && LocalName(*child) == name) return child;
  }
  return nullptr;
}

std::optional<std::string_view> Attribute(const Node* node, std::string_view name) {
  if (node == nullptr) return std::nullopt;
  for (const auto* a = node->first_attribute(); a != nullptr; a = a->next_attribute()) {
    std::string_view key(a->name(), a->name_size());
    if (const auto colon = key.rfind(':'); colon != std::string_view::npos) {
      key = key.substr(colon + 1);
    }
    if (key == name) return std::string_view(a->value(), a->value_size());
  }
  return std::nullopt;
}

// An xs:double: optional blanks around, an optional sign, INF/-INF/NaN.
std::optional<double> ParseDouble(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() > 1 && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> ElementNumber(const Node* parent, std::string_view name) {
  const Node* node = Child(parent, name);
  if (node == nullptr) return std::nullopt;
  return ParseDouble(std::string_view(node->value(), node->value_size()));
}

// An angle of a BRDFAngle: its child element, else an attribute.
std::optional<double> Angle(const Node* brdf, std::string_view name) {
  if (Child(brdf, name) != nullptr) return ElementNumber(brdf, name);
  if (const auto attribute = Attribute(brdf, name)) return ParseDouble(*attribute);
  return std::nullopt;
}

// The geometry of a ColorSpecification, or an explanation in `why`.
std::optional<std::string> GeometryOf(const Node* spec, std::string& why) {
  const Node* multi = Child(Child(Child(spec, "MeasurementSpec"), "GeometryChoice"), "MultiAngle");
  if (multi == nullptr) {
    why = "has no multi-angle geometry";
    return std::nullopt;
  }
  const Node* brdf = nullptr;
  int count = 0;
  for (const Node* child = multi->first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() == rapidxml::node_element && LocalName(*child) == "BRDFAngle") {
      brdf = child;
      ++count;
    }
  }
  if (count != 1) {
    why = "has " + std::to_string(count) + " BRDFAngle elements (one is needed per value)";
    return std::nullopt;
  }
  const auto illumination = Angle(brdf, "IlluminationAngle");
  const auto aspecular = Angle(brdf, "Aspecular");
  const auto whole = [](const std::optional<double>& angle) {
    return angle && std::isfinite(*angle) && std::abs(*angle) < 1e6 && *angle == std::round(*angle);
  };
  if (whole(illumination) && whole(aspecular)) {
    return "r" + std::to_string(static_cast<long>(*illumination)) + "as" +
           std::to_string(static_cast<long>(*aspecular));
  }
  const auto notation = Attribute(brdf, "Notation");
  if (notation && !notation->empty()) return std::string(*notation);
  why = "has a BRDFAngle without usable angles or notation";
  return std::nullopt;
}

// rapidxml descends recursively: refuse documents nested deeper than any
// real CxF file (a few levels) before they can exhaust the stack. Counts
// every start tag that is not closed by "/>" against end tags; markup inside
// comments may make the estimate high, never low. Jumps from one '<' to the
// next, so that the text between tags costs a memchr.
bool NestedTooDeep(std::string_view text, int limit) {
  int depth = 0;
  for (std::size_t i = text.find('<'); i != std::string_view::npos && i + 1 < text.size();
       i = text.find('<', i + 1)) {
    const char next = text[i + 1];
    if (next == '/') {
      --depth;
    } else if (next != '?' && next != '!') {
      const std::size_t close = text.find('>', i);
      if (close == std::string_view::npos) break;
      if (text[close - 1] != '/' && ++depth > limit) return true;
      i = close;
    }
  }
  return false;
}

SideRead Failure(SideRead read, const std::string& error) {
  read.ok = false;
  read.error = error;
  return read;
}

}  // namespace

SideRead ReadCxfText(std::string text, const std::string& source) {
  SideRead read;
  read.side.source = source;
  read.side.kind = "CxF3 file";
  // Text that does not begin like XML is no CxF file at all; the usual case
  // is a result.json given in place of its result folder.
  std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  start = text.find_first_not_of(" \t\r\n", start);
  if (start == std::string::npos || text[start] != '<') {
    std::string why = start == std::string::npos ? "it is empty" : "it is not XML";
    if (start != std::string::npos && (text[start] == '{' || text[start] == '[')) {
      why = "it holds JSON; for a result.json give its result folder instead";
    }
    return Failure(read, source + " is not a CxF file (" + why + ")");
  }
  if (NestedTooDeep(text, 256)) {
    return Failure(read, source + " nests its elements too deeply for a CxF3 document");
  }
  text.push_back('\0');
  rapidxml::xml_document<char> document;
  try {
    document.parse<rapidxml::parse_default>(text.data());
  } catch (const rapidxml::parse_error& e) {
    const std::ptrdiff_t offset = e.where<char>() - text.data();
    return Failure(read, source + " is not well-formed XML (" + e.what() + " at byte " +
                             std::to_string(offset) + ")");
  }
  const Node* root = document.first_node();
  while (root != nullptr && root->type() != rapidxml::node_element) root = root->next_sibling();
  if (root == nullptr || LocalName(*root) != "CxF") {
    return Failure(read, source + " is not a CxF3 document (its root element is not CxF)");
  }
  const Node* resources = Child(root, "Resources");
  std::map<std::string, const Node*, std::less<>> specifications;
  if (const Node* collection = Child(resources, "ColorSpecificationCollection")) {
    for (const Node* spec = collection->first_node(); spec != nullptr;
         spec = spec->next_sibling()) {
      if (spec->type() != rapidxml::node_element || LocalName(*spec) != "ColorSpecification") {
        continue;
      }
      if (const auto id = Attribute(spec, "Id")) specifications.emplace(std::string(*id), spec);
    }
  }
  std::size_t labCount = 0;
  if (const Node* objects = Child(resources, "ObjectCollection")) {
    for (const Node* object = objects->first_node(); object != nullptr;
         object = object->next_sibling()) {
      if (object->type() != rapidxml::node_element || LocalName(*object) != "Object") continue;
      const std::string objectName(Attribute(object, "Name").value_or(""));
      const Node* values = Child(object, "ColorValues");
      if (values == nullptr) continue;
      for (const Node* lab = values->first_node(); lab != nullptr; lab = lab->next_sibling()) {
        if (lab->type() != rapidxml::node_element || LocalName(*lab) != "ColorCIELab") continue;
        ++labCount;
        const std::string where = source + ": object \"" + objectName + "\"";
        const std::string specId(Attribute(lab, "ColorSpecification").value_or(""));
        const auto spec = specifications.find(specId);
        if (spec == specifications.end()) {
          read.warnings.push_back(where + " refers to no known ColorSpecification (\"" + specId +
                                  "\"); value skipped");
          continue;
        }
        std::string why;
        const auto geometry = GeometryOf(spec->second, why);
        if (!geometry) {
          read.warnings.push_back(where + ": its specification \"" + specId + "\" " + why +
                                  "; value skipped");
          continue;
        }
        const auto l = ElementNumber(lab, "L");
        const auto a = ElementNumber(lab, "A");
        const auto b = ElementNumber(lab, "B");
        if (!l || !a || !b) {
          read.warnings.push_back(where + " has a ColorCIELab without L, A and B numbers; skipped");
          continue;
        }
        if (!AddValue(read, {*geometry, {*l, *a, *b}})) return read;
      }
    }
  }
  if (read.side.values.empty()) {
    return Failure(read, source + " holds no ColorCIELab values per measurement geometry (" +
                             std::to_string(labCount) + " ColorCIELab found)");
  }
  read.ok = true;
  return read;
}

SideRead ReadCxfFile(const std::filesystem::path& path, const std::string& source) {
  std::string text, error;
  if (!ReadFileText(path, text, error)) {
    SideRead read;
    read.side.source = source;
    read.error = error;
    return read;
  }
  return ReadCxfText(std::move(text), source);
}

}  // namespace vantorel::quality
