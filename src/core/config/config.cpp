#include "core/config/config.hpp"

#include <rapidjson/reader.h>

#include <optional>
#include <string_view>
#include <utility>

#include "core/config/number_text.hpp"
#include "platform/debug_form.hpp"

namespace brevlo {

Error parse_error(std::string_view message, std::size_t line, std::size_t column) {
  const std::string where_line = std::to_string(line);
  const std::string where_column = std::to_string(column);
  return Error::with_forms(
      ErrorKind::InvalidData,
      std::string(message) + " at line " + where_line + " column " + where_column,
      "Error(" + quoted_form(message) + ", line: " + where_line + ", column: " + where_column + ")");
}

namespace {

constexpr std::string_view kMainBinaryName = "mainBinaryName";
constexpr std::string_view kProductName = "productName";
constexpr std::string_view kRecordName = "struct GameConfig";
constexpr std::string_view kRecordWithElements = "struct GameConfig with 2 elements";
constexpr std::string_view kAString = "a string";

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The document as RapidJSON reads it: a span without a terminator. The reader takes '\0' as the
// end of its input, so Peek gives '\0' past the last byte; a NUL byte inside the span reads the
// same way, and the caller then finds that the reader stopped before the end.
//
// RapidJSON would also judge what the document leaves open: how large a number is, and what a \u
// escape in a skipped value stands for. The stream hides both from it, while every position it
// reports (Tell) stays the document's own:
// - Outside strings, a run of digits that starts with 1-9 reads as its first digit alone (1e400
//   reads as 1e4), so the reader checks each number's form but never meets one out of its range.
//   The record takes a number it looks at from the document (number_before).
// - Inside a skipped value, the first hex digit of a \u escape reads as 0: the reader checks the
//   escape's four hex digits but never meets a surrogate, paired or not.
class SpanStream {
 public:
  using Ch = char;

  explicit SpanStream(std::span<const char> text) : text_(text) {}

  Ch Peek() const { return pos_ < text_.size() ? shown(text_[pos_]) : '\0'; }
  Ch Take() {
    if (pos_ >= text_.size()) return '\0';
    const Ch taken = shown(text_[pos_]);
    follow(text_[pos_++]);
    return taken;
  }
  std::size_t Tell() const { return pos_; }

  // Set from the start of a skipped value to its end, both outside strings.
  void set_skipping(bool skipping) { skipping_ = skipping; }

  // Only in-place parsing writes to its input stream; this reader never does.
  Ch* PutBegin() {
    RAPIDJSON_ASSERT(false);
    return nullptr;
  }
  void Put(Ch) { RAPIDJSON_ASSERT(false); }
  void Flush() { RAPIDJSON_ASSERT(false); }
  std::size_t PutEnd(Ch*) {
    RAPIDJSON_ASSERT(false);
    return 0;
  }

 private:
  // Where the last byte taken left the text: outside strings, inside one, just past a backslash
  // in one, or just past the "\u" of an escape.
  enum class Place { outside, string, escape, first_hex };

  static bool is_digit(Ch c) { return c >= '0' && c <= '9'; }
  static bool is_hex(Ch c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  }

  Ch shown(Ch c) const { return skipping_ && place_ == Place::first_hex && is_hex(c) ? '0' : c; }

  void follow(Ch c) {
    switch (place_) {
      case Place::outside:
        if (c == '"') {
          place_ = Place::string;
        } else if (c >= '1' && c <= '9') {
          while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
        }
        break;
      case Place::string:
        if (c == '\\') place_ = Place::escape;
        if (c == '"') place_ = Place::outside;
        break;
      case Place::escape:
        place_ = c == 'u' ? Place::first_hex : Place::string;
        break;
      case Place::first_hex:
        place_ = Place::string;
        break;
    }
  }

  std::span<const char> text_;
  std::size_t pos_ = 0;
  Place place_ = Place::outside;
  bool skipping_ = false;
};

// A fault and the offset of the point it is reported at.
struct Fault {
  std::string message;
  std::size_t point = 0;
};

// Line and column of a point: the column counts bytes from the start of the line, so a carriage
// return is a byte like any other.
Error at_point(std::span<const char> text, const Fault& fault) {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < fault.point; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return parse_error(fault.message, line, fault.point - line_start);
}

std::size_t skip_whitespace(std::span<const char> text, std::size_t pos) {
  while (pos < text.size() && is_json_whitespace(text[pos])) ++pos;
  return pos;
}

// The point just past the byte at pos, or the end when the text ended there.
std::size_t past_byte(std::span<const char> text, std::size_t pos) {
  return pos < text.size() ? pos + 1 : text.size();
}

// The last byte before pos that is not whitespace, or '\0' when there is none.
char last_byte_before(std::span<const char> text, std::size_t pos) {
  while (pos > 0 && is_json_whitespace(text[pos - 1])) --pos;
  return pos > 0 ? text[pos - 1] : '\0';
}

// True when the bytes just before pos begin a literal that the byte at pos breaks off.
bool breaks_literal(std::span<const char> text, std::size_t pos) {
  for (std::string_view literal : {"null", "true", "false"}) {
    for (std::size_t n = 1; n < literal.size() && n <= pos; ++n) {
      if (std::string_view(text.data() + pos - n, n) == literal.substr(0, n)) return true;
    }
  }
  return false;
}

// The number that ends at end, as the document writes it.
std::string_view number_before(std::span<const char> text, std::size_t end) {
  constexpr std::string_view kNumberBytes = "+-.0123456789eE";
  std::size_t start = end;
  while (start > 0 && kNumberBytes.find(text[start - 1]) != std::string_view::npos) --start;
  return {text.data() + start, end - start};
}

// The words for a value RapidJSON could not read at pos.
std::string_view invalid_value_words(std::span<const char> text, std::size_t pos) {
  if (pos >= text.size()) {
    return last_byte_before(text, pos) == '[' ? "EOF while parsing a list"
                                              : "EOF while parsing a value";
  }
  if (text[pos] == ']' && last_byte_before(text, pos) == ',') return "trailing comma";
  if (breaks_literal(text, pos)) return "expected ident";
  if (pos > 0 && text[pos - 1] == '-') return "invalid number";
  return "expected value";
}

// The words for an object member whose name RapidJSON did not find at pos.
std::string_view missing_name_words(std::span<const char> text, std::size_t pos) {
  if (pos >= text.size()) {
    // After a comma the text owes a whole member, as an array owes a value after one.
    return last_byte_before(text, pos) == ',' ? "EOF while parsing a value"
                                              : "EOF while parsing an object";
  }
  if (text[pos] == '}' && last_byte_before(text, pos) == ',') return "trailing comma";
  return "key must be a string";
}

// Words and point for a fault that RapidJSON reported. `offset` is RapidJSON's own error offset
// and `pos` the stream position where it stopped: for most faults the byte it was looking at,
// not yet taken. A fault met at `pos` is reported just past that byte, or at the end of the text.
Fault reader_fault(std::span<const char> text, rapidjson::ParseErrorCode code, std::size_t offset,
                   std::size_t pos) {
  const bool at_end = pos >= text.size();
  const std::size_t here = past_byte(text, pos);
  const auto fault = [&](std::string_view message) { return Fault{std::string(message), here}; };
  const auto eof_or = [&](std::string_view eof_message, std::string_view message) {
    return fault(at_end ? eof_message : message);
  };
  constexpr std::string_view kControl =
      "control character (\\u0000-\\u001F) found while parsing a string";

  switch (code) {
    case rapidjson::kParseErrorDocumentEmpty:
      return eof_or("EOF while parsing a value", "expected value");
    case rapidjson::kParseErrorDocumentRootNotSingular:
      return fault("trailing characters");
    case rapidjson::kParseErrorValueInvalid:
      return fault(invalid_value_words(text, pos));
    case rapidjson::kParseErrorObjectMissName:
      return fault(missing_name_words(text, pos));
    case rapidjson::kParseErrorObjectMissColon:
      return eof_or("EOF while parsing an object", "expected `:`");
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
      return eof_or("EOF while parsing an object", "expected `,` or `}`");
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
      return eof_or("EOF while parsing a list", "expected `,` or `]`");
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
      return eof_or("EOF while parsing a string", "invalid escape");
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
      // offset is the backslash of the leading surrogate. Either no "\u" follows it (the reader
      // stopped at the byte that is not one), or the whole second escape was read and is not a
      // trailing surrogate: then the fault is found at its last digit.
      if (pos == offset + 12) return Fault{"lone leading surrogate in hex escape", pos};
      return eof_or("EOF while parsing a string", "lone leading surrogate in hex escape");
    case rapidjson::kParseErrorStringEscapeInvalid:
      // Reported at the backslash for a bad escape (the reader stands on the byte after it), at
      // the byte itself for a raw control character.
      if (offset < pos) return eof_or("EOF while parsing a string", "invalid escape");
      return fault(kControl);
    case rapidjson::kParseErrorStringMissQuotationMark:
      return eof_or("EOF while parsing a string", kControl);
    case rapidjson::kParseErrorStringInvalidEncoding:
      // offset is the first byte of the character that is not UTF-8.
      return Fault{"invalid unicode code point", past_byte(text, offset)};
    case rapidjson::kParseErrorNumberMissFraction:
    case rapidjson::kParseErrorNumberMissExponent:
      return eof_or("EOF while parsing a value", "invalid number");
    default:
      return fault("invalid JSON");
  }
}

// A string that came out of escapes may hold a trailing surrogate that no leading one preceded
// (the reader encodes it as ED B0..BF xx); such a text is not Unicode and cannot be kept.
bool holds_lone_surrogate(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xED &&
        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0xA0) {
      return true;
    }
  }
  return false;
}

// Receives the reader's events and builds the record. Returning false stops the reader; the
// handler then holds either its own fault or, in the array form, the fact that the second element
// was read and the rest of the text is left to check.
class ConfigHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ConfigHandler> {
 public:
  ConfigHandler(std::span<const char> text, SpanStream& stream) : text_(text), stream_(stream) {}

  bool Null() { return other_scalar("null"); }
  bool Bool(bool value) { return other_scalar(value ? "boolean `true`" : "boolean `false`"); }
  // The reader saw the number with its digit runs cut short; the value comes from the document.
  bool RawNumber(const char*, rapidjson::SizeType, bool) {
    if (!reads_value()) return skipped();
    const std::optional<std::string> found = describe_number(number_before(text_, stream_.Tell()));
    // Out of range is known only once the last digit is read: the point is just past the number.
    if (!found) return fail("number out of range", stream_.Tell());
    return other_scalar(*found);
  }
  bool String(const char* chars, rapidjson::SizeType length, bool) {
    if (!reads_value()) return skipped();
    const std::string_view value(chars, length);
    if (holds_lone_surrogate(value)) {
      return fail("lone trailing surrogate in hex escape", stream_.Tell());
    }
    if (depth_ == 0) return invalid_type("string " + quoted_form(value), kRecordName);
    if (form_ == Form::array) {
      (elements_ == 0 ? main_binary_name_ : product_name_) = std::string(value);
      if (++elements_ == 2) {
        array_read_ = true;
        return false;
      }
      return true;
    }
    (pending_ == Field::main_binary_name ? main_binary_name_ : product_name_) = std::string(value);
    return true;
  }
  bool StartObject() { return container("map", Form::object); }
  bool StartArray() { return container("sequence", Form::array); }

  bool Key(const char* chars, rapidjson::SizeType length, bool) {
    if (depth_ != 1) return true;
    const std::string_view key(chars, length);
    // A key of the record is decoded to be compared, and like a value read it must be Unicode.
    if (holds_lone_surrogate(key)) {
      return fail("lone trailing surrogate in hex escape", stream_.Tell());
    }
    pending_ = key == kMainBinaryName ? Field::main_binary_name
               : key == kProductName  ? Field::product_name
                                      : Field::none;
    stream_.set_skipping(pending_ == Field::none);
    if (pending_ == Field::none) return true;
    bool& seen = seen_[pending_ == Field::main_binary_name ? 0 : 1];
    if (seen) {
      // The repeated member's value is not read.
      return fail("duplicate field `" + std::string(key) + "`",
                  skip_whitespace(text_, stream_.Tell()));
    }
    seen = true;
    return true;
  }

  // The reader calls the End events before it takes the closing bracket.
  bool EndObject(rapidjson::SizeType) {
    if (--depth_ != 0) return skipped();
    const std::size_t past_brace = stream_.Tell() + 1;
    // mainBinaryName is tested first: when both are absent, only it is named.
    if (!main_binary_name_) return missing(kMainBinaryName, past_brace);
    if (!product_name_) return missing(kProductName, past_brace);
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    if (--depth_ != 0) return skipped();
    return fail("invalid length " + std::to_string(elements_) + ", expected " +
                    std::string(kRecordWithElements),
                stream_.Tell() + 1);
  }

  const std::optional<Fault>& fault() const { return fault_; }
  bool array_read() const { return array_read_; }
  GameConfig record() && {
    return GameConfig{std::move(*main_binary_name_), std::move(*product_name_)};
  }

 private:
  enum class Form { none, object, array };
  enum class Field { none, main_binary_name, product_name };

  // True when the value now being read is one the record looks at: the top-level value, the value
  // of a known key, or an element of the array form.
  bool reads_value() const {
    if (depth_ == 0) return true;
    if (depth_ != 1) return false;
    return form_ == Form::array || pending_ != Field::none;
  }

  // A value the record does not look at has been read; back at depth 1, a skipped value has ended.
  bool skipped() {
    if (depth_ == 1) stream_.set_skipping(false);
    return true;
  }

  bool fail(std::string message, std::size_t point) {
    fault_ = Fault{std::move(message), point};
    return false;
  }

  bool missing(std::string_view key, std::size_t point) {
    return fail("missing field `" + std::string(key) + "`", point);
  }

  bool invalid_type(std::string_view found, std::string_view what) {
    // For a scalar the reader stands just past it; for an array or object, on its opening bracket.
    return fail("invalid type: " + std::string(found) + ", expected " + std::string(what),
                stream_.Tell());
  }

  // A value that is neither a string nor an array or object.
  bool other_scalar(std::string_view found) {
    if (!reads_value()) return skipped();
    return invalid_type(found, depth_ == 0 ? kRecordName : kAString);
  }

  bool container(std::string_view found, Form form) {
    if (depth_ == 0) {
      form_ = form;
    } else if (reads_value()) {
      return invalid_type(found, kAString);
    }
    ++depth_;
    return true;
  }

  std::span<const char> text_;
  SpanStream& stream_;
  Form form_ = Form::none;
  std::size_t depth_ = 0;
  Field pending_ = Field::none;
  bool seen_[2] = {false, false};
  std::size_t elements_ = 0;
  std::optional<std::string> main_binary_name_;
  std::optional<std::string> product_name_;
  bool array_read_ = false;
  std::optional<Fault> fault_;
};

// What may follow the second element of the array form: whitespace, "]", whitespace, the end.
std::optional<Fault> array_tail_fault(std::span<const char> text, std::size_t pos) {
  pos = skip_whitespace(text, pos);
  if (pos == text.size()) return Fault{"EOF while parsing a list", pos};
  if (text[pos] == ',') {
    const std::size_t next = skip_whitespace(text, pos + 1);
    if (next < text.size() && text[next] == ']') return Fault{"trailing comma", next + 1};
    return Fault{"trailing characters", past_byte(text, next)};
  }
  if (text[pos] != ']') return Fault{"trailing characters", pos + 1};
  pos = skip_whitespace(text, pos + 1);
  if (pos != text.size()) return Fault{"trailing characters", pos + 1};
  return std::nullopt;
}

}  // namespace

Result<GameConfig> parse_game_config(std::span<const char> text) {
  // Iterative: nesting of any depth costs heap, not stack. Numbers as raw text: integers, other
  // numbers and minus zero are told apart in the record's messages.
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseValidateEncodingFlag;
  SpanStream stream(text);
  ConfigHandler handler(text, stream);
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, handler);

  if (handler.fault()) return std::unexpected(at_point(text, *handler.fault()));
  if (handler.array_read()) {
    if (auto fault = array_tail_fault(text, stream.Tell())) {
      return std::unexpected(at_point(text, *fault));
    }
    return std::move(handler).record();
  }
  if (result.IsError()) {
    return std::unexpected(
        at_point(text, reader_fault(text, result.Code(), result.Offset(), stream.Tell())));
  }
  // The reader ends at the first NUL byte as if the text ended there.
  if (stream.Tell() != text.size()) {
    return std::unexpected(at_point(text, Fault{"trailing characters", stream.Tell() + 1}));
  }
  return std::move(handler).record();
}

}  // namespace brevlo
