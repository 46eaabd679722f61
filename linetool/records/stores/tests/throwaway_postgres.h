#pragma once
// A PostgreSQL server for tests: a new cluster in a temporary folder
// (initdb, pg_ctl), listening only on a Unix socket in that folder, run as
// "nobody" when the tests run as root. It is stopped and its folder removed
// when the object goes, on every path. Where the server's programs are
// missing, SkipReason() says so and nothing is started.

#include <string>
#include <vector>

namespace linetool::records::testing {

class ThrowawayPostgres {
 public:
  // `durable`: commits wait for the disk as on a production server; tests
  // leave it off for speed.
  explicit ThrowawayPostgres(bool durable = false);
  ~ThrowawayPostgres();
  ThrowawayPostgres(const ThrowawayPostgres&) = delete;
  ThrowawayPostgres& operator=(const ThrowawayPostgres&) = delete;

  // Empty when the server runs.
  const std::string& SkipReason() const { return skip_reason_; }
  // A connection URL of database `name` on this server.
  std::string Url(const std::string& name) const;
  // Makes a new empty database; false when the server refused.
  bool CreateDatabase(const std::string& name);
  // Stops the server at once (as a power cut or a crash would) and starts
  // it again on the same cluster; false when it would not.
  bool Stop();
  bool Start();
  // The folder of the cluster and its socket.
  const std::string& Folder() const { return folder_; }

 private:
  bool Run(const std::vector<std::string>& argv);
  bool StartServer();

  std::string bin_;
  std::string folder_;
  std::string skip_reason_;
  bool started_ = false;
  bool as_nobody_ = false;
  bool durable_ = false;
};

}  // namespace linetool::records::testing
