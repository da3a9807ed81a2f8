// The PostgreSQL back end: SqlConnection on libpq.
//
// Parameters go as text (integers, doubles in their shortest exact form),
// bytes as binary bytea; results come back as text and are typed by the
// column's type: integers, floating and numeric columns, bytea, booleans
// (as 0/1, the way SQLite hands them back) and NULL; everything else is text.
// The session is set up so that every double survives the trip exactly and
// the server's notices do not reach the terminal.
#include <libpq-fe.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "client/records/StoreLocation.h"

namespace vantorel::records {

namespace {

// Type oids of the built-in types (pg_type.dat; fixed across versions).
constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kNumericOid = 1700;

// The protocol counts parameters in 16 bits.
constexpr std::size_t kMaxParams = 65535;

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

struct ConnDeleter {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using Conn = std::unique_ptr<PGconn, ConnDeleter>;

// libpq's messages end in a newline and may run over several lines (a
// hint on the second): one line, single spaces, no trailing full stop.
std::string OneLine(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  while (!out.empty() && out.back() == '.') out.pop_back();
  return out;
}

bool IsIdentChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Rewrites each `?` to $1, $2, ... except inside string literals ('...'
// with '' for a quote, E'...' also with backslash escapes), quoted names
// ("...") and comments (-- to the end of the line, nested /* */).
std::string NumberPlaceholders(std::string_view sql, std::size_t& count) {
  std::string out;
  out.reserve(sql.size() + 16);
  count = 0;
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const bool backslashes = c == '\'' && i > 0 && (sql[i - 1] == 'E' || sql[i - 1] == 'e') &&
                               (i == 1 || !IsIdentChar(sql[i - 2]));
      std::size_t j = i + 1;
      while (j < n) {
        if (backslashes && sql[j] == '\\' && j + 1 < n) {
          j += 2;
        } else if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
          } else {
            ++j;
            break;
          }
        } else {
          ++j;
        }
      }
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      std::size_t j = sql.find('\n', i);
      j = j == std::string_view::npos ? n : j;
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      std::size_t j = i + 2;
      int depth = 1;
      while (j < n && depth > 0) {
        if (sql[j] == '/' && j + 1 < n && sql[j + 1] == '*') {
          ++depth;
          j += 2;
        } else if (sql[j] == '*' && j + 1 < n && sql[j + 1] == '/') {
          --depth;
          j += 2;
        } else {
          ++j;
        }
      }
      out.append(sql.substr(i, j - i));
      i = j;
    } else if (c == '?') {
      out += '$';
      out += std::to_string(++count);
      ++i;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

bool ParseInt(std::string_view text, std::int64_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// float8out writes "Infinity", "-Infinity" and "NaN"; from_chars reads
// those spellings too, in any locale.
bool ParseDouble(std::string_view text, double& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// bytea in hex output: "\x" then two hex digits a byte.
bool ParseBytea(std::string_view text, Bytes& bytes) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) return false;
  bytes.data.clear();
  bytes.data.reserve((text.size() - 2) / 2);
  for (std::size_t i = 2; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.data.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

bool ParseCell(Oid type, std::string_view text, SqlValue& cell) {
  switch (type) {
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid: {
      std::int64_t value = 0;
      if (!ParseInt(text, value)) return false;
      cell = value;
      return true;
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid: {
      double value = 0.0;
      if (!ParseDouble(text, value)) return false;
      cell = value;
      return true;
    }
    case kBoolOid:
      if (text != "t" && text != "f") return false;
      cell = std::int64_t{text == "t" ? 1 : 0};
      return true;
    case kByteaOid: {
      Bytes bytes;
      if (!ParseBytea(text, bytes)) return false;
      cell = std::move(bytes);
      return true;
    }
    default:
      cell = std::string(text);
      return true;
  }
}

// Where the URI points, for messages: "HOST:PORT/DB" from libpq's own
// parse (never the password). Empty when libpq cannot parse it.
std::string Destination(const std::string& uri, std::string& parseError) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(uri.c_str(), &error);
  if (options == nullptr) {
    parseError = error != nullptr ? OneLine(error) : "libpq could not parse it";
    PQfreemem(error);
    return {};
  }
  std::string host, port, db, user;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr) continue;
    const std::string_view key = o->keyword;
    if (key == "host" || (key == "hostaddr" && host.empty())) host = o->val;
    if (key == "port") port = o->val;
    if (key == "dbname") db = o->val;
    if (key == "user") user = o->val;
  }
  PQconninfoFree(options);
  std::string where = "database " + (db.empty() ? (user.empty() ? "(default)" : user) : db) +
                      " on " + (host.empty() ? "the local server" : host);
  if (!port.empty()) where += ":" + port;
  return where;
}

class PgConnection final : public SqlConnection {
 public:
  explicit PgConnection(Conn conn) : conn_(std::move(conn)) {}

  Dialect Kind() const override { return Dialect::kPostgres; }

  StoreStatus Run(std::string_view sql, const std::vector<SqlValue>& params,
                  SqlRows* rows) override {
    std::size_t placeholders = 0;
    const std::string statement = NumberPlaceholders(sql, placeholders);
    if (placeholders != params.size()) {
      return StoreStatus::Error("a statement for PostgreSQL has " + std::to_string(placeholders) +
                                " placeholders but was given " + std::to_string(params.size()) +
                                " values");
    }
    if (params.size() > kMaxParams) {
      return StoreStatus::Error("a statement for PostgreSQL has more than 65535 parameters");
    }

    // Text of the integers and doubles; the pointers below refer into it,
    // so it is sized once and not grown.
    std::vector<std::string> text(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    std::vector<int> lengths(params.size(), 0);
    std::vector<int> formats(params.size(), 0);
    std::vector<Oid> types(params.size(), 0);
    static const char kEmpty[] = "";
    for (std::size_t i = 0; i < params.size(); ++i) {
      const SqlValue& p = params[i];
      const std::string which = "parameter " + std::to_string(i + 1);
      if (const auto* v = std::get_if<std::int64_t>(&p)) {
        text[i] = std::to_string(*v);
        values[i] = text[i].c_str();
        types[i] = kInt8Oid;
      } else if (const auto* d = std::get_if<double>(&p)) {
        if (!std::isfinite(*d)) {
          return StoreStatus::Error(which +
                                    " is not a finite number; PostgreSQL is not given NaN or "
                                    "infinity");
        }
        char buffer[64];
        // The shortest form that reads back as the same double.
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        if (ec != std::errc()) return StoreStatus::Error(which + " could not be written out");
        text[i].assign(buffer, end);
        values[i] = text[i].c_str();
        types[i] = kFloat8Oid;
      } else if (const auto* s = std::get_if<std::string>(&p)) {
        if (s->find('\0') != std::string::npos) {
          return StoreStatus::Error(which +
                                    " is text with a zero byte, which PostgreSQL cannot store");
        }
        values[i] = s->c_str();
        // Untyped: the server reads it as whatever the statement needs
        // (text, a time stamp, ...).
        types[i] = 0;
      } else if (const auto* b = std::get_if<Bytes>(&p)) {
        if (b->data.size() > static_cast<std::size_t>(INT_MAX)) {
          return StoreStatus::Error(which + " is too long for PostgreSQL");
        }
        // A null pointer would mean NULL, so empty bytes point somewhere.
        values[i] = b->data.empty() ? kEmpty : reinterpret_cast<const char*>(b->data.data());
        lengths[i] = static_cast<int>(b->data.size());
        formats[i] = 1;
        types[i] = kByteaOid;
      }
      // std::monostate: a null pointer is NULL.
    }

    Result result(PQexecParams(conn_.get(), statement.c_str(), static_cast<int>(params.size()),
                               types.data(), values.data(), lengths.data(), formats.data(),
                               /*resultFormat=*/0));
    const ExecStatusType state = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (state != PGRES_COMMAND_OK && state != PGRES_TUPLES_OK && state != PGRES_EMPTY_QUERY) {
      return Failure(result.get());
    }
    if (rows == nullptr || state != PGRES_TUPLES_OK) return StoreStatus::Ok();

    const int rowCount = PQntuples(result.get());
    const int columnCount = PQnfields(result.get());
    if (rowCount < 0 || columnCount < 0) {
      return StoreStatus::Error("the PostgreSQL server sent a malformed result");
    }
    std::vector<Oid> columnTypes(static_cast<std::size_t>(columnCount));
    for (int c = 0; c < columnCount; ++c) columnTypes[c] = PQftype(result.get(), c);
    rows->reserve(rows->size() + static_cast<std::size_t>(rowCount));
    for (int r = 0; r < rowCount; ++r) {
      SqlRow row;
      row.cells.resize(static_cast<std::size_t>(columnCount));
      for (int c = 0; c < columnCount; ++c) {
        if (PQgetisnull(result.get(), r, c)) continue;
        const char* value = PQgetvalue(result.get(), r, c);
        const int length = PQgetlength(result.get(), r, c);
        if (value == nullptr || length < 0) {
          return StoreStatus::Error("the PostgreSQL server sent a malformed result");
        }
        if (!ParseCell(columnTypes[c], std::string_view(value, static_cast<std::size_t>(length)),
                       row.cells[c])) {
          const char* name = PQfname(result.get(), c);
          return StoreStatus::Error("the PostgreSQL server sent a value in column " +
                                    std::string(name != nullptr ? name : "?") +
                                    " that is not of the column's type");
        }
      }
      rows->push_back(std::move(row));
    }
    return StoreStatus::Ok();
  }

  StoreStatus BeginWrite() override { return Run("BEGIN", {}, nullptr); }

 private:
  StoreStatus Failure(const PGresult* result) const {
    std::string message;
    if (result != nullptr) {
      const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
      if (primary != nullptr) {
        message = OneLine(primary);
        const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
        if (detail != nullptr) message += " (" + OneLine(detail) + ")";
      } else {
        message = OneLine(PQresultErrorMessage(result));
      }
    }
    if (message.empty()) message = OneLine(PQerrorMessage(conn_.get()));
    if (PQstatus(conn_.get()) == CONNECTION_BAD) {
      return StoreStatus::Error("the connection to the PostgreSQL server was lost: " + message);
    }
    return StoreStatus::Error("the PostgreSQL server refused a statement: " + message);
  }

  Conn conn_;
};

}  // namespace

bool PostgresAvailable() { return true; }

std::unique_ptr<SqlConnection> ConnectPostgres(const std::string& uri, StoreStatus& status) {
  std::string parseError;
  const std::string where = Destination(uri, parseError);
  if (where.empty()) {
    status = StoreStatus::Error("the PostgreSQL URL is not valid: " + parseError +
                                "; it reads postgresql://USER@HOST:PORT/DBNAME");
    return nullptr;
  }

  // Later entries win: the URI may set its own connect_timeout (and
  // PGCONNECT_TIMEOUT is honoured when it does not), but the encoding is
  // always UTF-8, which is what the store keeps.
  const char* timeout = std::getenv("PGCONNECT_TIMEOUT") != nullptr ? "" : "10";
  const char* const keywords[] = {"connect_timeout", "fallback_application_name", "dbname",
                                  "client_encoding", nullptr};
  const char* const values[] = {timeout, "vantorel", uri.c_str(), "UTF8", nullptr};
  Conn conn(PQconnectdbParams(keywords, values, /*expand_dbname=*/1));
  if (!conn) {
    status = StoreStatus::Error("cannot connect to the PostgreSQL " + where + ": out of memory");
    return nullptr;
  }
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    std::string reason = OneLine(PQerrorMessage(conn.get()));
    // libpq's own hint may already end the message with a question.
    reason += !reason.empty() && reason.back() == '?' ? " " : ". ";
    status = StoreStatus::Error("cannot connect to the PostgreSQL " + where + ": " + reason +
                                "Is the server running? Check the URL, the user, and "
                                "~/.pgpass or PGPASSWORD");
    return nullptr;
  }

  // extra_float_digits = 3: every double is written out exactly (the
  // shortest exact form on servers from 12 on, 17 digits before that).
  Result setup(PQexec(conn.get(),
                      "SET client_min_messages = warning; SET extra_float_digits = 3; "
                      "SET bytea_output = hex; SET standard_conforming_strings = on"));
  if (!setup || PQresultStatus(setup.get()) != PGRES_COMMAND_OK) {
    status = StoreStatus::Error(
        "the PostgreSQL " + where + " refused the session settings: " +
        OneLine(setup ? PQresultErrorMessage(setup.get()) : PQerrorMessage(conn.get())));
    return nullptr;
  }
  status = StoreStatus::Ok();
  return std::make_unique<PgConnection>(std::move(conn));
}

}  // namespace vantorel::records
