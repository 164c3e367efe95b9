#pragma once

#include <map>
#include <string>
#include <vector>

/// How a validator measures a name against its maximum length.
enum class udb_name_measure {
    characters,  ///< code points
    utf8_bytes,  ///< bytes of the UTF-8 form (PostgreSQL counts identifiers this way)
};

/// Tests names against a destination's rules and makes safe, unique names.
/** The back ends derive from it and change the maximum length, the illegal characters and the
    reserved words. Cuts always keep whole characters. */
class udb_validator {
public:
    int max_len;                                ///< longest acceptable name; 0 = no maximum
    std::map<std::wstring, std::wstring> mapped;  ///< source name -> generated name
    std::vector<wchar_t> illegal;               ///< characters a name must not contain, tested in this order
    std::vector<std::wstring> restricted;       ///< names that are not acceptable (case-insensitive)
    std::vector<std::wstring> existing;         ///< names already in use (case-insensitive)

    explicit udb_validator(int max_len, udb_name_measure measure = udb_name_measure::characters);
    virtual ~udb_validator() = default;

    virtual bool is_acceptable(const std::wstring& name);
    virtual bool is_duplicated(const std::wstring& name);
    /// An acceptable name not yet in use, made from the given one: illegal characters become '_',
    /// a long name is cut, and when that is not enough a five-digit number is appended. Records
    /// nothing: the caller adds the result to existing or restricted and calls add_mapped_pair.
    virtual std::wstring get_safe_name(const std::wstring& name);

    /// The length of a name in the validator's measure.
    virtual int name_length(const std::wstring& name) const;

    void add_mapped_pair(const std::wstring& source, const std::wstring& generated);
    void add_existing_name(const std::wstring& name);

protected:
    /// The longest prefix of the name whose length fits the limit (a negative limit counts as 0).
    std::wstring cut_to_length(const std::wstring& name, int limit) const;

private:
    udb_name_measure measure;
};
