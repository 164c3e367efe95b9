#include "udb/udb_record.h"

#include <stdexcept>

void udb_record::push_back(std::unique_ptr<udb_field> field)
{
    // Every position must hold a field: readers and writers pair fields with columns by position.
    if (!field)
        throw std::invalid_argument("udb_record::push_back: null field");
    fields.push_back(std::move(field));
}
