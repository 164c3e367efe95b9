#pragma once
// The PostgreSQL part of the converter: the connection settings, the engine that holds the
// connection, and the profile section "pgs settings" that carries them.
#include <string>

#include "pgs/pgs_engine.h"

class udb_profile;

class pgs_converter_impl {
 public:
  static constexpr const wchar_t* profile_section = L"pgs settings";

  pgs_converter_impl();
  virtual ~pgs_converter_impl();
  pgs_converter_impl(const pgs_converter_impl&) = delete;
  pgs_converter_impl& operator=(const pgs_converter_impl&) = delete;

  /// Stores the settings; connects nothing. Texts are UTF-8, a null text counts as empty; port 0
  /// means libpq's default port.
  void set_connection_params(const char* host, const char* user, const char* password, int port);
  /// Connects the engine with the stored settings to the maintenance database (or the user's
  /// default one). Throws pgs_exception when the server cannot be reached.
  void connect_pgs_server();
  /// The same with the attempt made by `open` (see pgs_engine::connect_with).
  void connect_pgs_server(const pgs_engine::opener& open);
  /// What connect_pgs_server connects with.
  pgs_connect_params connect_params() const;

  /// Writes "pgs settings": each key only when its setting is set. True.
  bool store_profile(udb_profile& profile);
  /// Reads "pgs settings" in the order host, user, password, schema, port; a missing or empty key
  /// keeps the setting. A port that is not a number from 1 to 65535 throws tk_exception level 1
  /// "Invalid port number" (the keys read before it keep their new values). True.
  bool load_profile(udb_profile& profile);
  /// The connection test of the converter: true, without contacting the server.
  bool test_query(const std::wstring& ignored = {});

  const std::string& get_host() const noexcept { return host; }
  const std::string& get_user() const noexcept { return user; }
  const std::string& get_password() const noexcept { return password; }
  int get_port() const noexcept { return port; }
  const std::wstring& get_schema() const noexcept { return schema; }
  void set_schema(const std::wstring& value) { schema = value; }
  pgs_engine& get_engine() noexcept { return engine; }

  /// A port text read as atoi reads it (the connection page): leading white space, an optional
  /// sign, then the digits up to the first other character. 0 when no digit comes first or the
  /// number is outside the range of int.
  static long parse_port(const std::wstring& text) noexcept;
  /// The port a profile or an option names: ASCII digits only, blanks around them allowed, 1 to
  /// 65535. 0 for any other text ("5432x", "+12", "0").
  static int port_from_text(const std::wstring& text) noexcept;

 protected:
  int port = 0;
  pgs_engine engine;
  std::wstring schema = L"public";
  std::string host;
  std::string user;
  std::string password;
};
