#include "data/db_connection.h"

#include <cctype>
#include <exception>
#include <stdexcept>

#include "data/db_log.h"
#include "tarnbase/tarnbase.h"

bool CDBConnection::Execute(std::string statement, CVistaResults* results) {
  std::string keyword = statement.substr(0, 6);
  for (char& c : keyword) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  try {
    if (keyword == "SELECT") {
      CVistaResults scratch;
      Select(statement.c_str(), results ? *results : scratch);
    } else {
      SendSQLString(statement.c_str());
    }
  } catch (const std::invalid_argument& e) {
    WriteDBLog(kDBLogFileName, e.what());
    throw;
  } catch (const std::exception& e) {
    WriteDBLog(kDBLogFileName, e.what());
    throw;
  }
  return true;
}

void CDBCommand::Execute() { m_connection->Execute(m_statement, m_results); }
