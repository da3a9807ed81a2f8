// Tokens: who may do what. The token file has one line per token: the
// token, its role (viewer, operator, admin) and the user's name, separated
// by blanks; blank lines and lines starting with '#' are skipped. Without a
// token file every request acts as the user who started the service, with
// the admin role.
//
// Threads: a TokenTable is read-only once loaded; Find may be called from
// any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantorel::lab {

enum class Role { kViewer = 0, kOperator = 1, kAdmin = 2 };

const char* RoleName(Role role);

struct Identity {
  std::string user;
  Role role = Role::kViewer;
};

class TokenTable {
 public:
  // No token file: everybody is `owner`, as admin.
  static TokenTable Open(std::string owner);
  // Parses the file's text; false with the line and reason in `error`.
  static bool Parse(const std::string& text, TokenTable& table, std::string& error);

  bool Required() const { return required_; }
  // The identity of a presented token (compared in constant time).
  std::optional<Identity> Find(const std::string& token) const;
  const Identity& Owner() const { return owner_; }

 private:
  struct Entry {
    std::string token;
    Identity identity;
  };
  bool required_ = false;
  Identity owner_;
  std::vector<Entry> entries_;
};

}  // namespace vantorel::lab
