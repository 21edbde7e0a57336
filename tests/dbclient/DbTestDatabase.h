// The update database of the component tests: a private MariaDB with the tables the
// agent uses and a table with a column of every type, shared by the tests of a program.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/DbConnection.h"
#include "testsupport/testsupport.h"

namespace dbtest {

inline const char* kInitSql = R"SQL(
SET SESSION sql_mode = '';
CREATE DATABASE atualizacaodb DEFAULT CHARACTER SET utf8mb4;
CREATE USER 'atualizacaodb'@'%' IDENTIFIED BY '58rtm36@';
GRANT ALL PRIVILEGES ON atualizacaodb.* TO 'atualizacaodb'@'%';
CREATE TABLE atualizacaodb.versao (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  id_sistema INT NOT NULL,
  codigo_cliente INT NOT NULL DEFAULT 0,
  v_major INT NOT NULL, v_minor INT NOT NULL, v_release INT NOT NULL, v_build INT NOT NULL,
  link_sistema VARCHAR(255) NOT NULL,
  md5_arquivo VARCHAR(32) NOT NULL,
  nome_versao VARCHAR(255) NOT NULL
) DEFAULT CHARSET utf8mb4;
INSERT INTO atualizacaodb.versao VALUES
  (1, 7, 0, 2, 1, 0, 15, 'http://127.0.0.1/a.zip', '0123456789abcdef0123456789ABCDEF', 'a.zip'),
  (2, 7, 0, 2, 1, 1, 0, 'http://127.0.0.1/b.zip', 'fedcba9876543210fedcba9876543210', 'b.zip'),
  (3, 7, 42, 2, 2, 0, 0, 'http://127.0.0.1/c.zip', '00000000000000000000000000000000', 'c.zip');
CREATE TABLE atualizacaodb.controle_versao (
  codigo_cliente INT NOT NULL,
  versao VARCHAR(64) NOT NULL,
  cpu VARCHAR(64) NOT NULL,
  id_sistema INT NOT NULL,
  data_hora_atualizacao DATETIME NOT NULL,
  PRIMARY KEY (codigo_cliente, cpu, id_sistema)
) DEFAULT CHARSET utf8mb4;
CREATE TABLE atualizacaodb.tipos (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  c_tiny TINYINT, c_small SMALLINT UNSIGNED, c_int INT, c_uint INT UNSIGNED, c_medium MEDIUMINT,
  c_big BIGINT, c_ubig BIGINT UNSIGNED, c_bit BIT(16), c_dec DECIMAL(10,2), c_float FLOAT,
  c_double DOUBLE, c_date DATE, c_datetime DATETIME, c_timestamp TIMESTAMP NULL DEFAULT NULL,
  c_time TIME, c_year YEAR, c_char CHAR(3), c_varchar VARCHAR(40), c_text TEXT, c_blob BLOB,
  c_enum ENUM('Y','N'), c_set SET('a','b'), c_binary VARBINARY(8)
) DEFAULT CHARSET utf8mb4;
INSERT INTO atualizacaodb.tipos VALUES
  (1, -5, 65535, -2147483648, 4294967295, -8388608, -9223372036854775808, 18446744073709551615,
   b'0000000100000010', 1234.50, 1.5, 0.1, '2010-05-17', '2010-05-17 08:30:00', '2010-05-17 08:30:15',
   '838:59:59', 2024, 'abc', CONVERT(0x41747561c3a7c3a36f20e29c93 USING utf8mb4), 'texto longo', 0x00FF,
   'Y', 'a,b', 0x610062),
  (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL),
  (3, 0, 0, 0, 0, 0, 0, 0, b'0', 0, 0, 0, '0000-00-00', '0000-00-00 00:00:00', '0000-00-00 00:00:00',
   '00:00:00', 0, '', '', '', '', 'N', '', '');
)SQL";

// "Atualização ✓" in UTF-8.
inline const std::string kUtf8Text = "Atua\xc3\xa7\xc3\xa3o \xe2\x9c\x93";

inline testsupport::MariaDbServer& Server() {
    static std::unique_ptr<testsupport::MariaDbServer> server;
    if (!server)
        server = std::make_unique<testsupport::MariaDbServer>(
            testsupport::MariaDbServer::Options{.initSql = kInitSql});
    return *server;
}

// A connection set up as the agent sets it (the test server's port instead of 3306).
inline std::unique_ptr<dbclient::TDbConnection> AgentConnection() {
    auto c = std::make_unique<dbclient::TDbConnection>();
    c->SetHost("127.0.0.1");
    c->SetDatabaseName("atualizacaodb");
    c->SetUserName("atualizacaodb");
    c->SetUserPassword("58rtm36@");
    c->SetPortNumber(static_cast<std::uint32_t>(Server().port()));
    return c;
}

// The general log entries of one server connection.
inline std::vector<testsupport::MariaDbServer::LogEntry> EntriesOf(long connection) {
    std::vector<testsupport::MariaDbServer::LogEntry> out;
    for (auto& e : Server().LoggedEntries())
        if (e.connection == connection) out.push_back(e);
    return out;
}

// The statements one server connection sent, in order.
inline std::vector<std::string> QueriesOf(long connection) {
    std::vector<std::string> out;
    for (auto& e : EntriesOf(connection))
        if (e.command == "Query") out.push_back(e.argument);
    return out;
}

inline long ThreadIdOf(const dbclient::TDbConnection& c) {
    return static_cast<long>(c.Handle()->Client().ThreadId());
}

}  // namespace dbtest
