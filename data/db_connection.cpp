#include "data/db_connection.h"

#include <cctype>
#include <exception>
#include <stdexcept>

#include "data/db_log.h"
#include "tarnbase/tarnbase.h"

namespace {

// Calls the library; a failure is logged with its alert and thrown on.
template <class Call>
void Logged(Call call) {
  try {
    call();
  } catch (const std::exception& e) {  // also a text refused before SQLite ran it
    WriteDBLog(kDBLogFileName, e.what());
    throw;
  }
}

}  // namespace

bool CDBConnection::Execute(std::string statement, CVistaResults* results) {
  std::string keyword = statement.substr(0, 6);
  for (char& c : keyword) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Logged([&] {
    if (keyword == "SELECT") {
      CVistaResults scratch;
      Select(statement.c_str(), results ? *results : scratch);
    } else {
      SendSQLString(statement.c_str());
    }
  });
  return true;
}

void CDBConnection::BeginTransaction() { Logged([] { ::BeginTransaction(); }); }

void CDBConnection::CommitTransaction() { Logged([] { ::CommitTransaction(); }); }

void CDBConnection::RollbackTransaction() noexcept { ::RollbackTransaction(); }

void CDBCommand::Execute() { m_connection->Execute(m_statement, m_results); }
