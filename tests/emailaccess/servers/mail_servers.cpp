#include "mail_servers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace emailaccess_test {
namespace {

constexpr int kAnswerTimeoutMs = 60000;

std::string ScriptPath() { return std::string(LVMAPI_SOURCE_DIR) + "/tests/emailaccess/servers/mail_servers.py"; }

bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

std::string JsonValue(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\": ";
  size_t pos = json.find(marker);
  if (pos == std::string::npos) return std::string();
  pos += marker.size();
  if (json[pos] == '"') {
    const size_t end = json.find('"', pos + 1);
    return json.substr(pos + 1, end - pos - 1);
  }
  const size_t end = json.find_first_of(",}", pos);
  return json.substr(pos, end - pos);
}

std::vector<std::string> JsonStrings(const std::string& json, const std::string& key) {
  std::vector<std::string> values;
  const std::string marker = "\"" + key + "\": [";
  size_t pos = json.find(marker);
  if (pos == std::string::npos) return values;
  const size_t end = json.find(']', pos);
  for (pos = json.find('"', pos + marker.size()); pos < end; pos = json.find('"', pos + 1)) {
    const size_t close = json.find('"', pos + 1);
    values.push_back(json.substr(pos + 1, close - pos - 1));
    pos = close;
  }
  return values;
}

MailServers::MailServers(bool withoutMove, bool tokenService, bool rawlog) {
  char scratch[] = "/tmp/lvmail-test-XXXXXX";
  if (!mkdtemp(scratch)) throw std::runtime_error("mkdtemp failed");
  m_scratch = scratch;

  int toServer[2], fromServer[2];
  if (pipe2(toServer, O_CLOEXEC) != 0 || pipe2(fromServer, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t parent = getpid();
  m_pid = fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    // The servers end with this test process, however it ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);
    dup2(toServer[0], STDIN_FILENO);
    dup2(fromServer[1], STDOUT_FILENO);
    std::vector<std::string> args = {"/usr/bin/python3", ScriptPath()};
    if (withoutMove) args.push_back("--no-move");
    if (tokenService) args.push_back("--token-service");
    if (rawlog) args.push_back("--rawlog");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(toServer[0]);
  close(fromServer[1]);
  m_toServer = toServer[1];
  m_fromServer = fromServer[0];

  std::string ready;
  try {
    ready = ReadLine();
  } catch (...) {
    Stop();
    throw;
  }
  imap = std::atoi(JsonValue(ready, "imap").c_str());
  imaps = std::atoi(JsonValue(ready, "imaps").c_str());
  imapsProxy = std::atoi(JsonValue(ready, "imaps_proxy").c_str());
  smtp = std::atoi(JsonValue(ready, "smtp").c_str());
  smtps = std::atoi(JsonValue(ready, "smtps").c_str());
  token = std::atoi(JsonValue(ready, "token_port").c_str());
  graph = std::atoi(JsonValue(ready, "graph_port").c_str());
  graphToken = JsonValue(ready, "graph_token");
  cert = JsonValue(ready, "cert");
  maildir = JsonValue(ready, "maildir");
  home = JsonValue(ready, "home");
  user = JsonValue(ready, "user");
  password = JsonValue(ready, "password");
  if (imap == 0 || smtp == 0 || cert.empty()) {
    Stop();
    throw std::runtime_error("mail_servers.py did not start: " + ready);
  }
}

MailServers::~MailServers() { Stop(); }

void MailServers::Stop() {
  if (m_toServer >= 0) close(m_toServer);  // end of input: it stops everything
  if (m_fromServer >= 0) close(m_fromServer);
  m_toServer = m_fromServer = -1;
  if (m_pid > 0 && !WaitForExit(m_pid, std::chrono::seconds(30))) {
    kill(m_pid, SIGTERM);
    if (!WaitForExit(m_pid, std::chrono::seconds(10))) {
      kill(m_pid, SIGKILL);
      WaitForExit(m_pid, std::chrono::seconds(5));
    }
  }
  m_pid = -1;
  std::error_code ignored;
  if (!m_scratch.empty()) std::filesystem::remove_all(m_scratch, ignored);
  m_scratch.clear();
}

std::string MailServers::ReadLine() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  for (;;) {
    const size_t newline = m_buffer.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_buffer.substr(0, newline);
      m_buffer.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("mail_servers.py did not answer in time");
    pollfd fd{m_fromServer, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(m_fromServer, chunk, sizeof chunk);
    if (n <= 0) throw std::runtime_error("mail_servers.py ended unexpectedly (see its standard error)");
    m_buffer.append(chunk, static_cast<size_t>(n));
  }
}

std::string MailServers::Command(const std::string& line) {
  const std::string text = line + "\n";
  if (write(m_toServer, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot talk to mail_servers.py");
  }
  std::string answer = ReadLine();
  if (JsonValue(answer, "ok") != "true") throw std::runtime_error(line + ": " + answer);
  return answer;
}

void MailServers::Deliver(const std::string& folder, const std::string& message, bool seen) {
  DeliverCommand("deliver", folder, message, seen ? " seen" : "");
}

void MailServers::DeliverMany(const std::string& folder, const std::string& message, int count) {
  DeliverCommand("deliver-many", folder, message, " " + std::to_string(count));
}

void MailServers::DeliverCommand(const std::string& verb, const std::string& folder, const std::string& message,
                                 const std::string& tail) {
  static int counter = 0;
  const std::string path = m_scratch + "/message-" + std::to_string(++counter);
  std::ofstream(path, std::ios::binary) << message;
  Command(verb + " " + folder + " " + path + tail);
  std::filesystem::remove(path);
}

std::string MailServers::FolderPath(const std::string& folder) const {
  return folder == "INBOX" ? maildir : maildir + "/." + folder;
}

std::vector<std::string> MailServers::Messages(const std::string& folder, bool names) const {
  std::vector<std::string> files;
  for (const char* sub : {"/new", "/cur"}) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(FolderPath(folder) + sub, ec)) {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> result;
  for (const std::string& file : files) {
    if (names) {
      result.push_back(std::filesystem::path(file).filename().string());
    } else {
      std::ifstream in(file, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      result.push_back(text.str());
    }
  }
  return result;
}

int MailServers::SmtpConnections() { return std::atoi(JsonValue(Command("stats"), "connections").c_str()); }

std::vector<std::string> MailServers::SmtpRecipients() { return JsonStrings(Command("stats"), "recipients"); }

std::string MailServers::ClientConfig(const ClientOptions& options) const {
  std::ostringstream text;
  const int smtpPort = options.smtpScheme == "smtps" ? smtps : smtp;
  const int imapPort = options.throughProxy ? imapsProxy : options.imapScheme == "imaps" ? imaps : imap;
  text << "[general]\nsender = Grace Fellowship <office@grace.example.org>\ntransport = smtp+imap\n"
       << "lock_wait_seconds = 5\n"
       << "[smtp]\nurl = " << options.smtpScheme << "://127.0.0.1:" << smtpPort << "\nuser = " << user << "\n";
  const bool oauth2 = !options.oauth2Section.empty();
  if (oauth2) text << "auth = oauth2\n";
  if (!oauth2 && !options.smtpPassword.empty()) text << "password = " << options.smtpPassword << "\n";
  text << "[imap]\nurl = " << options.imapScheme << "://127.0.0.1:" << imapPort << "/INBOX\nuser = " << user << "\n";
  if (oauth2) text << "auth = oauth2\n[oauth2]\n" << options.oauth2Section;
  if (!oauth2 && !options.imapPassword.empty()) text << "password = " << options.imapPassword << "\n";
  text << "[tls]\n";
  if (options.trustServerCa) text << "ca_file = " << cert << "\n";
  if (!options.verify) text << "verify = no\n";
  text << "[network]\ntimeout_seconds = 10\nretries = " << options.retries
       << "\nretry_wait_ms = " << options.retryWaitMs << "\n";
  return text.str();
}

}  // namespace emailaccess_test
