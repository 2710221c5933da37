// The stand-in for the mail-access program (see mail_access_stand_in.h): a
// program of its own, so that it runs wherever LvMAPI does. It reads what to
// do from the file named like itself plus ".standin", beside it.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/program_path.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const fs::path& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

}  // namespace

int main(int argc, char** argv) {
  // The settings lie beside the program under its name without ".exe"; the
  // program's own file, since argv[0] may be a bare name found on PATH.
  const fs::path self = platform::RunningProgramPath();
  fs::path settings = self;
  settings.replace_extension();
  settings += ".standin";

  fs::path record;
  int exitCode = 0;
  std::map<std::string, std::string> offers;  // subject -> file handed over as the incoming exchange file
  std::istringstream lines(Read(settings));
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
    if (key == "record") record = value;
    if (key == "exit") exitCode = std::stoi(value);
    if (key == "offer") {
      const size_t cut = value.find('\t');
      offers[value.substr(0, cut)] = value.substr(cut + 1);
    }
  }
  if (record.empty()) return 98;

  // call1, call2, ...: creating the folder claims the number.
  std::error_code ec;
  fs::create_directories(record, ec);
  fs::path call;
  for (int n = 1;; ++n) {
    if (n > 1000) return 99;
    call = record / ("call" + std::to_string(n));
    if (fs::create_directory(call, ec)) break;
  }
  Write(call / "program", self.string());
  std::string args;
  for (int i = 1; i < argc; ++i) args += std::string(argv[i]) + '\0';
  Write(call / "args", args);
  if (argc > 2 && fs::is_regular_file(argv[2])) fs::copy_file(argv[2], call / "exchange", ec);

  if (argc > 3) {
    const auto offer = offers.find(argv[3]);
    if (offer != offers.end() && fs::is_regular_file(offer->second)) {
      fs::copy_file(offer->second, argv[2], fs::copy_options::overwrite_existing, ec);
    }
  }
  return exitCode;
}
