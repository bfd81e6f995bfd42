#pragma once
// The SCORM 2004 cmi and adl data model as one table: each element pattern
// with its access, type or vocabulary, range and limits, strict and lenient.
// One parser finds an element's row, one validator checks a value against it.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace zept::scorm2004 {

enum class Access : std::uint8_t { kReadOnly, kWriteOnly, kReadWrite };

enum class DataType : std::uint8_t {
  kCharacterString,
  kLocalizedString,  // an optional {lang=tag} before the text
  kIdentifier,       // long_identifier_type: no blanks, never empty
  kReal,             // real(10,7) within the row's range (407 outside)
  kTimeInterval,     // ISO 8601 duration
  kTime,             // ISO 8601 timestamp
  kVocabulary,       // one of the row's words
  kLanguage,         // a language tag or ""
  kResponse,         // learner_response, in the interaction type's format
  kPattern,          // a correct response pattern, likewise
  kResult,           // one of the row's words or a real
  kNavRequest,       // a navigation request, {target=ID}choice and jump too
  kNavValid,         // request_valid.*: the player answers
  // The keywords: read-only, never set (404).
  kChildren,  // the row's text
  kCount,     // the array's length
  kVersion,   // the row's text
};

struct ElementRule {
  std::string_view pattern;  // "cmi.objectives.n.id": n stands for an index
  Access access;
  DataType type;
  // Characters (UTF-16 code units, as the page counts them): the smallest
  // maximum the standard has every runtime keep, and what this one keeps.
  std::uint32_t spm;
  std::uint32_t lenientLength;
  std::span<const std::string_view> words = {};
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
    kUnknown,     // not in the model, or an index that is not a number
    kBadIndex,    // a number with leading zeros: no record has it
    kNoChildren,  // _children of an element without children
    kNotAnArray,  // _count of an element that is not an array
  };
  Fault fault = Fault::kUnknown;
  const ElementRule* rule = nullptr;
  int indexCount = 0;
  int index[2] = {0, 0};
  // The element's text before ".index": the array's name
  // ("cmi.interactions.0.objectives").
  std::size_t arrayEnd[2] = {0, 0};
  // A name ending in _children, _count or _version.
  bool keyword = false;
  // adl.nav.request_valid.choice.{target=ID} and jump: the ID.
  std::string target;
};

// No regular expressions: the table is compiled once into a tree of names.
ParsedElement ParseElement(std::string_view element);

// The verdict on a value for a row: 0, 406 (not of the type), 407 (out of
// the range) or 351 (longer than this runtime keeps), for a strict and a
// lenient runtime. A strict refusal that the lenient one accepts is a
// leniency. Past the SPM is no fault (a runtime may keep more, and the
// conformance tests store more) but content relying on it is told.
struct Verdict {
  int strictCode = 0;
  int lenientCode = 0;
  std::string reason;         // why, when strictCode != 0
  std::string lenientReason;  // why, when lenientCode != 0
  bool pastSpm = false;
  std::string spmReason;
};

// interactionType: the type of the interaction a response or pattern
// belongs to (the runtime refuses one before the type is set).
Verdict CheckValue(const ElementRule& rule, std::string_view value,
                   std::string_view interactionType = {});

// A learner response (pattern false) or a correct response pattern of an
// interaction type, in the standard's format with its per-item limits.
bool IsResponseFormat(std::string_view type, std::string_view value,
                      bool pattern);
// How many correct response patterns an interaction type has: exactly one
// for some types; the least every runtime keeps for the others.
int CorrectResponsesLimit(std::string_view type);
bool HasOnePattern(std::string_view type);

// A language tag (en, en-US, i-klingon, x-private); "" is none.
bool IsLanguageTag(std::string_view tag);

// The standard text of an error code ("" for a code it does not define).
std::string_view ErrorString(int code);

}  // namespace zept::scorm2004
