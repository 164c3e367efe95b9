#pragma once
// The scanner's test for character data an XML parser hands on unchanged, the common case of a
// worksheet's texts and attribute values: checked sixteen bytes at a time where it is ASCII.
#include <cstddef>
#include <string_view>

/// Length of the longest prefix of `raw` that reads as it stands: well-formed UTF-8 of XML
/// characters (no U+FFFE, U+FFFF, nor control character but tab and line feed) without '&', '<'
/// or a carriage return; in an attribute value (`attribute`) without tab and line feed either,
/// which read as blanks there. Where it stops, `raw` holds a reference, a line end to normalise,
/// or a fault.
std::size_t wb_xml_plain_prefix(std::string_view raw, bool attribute);
