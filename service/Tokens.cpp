#include "service/Tokens.h"

#include <sstream>

namespace vantorel::lab {
namespace {

// Equal length and bytes, in time that depends only on the lengths.
bool SameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

std::optional<Role> ParseRole(const std::string& text) {
  if (text == "viewer") return Role::kViewer;
  if (text == "operator") return Role::kOperator;
  if (text == "admin") return Role::kAdmin;
  return std::nullopt;
}

}  // namespace

const char* RoleName(Role role) {
  switch (role) {
    case Role::kViewer:
      return "viewer";
    case Role::kOperator:
      return "operator";
    case Role::kAdmin:
      return "admin";
  }
  return "viewer";
}

TokenTable TokenTable::Open(std::string owner) {
  TokenTable table;
  table.owner_ = {std::move(owner), Role::kAdmin};
  return table;
}

bool TokenTable::Parse(const std::string& text, TokenTable& table, std::string& error) {
  table = TokenTable{};
  table.required_ = true;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string token, role, user, word;
    if (!(words >> token) || token.starts_with("#")) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (!(words >> role)) {
      error = where + "a token needs a role (viewer, operator or admin) and a user name";
      return false;
    }
    const std::optional<Role> parsed = ParseRole(role);
    if (!parsed) {
      error = where + "unknown role '" + role + "' (viewer, operator or admin)";
      return false;
    }
    while (words >> word) {
      if (!user.empty()) user += ' ';
      user += word;
    }
    if (user.empty()) {
      error = where + "a token needs the name of its user after the role";
      return false;
    }
    if (token.size() < 16) {
      error =
          where + "the token is too short (at least 16 characters; openssl rand -hex 24 makes one)";
      return false;
    }
    for (const Entry& entry : table.entries_) {
      if (entry.token == token) {
        error = where + "the same token is given twice";
        return false;
      }
    }
    table.entries_.push_back({token, {user, *parsed}});
  }
  if (table.entries_.empty()) {
    error = "the token file holds no token";
    return false;
  }
  return true;
}

std::optional<Identity> TokenTable::Find(const std::string& token) const {
  if (!required_) return owner_;
  std::optional<Identity> found;
  for (const Entry& entry : entries_) {
    if (SameToken(entry.token, token)) found = entry.identity;
  }
  return found;
}

}  // namespace vantorel::lab
