#include "agent/agent_options.h"

#include <charconv>
#include <vector>

#include "agent/agent_main.h"
#include "agent/agent_messages.h"
#include "agent/ansi_cmd_line.h"
#include "agent/held_log.h"
#include "agent/tab_file.h"
#include "converter/error_handler.h"
#include "converter/tamarind_convertor.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_string.h"

namespace {

const cmd_option option_table[] = {
    {opt_csv_delim, "--csv_delim="}, {opt_dest, "--dest="},     {opt_extr_fn, "--extr_fn"},
    {opt_from_csv, "--from_csv"},    {opt_help, "--help"},      {opt_logfile, "--logfile="},
    {opt_host, "--host="},           {opt_mode, "--mode="},     {opt_no_refine, "--no_refine"},
    {opt_pgport, "--pgport="},       {opt_profile, "--profile="}, {opt_pswd, "--pswd="},
    {opt_silent, "--silent"},        {opt_src, "--src="},       {opt_tab_file, "--tab_file="},
    {opt_tab_name, "--tab_name="},   {opt_user, "--user="},     {-1, ""},
};

constexpr char password_option[] = "--pswd=";

/// The program's objects as the option parser reaches them; none is an internal error whose site
/// is the agent's own.
tamarind_convertor& converter_singleton() {
  tamarind_convertor* converter = tamarind_convertor::instance_ptr();
  if (!converter) TK_ASSERT_SITE("../..\\TK/tk_singl", 59);
  return *converter;
}

error_handler& handler_singleton() {
  error_handler* handler = error_handler::instance_ptr();
  if (!handler) TK_ASSERT_SITE("../..\\TK/tk_singl", 59);
  return *handler;
}

/// What the options gave that is not kept in the converter itself.
struct parsed_options {
  std::string host;
  std::string user;
  std::string password;
  std::string port_text = "5432";
  bool mode_given = false;
  bool profile_loaded = false;
  std::vector<std::wstring> tab_list;
  /// Every file the run reads: sources, table-list files and profiles, as the options and the
  /// profiles name them.
  std::vector<std::string> inputs;
};

/// The files the options name to be read, wherever they stand: a log named before them must not
/// empty them, also when a refused option ends the run early.
std::vector<std::string> named_inputs(int argc, char** argv) {
  std::vector<std::string> inputs;
  for (ansi_cmd_line line(argc, argv, option_table); line.has_more(); line.next()) {
    const int id = line.get_id();
    if (id == opt_src || id == opt_tab_file || id == opt_profile) inputs.push_back(line.get_value());
  }
  return inputs;
}

void log_arguments(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    std::string argument = argv[i] ? argv[i] : "";
    // A password never reaches a log.
    if (argument.compare(0, sizeof password_option - 1, password_option) == 0)
      argument = std::string(password_option) + "***";
    tk_log(1, "parameter #%d: %s", i, argument);
  }
}

void apply_mode(tamarind_convertor& converter, const std::string& value, parsed_options& options) {
  long number = 0;
  std::from_chars(value.data(), value.data() + value.size(), number);
  tk_log(2, "\tgot mode %d", number);
  if (!is_valid_mode_text(value)) fatal_console_exit(agent_messages[agent_msg_invalid_mode]);
  tk_log(1, "udb_converter::set_mode(%d)", number);
  converter.set_mode(static_cast<int>(number));
  options.mode_given = true;
}

void apply_profile(tamarind_convertor& converter, const std::string& value, parsed_options& options) {
  tk_log(1, "parse_cmd_line - got profile %s", value);
  // The worksheets are listed once, after the last option, on the final source.
  options.profile_loaded = converter.load_profile_file(tk_utf8_to_unicode(value), false);
  options.inputs.push_back(tk_to_utf8(converter.get_src()));
  // A profile that does not load would leave a mix of its settings and the defaults (mode 0
  // among them, which drops the destination): refused before anything is touched.
  if (!options.profile_loaded) fatal_console_exit(tk_format(agent_msg_profile_not_loaded, value));
}

void apply_option(ansi_cmd_line& line, parsed_options& options) {
  const std::string& value = line.get_value();
  switch (line.get_id()) {
    case opt_dest:
      converter_singleton().set_dest(tk_utf8_to_unicode(value));
      tk_log(2, "\tgot dest %s", value);
      break;
    case opt_extr_fn:
      converter_singleton().set_x_fnames(true);
      tk_log(2, "\textract fld.names from 1st row");
      break;
    case opt_help:
      fatal_console_exit(agent_usage_text());
    case opt_logfile:
      tk_log(1, "parse_cmd_line - got logfile %s", value);
      converter_singleton().set_logfile(value);
      break;
    case opt_host:
      options.host = value;
      break;
    case opt_mode:
      apply_mode(converter_singleton(), value, options);
      break;
    case opt_no_refine:
      converter_singleton().set_refine_types(false);
      tk_log(2, "\tdo not refine types mapping");
      break;
    case opt_pgport:
      options.port_text = value;
      break;
    case opt_profile:
      apply_profile(converter_singleton(), value, options);
      break;
    case opt_pswd:
      options.password = value;
      // Other users see the command line ("ps", /proc/PID/cmdline) for as long as the run lasts.
      line.wipe_value();
      break;
    case opt_silent:
      converter_singleton().set_silent(true);
      handler_singleton().set_quiet(true);
      tk_log(1, "parse_cmd_line - silent mode is ON");
      break;
    case opt_src:
      converter_singleton().set_src(tk_utf8_to_unicode(value));
      tk_log(2, "\tgot src %s", value);
      break;
    case opt_tab_file:
      options.tab_list = process_tab_file(value);
      tk_log(2, "\tgot tab_file %s", value);
      break;
    case opt_tab_name:
      converter_singleton().set_tab_name(tk_utf8_to_unicode(value));
      tk_log(2, "\tgot tab_name %s", value);
      break;
    case opt_user:
      options.user = value;
      break;
    default:  // "--csv_delim=", "--from_csv" and positional arguments change nothing here
      break;
  }
}

void check_required(tamarind_convertor& converter, const parsed_options& options) {
  if (converter.get_src().empty()) fatal_console_exit(agent_messages[agent_msg_no_src]);
  // Opening a FIFO waits for a writer, a device may never end: only a file is read.
  if (tk_is_special_file(tk_to_utf8(converter.get_src()))) fatal_console_exit(agent_msg_src_not_a_file);
  if (converter.get_dest().empty()) fatal_console_exit(agent_messages[agent_msg_no_dest]);
  if (converter.get_from_xls()) return;
  if (converter.get_tab_name().empty()) fatal_console_exit(agent_messages[agent_msg_no_tab_name]);
  // Nothing in the agent sets the delimiter to "unset" (-1); kept for a profile that might.
  if (converter.get_n_comma() == -1) fatal_console_exit(agent_messages[agent_msg_no_csv_delim]);
  if (!options.mode_given) {
    tk_log(1, "udb_converter::set_mode(%d)", 1);
    converter.set_mode(1);
  }
}

}  // namespace

bool is_valid_mode_text(const std::string& text) { return text.size() == 1 && text[0] >= '0' && text[0] <= '3'; }

int port_from_text(const std::string& text) { return pgs_converter_impl::port_from_text(tk_utf8_to_unicode(text)); }

bool parse_cmd_line(int argc, char** argv) {
  tk_log(2, "parse_cmd_line");
  log_arguments(argc, argv);
  parsed_options options;
  options.inputs = named_inputs(argc, argv);
  held_log log(options.inputs);

  ansi_cmd_line line(argc, argv, option_table);
  for (; line.has_more(); line.next()) apply_option(line, options);
  if (!line.get_positionals().empty()) return false;

  tamarind_convertor& converter = converter_singleton();
  check_required(converter, options);
  options.inputs.push_back(tk_to_utf8(converter.get_src()));
  log.settle();

  // With a profile the connection settings are the profile's; the options are read, not applied.
  if (!options.profile_loaded) {
    const int port = port_from_text(options.port_text);
    if (port == 0) fatal_console_exit(agent_msg_invalid_port);
    converter.set_connection_params(options.host.c_str(), options.user.c_str(), options.password.c_str(), port);
  }

  // The source is listed and the selection applied before any connection is made, so a source
  // or a selection that fails leaves the server untouched.
  const std::vector<std::wstring> names = options.profile_loaded ? converter.get_sel_tables() : options.tab_list;
  if (!converter.select_worksheets(names)) {
    tk_exception refusal(agent_msg_not_a_workbook, tk_level_error);
    refusal.set_reason(xls_reader::source_refusal(converter.get_src()));
    throw refusal;
  }
  return true;
}
