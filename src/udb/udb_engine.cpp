#include "udb/udb_engine.h"

#include <cerrno>
#include <unistd.h>

#include "tk/tk_exception.h"
#include "tk/tk_path.h"
#include "tk/tk_string.h"

void udb_engine::delete_db(const std::wstring& name)
{
    // unlink refuses a directory, as the engines' file deletion must.
    if (::unlink(tk_to_utf8(name).c_str()) != 0)
        throw tk_exception_ex();
}

bool udb_engine::is_db_exist(const std::wstring& name)
{
    // A database file is a regular file: a FIFO or a device "opens" too, and reading it could
    // block or never end.
    const std::string path = tk_to_utf8(name);
    return !tk_is_special_file(path) && tk_is_file_exist(path, tk_file_readable);
}

void udb_engine::set_param(int value)
{
    param = value;
}
