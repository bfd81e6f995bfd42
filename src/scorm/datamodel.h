#pragma once
// The SCORM 1.2 cmi data model as one table: each element pattern with its
// access, type or vocabulary and its limits, strict and lenient. One parser
// finds an element's row, one validator checks a value against it.

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zept::scorm {

enum class Access : std::uint8_t { kReadOnly, kWriteOnly, kReadWrite };

enum class DataType : std::uint8_t {
  kString,      // CMIString255 / CMIString4096: the limits say which
  kIdentifier,  // CMIIdentifier
  kDecimal,     // CMIDecimal, within the row's range
  kSInteger,    // CMISInteger, within the row's range
  kTimespan,    // CMITimespan, HHHH:MM:SS.SS
  kTime,        // CMITime, HH:MM:SS.SS
  kFeedback,    // CMIFeedback, in the format of the interaction's type
  kVocabulary,  // one of the row's words
  kResult,      // one of the row's words or a CMIDecimal
  // The keywords: read-only, never set (402).
  kChildren,  // the row's text
  kCount,     // the array's length
  kVersion,   // the row's text
};

struct ElementRule {
  std::string_view pattern;  // "cmi.objectives.n.id": n stands for an index
  Access access;
  DataType type;
  // Characters (UTF-16 code units, as the page counts them).
  std::uint32_t strictLength;
  std::uint32_t lenientLength;
  std::span<const std::string_view> words = {};
  bool blank = false;  // "" is a value too (CMIBlank)
  double min = -std::numeric_limits<double>::infinity();
  double max = std::numeric_limits<double>::infinity();
  std::string_view text = {};  // what _children and _version give
};

// Every row of the model, in the order the standard lists the elements.
std::span<const ElementRule> DataModelRules();

// Where an element name leads. An element reaches at most two arrays
// (cmi.interactions.n.correct_responses.n.pattern).
struct ParsedElement {
  enum class Fault : std::uint8_t {
    kNone,
    kUnknown,     // not in the model (401)
    kBadIndex,    // an index that is not a plain number (201)
    kNoChildren,  // _children of an element without children (202)
    kNotAnArray,  // _count of an element that is not an array (203)
  };
  Fault fault = Fault::kUnknown;
  const ElementRule* rule = nullptr;
  int indexCount = 0;
  int index[2] = {0, 0};
  // The element's text before ".index": the array's name
  // ("cmi.interactions.0.objectives").
  std::size_t arrayEnd[2] = {0, 0};
  // kNoChildren / kNotAnArray also when the element is being set: a keyword
  // is never set whatever it names.
  bool keyword = false;
};

// No regular expressions: the table is compiled once into a tree of names.
ParsedElement ParseElement(std::string_view element);

// The verdict on a value for a row. strictOk implies lenientOk.
struct Verdict {
  bool strictOk = true;
  bool lenientOk = true;
  // Why the standard refuses it, when !strictOk.
  std::string reason;
  // Why the lenient limits refuse it too, when !lenientOk.
  std::string lenientReason;
};

// interactionType: the type set for the interaction a CMIFeedback belongs
// to ("" when none is set: any text within the limits).
Verdict CheckValue(const ElementRule& rule, std::string_view value,
                   std::string_view interactionType = {});

// UTF-16 code units of UTF-8 text, exact for valid UTF-8 (values are
// repaired before they are counted).
std::size_t Utf16Length(std::string_view utf8);
// The text with every invalid UTF-8 sequence replaced by U+FFFD; nullopt when
// it is valid already (the usual case, which copies nothing).
std::optional<std::string> RepairUtf8(std::string_view text);

// A CMITimespan in hundredths of a second, read as the lenient validator
// accepts it (more decimals are cut); nullopt when it is none.
std::optional<std::int64_t> ParseTimespan(std::string_view text);
// HHHH:MM:SS or HHHH:MM:SS.SS; past 9999 hours it stays at 9999:59:59.99,
// the largest the type can hold.
std::string FormatTimespan(std::int64_t hundredths);
// A CMIDecimal as a number; nullopt when it is none.
std::optional<double> ParseDecimal(std::string_view text);

// The standard text of an error code ("" for a code it does not define).
std::string_view ErrorString(int code);

// The SCORM 1.2 element to use for a SCORM 2004 name, or a sentence saying
// SCORM 1.2 has none; nullopt for a name that is not SCORM 2004.
std::optional<std::string> Scorm2004Hint(std::string_view element);

}  // namespace zept::scorm
