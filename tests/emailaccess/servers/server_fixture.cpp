#include "server_fixture.h"

#include <signal.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <thread>

#include "emailaccess/sent_register.h"

namespace emailaccess_test {
namespace {

// The sent register of the running test's install, for ReplyText.
std::string g_sentRegister;

}  // namespace

ServerTest::ServerTest() { g_sentRegister = Bin(emailaccess::kSentRegisterFileName); }

void ServerTest::SetUp() {
  testing_support::CopyInstall(m_dir.file("bin"));
  ASSERT_TRUE(testing_support::Exists(Bin("LVEmailAccess")));
  StartServers(false);
}

void ServerTest::StartServers(bool withoutMove, bool tokenService, bool rawlog) {
  m_servers.reset();
  m_servers = std::make_unique<MailServers>(withoutMove, tokenService, rawlog);
}

void ServerTest::Configure(const ClientOptions& options) {
  const std::string path = Bin("LVEmailAccess.conf");
  testing_support::WriteFile(path, m_servers->ClientConfig(options));
  chmod(path.c_str(), 0600);
}

void ServerTest::SetPace(const std::string& pace) {
  const std::string path = Bin("LVEmailAccess.conf");
  testing_support::WriteFile(path, testing_support::ReadFile(path) + "\n[smtp]\npace = " + pace + "\n");
}

testing_support::RunResult ServerTest::Run(const std::vector<std::string>& args,
                                           const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> all = {{"TZ", "UTC"}};
  all.insert(env.begin(), env.end());
  return testing_support::Run(Bin("LVEmailAccess"), args, all, m_dir.path());
}

std::string ServerTest::WriteOutgoing(const std::vector<std::pair<std::string, std::string>>& recipients,
                                      const std::string& body) {
  std::string text;
  int n = 0;
  for (const auto& [name, address] : recipients) {
    ++n;
    text += "<Recipient" + std::to_string(n) + ">" + name + "</Recipient" + std::to_string(n) + ">\r\r\n";
    text += "<Email" + std::to_string(n) + ">" + address + "</Email" + std::to_string(n) + ">\r\r\n";
  }
  text += "<Body>" + body + "</Body>";
  static int counter = 0;
  const std::string path = Bin("out" + std::to_string(++counter) + ".tmp");
  testing_support::WriteFile(path, text);
  return path;
}

size_t ServerTest::Queued() const {
  size_t n = 0;
  for (const char* sub : {"new", "cur"}) n += testing_support::ListFolder(Bin(std::string("Mail/Queue/") + sub)).size();
  return n;
}

std::vector<pid_t> ServerTest::RunningPrograms() const {
  std::error_code failed;
  const auto program = std::filesystem::canonical(Bin("LVEmailAccess"), failed);
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", failed)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code gone;  // a process that ended meanwhile
    if (std::filesystem::read_symlink(entry.path() / "exe", gone) == program) found.push_back(std::stoi(name));
  }
  return found;
}

bool ServerTest::WaitUntilNoneRuns(std::chrono::seconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!RunningPrograms().empty()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

void ServerTest::StopPrograms() const {
  for (const pid_t pid : RunningPrograms()) kill(pid, SIGKILL);
  WaitUntilNoneRuns(std::chrono::seconds(10));
}

std::string ReplyText(const std::string& from, const std::string& subject, const std::string& body) {
  static int counter = 0;
  const std::string n = std::to_string(++counter);
  const std::string answered = "lvm.sent" + n + "@grace.example.org";
  std::string address = from.substr(from.find('<') == std::string::npos ? 0 : from.find('<') + 1);
  address = address.substr(0, address.find('>'));
  emailaccess::RecordSentMailings(g_sentRegister, {{std::time(nullptr), answered, address, subject}}, std::time(nullptr));
  return "From: " + from + "\r\nTo: Grace Fellowship <office@grace.example.org>\r\nSubject: " + subject +
         "\r\nIn-Reply-To: <" + answered + ">\r\nReferences: <" + answered + ">" +
         "\r\nDate: Mon, 02 Mar 2026 10:" + (counter < 10 ? "0" : "") + std::to_string(counter % 60) +
         ":00 +0000\r\nMessage-ID: <reply" + n + "@example.org>\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body;
}

}  // namespace emailaccess_test
