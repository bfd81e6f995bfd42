#pragma once
// A compiler of a small subset of ActionScript 1 and 2 into AVM1 actions, so
// that movies built with the SWF writer can carry readable source.
//
// The subset:
//   statements   var, function, if / else, while, for (;;), return, break,
//                continue, blocks, expression statements, and as statements
//                only: = += -= *= /= on a name, member or element, ++ and --
//   expressions  numbers (decimal, 0x hex), strings ("..." or '...' with
//                \n \r \t \\ \" \' \uXXXX), true false null undefined this,
//                names, a.b, a[b], calls, new, function expressions, array
//                and object literals, ! - typeof, * / %, + -, < > <= >=,
//                == != === !==, && || (short-circuit), ?:
//   built-ins    fscommand(command, args), trace(value) and getTimer(), as
//                the player's own compilers write them
// Calls evaluate their arguments from the last to the first, as the
// player's own compilers do. Function declarations are hoisted to the top
// of their body. `var` defines a local inside a function and a timeline
// variable outside one.

#include <stdexcept>
#include <string>
#include <string_view>

#include "swf/avm1.h"

namespace zept::swf {

// Anything outside the subset, with the line it is on: "line 3: ...".
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The actions of the script, without ActionEnd (Assembler::bytes adds it).
Assembler CompileScript(std::string_view source);

}  // namespace zept::swf
