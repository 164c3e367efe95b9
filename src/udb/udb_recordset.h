#pragma once

#include <functional>
#include <string>
#include <vector>

#include "udb/udb_indexes.h"
#include "udb/udb_record.h"
#include "udb/udb_row_error.h"
#include "udb/udb_schema.h"

/// One table or query of a database: rows in and rows out.
/** Reading: reset (where the side needs it), then is_eof / get_item / next until is_eof is true.
    The record get_item returns belongs to the record set and lives until the next get_item or the
    record set's end.
    Writing: append_record per row, then finish(), the explicit end of writing, which sends what is
    pending and reports a failure by throwing. After each append_record and after finish() the
    writer collects take_row_errors(): the rows the destination refused, unless it gave a sink that
    takes each of them as soon as the destination knows it, and the rows stored only changed (a
    text without a character the destination cannot hold). The destructor only releases and never
    throws; a record set destroyed without finish() has nothing reported. */
class udb_recordset {
public:
    std::wstring query_text;   ///< SELECT text when opened over a query; empty for a table
    std::wstring table_name;   ///< the table's or query's name
    udb_schema schema;         ///< column descriptors, in column order
    udb_indexes indexes;
    int rec_count = 0;         ///< set by the side that opens the set, counted up by writers
    int n_u_index = -1;        ///< position in indexes of the update key (first primary or unique); -1 none

    /// The schema flag is accepted for the sides' sake; schemas always own their descriptors.
    udb_recordset(std::wstring table_name, std::wstring query_text, bool schema_flag);
    udb_recordset(std::wstring table_name, bool schema_flag);
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;
    virtual ~udb_recordset() = default;

    virtual void append_record(udb_record& record) = 0;
    /// Rewrites the row whose key equals the record's; the base only logs.
    virtual void update(udb_record& record);
    /// The current row, owned by the record set; null when there is none (the base has none).
    virtual udb_record* get_item();
    virtual bool is_eof();
    virtual void next();
    virtual void prev();
    virtual void reset();
    /// Ends writing: writes what is pending and throws when that fails. A second call does nothing;
    /// the base has nothing to write.
    virtual void finish();
    /// Hands over the rows the destination refused so far and forgets them; the base has none.
    virtual std::vector<udb_row_error> take_row_errors();

    /// Takes each refused row, in record order, before any row after it is committed.
    using row_error_sink = std::function<void(const udb_row_error&)>;
    /// From now on refused rows go to `sink` instead of take_row_errors() (on sides that find
    /// them; the others keep collecting). The sink may throw to end the writing at that row: the
    /// rows before it are kept, the rows after it are not written, and the exception leaves
    /// append_record or finish.
    void set_row_error_sink(row_error_sink sink) { refused_row_sink = std::move(sink); }

    bool is_query() const { return !query_text.empty(); }

    /// Stores an index a reader found; the first primary or unique one becomes the update key.
    void add_index(const udb_index& index);
    /// Converts each field of the record in place to the type of the column at its position.
    void convert_record(udb_record& record) const;

protected:
    row_error_sink refused_row_sink;
};
