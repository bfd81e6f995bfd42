// The ActionScript compiler: each construct against the actions a hand
// would write for it with the assembler, and the errors it refuses with.
// What the actions then do in a player is checked by the window tests.

#include "swf/script.h"

#include <gtest/gtest.h>

namespace zept::swf {
namespace {

std::vector<std::uint8_t> Compiled(std::string_view source) {
  return CompileScript(source).bytes();
}

std::string ErrorOf(std::string_view source) {
  try {
    CompileScript(source);
  } catch (const ScriptError& e) {
    return e.what();
  }
  return "no error";
}

TEST(Script, AssignmentsCallsAndMembers) {
  Assembler a;
  a.pushString("x").pushInt(1).setVariable();
  // f(a, "b"): arguments from the last to the first, then their count.
  a.pushString("b").pushString("a").getVariable().pushInt(2);
  a.pushString("f").callFunction().pop();
  // o.p.q = 2.5
  a.pushString("o").getVariable().pushString("p").getMember();
  a.pushString("q").pushNumber(2.5).setMember();
  // o["k" + i](): a method found by an expression.
  a.pushInt(0).pushString("o").getVariable();
  a.pushString("k").pushString("i").getVariable().add2();
  a.callMethod().pop();
  // n += 2; n++;
  a.pushString("n").pushString("n").getVariable().pushInt(2).add2();
  a.setVariable();
  a.pushString("n").pushString("n").getVariable().increment().setVariable();
  EXPECT_EQ(Compiled("x = 1;\n"
                     "f(a, 'b');\n"
                     "o.p.q = 2.5;\n"
                     "o[\"k\" + i]();\n"
                     "n += 2; n++;"),
            a.bytes());
}

TEST(Script, NewLiteralsAndOperators) {
  Assembler a;
  // var list = [1, -2];
  a.pushString("list").pushInt(-2).pushInt(1).pushInt(2).initArray();
  a.setVariable();
  // var o = {a: true, "b c": null};
  a.pushString("o").pushString("a").pushBool(true).pushString("b c");
  a.pushNull().pushInt(2).initObject().setVariable();
  // new XML(t); new flash.geom.Point();
  a.pushString("t").getVariable().pushInt(1).pushString("XML").newObject();
  a.pop();
  a.pushInt(0).pushString("flash").getVariable().pushString("geom");
  a.getMember().pushString("Point").newMethod().pop();
  // y = a <= b != !c;
  a.pushString("y").pushString("a").getVariable().pushString("b");
  a.getVariable().greater().not_().pushString("c").getVariable().not_();
  a.equals2().not_().setVariable();
  // z = typeof u === "undefined";
  a.pushString("z").pushString("u").getVariable().typeOf();
  a.pushString("undefined").strictEquals().setVariable();
  EXPECT_EQ(Compiled("var list = [1, -2];\n"
                     "var o = {a: true, \"b c\": null};\n"
                     "new XML(t); new flash.geom.Point();\n"
                     "y = a <= b != !c;\n"
                     "z = typeof u === \"undefined\";"),
            a.bytes());
}

TEST(Script, ShortCircuitKeepsTheDecidingValue) {
  Assembler a;
  const auto end = a.newLabel();
  a.pushString("r").pushString("a").getVariable().pushDuplicate().not_();
  a.ifTrue(end).pop().pushString("b").getVariable().bind(end).setVariable();
  const auto yes = a.newLabel(), done = a.newLabel();
  a.pushString("s").pushString("c").getVariable().ifTrue(yes).pushInt(2);
  a.jump(done).bind(yes).pushInt(1).bind(done).setVariable();
  EXPECT_EQ(Compiled("r = a && b; s = c ? 1 : 2;"), a.bytes());
}

TEST(Script, ControlFlow) {
  Assembler a;
  // if (a) x = 1; else x = 2;
  const auto otherwise = a.newLabel(), end = a.newLabel();
  a.pushString("a").getVariable().not_().ifTrue(otherwise);
  a.pushString("x").pushInt(1).setVariable().jump(end).bind(otherwise);
  a.pushString("x").pushInt(2).setVariable().bind(end);
  // for (i = 0; i < 3; i++) { if (i == 1) continue; break; }
  const auto top = a.newLabel(), next = a.newLabel(), out = a.newLabel();
  const auto skip = a.newLabel();
  a.pushString("i").pushInt(0).setVariable().bind(top);
  a.pushString("i").getVariable().pushInt(3).less2().not_().ifTrue(out);
  a.pushString("i").getVariable().pushInt(1).equals2().not_().ifTrue(skip);
  a.jump(next).bind(skip).jump(out);
  a.bind(next).pushString("i").pushString("i").getVariable().increment();
  a.setVariable().jump(top).bind(out);
  EXPECT_EQ(
      Compiled("if (a) x = 1; else x = 2;\n"
               "for (i = 0; i < 3; i++) { if (i == 1) continue; break; }"),
      a.bytes());
}

TEST(Script, FunctionsAreHoistedAndKeepTheirLocals) {
  Assembler body;
  body.pushString("t").pushString("p").getVariable().defineLocal();
  body.pushString("u").defineLocal2();
  body.pushString("t").getVariable().return_();
  Assembler handler;
  handler.pushUndefined().return_();
  Assembler a;
  a.defineFunction("f", {"p"}, body);
  a.pushInt(0).pushString("f").callFunction().pop();
  a.pushString("clip").getVariable().pushString("onRelease");
  a.defineFunction("", {}, handler).setMember();
  EXPECT_EQ(Compiled("f();\n"
                     "function f(p) { var t = p; var u; return t; }\n"
                     "clip.onRelease = function () { return; };"),
            a.bytes());
}

TEST(Script, BuiltInsAndStrings) {
  Assembler a;
  a.pushString("FSCommand:").pushString("GoToSCO").add2();
  a.pushString("n").getVariable().getUrl2(0, false, false).pushUndefined();
  a.pop();
  a.pushString("t").getTime().setVariable();
  a.pushString("s").pushString("a\"b\\\n\xE2\x80\x93'").setVariable();
  EXPECT_EQ(Compiled("fscommand(\"GoToSCO\", n);  // a comment\n"
                     "t = getTimer(); /* and\n another */\n"
                     "s = 'a\"b\\\\\\n\\u2013\\'';"),
            a.bytes());
}

TEST(Script, RefusesWhatItDoesNotKnowWithTheLine) {
  EXPECT_EQ(ErrorOf("x = 1;\ny = 2"), "line 2: expected ';' but found the end");
  EXPECT_EQ(ErrorOf("\n\nf() = 3;"), "line 3: cannot assign to this");
  EXPECT_EQ(ErrorOf("return 1;"), "line 1: return outside a function");
  EXPECT_EQ(ErrorOf("if (a) break;"),
            "line 1: break or continue outside a loop");
  EXPECT_EQ(ErrorOf("s = \"open\nt = 1;"), "line 1: unclosed string");
  EXPECT_EQ(ErrorOf("a = b # c;"), "line 1: unexpected character '#'");
  EXPECT_EQ(ErrorOf("/* never\nclosed"), "line 1: unclosed comment");
  EXPECT_EQ(ErrorOf("var if = 1;"), "line 1: expected a name");
  EXPECT_EQ(ErrorOf("s = '\\u0000';"), "line 1: a string may not hold NUL");
  EXPECT_EQ(ErrorOf("fscommand(\"x\");"),
            "line 1: fscommand takes a command and its argument");
  EXPECT_EQ(ErrorOf("x = 1.2.3;"), "line 1: bad number 1.2.3");
  EXPECT_EQ(ErrorOf("{ x = 1;"), "line 1: unclosed block");
}

}  // namespace
}  // namespace zept::swf
