#include "agent/agent_messages.h"

#include "tk/tk_format.h"

const char* const agent_messages[9] = {
    "corvel v%d.%d, (c) Hollowmere. All rights reserved.\n"
    "Usage: corvel OPTIONS\n"
    "\n"
    "   --dest=...      PostgreSQL database name\n"
    "   --extr_fn       extract field names from the first row\n"
    "   --help          display this help message and exit\n"
    "   --logfile=...   path to the file where execution trace will be written\n"
    "   --host=...      PostgreSQL server IP address or network name\n"
    "   --mode=...      how to process an existing PostgreSQL database:\n"
    "                   0 - overwrite the entire database,\n"
    "                   1 - overwrite existing tables only,\n"
    "                   2 - skip existing tables,\n"
    "                   3 - merge\n"
    "   --no_refine     disable improving type conversion\n"
    "   --pgport=...    PostgreSQL port\n"
    "   --profile=...   path to the file to load conversion settings from\n"
    "   --pswd=...      PostgreSQL user password\n"
    "   --silent        disable program output\n"
    "   --src=...       CSV file or MS Excel spreadsheet name\n"
    "   --tab_file=...  file containing the list of tables to convert\n"
    "                   (one table name per line)\n"
    "   --tab_name=...  PostgreSQL table name (when converting from CSV file)\n"
    "   --user=...      PostgreSQL user name\n"
    "\n"
    "NOTES:\n"
    "   1) You can omit 'host' parameter to connect local PostgreSQL server.\n"
    "   2) It is necessary to specify 'pgport' parameter only if it differs from\n"
    "      the default PostgreSQL port 5432.\n"
    "   3) If you omit 'tab_file' parameter, all worksheets will be converted.\n",
    "Invalid merge/overwrite mode",
    "Destination name specifies an existing read-only file.",
    "Destination path does not exist.\nPlease verify the correct path was given.",
    "You should specify CSV delimiter (use '--csv_delim' option)",
    "You should enter destination PostgreSQL database name",
    "You should enter data source name",
    "You should specify PostgreSQL table name (use '--tab_name' option)",
    "Table names file does not exist.\nPlease verify the correct path/name was given.",
};

std::string agent_usage_text() {
  return tk_format(agent_messages[agent_msg_usage], agent_version_major, agent_version_minor);
}
