#pragma once
// Whether a statement is one xAPI 1.0.3 lets an LRS take: every property
// known and of its type, actors with exactly one identifier, ids UUIDs,
// IRIs absolute, timestamps and durations ISO 8601, scores in range, the
// context's rules. Pure; the LRS answers 400 with the reason.

#include <string>
#include <string_view>

#include "xapi/json.h"

namespace zept::xapi {

// Why statement is invalid, naming the property ("actor.mbox: ..."); ""
// when it is valid. dataMayCome: an attachment may lack a fileUrl, its
// data coming with the request.
std::string StatementFault(const JsonValue& statement,
                           bool dataMayCome = false);

// The formats the statement's properties and the LRS's query parameters
// share.
bool IsUuid(std::string_view text);
bool IsIri(std::string_view text);
bool IsTimestamp(std::string_view text);
// strict: as IsTimestamp; otherwise also without a zone (then UTC) and
// with a lower-case 't' or 'z', as a query's since and until are taken.
bool IsTimestampShape(std::string_view text, bool strict);
bool IsDuration(std::string_view text);
bool IsLanguageTag(std::string_view text);
// An Agent or Group as an actor (or a query's agent): "" when valid.
std::string ActorFault(const JsonValue& actor);

}  // namespace zept::xapi
