-- Update database of TravikVersoes: the database `atualizacaodb`, the account the agent
-- logs in with, and the tables the agent uses. Run it as an administrator, e.g. with
-- the server's --init-file option or any client session; it can be run again safely, and
-- brings a database made by an earlier version of this script up to date.
CREATE DATABASE IF NOT EXISTS atualizacaodb CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;

-- One row per client, system and machine: the version each installation reported last.
CREATE TABLE IF NOT EXISTS atualizacaodb.controle_versao (
  codigo_cliente INT NOT NULL,
  id_sistema INT NOT NULL,
  cpu VARCHAR(32) NOT NULL DEFAULT '',
  versao TEXT NOT NULL,
  data_hora_atualizacao DATETIME NOT NULL,
  PRIMARY KEY (codigo_cliente, id_sistema, cpu)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- One row per published version of a system: for every client (codigo_cliente 0) or for
-- one client. The agent compares the composite number built from the four parts.
CREATE TABLE IF NOT EXISTS atualizacaodb.versao (
  id INT NOT NULL AUTO_INCREMENT,
  id_sistema INT NOT NULL,
  codigo_cliente INT NOT NULL DEFAULT 0,
  v_major INT UNSIGNED NOT NULL DEFAULT 0,
  v_minor INT UNSIGNED NOT NULL DEFAULT 0,
  v_release INT UNSIGNED NOT NULL DEFAULT 0,
  v_build INT UNSIGNED NOT NULL DEFAULT 0,
  link_sistema VARCHAR(1024) NOT NULL,
  md5_arquivo CHAR(32) NOT NULL,
  nome_versao VARCHAR(255) NOT NULL,
  PRIMARY KEY (id),
  KEY versao_sistema_cliente (id_sistema, codigo_cliente)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;

-- One row per client, system and machine: the outcome of the last update run that found
-- a version ('ok' or 'erro', with the message the person saw), for the release manager.
CREATE TABLE IF NOT EXISTS atualizacaodb.controle_resultado (
  codigo_cliente INT NOT NULL,
  id_sistema INT NOT NULL,
  cpu VARCHAR(32) NOT NULL DEFAULT '',
  versao_alvo VARCHAR(64) NOT NULL,
  nome_versao VARCHAR(255) NOT NULL,
  resultado VARCHAR(4) NOT NULL,
  mensagem VARCHAR(1000) NOT NULL DEFAULT '',
  data_hora_resultado DATETIME NOT NULL,
  PRIMARY KEY (codigo_cliente, id_sistema, cpu),
  KEY controle_resultado_data (resultado, data_hora_resultado)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- The publisher's signature of the package (Base64 of a DER ECDSA P-256 signature);
-- NULL for an unsigned version.
ALTER TABLE atualizacaodb.versao ADD COLUMN IF NOT EXISTS assinatura TEXT NULL;

-- The agent's account, with the least rights it needs: it records its row with REPLACE
-- (INSERT and DELETE, no SELECT) and reads the published versions. The password is the one
-- compiled into the agent (the build setting TRAVIK_DB_PASSWORD). The account gets
-- the server's default login method: mysql_native_password on MariaDB, caching_sha2_password
-- on MySQL 8.0 and later (the only default of 8.4 and 9.x); the agent logs in with either,
-- and with sha256_password. For MariaDB's ed25519 method create the two accounts this way
-- instead (the grants below stay):
--   INSTALL SONAME 'auth_ed25519';
--   CREATE USER IF NOT EXISTS 'atualizacaodb'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('58rtm36@');
--   CREATE USER IF NOT EXISTS 'atualizacaodb'@'localhost' IDENTIFIED VIA ed25519 USING PASSWORD('58rtm36@');
CREATE USER IF NOT EXISTS 'atualizacaodb'@'%' IDENTIFIED BY '58rtm36@';
CREATE USER IF NOT EXISTS 'atualizacaodb'@'localhost' IDENTIFIED BY '58rtm36@';
-- Earlier versions of this script also granted SELECT on controle_versao: granting it and
-- then revoking it leaves exactly INSERT and DELETE, whatever the account had.
GRANT SELECT, INSERT, DELETE ON atualizacaodb.controle_versao TO 'atualizacaodb'@'%';
GRANT SELECT, INSERT, DELETE ON atualizacaodb.controle_versao TO 'atualizacaodb'@'localhost';
REVOKE SELECT ON atualizacaodb.controle_versao FROM 'atualizacaodb'@'%';
REVOKE SELECT ON atualizacaodb.controle_versao FROM 'atualizacaodb'@'localhost';
GRANT SELECT ON atualizacaodb.versao TO 'atualizacaodb'@'%';
GRANT SELECT ON atualizacaodb.versao TO 'atualizacaodb'@'localhost';
-- The run's outcome is only written (REPLACE): the agent never reads it back.
GRANT INSERT, DELETE ON atualizacaodb.controle_resultado TO 'atualizacaodb'@'%';
GRANT INSERT, DELETE ON atualizacaodb.controle_resultado TO 'atualizacaodb'@'localhost';
