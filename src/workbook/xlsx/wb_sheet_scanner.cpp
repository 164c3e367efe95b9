#include "workbook/xlsx/wb_sheet_scanner.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "workbook/wb_errors.h"
#include "workbook/wb_limits.h"
#include "workbook/wb_values.h"
#include "workbook/xlsx/wb_xml_chars.h"

namespace {

constexpr std::size_t chunk = wb_sheet_scan_read_bytes;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool ends_name(char c) { return is_space(c) || c == '/' || c == '>' || c == '=' || c == '<'; }

std::string_view local(std::string_view qname) {
  const auto colon = qname.rfind(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

}  // namespace

bool wb_sheet_scanner_suits(std::string_view head) {
  if (head.size() >= 2 && ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF')))
    return false;
  if (head.size() >= 3 && head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  if (head.substr(0, 5) != "<?xml") return !head.empty() && head[0] == '<';
  const auto end = head.find("?>");
  if (end == std::string_view::npos) return false;
  const std::string_view decl = head.substr(0, end);
  const auto enc = decl.find("encoding");
  if (enc == std::string_view::npos) return true;
  auto q = decl.find_first_of("\"'", enc);
  if (q == std::string_view::npos) return false;
  const auto q2 = decl.find(decl[q], q + 1);
  if (q2 == std::string_view::npos) return false;
  std::string name(decl.substr(q + 1, q2 - q - 1));
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return name == "UTF-8" || name == "UTF8";
}

namespace {

class zip_part_bytes final : public wb_sheet_bytes {
 public:
  explicit zip_part_bytes(wb_zip_part_stream& input) : input_(input) {}
  std::size_t read(char* buffer, std::size_t size) override { return input_.read(buffer, size); }

 private:
  wb_zip_part_stream& input_;
};

}  // namespace

wb_sheet_scanner::wb_sheet_scanner(wb_zip_part_stream& input, wb_xml_handler& handler, const std::string& path)
    : own_input_(std::make_unique<zip_part_bytes>(input)),
      input_(*own_input_),
      part_(input.name()),
      handler_(handler),
      path_(path) {}

wb_sheet_scanner::wb_sheet_scanner(wb_sheet_bytes& bytes, std::uint64_t first, const std::string& part,
                                   wb_xml_handler& handler, const std::string& path)
    : input_(bytes), part_(part), handler_(handler), path_(path), base_(first) {}

void wb_sheet_scanner::resume_inside(const wb_xml_scope& scope) {
  started_ = true;
  scope_ = scope;
  default_ns_ = resolve_default();
}

wb_xml_ns wb_sheet_scanner::resolve_default() const {
  for (auto b = scope_.bindings.rbegin(); b != scope_.bindings.rend(); ++b)
    if (b->prefix.empty()) return b->ns;
  return wb_xml_ns::none;
}

wb_xml_ns wb_sheet_scanner::resolve(std::string_view prefix) {
  if (prefix.empty()) return default_ns_;
  if (prefix == "xml") return wb_xml_ns::other;
  for (auto b = scope_.bindings.rbegin(); b != scope_.bindings.rend(); ++b)
    if (b->prefix == prefix) return b->ns;
  fail("an undeclared namespace prefix '" + std::string(prefix) + "' in part '" + part_ + "'");
}

void wb_sheet_scanner::bind(std::string_view prefix, std::string_view uri) {
  if (!prefix.empty() && uri.empty()) fail("a namespace prefix bound to no namespace in part '" + part_ + "'");
  scope_.bindings.push_back({std::string(prefix), wb_classify_namespace(uri), scope_.open.size()});
  if (prefix.empty()) default_ns_ = scope_.bindings.back().ns;
}

void wb_sheet_scanner::unbind() {
  bool default_changed = false;
  while (!scope_.bindings.empty() && scope_.bindings.back().depth == scope_.open.size()) {
    default_changed |= scope_.bindings.back().prefix.empty();
    scope_.bindings.pop_back();
  }
  if (default_changed) default_ns_ = resolve_default();
}

void wb_sheet_scanner::fail(const std::string& reason) { throw wb_unreadable(path_, reason); }

bool wb_sheet_scanner::read_more(std::size_t need) {
  while (buf_.size() - pos_ < need) {
    if (eof_) return false;
    if (pos_ > 0) {
      buf_.erase(0, pos_);
      base_ += pos_;
      pos_ = 0;
    }
    if (buf_.size() > wb_max_xml_token_bytes)
      fail("an XML token in part '" + part_ + "' exceeds " + std::to_string(wb_max_xml_token_bytes) + " bytes");
    const std::size_t old = buf_.size();
    // Room for a read and a short unfinished token without doubling the buffer.
    if (buf_.capacity() < old + chunk) buf_.reserve(std::max(old + chunk, chunk + chunk / 16));
    buf_.resize(old + chunk);
    const std::size_t n = input_.read(buf_.data() + old, chunk);
    buf_.resize(old + n);
    if (n == 0) eof_ = true;
  }
  return true;
}

// Offset of `what` at or after `from` (an index into the buffer), reading more as needed; npos at
// the part's end. Reading may compact the buffer, so offsets are kept relative to pos_.
std::size_t wb_sheet_scanner::find(std::string_view what, std::size_t from) {
  std::size_t from_rel = from - pos_;
  for (;;) {
    const std::size_t at = std::string_view(buf_).find(what, pos_ + from_rel);
    if (at != std::string_view::npos) return at;
    const std::size_t have = buf_.size() - pos_;
    from_rel = have >= what.size() ? std::max(from_rel, have - what.size() + 1) : from_rel;
    if (!fill(have + 1)) return std::string_view::npos;
  }
}

// Offset of the '>' closing the tag at pos_, outside quoted attribute values; npos at the end.
std::size_t wb_sheet_scanner::tag_end() {
  std::size_t rel = 1;
  char quote = 0;
  for (;;) {
    const std::size_t size = buf_.size();
    for (std::size_t i = pos_ + rel; i < size; ++i) {
      const char c = buf_[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        return i;
      }
    }
    rel = size - pos_;
    if (!fill(rel + 1)) return std::string_view::npos;
  }
}

void wb_sheet_scanner::skip_past(std::string_view end, const char* what) {
  const std::size_t at = find(end, pos_);
  if (at == std::string_view::npos) fail(std::string("unterminated ") + what + " in part '" + part_ + "'");
  pos_ = at + end.size();
}

void wb_sheet_scanner::check_utf8(std::string_view s) {
  std::size_t i = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  while (i < s.size()) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') fail("a control character in part '" + part_ + "'");
      ++i;
      continue;
    }
    int n;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) n = 1, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) n = 2, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) n = 3, cp = c & 0x07;
    else fail("invalid UTF-8 in part '" + part_ + "'");
    if (i + static_cast<std::size_t>(n) >= s.size())
      fail("invalid UTF-8 in part '" + part_ + "'");
    for (int k = 1; k <= n; ++k) {
      if ((p[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80) fail("invalid UTF-8 in part '" + part_ + "'");
      cp = (cp << 6) | (p[i + static_cast<std::size_t>(k)] & 0x3F);
    }
    static const char32_t min_for[] = {0, 0x80, 0x800, 0x10000};
    if (cp < min_for[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
      fail("invalid UTF-8 in part '" + part_ + "'");
    i += static_cast<std::size_t>(n) + 1;
  }
}

// Entities and character references decoded; line ends normalised as an XML parser does ("\r\n"
// and "\r" to "\n"; in attributes every blank character to a space). The runs between them are
// checked and copied whole; a text without any is `raw` itself.
std::string_view wb_sheet_scanner::decode(std::string_view raw, std::string& out, bool attribute) {
  std::size_t plain = wb_xml_plain_prefix(raw, attribute);
  if (plain == raw.size()) return raw;
  out.clear();
  std::size_t i = 0;
  for (;;) {
    out.append(raw.substr(i, plain - i));
    if (plain == raw.size()) break;
    const std::size_t j = plain;
    const char c = raw[j];
    if (c == '<') fail("'<' in an attribute value in part '" + part_ + "'");
    if (c == '\r') {
      out += attribute ? ' ' : '\n';
      i = j + 1 < raw.size() && raw[j + 1] == '\n' ? j + 2 : j + 1;
    } else if (attribute && (c == '\n' || c == '\t')) {
      out += ' ';
      i = j + 1;
    } else if (c == '&') {
      const std::size_t semi = raw.find(';', j);
      if (semi == std::string_view::npos) fail("an unterminated reference in part '" + part_ + "'");
      decode_reference(raw.substr(j + 1, semi - j - 1), out);
      i = semi + 1;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      fail("a control character in part '" + part_ + "'");
    } else {
      fail("invalid UTF-8 in part '" + part_ + "'");
    }
    plain = i + wb_xml_plain_prefix(raw.substr(i), attribute);
  }
  return out;
}

void wb_sheet_scanner::decode_reference(std::string_view ref, std::string& out) {
  if (ref == "lt") out += '<';
  else if (ref == "gt") out += '>';
  else if (ref == "amp") out += '&';
  else if (ref == "quot") out += '"';
  else if (ref == "apos") out += '\'';
  else if (ref.size() > 1 && ref[0] == '#') {
    unsigned long cp = 0;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
    if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size() || cp > 0x10FFFF ||
        (cp < 0x20 && cp != 9 && cp != 10 && cp != 13) || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
      fail("a bad character reference in part '" + part_ + "'");
    wb_append_utf8(out, static_cast<char32_t>(cp));
  } else {
    fail("an undefined entity in part '" + part_ + "'");
  }
}

void wb_sheet_scanner::element() {
  // pos_ is at '<' of a start tag; read the whole tag first.
  const std::size_t close = tag_end();
  if (close == std::string_view::npos) fail("an unterminated tag in part '" + part_ + "'");
  std::string_view tag(buf_.data() + pos_ + 1, close - pos_ - 1);
  pos_ = close + 1;
  bool empty = false;
  if (!tag.empty() && tag.back() == '/') {
    empty = true;
    tag.remove_suffix(1);
  }
  std::size_t i = 0;
  while (i < tag.size() && !ends_name(tag[i])) ++i;
  const std::string_view qname = tag.substr(0, i);
  if (qname.empty()) fail("a tag without a name in part '" + part_ + "'");
  attrs_.clear();
  names_.clear();
  views_.clear();
  std::size_t n = 0;
  auto& names = names_;
  for (;;) {
    std::size_t k = i;
    while (k < tag.size() && is_space(tag[k])) ++k;
    if (k == tag.size()) break;
    if (k == i) fail("malformed attributes in part '" + part_ + "'");
    std::size_t e = k;
    while (e < tag.size() && !ends_name(tag[e])) ++e;
    const std::string_view aname = tag.substr(k, e - k);
    while (e < tag.size() && is_space(tag[e])) ++e;
    if (aname.empty() || e >= tag.size() || tag[e] != '=') fail("malformed attributes in part '" + part_ + "'");
    ++e;
    while (e < tag.size() && is_space(tag[e])) ++e;
    if (e >= tag.size() || (tag[e] != '"' && tag[e] != '\'')) fail("malformed attributes in part '" + part_ + "'");
    const std::size_t vend = tag.find(tag[e], e + 1);
    if (vend == std::string_view::npos) fail("malformed attributes in part '" + part_ + "'");
    for (const auto& seen : names)
      if (seen == aname) fail("a repeated attribute in part '" + part_ + "'");
    names.push_back(aname);
    if (values_.size() <= n) values_.emplace_back();
    views_.push_back(decode(tag.substr(e + 1, vend - e - 1), values_[n], true));
    ++n;
    i = vend + 1;
  }
  if (root_done_) fail("content after the document element in part '" + part_ + "'");
  if (scope_.open.size() >= wb_max_xml_depth)
    fail("XML nesting deeper than " + std::to_string(wb_max_xml_depth) + " levels in '" + part_ + "'");
  // Namespace declarations are no attributes of the element; they hold for it and inside it.
  bool binds = false;
  for (std::size_t a = 0; a < names.size(); ++a) {
    const auto nm = names[a];
    if (nm == "xmlns") bind({}, views_[a]);
    else if (nm.substr(0, 6) == "xmlns:") bind(nm.substr(6), views_[a]);
    else continue;
    binds = true;
  }
  for (std::size_t a = 0; a < names.size(); ++a) {
    const auto nm = names[a];
    if (nm == "xmlns" || nm.substr(0, 6) == "xmlns:") continue;
    // An unprefixed attribute is in no namespace, whatever the default one.
    const auto colon = nm.find(':');
    if (colon == std::string_view::npos) attrs_.push_back({wb_xml_ns::none, nm, views_[a]});
    else attrs_.push_back({resolve(nm.substr(0, colon)), nm.substr(colon + 1), views_[a]});
  }
  const auto colon = qname.find(':');
  const wb_xml_name name = colon == std::string_view::npos
                               ? wb_xml_name{default_ns_, qname}
                               : wb_xml_name{resolve(qname.substr(0, colon)), qname.substr(colon + 1)};
  handler_.start(name, attrs_);
  if (empty) {
    if (scope_.open.empty()) root_done_ = true;
    handler_.end(name);
    if (binds) unbind();
  } else {
    scope_.open.emplace_back(qname);
    scope_.open_ns.push_back(name.ns);
  }
}

void wb_sheet_scanner::end_tag() {
  // An end tag is short: look for its '>' in what is read before asking for more.
  std::size_t close = pos_ + 2;
  while (close < buf_.size() && buf_[close] != '>') ++close;
  if (close == buf_.size()) close = find(">", pos_);
  if (close == std::string_view::npos) fail("an unterminated tag in part '" + part_ + "'");
  std::string_view tag(buf_.data() + pos_ + 2, close - pos_ - 2);
  while (!tag.empty() && is_space(tag.back())) tag.remove_suffix(1);
  if (scope_.open.empty() || tag != scope_.open.back()) fail("mismatched tag in part '" + part_ + "'");
  pos_ = close + 1;
  const std::string qname = std::move(scope_.open.back());
  const wb_xml_name name{scope_.open_ns.back(), local(qname)};
  scope_.open.pop_back();
  scope_.open_ns.pop_back();
  if (scope_.open.empty()) root_done_ = true;
  handler_.end(name);
  unbind();
}

void wb_sheet_scanner::text() {
  std::size_t lt = std::string_view(buf_).find('<', pos_);
  while (lt == std::string_view::npos) {
    // Hand long text out in pieces, but never split a reference or a "\r\n".
    std::size_t cut = buf_.size();
    const std::size_t amp = std::string_view(buf_).rfind('&');
    if (amp != std::string_view::npos && amp >= pos_ && buf_.find(';', amp) == std::string::npos) cut = amp;
    if (cut > pos_ && buf_[cut - 1] == '\r') --cut;
    if (cut > pos_ && cut == buf_.size()) {
      // Do not split a UTF-8 sequence either.
      std::size_t k = cut;
      while (k > pos_ && (static_cast<unsigned char>(buf_[k - 1]) & 0xC0) == 0x80) --k;
      if (k > pos_ && static_cast<unsigned char>(buf_[k - 1]) >= 0xC0) cut = k - 1;
    }
    if (cut - pos_ >= chunk) {
      const std::string_view raw(buf_.data() + pos_, cut - pos_);
      if (scope_.open.empty() && raw.find_first_not_of(" \t\r\n") != std::string_view::npos)
        fail("text outside the document element in part '" + part_ + "'");
      const std::string_view decoded = decode(raw, text_, false);
      if (!scope_.open.empty()) handler_.text(decoded);
      pos_ = cut;
    }
    if (!fill(buf_.size() - pos_ + 1)) {
      lt = buf_.size();
      break;
    }
    lt = std::string_view(buf_).find('<', pos_);
  }
  const std::string_view raw(buf_.data() + pos_, lt - pos_);
  if (scope_.open.empty()) {
    if (raw.find_first_not_of(" \t\r\n") != std::string_view::npos)
      fail("text outside the document element in part '" + part_ + "'");
    pos_ = lt;
    return;
  }
  const std::string_view decoded = decode(raw, text_, false);
  handler_.text(decoded);
  pos_ = lt;
}

void wb_sheet_scanner::cdata() {
  const std::size_t end = find("]]>", pos_ + 9);
  if (end == std::string_view::npos) fail("an unterminated CDATA section in part '" + part_ + "'");
  if (scope_.open.empty()) fail("CDATA outside the document element in part '" + part_ + "'");
  const std::string_view raw(buf_.data() + pos_ + 9, end - pos_ - 9);
  check_utf8(raw);
  text_.clear();
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') {
      text_ += '\n';
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    } else {
      text_ += raw[i];
    }
  }
  pos_ = end + 3;
  handler_.text(text_);
}

bool wb_sheet_scanner::run() {
  if (!started_) {
    started_ = true;
    fill(3);
    if (buf_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
  }
  for (;;) {
    if (base_ + pos_ >= next_stop_ && stops_->reached(*this, base_ + pos_)) {
      stopped_ = true;
      return false;
    }
    if (!fill(1)) break;
    if (buf_[pos_] != '<') {
      text();
      continue;
    }
    if (!fill(2)) fail("malformed XML in part '" + part_ + "' (a lone '<' at the end)");
    const char next = buf_[pos_ + 1];
    if (next == '/') {
      end_tag();
    } else if (next == '?') {
      skip_past("?>", "processing instruction");
      continue;
    } else if (next == '!') {
      fill(9);
      const std::string_view head(buf_.data() + pos_, std::min<std::size_t>(9, buf_.size() - pos_));
      if (head.substr(0, 4) == "<!--") skip_past("-->", "comment");
      else if (head == "<![CDATA[") cdata();
      else fail("part '" + part_ + "' holds a document type declaration");
      continue;
    } else {
      element();
    }
    if (suspended_) {
      suspended_ = false;
      return true;
    }
  }
  if (!scope_.open.empty() || !root_done_) fail("malformed XML in part '" + part_ + "' (no element found or unclosed)");
  return false;
}
