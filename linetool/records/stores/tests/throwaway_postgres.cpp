#include "linetool/records/stores/tests/throwaway_postgres.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace linetool::records::testing {

namespace {

constexpr const char* kUser = "station";

// The newest server's programs under Debian's folder.
std::string ServerBin() {
  std::error_code ec;
  std::vector<std::filesystem::path> found;
  for (const auto& e : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
    if (std::filesystem::exists(e.path() / "bin" / "initdb") && std::filesystem::exists(e.path() / "bin" / "pg_ctl"))
      found.push_back(e.path() / "bin");
  }
  if (found.empty()) return {};
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return std::stoi(a.parent_path().filename().string()) < std::stoi(b.parent_path().filename().string());
  });
  return found.back().string();
}

}  // namespace

ThrowawayPostgres::ThrowawayPostgres(bool durable) : durable_(durable) {
  bin_ = ServerBin();
  if (bin_.empty()) {
    skip_reason_ = "no PostgreSQL server here (initdb and pg_ctl under /usr/lib/postgresql/*/bin; "
                   "scripts/setup installs the postgresql package)";
    return;
  }
  std::string templ = (std::filesystem::temp_directory_path() / "records-pg-XXXXXX").string();
  if (!::mkdtemp(templ.data())) {
    skip_reason_ = "no temporary folder for the cluster";
    return;
  }
  folder_ = templ;
  // The server refuses to run as root: the cluster belongs to nobody then.
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
      skip_reason_ = "running as root, and the cluster folder cannot be given to the user nobody";
      return;
    }
    as_nobody_ = true;
  }
  const std::string data = folder_ + "/data";
  if (!Run({bin_ + "/initdb", "-D", data, "-U", kUser, "-A", "trust", "--no-sync", "-E", "UTF8", "--locale=C"})) {
    skip_reason_ = "initdb failed (see " + folder_ + "/command.log)";
    return;
  }
  if (!StartServer()) skip_reason_ = "the server did not start (see " + folder_ + "/server.log)";
}

bool ThrowawayPostgres::StartServer() {
  started_ = Run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t", "60", "-o",
                  "-k " + folder_ + " -c listen_addresses= -p 5432 -c max_connections=200" +
                      (durable_ ? "" : " -c fsync=off"),
                  "start"});
  return started_;
}

bool ThrowawayPostgres::Stop() {
  if (!started_) return false;
  if (!Run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "stop"})) return false;
  started_ = false;
  return true;
}

bool ThrowawayPostgres::Start() { return !started_ && !folder_.empty() && StartServer(); }

ThrowawayPostgres::~ThrowawayPostgres() {
  if (started_) Run({bin_ + "/pg_ctl", "-D", folder_ + "/data", "-m", "immediate", "-w", "stop"});
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

bool ThrowawayPostgres::Run(const std::vector<std::string>& argv) {
  const std::string log = folder_ + "/command.log";
  std::vector<std::string> full;
  if (as_nobody_) full = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
  full.insert(full.end(), argv.begin(), argv.end());
  std::vector<char*> args;
  for (auto& a : full) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    if (::chdir(folder_.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ThrowawayPostgres::Url(const std::string& name) const {
  return "postgresql:///" + name + "?host=" + folder_ + "&user=" + kUser;
}

bool ThrowawayPostgres::CreateDatabase(const std::string& name) {
  PGconn* c = PQconnectdb(Url("postgres").c_str());
  bool ok = PQstatus(c) == CONNECTION_OK;
  if (ok) {
    PGresult* r = PQexec(c, ("CREATE DATABASE \"" + name + "\"").c_str());
    ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
  }
  PQfinish(c);
  return ok;
}

}  // namespace linetool::records::testing
